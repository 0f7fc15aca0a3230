#pragma once

// A batch's progress where the desktop shows a program's progress, outside
// the window: on Windows the taskbar button (its bar turns red once a device
// has been given up), elsewhere the launcher entry that docks and task
// managers read (KDE Plasma, GNOME's docks), marked urgent in that case.
// Nothing changes in the window itself. One implementation per platform
// (publish and withdraw); where the desktop has no such place, nothing
// happens.

#include <QtGlobal>

class QWidget;

class TaskbarProgress
{
public:
    explicit TaskbarProgress(QWidget *window)
        : m_window(window)
    {}
    // Whatever is still shown goes with the window.
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress &) = delete;
    TaskbarProgress &operator=(const TaskbarProgress &) = delete;

    // What is shown moves in steps of a thousandth.
    static constexpr int Steps = 1000;

    // `done` of `total` parts of the batch are behind us; `failed`: a device
    // of the batch has been given up. Passed on only when what is shown
    // changes.
    void show(qint64 done, qint64 total, bool failed);
    // The batch has ended: nothing is shown any more.
    void clear();

private:
    void publish(int steps, bool failed);
    void withdraw();

    QWidget *m_window;
    int m_steps = -1; // what is shown; -1: nothing
    bool m_failed = false;
};
