#pragma once

// The worker's waits on the line: for a frame handed to it to leave it, for
// a pause with an eye on it, and for the answers to the request just written.
// Each looks at the line every WatchStepMs, never waits on one notice from it,
// and ends when the line is gone.
//
// Gathering the answers to the request just written:
//
// A search request is answered by every unconfirmed device, one after the
// other: the answers are read until the line has been quiet for the gathering
// gap (the host must not talk while devices still do). The answer window
// opens again with every new device heard, so a crowd is read to its end,
// while a device that repeats itself or a line full of noise is not waited
// for; a hard limit ends even that.
//
// Any other request is answered by the device asked: the wait ends with its
// answer, or with the window, or early when what came was garbled and the
// line has gone quiet. Other devices' frames that come meanwhile do not end
// it.
//
// A frame that has begun and is not complete holds the gathering open until
// the window is over, whatever pause comes inside it. The wait goes by the
// bytes the port holds, looked at every WatchStepMs, never by one notice.

#include "serial/answers.h"

#include <functional>

class Line;

// How the wait for a frame handed to the line ended: it left; it outlived
// the write limit and the rest was dropped, so that nothing is ever sent on
// top of it; or the line is gone. Past `writeTimeout` the wait goes on and
// says so.
enum class WriteEnd { Out, Dropped, Lost };
WriteEnd drainWrite(Line &line, int writeTimeout);

// Waits `ms` with an eye on the line, leaving early when told to quit. False
// when the line is gone. What arrives meanwhile stays in the line.
bool watchLine(Line &line, int ms, const std::function<bool()> &quitRequested);

struct Gathered
{
    qint64 bytes = 0;     // bytes read, our own frames coming back not counted
    bool garbled = false; // some of them formed no valid frame
    bool lost = false;    // the line is gone, a flood among the reasons (its fault says)
};

// Told to quit, a search or an inventory is left at once (nothing goes on the
// line after them); during an update the window runs out first, so the frame
// that gives the device up never talks over the device's answer.
Gathered
gatherAnswers(Line &line, Answers &answers, const std::function<bool()> &quitRequested);
