// kovra ports: every serial port the system knows, with the name to put in
// "порт", what the adapter says of itself, whether this user may open it and,
// for USB adapters, the latency timer that decides how fast replies arrive.
#include "commands.h"

#include "config/paths.h"
#include "platform/serial_device.h"

#include <QFile>
#include <QSerialPortInfo>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kovra::cli {

namespace {

std::string Text(const QString& s) { return s.toStdString(); }

std::string Hex4(quint16 v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04x", static_cast<unsigned>(v));
    return b;
}

}  // namespace

// The name that "порт" takes for a device: "comN" for the N-th built-in port,
// the bare name for a device directly under /dev, the whole path otherwise.
std::string SettingsPortName(const std::string& devicePath)
{
#ifdef _WIN32
    std::string name = devicePath;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name;
#else
    const std::string dev = "/dev/";
    if (devicePath.rfind(dev, 0) != 0)
        return devicePath;
    const std::string rest = devicePath.substr(dev.size());
    if (rest.rfind("ttyS", 0) == 0 && rest.size() > 4 &&
        std::all_of(rest.begin() + 4, rest.end(), [](unsigned char c) { return c >= '0' && c <= '9'; }))
        return "com" + std::to_string(std::stoul(rest.substr(4)) + 1);
    return rest.find('/') == std::string::npos ? rest : devicePath;
#endif
}

std::vector<std::string> DescribePort(const QSerialPortInfo& info, const std::filesystem::path& sysfsRoot)
{
    const std::string path = Text(info.systemLocation());
    std::vector<std::string> lines;
    lines.push_back(SettingsPortName(path) + "  (" + path + ")");
    auto field = [&](const char* label, const std::string& value) {
        if (!value.empty())
            lines.push_back(std::string("  ") + label + ": " + value);
    };
    field("description", Text(info.description()));
    field("manufacturer", Text(info.manufacturer()));
    if (info.hasVendorIdentifier() || info.hasProductIdentifier())
        field("usb id", Hex4(info.vendorIdentifier()) + ":" + Hex4(info.productIdentifier()));
    field("serial number", Text(info.serialNumber()));

    const TDeviceAccess access = DeviceAccess(PathFromQString(info.systemLocation()));
    if (access.CanOpen)
        field("access", "this user may open it");
    else if (access.Exists)
        field("access", "no permission" + (access.Group.empty()
                                               ? std::string()
                                               : "; join the group \"" + access.Group +
                                                     "\" (sudo usermod -aG " + access.Group +
                                                     " $USER, then log in again)"));
    else
        field("access", "the device node is missing");

    const TLatencyTimer timer = ReadLatencyTimer(path, sysfsRoot);
    if (timer.Present) {
        if (timer.Milliseconds <= 1 && timer.Milliseconds >= 0)
            field("latency timer", std::to_string(timer.Milliseconds) + " ms");
        else if (timer.Writable)
            field("latency timer", std::to_string(timer.Milliseconds) + " ms (the logger sets 1 ms when it opens the port)");
        else
            field("latency timer", LatencyAdvice(timer));
        if (access.CanOpen) {
            const int low = DeviceLowLatencyFlag(path);
            if (low >= 0)
                field("low latency", low ? "on" : "off (the logger turns it on when it opens the port)");
        }
    }
    return lines;
}

void AddPortsCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("ports", "every serial port of this system, with the name to put in \"порт\"");
    cmd->callback([] {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        if (ports.isEmpty()) {
            std::printf("no serial ports found (is the adapter plugged in?)\n");
            return;
        }
        for (const QSerialPortInfo& info : ports)
            for (const std::string& line : DescribePort(info, "/sys"))
                std::printf("%s\n", line.c_str());
    });
}

}  // namespace kovra::cli
