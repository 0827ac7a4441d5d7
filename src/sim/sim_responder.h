// The simulated ECU's side of the poll protocol, without I/O: finds request
// and wake-up frames in the bytes from the host and builds the replies.
#pragma once

#include "link/poll_protocol.h"
#include "sim/sim_memory.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kovra {

struct TEcuFrame {
    enum class TKind : std::uint8_t { Request, WakeUp };
    TKind Kind = TKind::Request;
    std::uint8_t Address = 0;
    std::uint8_t Length = 0;
};

class TEcuFrameReader {
public:
    // Appends received bytes and returns the frames they complete. A request
    // with a bad checksum or length byte is skipped like any other noise: the
    // reader moves on by one byte and looks for the next frame start.
    std::vector<TEcuFrame> Feed(std::span<const std::uint8_t> bytes);
    // Forgets a partial frame (after a pause on the line).
    void Reset() { m_Buffer.clear(); }
    std::size_t Pending() const { return m_Buffer.size(); }
    std::uint64_t Skipped() const { return m_Skipped; }

private:
    std::vector<std::uint8_t> m_Buffer;
    std::uint64_t m_Skipped = 0;
};

// Leading bytes of every reply: a status byte and the payload length.
inline constexpr std::uint8_t kReplyStatus = 0xE0;
// The answer to a wake-up frame: a sync byte and two key bytes.
inline constexpr std::uint8_t kWakeUpAnswer[] = {0x55, 0x08, 0x08};

// A reply: the request's echo as preamble (when on), the two leading bytes,
// memory from the address on (wrapping after 0xFF) and a trailing checksum
// over the leading bytes and the payload.
std::vector<std::uint8_t> BuildEcuReply(const TEcuFrame& request, const TEcuBytes& memory,
                                        bool preamble);

}  // namespace kovra
