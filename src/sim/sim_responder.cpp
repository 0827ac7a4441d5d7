#include "sim/sim_responder.h"

#include <algorithm>

namespace kovra {

std::vector<TEcuFrame> TEcuFrameReader::Feed(std::span<const std::uint8_t> bytes)
{
    m_Buffer.insert(m_Buffer.end(), bytes.begin(), bytes.end());
    std::vector<TEcuFrame> frames;
    std::size_t at = 0;
    while (at < m_Buffer.size()) {
        const std::size_t left = m_Buffer.size() - at;
        const std::uint8_t* p = m_Buffer.data() + at;
        if (p[0] == 0x20) {
            if (left < kRequestFrameLength)
                break;  // wait for the rest
            if (p[1] == 0x05 && FrameChecksum(std::span(p, 4)) == p[4]) {
                frames.push_back({TEcuFrame::TKind::Request, p[2], p[3]});
                at += kRequestFrameLength;
                continue;
            }
        } else if (p[0] == kWakeUpFrame[0]) {
            const std::size_t n = std::min(left, kWakeUpFrame.size());
            if (std::equal(p, p + n, kWakeUpFrame.begin())) {
                if (n < kWakeUpFrame.size())
                    break;
                frames.push_back({TEcuFrame::TKind::WakeUp, 0, 0});
                at += kWakeUpFrame.size();
                continue;
            }
        }
        ++at;
        ++m_Skipped;
    }
    m_Buffer.erase(m_Buffer.begin(), m_Buffer.begin() + static_cast<std::ptrdiff_t>(at));
    return frames;
}

std::vector<std::uint8_t> BuildEcuReply(const TEcuFrame& request, const TEcuBytes& memory,
                                        bool preamble)
{
    std::vector<std::uint8_t> reply;
    reply.reserve(kPreambleOn + request.Length + kReplyOverhead);
    if (preamble) {
        const TRequestFrame echo = BuildRequestFrame(request.Address, request.Length);
        reply.insert(reply.end(), echo.begin(), echo.end());
    }
    const std::size_t body = reply.size();
    reply.push_back(kReplyStatus);
    reply.push_back(request.Length);
    for (unsigned i = 0; i < request.Length; ++i)
        reply.push_back(memory[(request.Address + i) & 0xFF]);
    reply.push_back(FrameChecksum(std::span(reply).subspan(body)));
    return reply;
}

}  // namespace kovra
