// What the serial port class does not offer: waking a reader only once a
// whole reply is queued, and telling a removed device from a passing error.
// Both take the port's native handle (a descriptor, or a Win32 HANDLE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace kovra {

// Makes the port readable only once `bytes` bytes (at most 255, at least 1)
// are queued, so that a reader of a reply of known length wakes once instead
// of once per byte; reads still return at once with what is there. False
// where the platform has no such setting (Windows) or the call fails: the port
// then wakes on every byte, as before.
bool SetSerialReadThreshold(std::intptr_t handle, std::size_t bytes) noexcept;

// The same for a reader that changes the threshold with every request: keeps
// the line's settings from the first call, so that each later change is one
// call into the driver instead of a read, a write and a read back. Forget()
// whenever the port is opened again or its settings change otherwise.
class TSerialReadThreshold {
public:
    TSerialReadThreshold();
    ~TSerialReadThreshold();
    TSerialReadThreshold(const TSerialReadThreshold&) = delete;
    TSerialReadThreshold& operator=(const TSerialReadThreshold&) = delete;

    bool Set(std::intptr_t handle, std::size_t bytes) noexcept;
    void Forget() noexcept;

private:
    struct TLine;
    std::unique_ptr<TLine> m_Line;
};

// Hands bytes to the driver at once, without the port class's write buffer
// and the notifications that drain it. Returns how many were taken (0 when the
// driver has no room now), or -1 on an error or where the platform wants its
// writes through the port class (Windows: overlapped handles).
std::ptrdiff_t WriteSerialNow(std::intptr_t handle, std::span<const std::uint8_t> bytes) noexcept;

// Reads back the threshold in force (0: any byte wakes), or -1 when unknown.
int SerialReadThreshold(std::intptr_t handle) noexcept;

// Bytes waiting in the driver's input queue, without reading them or waking
// anyone; -1 where that cannot be told (Windows: asking would also clear the
// line errors the port class reads itself).
long SerialInputQueued(std::intptr_t handle) noexcept;

enum class TSerialHealth : std::uint8_t {
    Alive,  // the handle still reaches a device
    Gone,   // hung up, removed or closed under us: an error that means removal
};

// Asks the device something harmless. Only an error that means the device is
// gone counts as Gone; a busy or interrupted call is Alive.
TSerialHealth ProbeSerialPort(std::intptr_t handle) noexcept;

}  // namespace kovra
