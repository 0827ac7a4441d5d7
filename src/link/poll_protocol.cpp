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

std::size_t AreaWireBytes(std::size_t length, std::uint8_t preambleLength)
{
    return kRequestFrameLength + preambleLength + kReplyOverhead + length;
}

std::size_t CycleWireBytes(const std::vector<TArea>& areas, std::uint8_t preambleLength)
{
    std::size_t bytes = 0;
    for (const TArea& a : areas)
        bytes += AreaWireBytes(a.Length, preambleLength);
    return bytes;
}

double CycleWireLimit(std::uint32_t baud, const std::vector<TArea>& areas, std::uint8_t preambleLength)
{
    const std::size_t bytes = CycleWireBytes(areas, preambleLength);
    if (bytes == 0 || baud == 0)
        return 0;
    return double(baud) / 10.0 / double(bytes);
}

double PercentOfWireLimit(double cyclesPerSecond, std::uint32_t baud, const std::vector<TArea>& areas,
                          std::uint8_t preambleLength)
{
    const double limit = CycleWireLimit(baud, areas, preambleLength);
    return limit > 0 ? 100.0 * cyclesPerSecond / limit : 0;
}

std::vector<TAreaMerge> MergeableAreas(const std::vector<TArea>& areas, std::uint8_t preambleLength)
{
    const std::size_t cap = std::min(kMaxAreaLength, LargestReceivableArea(preambleLength != 0));
    std::vector<std::size_t> order(areas.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return areas[a].Address != areas[b].Address ? areas[a].Address < areas[b].Address
                                                    : areas[a].Length < areas[b].Length;
    });

    const std::size_t before = CycleWireBytes(areas, preambleLength);
    std::vector<TAreaMerge> out;
    TAreaMerge group;
    std::size_t end = 0;  // one past the group's last address, not wrapped
    std::size_t separateBytes = 0;
    const auto close = [&] {
        if (group.Areas.size() >= 2) {
            group.Length = end - group.Address;
            group.BytesBefore = before;
            group.BytesAfter = before - separateBytes + AreaWireBytes(group.Length, preambleLength);
            out.push_back(group);
        }
        group = TAreaMerge{};
        separateBytes = 0;
    };
    for (const std::size_t i : order) {
        const TArea& a = areas[i];
        const std::size_t aEnd = std::size_t{a.Address} + a.Length;
        const bool joins = !group.Areas.empty() && a.Address <= end && std::max(end, aEnd) - group.Address <= cap;
        if (!joins) {
            close();
            group.Address = a.Address;
            end = aEnd;
        }
        group.Areas.push_back(i);
        end = std::max(end, aEnd);
        separateBytes += AreaWireBytes(a.Length, preambleLength);
    }
    close();
    return out;
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
