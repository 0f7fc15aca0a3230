#pragma once

// The fixed waits and pauses of the line. They are the product's own and are
// never read from a setting; only tests shorten them, through the seam below.

// How often every wait on the line looks at the port (bytes that came, a port
// gone) and whether the worker has been told to quit. No wait on the line
// depends on one notice from the port for longer than this.
constexpr int WatchStepMs = 100;

struct LineTiming
{
    int writeTimeout = 200; // a written frame must have left the port within this
    int writeLimit = 2000;  // a frame still not out by then is dropped (nothing is sent on
                            // top of it); at 9600 baud the longest frame takes 220 ms
    int confirmPause = 50;  // after a confirmation has left
    int searchPause = 500;  // before awaiting answers to a search request
    int startPause = 10000; // before awaiting the answer to a device's first firmware part
    int answerWait = 1000;  // the answer window
    int idlePoll = 2000;    // idle worker looks for a flash request this often
    int gatherGap = 20;     // quiet time that ends the answers to a search request, or a
                            // garbled answer (USB adapters deliver in chunks up to ~16 ms
                            // apart)
    int gatherLimit = 60000; // the answers to one search request are never gathered for
                             // longer than this, however busy the line stays
    int openWait = 3000;     // a line behind a device server: its name looked up, connected
                             // and, for RFC 2217, its settings agreed, all within this
};

// The values in force: the product's, unless a test has replaced them.
const LineTiming &lineTiming();

namespace TestSeam {
// Replaces the waits and pauses; call only while no worker runs.
void setLineTiming(const LineTiming &timing);
void restoreLineTiming();
} // namespace TestSeam
