#include "support/modal.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

ModalWatcher::ModalWatcher(std::function<void(QWidget *)> inspect, int timeoutMs)
    : m_inspect(std::move(inspect))
    , m_timeoutMs(timeoutMs)
{
    m_clock.start();
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) {
        if (m_clock.elapsed() > m_timeoutMs)
            m_timer.stop();
        return;
    }
    m_timer.stop();
    ++m_seen;
    m_title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal))
        m_text = box->text();
    if (m_inspect)
        m_inspect(modal);
    if (!modal->isVisible())
        return; // inspect has closed it already
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}
