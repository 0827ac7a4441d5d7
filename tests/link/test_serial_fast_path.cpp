// The port's fast paths: frames handed to the driver without the port class's
// buffer, and the read threshold changed from remembered line settings.
#include "platform/pty.h"
#include "platform/serial_tune.h"

#include <gtest/gtest.h>

#include <QSerialPort>

#include <array>
#include <cstdint>

namespace kovra {
namespace {

std::intptr_t HandleOf(const QSerialPort& port)
{
#ifdef _WIN32
    return reinterpret_cast<std::intptr_t>(port.handle());
#else
    return static_cast<std::intptr_t>(port.handle());
#endif
}

class SerialFastPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TPty::Supported())
            GTEST_SKIP() << "no pseudo-terminals here";
        ASSERT_TRUE(pty.Open());
        port.setPortName(QString::fromStdString(pty.SlavePath()));
        ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    }

    TPty pty;
    QSerialPort port;
};

TEST_F(SerialFastPath, AFrameWrittenNowArrivesWholeAndInOrder)
{
    const std::array<std::uint8_t, 5> frame = {0x20, 0x05, 0x10, 0x08, 0xC3};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(WriteSerialNow(HandleOf(port), frame), 5);
    std::array<std::uint8_t, 32> got{};
    std::size_t n = 0;
    while (n < 15) {
        const long r = pty.Read(got.data() + n, got.size() - n, 500);
        ASSERT_GT(r, 0);
        n += std::size_t(r);
    }
    ASSERT_EQ(n, 15u);
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(got[i], frame[i % 5]) << i;
    EXPECT_EQ(WriteSerialNow(-1, frame), -1) << "no descriptor, no write";
}

TEST_F(SerialFastPath, RememberedThresholdFollowsEveryChangeAndAReopen)
{
    TSerialReadThreshold threshold;
    const std::intptr_t h = HandleOf(port);
    for (std::size_t bytes : {14u, 11u, 10u, 14u}) {
        ASSERT_TRUE(threshold.Set(h, bytes));
        EXPECT_EQ(SerialReadThreshold(h), int(bytes));
    }
    EXPECT_TRUE(threshold.Set(h, 0));
    EXPECT_EQ(SerialReadThreshold(h), 1) << "at least one byte";
    EXPECT_TRUE(threshold.Set(h, 1000));
    EXPECT_EQ(SerialReadThreshold(h), 255) << "at most what the setting holds";

    // A reopened port starts from its own settings again: a stale copy must
    // not carry the old speed back.
    port.close();
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    port.setBaudRate(19200);
    threshold.Forget();
    ASSERT_TRUE(threshold.Set(HandleOf(port), 7));
    EXPECT_EQ(SerialReadThreshold(HandleOf(port)), 7);
    EXPECT_FALSE(threshold.Set(-1, 7));
}

}  // namespace
}  // namespace kovra
