// A line behind a serial device server, over TCP.

#include "serial/networkline.h"

#include "serial/timing.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>

namespace {

struct Address
{
    bool telnet = false;
    QString host;
    quint16 port = 0;
};

// tcp://HOST:PORT or rfc2217://HOST:PORT, nothing more.
bool parseAddress(const QString &name, Address *address)
{
    const QUrl url(name, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("tcp") && scheme != QLatin1String("rfc2217")))
        return false;
    if (url.host().isEmpty() || url.port() <= 0 || !url.userInfo().isEmpty()
        || !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery()
        || url.hasFragment())
        return false;
    address->telnet = scheme == QLatin1String("rfc2217");
    address->host = url.host();
    address->port = quint16(url.port());
    return true;
}

int networkErrorFor(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return NetworkRefused;
    case QAbstractSocket::HostNotFoundError:
        return NetworkHostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return NetworkNoAnswer;
    case QAbstractSocket::RemoteHostClosedError:
        return NetworkClosed;
    default:
        return NetworkFailed;
    }
}

} // namespace

NetworkLine::NetworkLine() = default;

NetworkLine::~NetworkLine() = default;

bool NetworkLine::fail(int error)
{
    m_fault = error;
    if (m_socket)
        m_socket->abort();
    return false;
}

void NetworkLine::note(int socketError)
{
    // A time-out of one of our own bounded waits says nothing about the line.
    if (m_fault != 0 || socketError == QAbstractSocket::SocketTimeoutError)
        return;
    m_fault = networkErrorFor(QAbstractSocket::SocketError(socketError));
}

bool NetworkLine::open(const QString &name)
{
    close();
    m_fault = 0;
    m_data.clear();
    m_client = TelnetClient();
    Address address;
    if (!parseAddress(name, &address))
        return fail(NetworkBadAddress);
    m_telnet = address.telnet;
    return connectTo(address.host, address.port) && (!m_telnet || negotiate());
}

bool NetworkLine::connectTo(const QString &host, quint16 port)
{
    m_socket = std::make_unique<QTcpSocket>();
    // What is not read stays in the server and on the wire: a server that
    // floods cannot fill this process.
    m_socket->setReadBufferSize(MaxBuffered);
    m_socket->connectToHost(host, port);
    if (!m_socket->waitForConnected(lineTiming().connectWait)) {
        const QAbstractSocket::SocketError error = m_socket->error();
        return fail(error == QAbstractSocket::SocketTimeoutError
                            || error == QAbstractSocket::UnknownSocketError
                        ? NetworkNoAnswer
                        : networkErrorFor(error));
    }
    // Each frame leaves at once, as on a serial line.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Direct: the socket lives on the worker thread; the error is kept before
    // the next wait's time-out replaces it.
    QObject::connect(m_socket.get(),
                     &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError error) { note(int(error)); });
    return true;
}

// Binary mode, the COM-PORT option and the line's settings, agreed within
// the connect wait.
bool NetworkLine::negotiate()
{
    m_socket->write(m_client.start());
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pump();
        switch (m_client.settings()) {
        case TelnetClient::Settings::Accepted:
            // What the device server held before the purge is not the line's.
            m_data.clear();
            return true;
        case TelnetClient::Settings::Refused:
            return fail(NetworkSettingsRefused);
        case TelnetClient::Settings::Pending:
            break;
        }
        if (gone())
            return false;
        const qint64 left = lineTiming().connectWait - clock.elapsed();
        if (left <= 0)
            return fail(NetworkNoNegotiation);
        m_socket->waitForReadyRead(int(qMin<qint64>(left, WatchStepMs)));
    }
}

void NetworkLine::close()
{
    if (m_socket)
        m_socket->abort();
    m_socket.reset();
}

bool NetworkLine::gone()
{
    if (m_fault == 0 && m_socket && m_socket->state() != QAbstractSocket::ConnectedState)
        m_fault = NetworkClosed;
    return m_fault != 0 || !m_socket;
}

int NetworkLine::error() const
{
    return m_fault != 0 ? m_fault : int(NetworkFailed);
}

qint64 NetworkLine::write(const char *data, qint64 size)
{
    if (!m_socket)
        return -1;
    if (!m_telnet)
        return m_socket->write(data, size);
    const QByteArray escaped = TelnetClient::escape(data, size);
    return m_socket->write(escaped) == escaped.size() ? size : -1;
}

qint64 NetworkLine::bytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

bool NetworkLine::waitForBytesWritten(int ms)
{
    return m_socket && m_socket->waitForBytesWritten(ms);
}

void NetworkLine::discardOutput()
{
    // A socket cannot take back what it was handed; what is left is sent, but
    // nothing is ever handed to it on top (the worker sees to that).
}

void NetworkLine::pump()
{
    if (!m_socket || !m_telnet)
        return;
    char chunk[4096];
    while (m_data.size() < MaxBuffered && m_socket->bytesAvailable() > 0) {
        const qint64 n = m_socket->read(chunk, qMin<qint64>(sizeof chunk, MaxBuffered - m_data.size()));
        if (n <= 0)
            break;
        QByteArray reply;
        m_client.take(chunk, n, &m_data, &reply);
        if (!reply.isEmpty())
            m_socket->write(reply);
    }
}

qint64 NetworkLine::bytesAvailable()
{
    if (!m_socket)
        return 0;
    if (!m_telnet)
        return m_socket->bytesAvailable();
    pump();
    return m_data.size();
}

bool NetworkLine::waitForReadyRead(int ms)
{
    if (!m_socket)
        return false;
    if (!m_telnet)
        return m_socket->waitForReadyRead(ms);
    QElapsedTimer clock;
    clock.start();
    const int before = m_data.size();
    for (;;) {
        pump();
        if (m_data.size() > before)
            return true;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0 || !m_socket->waitForReadyRead(int(left)))
            return false;
    }
}

qint64 NetworkLine::read(char *data, qint64 maxSize)
{
    if (!m_socket)
        return -1;
    if (!m_telnet)
        return m_socket->read(data, maxSize);
    pump();
    const qint64 n = qMin<qint64>(maxSize, m_data.size());
    std::copy(m_data.constData(), m_data.constData() + n, data);
    m_data.remove(0, int(n));
    return n;
}
