#pragma once

// Records the notifier's signals by name, in the order they are emitted, from
// whichever thread emits them, and when each came.

#include "registry/registry.h"

#include <QMetaObject>
#include <QStringList>

#include <chrono>
#include <mutex>
#include <optional>
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
    // When the signal was last emitted, on the steady clock.
    std::optional<std::chrono::steady_clock::time_point> lastAt(const QString &name) const;
    void clear();

private:
    void add(const QString &name);

    mutable std::mutex m_mutex;
    QStringList m_names;
    std::vector<std::chrono::steady_clock::time_point> m_times; // one for each name
    std::vector<QMetaObject::Connection> m_connections;
};
