#pragma once

// The answers to one request, as bytes come off the line: cut into frames,
// and each frame judged against what was asked. A search answer from a
// device not yet heard is news, and news keeps a search round open. During an
// update only the answer of the device being written is kept; anything else
// is dropped, unanswered, so it can never move the transfer or make the worker
// write to another device. In the other modes every frame is kept, and the
// answer of the device asked ends the wait. No port here: the worker reads,
// this decides.
//
// Our own frames coming back (an adapter whose receiver stays on) are never
// answers: every frame written since the line was last read to its end is
// told here, and the same bytes coming back are dropped as its echo. A
// request can never be taken for a device's frame, but a confirmation has the
// very bytes of the answer it confirms: it is expected back only once the
// line has shown that it echoes (a request came back), so that on a plain
// line a device answering again is heard as always. An acknowledgement of a
// part that was acknowledged already is a late copy: it does not end the
// wait for the part in hand.

#include "protocol/stream.h"
#include "registry/device.h"

#include <deque>
#include <utility>
#include <vector>

class Answers
{
public:
    // A request has gone to `asked` (all 0xFF for a search).
    void expect(const DeviceId &asked) { m_asked = asked; }

    // The host wrote this frame (checksum included); it may come back.
    void sent(const quint8 *frame, size_t size);

    // The wait for the answers to the request just written begins.
    void beginRound();

    // Bytes as they came off the line, in any pieces.
    void take(const quint8 *data, size_t size);

    // The line is quiet or the window is over: what is left will not be
    // finished. An answer of untold length takes the rest.
    void settle();

    // The wait for this round's answers is over: what was sent until now
    // will not come back any more.
    void endRound();

    // Traffic that is not ours, since it was last taken: frames that are
    // neither our requests (nor their echo) nor answers to them, and bytes
    // outside a search that formed no frame. A search's garbled bytes are
    // our own devices' answers colliding.
    struct Foreign
    {
        quint64 frames = 0;
        quint64 bytes = 0;
    };
    Foreign takeForeign() { return std::exchange(m_foreign, Foreign{}); }

    // A search: a device not heard before has answered. Any other request:
    // the device asked has answered. Cleared by clearNews().
    bool news() const { return m_news; }
    void clearNews() { m_news = false; }

    // Bytes of this round, our own frames coming back not counted.
    qint64 bytesThisRound() const { return qMax<qint64>(0, m_bytes - m_echoBytes); }
    // Bytes are held that begin a frame not yet complete.
    bool frameBegun() const { return m_stream.frameBegun(); }
    // Some bytes of this round formed no valid frame.
    bool garbled() const { return m_stream.skippedBytes() > m_skippedBefore; }
    // ... and nothing is left that may still become one.
    bool garbledAndQuiet() const { return garbled() && m_stream.pending() == 0; }

    // Frames kept for the answer handling, in the order they came.
    bool hasFrame() const { return !m_kept.empty(); }
    std::vector<quint8> nextFrame();

    // The line was switched or lost: nothing of it is kept.
    void clear();

private:
    void cut(bool settled);
    void judge(const std::vector<quint8> &frame);

    FrameStream m_stream;
    std::deque<std::vector<quint8>> m_kept;
    DeviceId m_asked{};
    std::vector<DeviceId> m_heard; // new senders heard in this round
    quint64 m_skippedBefore = 0;
    qint64 m_bytes = 0;
    qint64 m_echoBytes = 0;
    bool m_news = false;
    bool m_lineEchoes = false; // a request of ours came back since the port opened
    bool m_searchRound = false;
    Foreign m_foreign;
};
