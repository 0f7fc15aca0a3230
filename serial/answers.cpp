// Sorting what the line brings into the frames the answer handling gets.

#include "serial/answers.h"

#include "protocol/firmware.h"
#include "protocol/frame.h"
#include "protocol/handle.h"
#include "registry/registry.h"

#include <algorithm>

void Answers::beginRound()
{
    m_searchRound = WorkMode == ModeSearch;
    m_skippedBefore = m_stream.skippedBytes();
    m_heard.clear();
    m_bytes = 0;
    m_echoBytes = 0;
    m_news = false;
}

void Answers::sent(const quint8 *frame, size_t size)
{
    if (m_lineEchoes || Cpd::unpackCommand(frame).type == Cpd::TypeRequest)
        m_stream.expectEcho(frame, size);
}

void Answers::take(const quint8 *data, size_t size)
{
    m_bytes += qint64(size);
    m_stream.append(data, size);
    cut(false);
}

void Answers::settle()
{
    cut(true);
    m_stream.discard();
}

void Answers::cut(bool settled)
{
    std::vector<quint8> frame;
    bool echo = false;
    while (m_stream.takeFrame(&frame, settled, &echo)) {
        if (echo) {
            m_echoBytes += qint64(frame.size());
            if (Cpd::unpackCommand(frame.data()).type == Cpd::TypeRequest)
                m_lineEchoes = true;
            logFrameHeader(frame.data(), ": our own frame coming back, dropped");
            continue;
        }
        judge(frame);
    }
}

std::vector<quint8> Answers::nextFrame()
{
    std::vector<quint8> frame = std::move(m_kept.front());
    m_kept.pop_front();
    return frame;
}

void Answers::endRound()
{
    m_stream.forgetEchoes();
    if (!m_searchRound)
        m_foreign.bytes += m_stream.skippedBytes() - m_skippedBefore;
}

void Answers::clear()
{
    m_lineEchoes = false;
    m_kept.clear();
    m_stream.clear();
}

void Answers::judge(const std::vector<quint8> &frame)
{
    const DeviceId sender = senderOf(frame.data());
    const Cpd::CommandWord word = Cpd::unpackCommand(frame.data());
    const bool deviceFrame = word.type == Cpd::TypeResponse || word.type == Cpd::TypeError;
    // A request that is not ours, or a frame no device sends: another master
    // talks on this line. It is never news; the handling logs it as it is.
    if (!deviceFrame) {
        ++m_foreign.frames;
        logFrameHeader(frame.data(), ": not ours (another master on the line?)");
    }
    switch (WorkMode.load()) {
    case ModeSearch:
        if (word.type == Cpd::TypeResponse && word.block == Cpd::BlockSearch
            && std::find(m_heard.begin(), m_heard.end(), sender) == m_heard.end()
            && !isRegistered(sender)) {
            m_heard.push_back(sender);
            m_news = true;
        }
        break;
    case ModeUpdate:
        if (sender != m_asked
            || !(word.type == Cpd::TypeError
                 || (word.type == Cpd::TypeResponse && word.block == Cpd::BlockDevice
                     && word.number == Cpd::NumberFirmware))) {
            if (deviceFrame) {
                ++m_foreign.frames;
                logFrameHeader(frame.data(), ": not the answer awaited, dropped");
            }
            return;
        }
        // A late copy of an acknowledgement already taken is kept for the
        // log, but the wait for the part in hand goes on.
        if (word.type != Cpd::TypeResponse
            || !FirmwareTransfer::isLateCopy(frame.data() + Cpd::HeaderSize,
                                             frame.size() - Cpd::MinFrameSize))
            m_news = true;
        break;
    default:
        if (sender == m_asked && deviceFrame)
            m_news = true;
        break;
    }
    m_kept.push_back(frame);
}
