// A capture file, written as the line is used.

#include "serial/capture.h"

#include <chrono>

namespace {

// The line's settings, as every interface of a capture says them.
const char LineSettings[] = "9600 8N1";

qint64 nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

LineCapture::LineCapture(const QString &path, const QString &application)
    : m_application(application)
    , m_file(path)
{}

LineCapture::~LineCapture() = default;

bool LineCapture::open(QString *why)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *why = m_file.errorString();
        return false;
    }
    const QByteArray header = Pcapng::sectionHeader(m_application);
    if (m_file.write(header) != header.size() || !m_file.flush()) {
        *why = m_file.errorString();
        return false;
    }
    m_bytes = header.size();
    m_capturing = true;
    return true;
}

quint32 LineCapture::interfaceFor(const QString &lineName)
{
    const auto known = m_interfaces.find(lineName);
    if (known != m_interfaces.end())
        return known->second;
    const quint32 interface = quint32(m_interfaces.size());
    m_interfaces.emplace(lineName, interface);
    append(Pcapng::interfaceDescription(lineName, QString::fromLatin1(LineSettings)));
    return interface;
}

void LineCapture::record(quint32 interface,
                         Pcapng::Direction direction,
                         const char *bytes,
                         qint64 size)
{
    if (!m_capturing || size <= 0)
        return;
    if (append(Pcapng::packet(interface, nowNanoseconds(), direction, QByteArray(bytes, int(size)))))
        ++m_packets;
}

// Each block goes to the file at once: a capture of a job that is killed
// holds all that came before.
bool LineCapture::append(const QByteArray &block)
{
    if (!m_capturing)
        return false;
    if (m_bytes + block.size() > MaxBytes) {
        m_capturing = false;
        emit stopped(QStringLiteral("the capture reached its bound of %1 MiB")
                         .arg(MaxBytes / (1024 * 1024)));
        return false;
    }
    if (m_file.write(block) != block.size() || !m_file.flush()) {
        m_capturing = false;
        emit stopped(m_file.errorString());
        return false;
    }
    m_bytes += block.size();
    return true;
}
