// ser2net serving one simulated line on the loopback.

#include "support/ser2net.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

Ser2net::Ser2net(const std::string &line, Mode mode)
    : m_line(line)
    , m_mode(mode)
{}

Ser2net::~Ser2net()
{
    stop();
}

QString Ser2net::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

quint16 Ser2net::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Whether something listens on the port: from the kernel's table, so that
// asking makes no connection of its own.
bool Ser2net::listening() const
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QByteArray(":") + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &row : table.readAll().split('\n')) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(wanted) && fields[3] == "0A")
            return true;
    }
    return false;
}

bool Ser2net::start(QString *why)
{
    const QString server = program();
    if (server.isEmpty()) {
        if (why)
            *why = QStringLiteral("ser2net is not installed");
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        const QString accepter = m_mode == Mode::Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp")
                                                         : QStringLiteral("tcp");
        const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QStringLiteral("%YAML 1.1\n---\n"
                                  "connection: &line\n"
                                  "  accepter: %1,127.0.0.1,%2\n"
                                  "  connector: serialdev,%3,9600n81,local\n"
                                  "  options:\n"
                                  "    banner: \"\"\n"
                                  "    chardelay: %4\n")
                       .arg(accepter)
                       .arg(m_port)
                       .arg(QString::fromStdString(m_line))
                       .arg(m_charDelay ? QStringLiteral("true") : QStringLiteral("false"))
                       .toUtf8());
        file.close();
        m_process = std::make_unique<QProcess>();
        m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("ser2net.log")));
        m_process->setStandardErrorFile(m_dir.filePath(QStringLiteral("ser2net.log")),
                                        QIODevice::Append);
        m_process->start(server,
                         {QStringLiteral("-n"),
                          QStringLiteral("-u"),
                          QStringLiteral("-c"),
                          config,
                          QStringLiteral("-P"),
                          m_dir.filePath(QStringLiteral("ser2net.pid"))});
        m_process->waitForStarted();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && m_process->state() == QProcess::Running && !listening())
            QThread::msleep(20);
        // Listening, and ser2net itself: another program may have taken the
        // port between our look and its start.
        if (m_process->state() == QProcess::Running && listening())
            return true;
        stop();
    }
    if (why)
        *why = QStringLiteral("ser2net did not listen");
    return false;
}

QString Ser2net::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_mode == Mode::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
        .arg(m_port);
}

void Ser2net::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}
