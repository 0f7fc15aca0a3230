// Cutting the devices' frames out of the byte stream the line brings.

#include "protocol/stream.h"

#include "protocol/frame.h"

#include <QDebug>

#include <algorithm>

namespace Cpd {

namespace {

// The length of the device frame whose header starts at `frame` (at least 10
// bytes readable), checksum included; 0 when the header does not tell.
int answerLength(const quint8 *frame)
{
    const CommandWord word = unpackCommand(frame);
    if (word.type == TypeResponse) {
        if (word.block == BlockSearch)
            return MinFrameSize; // the device's kind travels in the number
        if (word.block == BlockDevice && word.number == NumberVersion)
            return MinFrameSize + VersionPayload;
        if (word.block == BlockDevice && word.number == NumberFirmware)
            return MinFrameSize + AckPayload;
        return 0;
    }
    // Error reports about what the host asks (it only ever asks these blocks).
    if (word.type == TypeError && (word.block == BlockDevice || word.block == BlockSearch))
        return MinFrameSize + ErrorPayload;
    // A host's requests without payload: ours coming back, or another
    // master's on the same bus.
    if (word.type == TypeRequest
        && (word.block == BlockSearch
            || (word.block == BlockDevice && word.number == NumberVersion)))
        return MinFrameSize;
    return 0;
}

} // namespace

} // namespace Cpd

namespace {
constexpr size_t None = size_t(-1);
constexpr size_t CompactAbove = 4096;
} // namespace

void FrameStream::append(const quint8 *data, size_t size)
{
    m_bytes.insert(m_bytes.end(), data, data + size);
}

bool FrameStream::validAt(size_t pos, size_t length) const
{
    return Cpd::checksumMatches(m_bytes.data() + pos, int(length));
}

int FrameStream::echoAt(size_t pos, bool *begun) const
{
    const size_t available = m_bytes.size() - pos;
    const quint8 *here = m_bytes.data() + pos;
    if (begun)
        *begun = false;
    for (size_t i = 0; i < m_echoes.size(); ++i) {
        const std::vector<quint8> &sent = m_echoes[i];
        const size_t compared = std::min(available, sent.size());
        if (compared == 0 || !std::equal(here, here + compared, sent.begin()))
            continue;
        if (compared == sent.size())
            return int(i);
        if (begun)
            *begun = true;
    }
    return -1;
}

void FrameStream::expectEcho(const quint8 *frame, size_t size)
{
    if (size > 0)
        m_echoes.emplace_back(frame, frame + size);
}

bool FrameStream::frameBegun() const
{
    const size_t available = pending();
    if (available == 0)
        return false;
    bool echoBegun = false;
    if (echoAt(m_pos, &echoBegun) < 0 && echoBegun)
        return true;
    if (available < size_t(Cpd::HeaderSize))
        return true;
    const int length = Cpd::answerLength(m_bytes.data() + m_pos);
    return length > 0 && available < size_t(length);
}

bool FrameStream::completeFrameAt(size_t pos) const
{
    if (echoAt(pos) >= 0)
        return true;
    const int length = Cpd::answerLength(m_bytes.data() + pos);
    return length > 0 && pos + size_t(length) <= m_bytes.size() && validAt(pos, size_t(length));
}

size_t FrameStream::nextCompleteFrame(size_t from) const
{
    for (size_t pos = from; pos + Cpd::MinFrameSize <= m_bytes.size(); ++pos) {
        if (completeFrameAt(pos))
            return pos;
    }
    return None;
}

bool FrameStream::takeFrame(std::vector<quint8> *frame, bool settled, bool *echo)
{
    if (echo)
        *echo = false;
    for (;;) {
        const size_t available = m_bytes.size() - m_pos;
        bool echoBegun = false;
        const int echoed = echoAt(m_pos, &echoBegun);
        if (echoed >= 0) {
            const size_t length = m_echoes[size_t(echoed)].size();
            m_echoes.erase(m_echoes.begin() + echoed);
            take(length, frame);
            if (echo)
                *echo = true;
            return true;
        }
        // The start of our own frame: the rest of it is on its way.
        if (echoBegun && !settled)
            return false;
        if (available < size_t(Cpd::HeaderSize))
            return false;
        const int length = Cpd::answerLength(m_bytes.data() + m_pos);
        if (length > 0) {
            if (available >= size_t(length)) {
                if (validAt(m_pos, size_t(length))) {
                    take(size_t(length), frame);
                    return true;
                }
                skipTo(m_pos + 1);
                continue;
            }
            // Not all of it is here yet, unless a whole frame further on
            // shows that these bytes are no frame at all.
            const size_t next = nextCompleteFrame(m_pos + 1);
            if (next == None)
                return false;
            skipTo(next);
            continue;
        }
        if (!m_boundary) {
            skipTo(m_pos + 1);
            continue;
        }
        // An answer of untold length where a frame may begin: it ends where
        // the next whole frame begins, or, once the line is quiet, with the
        // rest of what came.
        const size_t next = nextCompleteFrame(m_pos + 1);
        if (next != None) {
            const size_t span = next - m_pos;
            if (span >= size_t(Cpd::MinFrameSize) && span <= size_t(MaxFrame)
                && validAt(m_pos, span)) {
                take(span, frame);
                return true;
            }
            skipTo(next);
            continue;
        }
        if (!settled && available <= size_t(MaxFrame))
            return false;
        if (available >= size_t(Cpd::MinFrameSize) && available <= size_t(MaxFrame)
            && validAt(m_pos, available)) {
            take(available, frame);
            return true;
        }
        skipTo(m_pos + 1);
    }
}

void FrameStream::discard()
{
    if (pending() > 0)
        skipTo(m_bytes.size());
    m_boundary = true;
    m_skipping = false;
}

void FrameStream::clear()
{
    m_echoes.clear();
    m_bytes.clear();
    m_pos = 0;
    m_boundary = true;
    m_skipping = false;
}

void FrameStream::skipTo(size_t pos)
{
    if (!m_skipping) {
        m_skipping = true;
        ++m_stretches;
        qDebug("crc_error");
    }
    m_skippedBytes += pos - m_pos;
    m_pos = pos;
    m_boundary = false;
    compact();
}

void FrameStream::take(size_t length, std::vector<quint8> *frame)
{
    frame->assign(m_bytes.begin() + std::ptrdiff_t(m_pos),
                  m_bytes.begin() + std::ptrdiff_t(m_pos + length));
    m_pos += length;
    m_boundary = true;
    m_skipping = false;
    compact();
}

void FrameStream::compact()
{
    if (m_pos == m_bytes.size()) {
        m_bytes.clear();
        m_pos = 0;
    } else if (m_pos > CompactAbove) {
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(m_pos));
        m_pos = 0;
    }
}
