#include "platform/serial_device.h"

#include <fstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif
#endif

namespace kovra {

namespace fs = std::filesystem;

#if !defined(_WIN32)
namespace {

// The kernel's name of a device node: /dev/serial/by-id/... links resolve to
// the node they name.
std::string KernelName(const fs::path& device)
{
    std::error_code ec;
    fs::path p = device;
    if (!p.has_parent_path())
        p = fs::path("/dev") / p;
    const fs::path real = fs::canonical(p, ec);
    return (ec ? p : real).filename().string();
}

}  // namespace
#endif

TLatencyTimer ReadLatencyTimer(const fs::path& device, const fs::path& sysfsRoot)
{
    TLatencyTimer t;
#if defined(_WIN32)
    (void)device;
    (void)sysfsRoot;
#else
    const fs::path attr = sysfsRoot / "class" / "tty" / KernelName(device) / "device" / "latency_timer";
    std::error_code ec;
    if (!fs::exists(attr, ec))
        return t;
    t.Present = true;
    t.Attribute = attr;
    std::ifstream in(attr);
    int ms = -1;
    if (in >> ms)
        t.Milliseconds = ms;
    t.Writable = ::access(attr.c_str(), W_OK) == 0;
#endif
    return t;
}

TLatencyTune LowerLatencyTimer(const fs::path& device, const fs::path& sysfsRoot)
{
    const TLatencyTimer t = ReadLatencyTimer(device, sysfsRoot);
    if (!t.Present)
        return TLatencyTune::NoTimer;
    if (t.Milliseconds >= 0 && t.Milliseconds <= 1)
        return TLatencyTune::AlreadyLow;
    if (!t.Writable)
        return TLatencyTune::NotWritable;
    std::ofstream out(t.Attribute);
    out << "1";
    out.flush();
    if (!out)
        return TLatencyTune::NotWritable;
    out.close();
    const TLatencyTimer after = ReadLatencyTimer(device, sysfsRoot);
    return after.Milliseconds == 1 ? TLatencyTune::Lowered : TLatencyTune::NotWritable;
}

std::string LatencyAdvice(const TLatencyTimer& timer)
{
    return "latency timer " + std::to_string(timer.Milliseconds) +
           " ms (set 1 ms as root: echo 1 > " + timer.Attribute.string() +
           ", or install the package's udev rule 99-kovra-usb-serial.rules)";
}

TDeviceAccess DeviceAccess(const fs::path& device)
{
    TDeviceAccess a;
#if defined(_WIN32)
    const HANDLE h = CreateFileW((L"\\\\.\\" + device.wstring()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        a.Exists = a.CanOpen = true;
        CloseHandle(h);
    } else {
        const DWORD err = GetLastError();
        a.Exists = err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
    }
#else
    struct stat st{};
    if (::stat(device.c_str(), &st) != 0)
        return a;
    a.Exists = true;
    a.CanOpen = ::access(device.c_str(), R_OK | W_OK) == 0;
    if (const group* g = ::getgrgid(st.st_gid))
        a.Group = g->gr_name;
#endif
    return a;
}

bool SetLowLatency(std::intptr_t handle)
{
#if defined(__linux__)
    serial_struct ss{};
    const int fd = static_cast<int>(handle);
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0)
        return false;
    if (ss.flags & ASYNC_LOW_LATENCY)
        return true;
    ss.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
#else
    (void)handle;
    return false;
#endif
}

int LowLatencyFlag(std::intptr_t handle)
{
#if defined(__linux__)
    serial_struct ss{};
    if (::ioctl(static_cast<int>(handle), TIOCGSERIAL, &ss) != 0)
        return -1;
    return (ss.flags & ASYNC_LOW_LATENCY) ? 1 : 0;
#else
    (void)handle;
    return -1;
#endif
}

int DeviceLowLatencyFlag(const fs::path& device)
{
#if defined(__linux__)
    const int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int flag = LowLatencyFlag(fd);
    ::close(fd);
    return flag;
#else
    (void)device;
    return -1;
#endif
}

}  // namespace kovra
