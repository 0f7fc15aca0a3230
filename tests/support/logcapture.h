#pragma once

// Collects the debug log lines written while it lives, from any thread.

#include <QString>
#include <QStringList>

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    int count(const QString &line) const;
    bool contains(const QString &line) const { return count(line) > 0; }
    int countStartingWith(const QString &prefix) const;
    void clear();
};
