// The ECU poll protocol without any I/O: request and wake-up frames, reply
// completeness, where the payload lies, stepping through the areas, the end of
// a cycle and the watchdog's alternation. The serial worker feeds it the bytes
// it reads and the watchdog's ticks, and writes the frames it is told to write.
#pragma once

#include "config/model.h"
#include "link/rx_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kovra {

// Host to ECU: 20 05 <address> <length> <checksum>; all five bytes sum to 0.
inline constexpr std::size_t kRequestFrameLength = 5;
using TRequestFrame = std::array<std::uint8_t, kRequestFrameLength>;

// Sent by the watchdog in OBD mode only; the last byte is the sum of the ten before it.
inline constexpr std::array<std::uint8_t, 11> kWakeUpFrame = {
    0x5A, 0xC3, 0x17, 0xE8, 0x94, 0x2B, 0xD0, 0x6F, 0xB1, 0x3E, 0x09};

inline constexpr std::uint8_t kPreambleOn = kPreambleBytes;

inline constexpr std::uint32_t kBaudNormal = 9600;
inline constexpr std::uint32_t kBaudObd = 10400;

struct TLineSettings {
    std::uint32_t Baud = kBaudNormal;
    std::uint8_t DataBits = 8;
    bool Parity = false;  // none
    std::uint8_t StopBits = 1;
};

TRequestFrame BuildRequestFrame(std::uint8_t address, std::uint8_t length);

// Two's complement of the 8-bit sum, so that the bytes plus it sum to 0.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes);

// What the protocol needs from the settings.
struct TPollConfig {
    std::vector<TArea> Areas;
    std::size_t SampleLength = 0;  // the sample buffer's length
    std::uint8_t PreambleLength = kPreambleOn;
    bool ObdMode = false;
};

TLineSettings LineSettingsFor(bool obdMode);

// What the line itself costs. Each area takes its request and its whole reply
// (preamble, two leading bytes, payload, trailing byte); a byte is 10 bits on
// the wire (start, 8 data, stop) and the line has no gaps, so this is the
// ceiling no host or ECU can beat.
std::size_t AreaWireBytes(std::size_t length, std::uint8_t preambleLength);
std::size_t CycleWireBytes(const std::vector<TArea>& areas, std::uint8_t preambleLength);
// Cycles per second the line allows; 0 without areas or speed.
double CycleWireLimit(std::uint32_t baud, const std::vector<TArea>& areas, std::uint8_t preambleLength);
// A measured cycle rate as a percentage of that limit; 0 when there is none.
double PercentOfWireLimit(double cyclesPerSecond, std::uint32_t baud, const std::vector<TArea>& areas,
                          std::uint8_t preambleLength);

// Areas that touch or overlap in the ECU's memory and could be polled as one
// request: every area saves the framing of its request and reply.
struct TAreaMerge {
    std::vector<std::size_t> Areas;  // indexes into the configured areas, by address
    std::uint8_t Address = 0;        // of the merged area
    std::size_t Length = 0;
    std::size_t BytesBefore = 0;  // wire bytes of a whole cycle as configured...
    std::size_t BytesAfter = 0;   // ...and with these areas merged
    double SpeedUp() const { return BytesAfter ? double(BytesBefore) / double(BytesAfter) : 1.0; }
};

// One entry per group of two or more areas that can be merged, lowest address
// first. A merged area never grows past what one request can ask for and the
// receive buffer can hold.
std::vector<TAreaMerge> MergeableAreas(const std::vector<TArea>& areas, std::uint8_t preambleLength);

class TPollProtocol {
public:
    enum class TFrameKind : std::uint8_t { None, Request, WakeUp };

    // What the owner must do after feeding bytes.
    struct TStep {
        bool ReplyTaken = false;  // restart the watchdog and send the request of CurrentArea()
        bool CycleDone = false;   // Sample() now holds a completed cycle
    };

    explicit TPollProtocol(TPollConfig config);

    // Bytes read from the port. Once the pending reply is complete (at least
    // PreambleLength + RequestLength + 3 bytes since the last send) its payload
    // goes into the sample and the protocol moves on to the next area; bytes
    // beyond the reply, in this call or after it, are dropped until the next
    // send clears the receive buffer.
    TStep OnBytes(std::span<const std::uint8_t> bytes);

    // Every send first discards what was received (the port's input is purged
    // at the same moment). Returns the frame to write.
    std::span<const std::uint8_t> BeginSend(TFrameKind kind);

    // A watchdog time-out: which frame to re-send. In OBD mode the request and
    // the wake-up frame alternate, starting with the request; replies do not
    // reset the alternation.
    TFrameKind OnWatchdog();

    bool HasAreas() const { return !m_Config.Areas.empty(); }
    std::uint8_t CurrentArea() const { return m_CurrentArea; }
    std::uint8_t RequestAddress() const { return m_RequestAddress; }
    std::uint8_t RequestLength() const { return m_RequestLength; }
    std::uint8_t PreambleLength() const { return m_Config.PreambleLength; }
    std::size_t ReplyThreshold() const;
    std::size_t Received() const { return m_RxCount; }
    std::uint8_t WatchdogTag() const { return m_WatchdogTag; }
    bool ObdMode() const { return m_Config.ObdMode; }
    TLineSettings Line() const { return LineSettingsFor(m_Config.ObdMode); }
    const std::vector<std::uint8_t>& Sample() const { return m_Sample; }
    const TPollConfig& Config() const { return m_Config; }

private:
    void TakeReply();
    void SelectArea(std::uint8_t index);

    TPollConfig m_Config;
    std::vector<std::uint8_t> m_Sample;
    std::array<std::uint8_t, kRxBufferSize> m_RxBuffer{};
    std::size_t m_RxCount = 0;
    bool m_ReplyTaken = false;  // since the last send
    std::uint8_t m_CurrentArea = 0;
    std::uint8_t m_RequestAddress = 0;
    std::uint8_t m_RequestLength = 0;
    std::uint8_t m_WatchdogTag = 0;
    TRequestFrame m_Frame{};
};

}  // namespace kovra
