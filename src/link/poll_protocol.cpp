#include "link/poll_protocol.h"

#include <algorithm>
#include <cstring>

namespace kovra {

std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(0u - sum);
}

TRequestFrame BuildRequestFrame(std::uint8_t address, std::uint8_t length)
{
    TRequestFrame frame{0x20, 0x05, address, length, 0};
    frame[4] = FrameChecksum(std::span(frame).first(4));
    return frame;
}

TLineSettings LineSettingsFor(bool obdMode)
{
    TLineSettings line;
    line.Baud = obdMode ? kBaudObd : kBaudNormal;
    return line;
}

TPollProtocol::TPollProtocol(TPollConfig config) : m_Config(std::move(config))
{
    // Counts and indexes are 8-bit; a preamble is either there (5 bytes) or not.
    if (m_Config.Areas.size() > 255)
        m_Config.Areas.resize(255);
    if (m_Config.PreambleLength > kPreambleOn)
        m_Config.PreambleLength = kPreambleOn;
    m_Sample.assign(m_Config.SampleLength, 0);
    SelectArea(0);
}

std::size_t TPollProtocol::ReplyThreshold() const
{
    return std::size_t{m_Config.PreambleLength} + m_RequestLength + kReplyOverhead;
}

void TPollProtocol::SelectArea(std::uint8_t index)
{
    m_CurrentArea = index;
    if (index < m_Config.Areas.size()) {
        m_RequestAddress = m_Config.Areas[index].Address;
        m_RequestLength = m_Config.Areas[index].Length;
    }
}

TPollProtocol::TStep TPollProtocol::OnBytes(std::span<const std::uint8_t> bytes)
{
    TStep step;
    if (m_ReplyTaken || !HasAreas())
        return step;  // dropped: nothing is awaited until the next send
    const std::size_t room = m_RxBuffer.size() - m_RxCount;
    const std::size_t n = std::min(room, bytes.size());
    if (n > 0) {
        std::memcpy(m_RxBuffer.data() + m_RxCount, bytes.data(), n);
        m_RxCount += n;
    }
    if (m_RxCount < ReplyThreshold())
        return step;
    const bool lastArea = m_CurrentArea + 1u >= m_Config.Areas.size();
    TakeReply();
    step.ReplyTaken = true;
    step.CycleDone = lastArea;
    return step;
}

void TPollProtocol::TakeReply()
{
    const TArea& area = m_Config.Areas[m_CurrentArea];
    const std::size_t from = std::size_t{m_Config.PreambleLength} + 2;
    // The loader keeps every area inside the sample; this guard only keeps a
    // hand-made configuration from writing past it.
    const std::size_t offset = area.SampleOffset;
    std::size_t n = m_RequestLength;
    if (offset >= m_Sample.size())
        n = 0;
    else
        n = std::min(n, m_Sample.size() - offset);
    if (n > 0)
        std::memcpy(m_Sample.data() + offset, m_RxBuffer.data() + from, n);

    if (m_CurrentArea + 1u < m_Config.Areas.size())
        SelectArea(static_cast<std::uint8_t>(m_CurrentArea + 1));
    else
        SelectArea(0);
    m_ReplyTaken = true;
}

std::span<const std::uint8_t> TPollProtocol::BeginSend(TFrameKind kind)
{
    m_RxCount = 0;
    m_ReplyTaken = false;
    switch (kind) {
    case TFrameKind::Request:
        if (!HasAreas())
            return {};
        m_Frame = BuildRequestFrame(m_RequestAddress, m_RequestLength);
        return m_Frame;
    case TFrameKind::WakeUp:
        return kWakeUpFrame;
    case TFrameKind::None:
        break;
    }
    return {};
}

TPollProtocol::TFrameKind TPollProtocol::OnWatchdog()
{
    if (!HasAreas())
        return TFrameKind::None;
    if (!m_Config.ObdMode)
        return TFrameKind::Request;
    const TFrameKind kind = (m_WatchdogTag & 0xFF) != 0 ? TFrameKind::WakeUp : TFrameKind::Request;
    m_WatchdogTag = static_cast<std::uint8_t>((m_WatchdogTag ^ 1) & 127);
    return kind;
}

}  // namespace kovra
