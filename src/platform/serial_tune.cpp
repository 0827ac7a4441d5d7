#include "platform/serial_tune.h"

#include <algorithm>
#include <new>

#ifndef _WIN32

#include <cerrno>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kovra {

struct TSerialReadThreshold::TLine {
    std::intptr_t Handle = -1;
    termios Tio{};
};

TSerialReadThreshold::TSerialReadThreshold() = default;
TSerialReadThreshold::~TSerialReadThreshold() = default;

void TSerialReadThreshold::Forget() noexcept
{
    m_Line.reset();
}

bool TSerialReadThreshold::Set(std::intptr_t handle, std::size_t bytes) noexcept
{
    const int fd = static_cast<int>(handle);
    if (fd < 0)
        return false;
    if (!m_Line || m_Line->Handle != handle) {
        auto line = std::unique_ptr<TLine>(new (std::nothrow) TLine);
        if (!line || ::tcgetattr(fd, &line->Tio) != 0)
            return false;
        line->Handle = handle;
        m_Line = std::move(line);
    }
    const auto wanted = static_cast<cc_t>(std::clamp<std::size_t>(bytes, 1, 255));
    termios& tio = m_Line->Tio;
    if (tio.c_cc[VMIN] == wanted && tio.c_cc[VTIME] == 0)
        return true;
    tio.c_cc[VMIN] = wanted;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) == 0)
        return true;
    m_Line.reset();  // what the driver holds is no longer known
    return false;
}

std::ptrdiff_t WriteSerialNow(std::intptr_t handle, std::span<const std::uint8_t> bytes) noexcept
{
    const int fd = static_cast<int>(handle);
    if (fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n >= 0)
            return static_cast<std::ptrdiff_t>(n);
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool SetSerialReadThreshold(std::intptr_t handle, std::size_t bytes) noexcept
{
    const int fd = static_cast<int>(handle);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return false;
    // With no inter-byte timer, VMIN is also what poll() waits for in
    // non-canonical mode; non-blocking reads are not held back by it.
    const auto wanted = static_cast<cc_t>(std::clamp<std::size_t>(bytes, 1, 255));
    if (tio.c_cc[VMIN] == wanted && tio.c_cc[VTIME] == 0)
        return true;
    tio.c_cc[VMIN] = wanted;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

int SerialReadThreshold(std::intptr_t handle) noexcept
{
    termios tio{};
    if (handle < 0 || ::tcgetattr(static_cast<int>(handle), &tio) != 0)
        return -1;
    return tio.c_cc[VTIME] == 0 ? tio.c_cc[VMIN] : -1;
}

long SerialInputQueued(std::intptr_t handle) noexcept
{
    int queued = 0;
    if (handle < 0 || ::ioctl(static_cast<int>(handle), FIONREAD, &queued) != 0)
        return -1;
    return queued;
}

TSerialHealth ProbeSerialPort(std::intptr_t handle) noexcept
{
    termios tio{};
    if (handle < 0)
        return TSerialHealth::Gone;
    if (::tcgetattr(static_cast<int>(handle), &tio) == 0)
        return TSerialHealth::Alive;
    switch (errno) {
    case EIO:     // hung up: the adapter or the other end went away
    case ENXIO:   // no such device any more
    case ENODEV:
    case EBADF:   // closed under us
    case ENOTTY:  // no longer a terminal
        return TSerialHealth::Gone;
    default:
        return TSerialHealth::Alive;
    }
}

}  // namespace kovra

#else  // _WIN32

#include <windows.h>

namespace kovra {

// The driver wakes its reader on the first byte; QSerialPort's overlapped
// reads leave no room for a byte count there.
bool SetSerialReadThreshold(std::intptr_t, std::size_t) noexcept { return false; }

struct TSerialReadThreshold::TLine {};
TSerialReadThreshold::TSerialReadThreshold() = default;
TSerialReadThreshold::~TSerialReadThreshold() = default;
void TSerialReadThreshold::Forget() noexcept {}
bool TSerialReadThreshold::Set(std::intptr_t, std::size_t) noexcept { return false; }

// Overlapped handles want an OVERLAPPED record per write; the port class keeps
// those and their buffers alive until the writes complete.
std::ptrdiff_t WriteSerialNow(std::intptr_t, std::span<const std::uint8_t>) noexcept { return -1; }

int SerialReadThreshold(std::intptr_t) noexcept { return -1; }

// ClearCommError would tell (cbInQue), but it also clears the errors that the
// port class collects with the same call.
long SerialInputQueued(std::intptr_t) noexcept { return -1; }

TSerialHealth ProbeSerialPort(std::intptr_t handle) noexcept
{
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return TSerialHealth::Gone;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(h, &dcb))
        return TSerialHealth::Alive;
    switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED:  // what a removed USB adapter answers
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_GEN_FAILURE:
        return TSerialHealth::Gone;
    default:
        return TSerialHealth::Alive;
    }
}

}  // namespace kovra

#endif
