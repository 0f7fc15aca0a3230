#pragma once

// ser2net, the serial device server of Linux, in the foreground: one
// simulated line served on a free loopback port, as raw TCP or as telnet
// with the COM-PORT option (RFC 2217), with no banner. For the tests and the
// benchmark of lines reached over the network.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

class Ser2net
{
public:
    enum class Mode { Raw, Rfc2217 };

    Ser2net(const std::string &line, Mode mode);
    ~Ser2net();
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    // Where ser2net is; empty when it is not installed.
    static QString program();

    // ser2net holds what the line brings until the line has been quiet for
    // some character times (its chardelay, on by default); off, each byte
    // goes on at once, as a device server set for the least delay does.
    void setCharDelay(bool on) { m_charDelay = on; }

    // Starts it and waits until it listens. False, with why, when it did not.
    bool start(QString *why = nullptr);
    // tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT.
    QString url() const;
    // Ends it (as a stop of the service does); waits until it has.
    void stop();

    // A loopback port nothing listens on now.
    static quint16 freePort();

private:
    bool listening() const;

    std::string m_line;
    Mode m_mode;
    bool m_charDelay = true;
    quint16 m_port = 0;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
};
