// A line behind a device server, over TCP.

#include "serial/networkline.h"

#include "serial/hostlookup.h"
#include "serial/telnet.h"
#include "serial/timing.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

// The one time an open has, for every step of it, and the worker's quit.
class OpenClock
{
public:
    explicit OpenClock(const Line::QuitCheck &quitRequested)
        : m_quitRequested(quitRequested)
    {
        m_clock.start();
    }
    qint64 left() const { return lineTiming().openWait - m_clock.elapsed(); }
    bool over() const { return left() <= 0; }
    // The longest a step of the open may wait.
    int step() const { return int(std::clamp<qint64>(left(), 1, WatchStepMs)); }
    bool quit() const { return m_quitRequested && m_quitRequested(); }

private:
    const Line::QuitCheck &m_quitRequested;
    QElapsedTimer m_clock;
};

namespace {

// The longest a close waits for what is written to leave and to go out on
// the server's line.
constexpr int CloseWaitMs = 500;
// Beyond the wire time of the last frame, the server's own turn to pass it on.
constexpr int ServerTurnMs = 50;

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

NetworkReason reasonFor(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return NetworkReason::Refused;
    case QAbstractSocket::HostNotFoundError:
        return NetworkReason::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return NetworkReason::NoAnswer;
    case QAbstractSocket::RemoteHostClosedError:
        return NetworkReason::Closed;
    default:
        return NetworkReason::Failed;
    }
}

// Lets the worker thread's own events run (a connection under way) for at
// most `ms`, or until the socket's state changes.
void runEvents(QTcpSocket &socket, int ms)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

} // namespace

NetworkLine::NetworkLine() = default;

// A line that goes with the worker's run closes in order too.
NetworkLine::~NetworkLine()
{
    close();
}

bool NetworkLine::fail(NetworkReason reason)
{
    Line::fail(LineFault::network(reason));
    if (m_socket)
        m_socket->abort();
    return false;
}

void NetworkLine::note(int socketError)
{
    // A time-out of one of our own bounded waits says nothing about the line.
    if (socketError != QAbstractSocket::SocketTimeoutError)
        Line::fail(LineFault::network(reasonFor(QAbstractSocket::SocketError(socketError))));
}

bool NetworkLine::openLine(const QString &name, const QuitCheck &quitRequested)
{
    close();
    m_data.clear();
    m_notLine = 0;
    m_lastWrite.invalidate();
    Address address;
    if (!parseAddress(name, &address))
        return fail(NetworkReason::BadAddress);
    if (address.telnet)
        m_codec = std::make_unique<TelnetClient>();
    else
        m_codec = std::make_unique<RawCodec>();
    OpenClock clock(quitRequested);
    QList<QHostAddress> addresses;
    return lookUp(address.host, clock, &addresses) && connectTo(addresses, address.port, clock)
           && negotiate(clock);
}

bool NetworkLine::lookUp(const QString &host, OpenClock &clock, QList<QHostAddress> *addresses)
{
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        addresses->append(literal);
        return true;
    }
    HostLookup lookup(host);
    while (!lookup.wait(clock.step())) {
        if (clock.quit())
            return false;
        if (clock.over())
            return fail(NetworkReason::LookupTooSlow);
    }
    *addresses = lookup.addresses();
    return !addresses->isEmpty() || fail(NetworkReason::HostNotFound);
}

// Each address in turn, each given its share of the time left, until one
// takes the connection. Refused is said when any address refused: something
// is there, on another port.
bool NetworkLine::connectTo(const QList<QHostAddress> &addresses, quint16 port, OpenClock &clock)
{
    NetworkReason why = NetworkReason::NoAnswer;
    for (int i = 0; i < addresses.size(); ++i) {
        const qint64 share = clock.left() / (addresses.size() - i);
        switch (attempt(addresses[i], port, share, clock)) {
        case Attempt::Connected:
            return true;
        case Attempt::Quit:
            return false;
        case Attempt::Refused:
            why = NetworkReason::Refused;
            break;
        case Attempt::Failed:
            if (why != NetworkReason::Refused)
                why = NetworkReason::Failed;
            break;
        case Attempt::NoAnswer:
            break;
        }
    }
    return fail(why);
}

NetworkLine::Attempt
NetworkLine::attempt(const QHostAddress &address, quint16 port, qint64 budget, OpenClock &clock)
{
    m_socket = std::make_unique<QTcpSocket>();
    // What is not read stays in the server and on the wire: a server that
    // floods cannot fill this process.
    m_socket->setReadBufferSize(MaxBuffered);
    QElapsedTimer clockOfThis;
    clockOfThis.start();
    m_socket->connectToHost(address, port);
    while (m_socket->state() != QAbstractSocket::ConnectedState) {
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            const QAbstractSocket::SocketError error = m_socket->error();
            m_socket.reset();
            return error == QAbstractSocket::ConnectionRefusedError ? Attempt::Refused
                                                                    : Attempt::Failed;
        }
        const bool quit = clock.quit();
        if (quit || clock.over() || clockOfThis.elapsed() >= budget) {
            m_socket.reset();
            return quit ? Attempt::Quit : Attempt::NoAnswer;
        }
        runEvents(*m_socket, clock.step());
    }
    // Each frame leaves at once, as on a serial line.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Direct: the socket lives on the worker thread; the error is kept before
    // the next wait's time-out replaces it.
    QObject::connect(m_socket.get(),
                     &QAbstractSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError error) { note(int(error)); });
    QObject::connect(m_socket.get(), &QIODevice::bytesWritten, [this](qint64 written) {
        m_notLine = std::max<qint64>(0, m_notLine - written);
    });
    return Attempt::Connected;
}

