#pragma once

// Records the notifier's signals by name, in the order they are emitted, from
// whichever thread emits them.

#include "registry/registry.h"

#include <QMetaObject>
#include <QStringList>

#include <mutex>
#include <vector>

class SignalRecorder
{
public:
    SignalRecorder();
    ~SignalRecorder();
    SignalRecorder(const SignalRecorder &) = delete;
    SignalRecorder &operator=(const SignalRecorder &) = delete;

    // "UpdateTable", "UpdateMainStatus(4)", ...
    QStringList names() const;
    int count(const QString &name) const;
    void clear();

private:
    void add(const QString &name);

    mutable std::mutex m_mutex;
    QStringList m_names;
    std::vector<QMetaObject::Connection> m_connections;
};
