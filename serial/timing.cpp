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
