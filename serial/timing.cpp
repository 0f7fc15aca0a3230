// The waits and pauses in force, and the tests' seam to shorten them.

#include "serial/timing.h"

namespace {
const LineTiming ProductTiming;
LineTiming CurrentTiming;
} // namespace

const LineTiming &lineTiming()
{
    return CurrentTiming;
}

namespace TestSeam {
void setLineTiming(const LineTiming &timing)
{
    CurrentTiming = timing;
}

void restoreLineTiming()
{
    CurrentTiming = ProductTiming;
}
} // namespace TestSeam
