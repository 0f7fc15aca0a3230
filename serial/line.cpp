// Which line a port name asks for, and what every line shares: its fault.

#include "serial/line.h"

#include "serial/networkline.h"
#include "serial/serialline.h"

namespace {
// The numbers the diagnostic texts give the faults that are not a port's
// own error code; they have been these since the network lines came.
constexpr int NetworkNumbers = 1000;
constexpr int FloodNumber = 1100;
} // namespace

int LineFault::number() const
{
    switch (kind) {
    case Kind::None:
        return 0;
    case Kind::Port:
        return code;
    case Kind::Network:
        return NetworkNumbers + code;
    case Kind::Flooded:
        return FloodNumber;
    }
    return 0;
}

QString lineForm(const QString &name)
{
    for (const char *scheme : {"tcp", "rfc2217"}) {
        if (name.startsWith(QString::fromLatin1(scheme) + QLatin1String("://"),
                            Qt::CaseInsensitive))
            return QLatin1String(scheme);
    }
    return QStringLiteral("serial");
}

bool isNetworkName(const QString &name)
{
    return lineForm(name) != QLatin1String("serial");
}

std::unique_ptr<Line> makeLine(const QString &name)
{
    if (isNetworkName(name))
        return std::make_unique<NetworkLine>();
    return std::make_unique<SerialLine>();
}

bool Line::open(const QString &name, const QuitCheck &quitRequested)
{
    m_fault = {};
    if (!openLine(name, quitRequested))
        return false;
    m_fault = {}; // what went wrong before the line was open is no news
    return true;
}

void Line::fail(const LineFault &fault)
{
    if (!m_fault)
        m_fault = fault;
}

bool Line::gone()
{
    if (m_fault)
        return true;
    LineFault seen = health();
    // Nobody reads while the worker pauses: a full buffer is a flood, not a
    // reason to wait on (the toolkit's waits return at once then).
    if (!seen && bytesAvailable() >= FloodBytes) {
        qDebug("the line floods: %lld bytes unread", static_cast<long long>(FloodBytes));
        seen = LineFault::flooded();
    }
    m_fault = seen;
    return bool(m_fault);
}
