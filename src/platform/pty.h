// Pseudo-terminals, for the simulated ECU: the master end is the ECU's side of
// the cable, the slave end is the "serial port" a logger opens by its path.
#pragma once

#include <cstddef>
#include <string>

namespace kovra {

class TPty {
public:
    TPty() = default;
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    // False on a platform without pseudo-terminals (Windows).
    static bool Supported() noexcept;

    // Opens a new pair. The slave end is set to raw mode and kept open here as
    // well, so the line discipline never rewrites or echoes bytes, and the
    // master sees no hang-up while no client has the port open. On failure
    // error (when given) says why.
    bool Open(std::string* error = nullptr);
    // Closes both ends: a client with the slave open sees the device go away.
    void Close() noexcept;
    bool IsOpen() const noexcept { return master_ >= 0; }
    const std::string& SlavePath() const noexcept { return slavePath_; }

    // Waits up to timeoutMs for input on the master end and reads what is
    // there: the count read, 0 on time-out, -1 when the pair is closed or broken.
    long Read(void* buffer, std::size_t size, int timeoutMs) noexcept;
    // Writes every byte, waiting at most timeoutMs in all for room; false when
    // the bytes could not all be written (nobody reads the port, or an error).
    bool Write(const void* data, std::size_t size, int timeoutMs = 1000) noexcept;
    // Discards input not yet read.
    void DiscardInput() noexcept;
    // Lifts the exclusive-use flag that a serial port client sets and leaves
    // behind when it dies with the port open; otherwise no later client could
    // open the port while this end holds it.
    void ReleaseExclusive() noexcept;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace kovra
