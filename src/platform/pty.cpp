#include "platform/pty.h"

#ifndef _WIN32

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kovra {

TPty::~TPty() { Close(); }

bool TPty::Supported() noexcept { return true; }

bool TPty::Open(std::string* error)
{
    Close();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    termios raw{};
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    return true;
}

void TPty::Close() noexcept
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = -1;
    slave_ = -1;
    slavePath_.clear();
}

long TPty::Read(void* buffer, std::size_t size, int timeoutMs) noexcept
{
    if (master_ < 0)
        return -1;
    pollfd p{master_, POLLIN, 0};
    int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    if ((p.revents & POLLIN) == 0)
        return (p.revents & (POLLERR | POLLNVAL)) ? -1 : 0;
    const ssize_t n = ::read(master_, buffer, size);
    if (n < 0)
        return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return static_cast<long>(n);
}

bool TPty::Write(const void* data, std::size_t size, int timeoutMs) noexcept
{
    if (master_ < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(master_, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    return true;
}

void TPty::DiscardInput() noexcept
{
    if (master_ >= 0)
        ::tcflush(master_, TCIFLUSH);
}

void TPty::ReleaseExclusive() noexcept
{
#ifdef TIOCNXCL
    if (slave_ >= 0)
        ::ioctl(slave_, TIOCNXCL);
#endif
}

}  // namespace kovra

#else  // _WIN32: no pseudo-terminals; the simulated ECU is not available there.

namespace kovra {

TPty::~TPty() = default;
bool TPty::Supported() noexcept { return false; }
bool TPty::Open(std::string* error)
{
    if (error)
        *error = "pseudo-terminals are not available on this platform";
    return false;
}
void TPty::Close() noexcept {}
long TPty::Read(void*, std::size_t, int) noexcept { return -1; }
bool TPty::Write(const void*, std::size_t, int) noexcept { return false; }
void TPty::DiscardInput() noexcept {}
void TPty::ReleaseExclusive() noexcept {}

}  // namespace kovra

#endif
