// What the system can tell about a serial device beyond what the serial port
// class shows: whether this user may open it (and which group would let them),
// and for USB adapters the latency timer that holds received bytes back.
//
// USB serial chips (FTDI's above all) send what they received only when their
// buffer fills or their latency timer runs out, 16 ms by default. A poll
// protocol that waits for each short reply before it sends the next request
// loses that time on every reply, so the link asks for 1 ms. On Linux the
// timer is a sysfs attribute of the device, writable by root only unless a
// udev rule (shipped with the package) sets it when the adapter is plugged in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kovra {

struct TDeviceAccess {
    bool Exists = false;
    bool CanOpen = false;   // read and write for this user
    std::string Group;      // the group that owns the device node, if known ("dialout")
};

TDeviceAccess DeviceAccess(const std::filesystem::path& device);

struct TLatencyTimer {
    bool Present = false;   // the device has a latency timer (a USB adapter that exposes one)
    int Milliseconds = -1;  // -1 when unreadable
    bool Writable = false;
    std::filesystem::path Attribute;  // where it lives
};

// sysfsRoot is "/sys" on a real system; tests give a folder laid out like it.
// device is the device node ("/dev/ttyUSB0") or its bare name.
TLatencyTimer ReadLatencyTimer(const std::filesystem::path& device,
                               const std::filesystem::path& sysfsRoot = "/sys");

enum class TLatencyTune : std::uint8_t {
    NoTimer,      // nothing to tune (not a USB adapter, or another platform)
    AlreadyLow,   // 1 ms or less
    Lowered,      // set to 1 ms now
    NotWritable,  // above 1 ms and this user may not change it
};

TLatencyTune LowerLatencyTimer(const std::filesystem::path& device,
                               const std::filesystem::path& sysfsRoot = "/sys");

// The serial driver's low-latency flag (ASYNC_LOW_LATENCY) on an open port
// handle: asks the driver to hand received bytes on at once. Returns false
// where the driver or platform has no such flag (a pseudo-terminal, Windows).
bool SetLowLatency(std::intptr_t handle);
// -1 unknown, 0 off, 1 on.
int LowLatencyFlag(std::intptr_t handle);

// The flag of a device that is not open: opened for a moment without becoming
// its controlling terminal. -1 when it cannot be read.
int DeviceLowLatencyFlag(const std::filesystem::path& device);

// One line of advice for a timer that cannot be lowered.
std::string LatencyAdvice(const TLatencyTimer& timer);

}  // namespace kovra
