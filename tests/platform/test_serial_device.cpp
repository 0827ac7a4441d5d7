// The latency timer of USB serial adapters, against a folder laid out like
// sysfs, and the device checks against real nodes.
#include "platform/serial_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace kovra;

namespace {

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("kovra-sysfs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "class/tty/ttyS0");  // a built-in port: no timer
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Adapter(const std::string& name, const std::string& timer)
    {
        const fs::path dev = root_ / "class/tty" / name / "device";
        fs::create_directories(dev);
        std::ofstream(dev / "latency_timer") << timer << "\n";
        return dev / "latency_timer";
    }
    static std::string Read(const fs::path& p)
    {
        std::ifstream in(p);
        std::string s;
        in >> s;
        return s;
    }
    fs::path root_;
};

TEST_F(FakeSysfs, TimerIsFoundByBareNameOrDevicePathAndLowered)
{
    const fs::path attr = Adapter("ttyUSB0", "16");
    const TLatencyTimer t = ReadLatencyTimer("/dev/ttyUSB0", root_);
    EXPECT_TRUE(t.Present);
    EXPECT_EQ(t.Milliseconds, 16);
    EXPECT_EQ(t.Attribute, attr);
    EXPECT_EQ(ReadLatencyTimer("ttyUSB0", root_).Milliseconds, 16);

    EXPECT_EQ(LowerLatencyTimer("ttyUSB0", root_), TLatencyTune::Lowered);
    EXPECT_EQ(Read(attr), "1");
    EXPECT_EQ(LowerLatencyTimer("ttyUSB0", root_), TLatencyTune::AlreadyLow);
}

TEST_F(FakeSysfs, PortsWithoutTimerAreLeftAlone)
{
    EXPECT_FALSE(ReadLatencyTimer("/dev/ttyS0", root_).Present);
    EXPECT_EQ(LowerLatencyTimer("/dev/ttyS0", root_), TLatencyTune::NoTimer);
    EXPECT_EQ(LowerLatencyTimer("/dev/ttyACM7", root_), TLatencyTune::NoTimer);
}

TEST_F(FakeSysfs, TimerThatCannotBeWrittenIsReportedWithTheFix)
{
    // An attribute the kernel refuses to write, even for root: /proc/version
    // has no write handler.
    const fs::path dev = root_ / "class/tty/ttyUSB1/device";
    fs::create_directories(dev);
    fs::create_symlink("/proc/version", dev / "latency_timer");
    const TLatencyTimer t = ReadLatencyTimer("ttyUSB1", root_);
    ASSERT_TRUE(t.Present);
    EXPECT_EQ(LowerLatencyTimer("ttyUSB1", root_), TLatencyTune::NotWritable);
    const std::string advice = LatencyAdvice(t);
    EXPECT_NE(advice.find(dev.string()), std::string::npos) << advice;
    EXPECT_NE(advice.find("udev"), std::string::npos) << advice;
}

TEST(DeviceAccess, MissingAndPresentNodes)
{
    EXPECT_FALSE(DeviceAccess("/dev/kovra-no-such-device").Exists);
    const TDeviceAccess null = DeviceAccess("/dev/null");
    EXPECT_TRUE(null.Exists);
    EXPECT_TRUE(null.CanOpen);
    EXPECT_FALSE(null.Group.empty());
}

TEST(LowLatency, NotASerialDriverHasNoFlag)
{
    // /dev/null is no serial driver: the flag is unknown, nothing breaks.
    EXPECT_EQ(DeviceLowLatencyFlag("/dev/null"), -1);
    EXPECT_EQ(DeviceLowLatencyFlag("/dev/kovra-no-such-device"), -1);
}

}  // namespace
