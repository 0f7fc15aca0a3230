#pragma once

// Modal dialogs block the test until somebody closes them. A watcher acts on
// the next one that opens, from a timer, and lets the test go on.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;

class ModalWatcher : public QObject
{
public:
    // inspect runs on the modal widget; the watcher closes it (rejects a dialog)
    // unless inspect has closed it already.
    explicit ModalWatcher(std::function<void(QWidget *)> inspect = {}, int timeoutMs = 5000);

    int seen() const { return m_seen; }
    QString lastTitle() const { return m_title; }
    QString lastText() const { return m_text; }

private:
    void poll();

    std::function<void(QWidget *)> m_inspect;
    int m_timeoutMs;
    int m_seen = 0;
    QString m_title;
    QString m_text;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
