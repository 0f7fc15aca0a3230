#pragma once

// A device server's name looked up without blocking the worker: the system's
// resolver runs on a thread of its own, and the worker looks at the result
// in its bounded steps. A lookup nobody waits for any more (the open's time
// is over, the worker was told to quit) is left to end on its own; it touches
// nothing but its own result, so the program never waits for a slow resolver,
// not even as it exits (the toolkit's own lookups hold the exit until they end).

#include <QHostAddress>
#include <QList>
#include <QString>

#include <memory>

class HostLookup
{
public:
    explicit HostLookup(const QString &host);
    ~HostLookup();
    HostLookup(const HostLookup &) = delete;
    HostLookup &operator=(const HostLookup &) = delete;

    // Waits at most `ms` for the answer; true once it has come.
    bool wait(int ms);
    // The name's addresses, in the resolver's order; empty when the name is unknown.
    QList<QHostAddress> addresses() const;

    struct Result;

private:
    std::shared_ptr<Result> m_result;
};

// The system resolver's answer for a name, blocking: its TCP addresses in the
// resolver's order, none when the name is unknown.
QList<QHostAddress> resolveHost(const QByteArray &host);
// Makes the system resolver ready for use (Windows starts its sockets layer
// once); safe to call from any thread, again and again. One implementation
// per platform.
void startResolver();
