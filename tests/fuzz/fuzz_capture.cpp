// Fuzz target: anything at all as a capture file, and anything a device
// server may send to the telnet client.
//
// Input: byte 0 even: the rest is a capture file, read as olvex-devsim reads
// one: whatever is taken must be a record of a serial interface the file
// described, carrying bytes. Odd: the rest comes from a device server, in
// pieces of byte 0 / 2 + 1 bytes: the client never takes more line bytes
// than came, answers within a bound, and takes none once the line is
// withdrawn.

#include "serial/pcapng.h"
#include "serial/telnet.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void fuzzCapture(const QByteArray &file)
{
    const Pcapng::Capture capture = Pcapng::read(file);
    for (const Pcapng::Record &record : capture.records) {
        require(!record.bytes.isEmpty() && record.bytes.size() < file.size());
        require(record.interface < capture.interfaces.size());
        require(record.number >= 1);
    }
    for (const Pcapng::Interface &interface : capture.interfaces)
        require(interface.linkType == Pcapng::LinkTypeRtacSerial);
}

void fuzzTelnet(const QByteArray &server, int piece)
{
    TelnetClient client;
    client.start();
    QByteArray data;
    QByteArray reply;
    for (int at = 0; at < server.size(); at += piece) {
        const int n = qMin(piece, int(server.size() - at));
        const bool withdrawn = client.state() == LineCodec::State::Withdrawn;
        const int before = data.size();
        client.take(server.constData() + at, n, &data, &reply);
        require(data.size() - before <= n);
        require(!withdrawn || data.size() == before);
    }
    // Every option refused once each way, the settings once: no more answers.
    require(reply.size() <= 2 * 256 * 3 + 64);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(bytes) + 1, int(size - 1));
    if (bytes[0] % 2 == 0)
        fuzzCapture(rest);
    else
        fuzzTelnet(rest, bytes[0] / 2 + 1);
    return 0;
}
