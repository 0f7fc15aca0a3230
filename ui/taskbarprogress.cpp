// What the taskbar shows of a batch, and when it is told again.

#include "ui/taskbarprogress.h"

TaskbarProgress::~TaskbarProgress()
{
    clear();
}

void TaskbarProgress::show(qint64 done, qint64 total, bool failed)
{
    if (total <= 0)
        return;
    const int steps = int(qBound<qint64>(0, done, total) * Steps / total);
    if (steps == m_steps && failed == m_failed)
        return;
    m_steps = steps;
    m_failed = failed;
    publish(steps, failed);
}

void TaskbarProgress::clear()
{
    if (m_steps < 0)
        return;
    m_steps = -1;
    m_failed = false;
    withdraw();
}