// Binary mode, the COM-PORT option and the line's settings, agreed within
// the open's time. What the server sends before that is not the line's: it
// is counted, never kept, and more of it than a line carries is a flood.
bool NetworkLine::negotiate(OpenClock &clock)
{
    send(m_codec->start(), false);
    qint64 before = 0;
    for (;;) {
        switch (m_codec->state()) {
        case LineCodec::State::Ready:
            return true;
        case LineCodec::State::Refused:
        case LineCodec::State::Withdrawn:
            return fail(NetworkReason::SettingsRefused);
        case LineCodec::State::Agreeing:
            break;
        }
        if (const LineFault fault = health()) {
            Line::fail(fault);
            m_socket->abort();
            return false;
        }
        if (clock.quit())
            return false;
        if (clock.over())
            return fail(NetworkReason::NoNegotiation);
        m_socket->waitForReadyRead(clock.step());
        pump();
        before += m_data.size();
        m_data.clear();
        if (before > FloodBytes) {
            Line::fail(LineFault::flooded());
            m_socket->abort();
            return false;
        }
    }
}

// The last frame must go out on the server's line (the give-up frame sent
// as the worker quits, say). A server may drop what it has not yet written to
// its line once the connection ends (ser2net does), and a socket closed with
// bytes unread in it is reset, which can drop what the server has not read.
// So what is written goes first, the close waits out the last frame's time
// on the wire, reads away what came, and ends the connection in order; all
// within a bound.
void NetworkLine::close()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        QElapsedTimer clock;
        clock.start();
        while (m_socket->bytesToWrite() > 0 && clock.elapsed() < CloseWaitMs)
            m_socket->waitForBytesWritten(WatchStepMs);
        const qint64 onTheWire = m_lastWrite.isValid()
                                     ? m_lastWriteBytes * LineBitsPerByte * 1000 / LineBaud
                                           + ServerTurnMs - m_lastWrite.elapsed()
                                     : 0;
        const qint64 linger = std::min<qint64>(onTheWire, CloseWaitMs - clock.elapsed());
        while (clock.elapsed() < linger) {
            if (m_socket->waitForReadyRead(int(std::clamp<qint64>(linger - clock.elapsed(), 1, WatchStepMs))))
                m_socket->readAll();
        }
        while (clock.elapsed() < CloseWaitMs && m_socket->waitForReadyRead(0))
            m_socket->readAll();
        m_socket->readAll();
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->waitForDisconnected(int(std::max<qint64>(1, CloseWaitMs - clock.elapsed())));
    }
    if (m_socket)
        m_socket->abort();
    m_socket.reset();
}

LineFault NetworkLine::health()
{
    if (!m_socket)
        return LineFault::network(NetworkReason::Closed);
    pump();
    if (m_codec->state() == LineCodec::State::Withdrawn) {
        qDebug("the device server withdrew binary mode or the line's settings");
        return LineFault::network(NetworkReason::SettingsWithdrawn);
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return LineFault::network(NetworkReason::Closed);
    return {};
}

void NetworkLine::send(const QByteArray &bytes, bool lineBytes)
{
    if (!lineBytes)
        m_notLine += bytes.size();
    m_socket->write(bytes);
}

qint64 NetworkLine::write(const char *data, qint64 size)
{
    if (!m_socket)
        return -1;
    const QByteArray encoded = m_codec->encode(data, size);
    m_lastWrite.start();
    m_lastWriteBytes = size;
    return m_socket->write(encoded) == encoded.size() ? size : -1;
}

qint64 NetworkLine::bytesToWrite() const
{
    return m_socket ? std::max<qint64>(0, m_socket->bytesToWrite() - m_notLine) : 0;
}

bool NetworkLine::waitForBytesWritten(int ms)
{
    return m_socket && m_socket->waitForBytesWritten(ms);
}

void NetworkLine::discardOutput()
{
    if (!m_socket)
        return;
    m_notLine = m_socket->bytesToWrite();
    send(m_codec->purgeOutput(), false);
}

void NetworkLine::pump()
{
    if (!m_socket)
        return;
    char chunk[4096];
    while (!stalled() && m_socket->bytesAvailable() > 0) {
        const qint64 n = m_socket->read(chunk, std::min<qint64>(sizeof chunk, MaxBuffered - m_data.size()));
        if (n <= 0)
            break;
        QByteArray reply;
        m_codec->take(chunk, n, &m_data, &reply);
        if (!reply.isEmpty())
            send(reply, false);
    }
}

bool NetworkLine::stalled() const
{
    return m_data.size() >= MaxBuffered || m_codec->state() == LineCodec::State::Withdrawn;
}

qint64 NetworkLine::bytesAvailable()
{
    pump();
    return m_data.size();
}

bool NetworkLine::waitForReadyRead(int ms)
{
    if (!m_socket)
        return false;
    QElapsedTimer clock;
    clock.start();
    const int before = m_data.size();
    for (;;) {
        pump();
        if (m_data.size() > before)
            return true;
        // With nothing more to take, the socket's wait would return at once.
        const qint64 left = ms - clock.elapsed();
        if (stalled() || left <= 0 || !m_socket->waitForReadyRead(int(left)))
            return false;
    }
}

qint64 NetworkLine::read(char *data, qint64 maxSize)
{
    if (!m_socket)
        return -1;
    pump();
    const qint64 n = std::min<qint64>(maxSize, m_data.size());
    std::copy(m_data.constData(), m_data.constData() + n, data);
    m_data.remove(0, int(n));
    return n;
}
