#include "support/signalrecorder.h"

SignalRecorder::SignalRecorder()
{
    auto record = [this](const char *name) {
        return [this, name] {
            add(QString::fromLatin1(name));
        };
    };
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::UpdateTable, record("UpdateTable")));
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::UpdateDevStatus, record("UpdateDevStatus")));
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::UpdateMainStatus, [this](Status s) {
            add(QStringLiteral("UpdateMainStatus(%1)").arg(int(s)));
        }));
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::UnblockSearchButton, record("UnblockSearchButton")));
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::UnblockTableSignals, record("UnblockTableSignals")));
    m_connections.push_back(
        QObject::connect(&Notifier, &DevTable::CheckReadyToUpdate, record("CheckReadyToUpdate")));
}

SignalRecorder::~SignalRecorder()
{
    for (const auto &c : m_connections)
        QObject::disconnect(c);
}

QStringList SignalRecorder::names() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_names;
}

int SignalRecorder::count(const QString &name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_names.count(name));
}

std::optional<std::chrono::steady_clock::time_point>
SignalRecorder::lastAt(const QString &name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int i = m_names.lastIndexOf(name);
    if (i < 0)
        return std::nullopt;
    return m_times[size_t(i)];
}

void SignalRecorder::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_names.clear();
    m_times.clear();
}

void SignalRecorder::add(const QString &name)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_names.append(name);
    m_times.push_back(now);
}
