// A batch's progress on the window's taskbar button (ITaskbarList3): green
// while it runs, red once a device has been given up. Where there is no
// taskbar (no COM on this thread, no shell), nothing happens.

#include "ui/taskbarprogress.h"

#include <QWidget>

#include <shobjidl.h>
#include <windows.h>

namespace {

template<typename Call>
void withTaskbar(QWidget *window, Call call)
{
    ITaskbarList3 *taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList,
                                nullptr,
                                CLSCTX_INPROC_SERVER,
                                IID_ITaskbarList3,
                                reinterpret_cast<void **>(&taskbar))))
        return;
    if (SUCCEEDED(taskbar->HrInit()))
        call(taskbar, reinterpret_cast<HWND>(window->winId()));
    taskbar->Release();
}

} // namespace

void TaskbarProgress::publish(int steps, bool failed)
{
    withTaskbar(m_window, [&](ITaskbarList3 *taskbar, HWND button) {
        // The state first: a value set in the error state keeps it red.
        taskbar->SetProgressState(button, failed ? TBPF_ERROR : TBPF_NORMAL);
        taskbar->SetProgressValue(button, ULONGLONG(steps), ULONGLONG(Steps));
    });
}

void TaskbarProgress::withdraw()
{
    withTaskbar(m_window, [](ITaskbarList3 *taskbar, HWND button) {
        taskbar->SetProgressState(button, TBPF_NOPROGRESS);
    });
}
