// A line recorded as it is used.

#include "serial/recordingline.h"

RecordingLine::RecordingLine(std::unique_ptr<Line> line, LineCapture &capture)
    : m_line(std::move(line))
    , m_capture(capture)
{}

RecordingLine::~RecordingLine() = default;

bool RecordingLine::openLine(const QString &name, const QuitCheck &quitRequested)
{
    m_held.clear();
    if (!m_line->open(name, quitRequested)) {
        fail(m_line->fault());
        return false;
    }
    m_interface = m_capture.interfaceFor(name);
    return true;
}

LineFault RecordingLine::health()
{
    return m_line->gone() ? m_line->fault() : LineFault();
}

void RecordingLine::close()
{
    take(); // what came and was never read crossed the line all the same
    m_line->close();
}

void RecordingLine::take()
{
    const qint64 room = FloodBytes - m_held.size();
    const qint64 there = m_line->bytesAvailable();
    if (room <= 0 || there <= 0)
        return;
    QByteArray piece(int(qMin(room, there)), Qt::Uninitialized);
    const qint64 n = m_line->read(piece.data(), piece.size());
    if (n <= 0)
        return;
    piece.truncate(int(n));
    m_capture.record(m_interface, Pcapng::Direction::Received, piece.constData(), n);
    m_held.append(piece);
}

qint64 RecordingLine::write(const char *data, qint64 size)
{
    const qint64 n = m_line->write(data, size);
    if (n > 0)
        m_capture.record(m_interface, Pcapng::Direction::Sent, data, n);
    return n;
}

qint64 RecordingLine::bytesToWrite() const
{
    return m_line->bytesToWrite();
}

bool RecordingLine::waitForBytesWritten(int ms)
{
    const bool written = m_line->waitForBytesWritten(ms);
    take();
    return written;
}

void RecordingLine::discardOutput()
{
    m_line->discardOutput();
}

qint64 RecordingLine::bytesAvailable()
{
    take();
    return m_held.size() + m_line->bytesAvailable();
}

bool RecordingLine::waitForReadyRead(int ms)
{
    const bool came = m_line->waitForReadyRead(ms);
    take();
    return came;
}

qint64 RecordingLine::read(char *data, qint64 maxSize)
{
    take();
    if (m_held.isEmpty())
        return m_line->read(data, 0) < 0 ? -1 : 0;
    const qint64 n = qMin<qint64>(maxSize, m_held.size());
    std::copy(m_held.constData(), m_held.constData() + n, data);
    m_held.remove(0, int(n));
    return n;
}
