#pragma once

// The receive side of the line: answers arrive as one byte stream, several
// devices' answers back to back, cut anywhere by the adapter, with noise in
// between. FrameStream cuts whole frames out of it.
//
// A frame has no length field, but its header tells the length of every
// answer the host asks for: a search answer is 11 bytes, a version answer 13,
// a firmware acknowledgement 14, an error report 15; and of a host's search
// request and version query, 11 (another master's, on a shared bus). Each frame
// must pass its own checksum. Bytes that start no valid frame are skipped
// until one does. An answer whose header does not tell its length (an answer
// nobody asked for) is taken only where a frame may begin, as the rest of
// what came, once the line has gone quiet.
//
// An adapter whose receiver stays on hands the host its own frames back. The
// frames the host has just sent are told to the stream; the same bytes coming
// back are cut out whole, wherever they stand, and marked as the echo they
// are. Each frame sent comes back at most once.

#include "protocol/frame.h"

#include <QtGlobal>

#include <cstddef>
#include <vector>

class FrameStream
{
public:
    // The longest frame taken: the worker's buffer.
    static constexpr int MaxFrame = Cpd::BufferSize;

    void append(const quint8 *data, size_t size);

    // Takes the next complete frame into `frame` (checksum included). With
    // `settled`, no more bytes are coming for now: an answer of untold length
    // that stands where a frame may begin takes the rest. `echo`, when given,
    // tells whether the frame is one the host sent (expectEcho) coming back.
    bool takeFrame(std::vector<quint8> *frame, bool settled, bool *echo = nullptr);

    // The host has sent this frame (checksum included): it may come back.
    void expectEcho(const quint8 *frame, size_t size);
    // The frames sent so far will not come back any more.
    void forgetEchoes() { m_echoes.clear(); }

    // The bytes held begin a frame that is not complete yet: its header is
    // not all here, or it tells a length not reached, or they are the start
    // of a frame the host sent. More may finish it.
    bool frameBegun() const;

    // Drops what is left (the start of a frame that will never be finished).
    void discard();

    // Bytes held that may still become a frame once more arrive.
    size_t pending() const { return m_bytes.size() - m_pos; }

    // Bytes skipped so far because they started no valid frame, and the
    // number of separate stretches they formed. Each stretch is logged once,
    // as "crc_error", when it begins.
    quint64 skippedBytes() const { return m_skippedBytes; }
    quint64 skippedStretches() const { return m_stretches; }

    void clear();

private:
    bool validAt(size_t pos, size_t length) const;
    // The echo that stands whole at pos (its index), or -1; `begun` tells
    // whether the bytes from pos to the end start one.
    int echoAt(size_t pos, bool *begun = nullptr) const;
    bool completeFrameAt(size_t pos) const;
    size_t nextCompleteFrame(size_t from) const; // npos when none
    void skipTo(size_t pos);
    void take(size_t length, std::vector<quint8> *frame);
    void compact();

    std::vector<quint8> m_bytes;
    std::vector<std::vector<quint8>> m_echoes; // frames sent that may come back
    size_t m_pos = 0;         // first byte not yet taken or skipped
    bool m_boundary = true;   // m_pos is where a frame may begin
    bool m_skipping = false;  // inside a stretch of skipped bytes
    quint64 m_skippedBytes = 0;
    quint64 m_stretches = 0;
};
