// The serial worker against the simulated ECU over a pseudo-terminal.
#include "link/comm_thread.h"
#include "link/sim_ecu.h"
#include "link_test_support.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <memory>

namespace kovra {
namespace {

using Kind = TCycleSample::TKind;
using Bytes = std::vector<std::uint8_t>;

TEcuBytes PatternMemory()
{
    TEcuBytes m;
    for (int i = 0; i < 256; ++i)
        m[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    return m;
}

TCommSettings Settings(std::vector<TArea> areas, bool preamble = true, int timeout = 1000)
{
    TCommSettings s;
    std::size_t length = 0;
    for (const TArea& a : areas)
        length += a.Length;
    s.Areas = std::move(areas);
    s.SampleLength = length;
    s.PreambleLength = preamble ? kPreambleOn : 0;
    s.ReplyTimeout = timeout;
    return s;
}

// What a cycle of these areas must read from the pattern memory.
Bytes Expected(const std::vector<TArea>& areas)
{
    const TEcuBytes m = PatternMemory();
    Bytes out;
    for (const TArea& a : areas)
        for (int i = 0; i < a.Length; ++i)
            out.push_back(m[(a.Address + i) & 0xFF]);
    return out;
}

std::vector<TEcuSimulator::TFrameRecord> FramesOf(const TEcuSimulator& sim, TEcuFrame::TKind kind)
{
    std::vector<TEcuSimulator::TFrameRecord> out;
    for (const auto& f : sim.Frames())
        if (f.Frame.Kind == kind)
            out.push_back(f);
    return out;
}

double Ms(TEcuSimulator::TClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

class CommThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::App();
        if (!TPty::Supported())
            GTEST_SKIP() << "no pseudo-terminals here";
        ASSERT_TRUE(dir.isValid());
        link = QDir(dir.path()).filePath("ecu").toStdString();
    }

    void TearDown() override
    {
        if (comm)
            comm->Stop();
        if (sim)
            sim->Stop();
    }

    void StartSim(TEcuFaults faults = {}, bool withLink = true)
    {
        TEcuSimOptions options;
        options.Faults = faults;
        if (withLink)
            options.LinkPath = link;
        sim = std::make_unique<TEcuSimulator>(options);
        sim->FreezeMemory(PatternMemory());
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
    }

    void StartComm(const TCommSettings& settings, bool firstRequest = true)
    {
        comm = std::make_unique<TCommThread>();
        TCommSettings s = settings;
        if (s.PortName == "com1")
            s.PortName = link;
        ASSERT_TRUE(comm->Configure(s));
        ASSERT_TRUE(comm->SetConsumer(&sink));
        sink.Comm = comm.get();
        comm->Start();
        if (firstRequest)
            comm->SendRequest();
    }

    // Stops the worker and takes what it left in the FIFO.
    void StopComm()
    {
        comm->Stop();
        TCycleSample s;
        while (comm->TakeSample(s))
            sink.Taken.push_back(std::move(s));
    }

    bool WaitCycles(std::size_t n, int timeoutMs)
    {
        return test::WaitUntil([&] { return sink.Count(Kind::Cycle) >= n; }, timeoutMs);
    }

    QTemporaryDir dir;
    std::string link;
    std::unique_ptr<TEcuSimulator> sim;
    std::unique_ptr<TCommThread> comm;
    test::TSampleSink sink;
};

// Every cycle's sample arrives whole and in order, one entry per cycle; the
// requests walk the areas and return to area 0 after the last.
TEST_F(CommThreadTest, CyclesCarryEveryAreaWithAndWithoutPreamble)
{
    const std::vector<TArea> areas = {{0x10, 0, 4}, {0x80, 4, 8}, {0xFC, 12, 6}};
    for (bool preamble : {true, false}) {
        SCOPED_TRACE(preamble ? "preamble on" : "preamble off");
        TEcuFaults faults;
        faults.Preamble = preamble;
        StartSim(faults);
        sink.Taken.clear();
        StartComm(Settings(areas, preamble));
        ASSERT_TRUE(WaitCycles(30, 5000));
        StopComm();

        const auto cycles = sink.Of(Kind::Cycle);
        for (const TCycleSample& c : cycles)
            ASSERT_EQ(c.Sample, Expected(areas));
        for (std::size_t i = 1; i < cycles.size(); ++i)
            ASSERT_LE(cycles[i - 1].Time, cycles[i].Time);
        // One entry per cycle, besides the port's opening; a consumer that
        // fell far behind would have lost the oldest ones.
        EXPECT_EQ(sink.Taken.size() + comm->DroppedSamples(), comm->Cycles() + 1);
        EXPECT_EQ(sink.Count(Kind::Resend), 0u);

        const auto requests = FramesOf(*sim, TEcuFrame::TKind::Request);
        ASSERT_GE(requests.size(), 3 * comm->Cycles());
        EXPECT_LE(requests.size(), 3 * comm->Cycles() + 3) << "at most one cycle unfinished";
        for (std::size_t i = 0; i < requests.size(); ++i) {
            ASSERT_EQ(requests[i].Frame.Address, areas[i % 3].Address) << i;
            ASSERT_EQ(requests[i].Frame.Length, areas[i % 3].Length) << i;
        }
        sim->Stop();
    }
}

// Replies split into pieces, and replies followed by junk, still give exact samples.
TEST_F(CommThreadTest, PiecesAndTrailingJunk)
{
    const std::vector<TArea> areas = {{0x00, 0, 16}, {0x40, 16, 1}};
    struct Case { int pieces; int extra; };
    for (const Case c : {Case{5, 0}, Case{1, 9}, Case{3, 4}}) {
        SCOPED_TRACE(testing::Message() << c.pieces << " pieces, " << c.extra << " extra");
        TEcuFaults faults;
        faults.Pieces = c.pieces;
        faults.PieceGapMs = 4;
        faults.ExtraBytes = c.extra;
        StartSim(faults);
        sink.Taken.clear();
        StartComm(Settings(areas));
        ASSERT_TRUE(WaitCycles(8, 5000));
        StopComm();
        for (const TCycleSample& cycle : sink.Of(Kind::Cycle))
            ASSERT_EQ(cycle.Sample, Expected(areas));
        sim->Stop();
    }
}

// A silent ECU: one re-send per watchdog interval, each reported with its
// time; no cycle. When the ECU speaks again polling goes on.
TEST_F(CommThreadTest, SilenceResendsOncePerInterval)
{
    TEcuFaults faults;
    faults.Silent = true;
    StartSim(faults);
    StartComm(Settings({{0x20, 0, 2}, {0x30, 2, 2}}, true, 200));
    test::Pump(1100);

    const auto requests = FramesOf(*sim, TEcuFrame::TKind::Request);
    ASSERT_GE(requests.size(), 5u);  // the first request and about five re-sends
    ASSERT_LE(requests.size(), 7u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].Frame.Address, 0x20) << "the request in flight is repeated";
        EXPECT_NEAR(Ms(requests[i].Time - requests[i - 1].Time), 200, 60) << i;
    }
    EXPECT_EQ(sink.Count(Kind::Cycle), 0u);
    const auto resends = sink.Of(Kind::Resend);
    EXPECT_EQ(resends.size(), requests.size() - 1);
    ASSERT_FALSE(resends.empty());
    EXPECT_DOUBLE_EQ(comm->LastCycleTime(), resends.back().TimeOfDay);
    for (const TCycleSample& r : resends)
        EXPECT_EQ(r.Frame, TPollProtocol::TFrameKind::Request);

    faults.Silent = false;
    sim->SetFaults(faults);
    ASSERT_TRUE(WaitCycles(3, 1000));
    EXPECT_EQ(sink.Of(Kind::Cycle).back().Sample, Expected({{0x20, 0, 2}, {0x30, 2, 2}}));
}

TEST_F(CommThreadTest, NoWatchdogWhenTheTimeoutIsNotPositive)
{
    TEcuFaults faults;
    faults.Silent = true;
    StartSim(faults);
    StartComm(Settings({{0x20, 0, 2}}, true, 0));
    test::Pump(500);
    EXPECT_EQ(FramesOf(*sim, TEcuFrame::TKind::Request).size(), 1u);
    EXPECT_EQ(sink.Count(Kind::Resend), 0u);
}

// OBD mode: time-outs alternate request and wake-up frame, the request first;
// an ECU that answers only after a wake-up is then polled normally.
TEST_F(CommThreadTest, ObdWatchdogAlternatesAndWakesTheEcu)
{
    TEcuFaults faults;
    faults.NeedWakeUp = true;
    StartSim(faults);
    TCommSettings s = Settings({{0x10, 0, 4}, {0x90, 4, 4}}, true, 150);
    s.ObdMode = true;
    StartComm(s);
    EXPECT_EQ(comm->Baud(), 10400u);
    ASSERT_TRUE(WaitCycles(5, 3000));

    const auto frames = sim->Frames();
    ASSERT_GE(frames.size(), 4u);
    using F = TEcuFrame::TKind;
    // start-up request, watchdog: request, wake-up, request (now answered)
    EXPECT_EQ(frames[0].Frame.Kind, F::Request);
    EXPECT_FALSE(frames[0].Answered);
    EXPECT_EQ(frames[1].Frame.Kind, F::Request);
    EXPECT_FALSE(frames[1].Answered);
    EXPECT_EQ(frames[2].Frame.Kind, F::WakeUp);
    EXPECT_EQ(frames[3].Frame.Kind, F::Request);
    EXPECT_TRUE(frames[3].Answered);
    const auto resends = sink.Of(Kind::Resend);
    ASSERT_GE(resends.size(), 3u);
    EXPECT_EQ(resends[0].Frame, TPollProtocol::TFrameKind::Request);
    EXPECT_EQ(resends[1].Frame, TPollProtocol::TFrameKind::WakeUp);
    EXPECT_EQ(resends[2].Frame, TPollProtocol::TFrameKind::Request);
    for (const TCycleSample& c : sink.Of(Kind::Cycle))
        ASSERT_EQ(c.Sample, Expected({{0x10, 0, 4}, {0x90, 4, 4}}));
}

// Garbage of any length never stalls or breaks the worker: requests keep
// going out, and good replies are taken again as soon as they come.
TEST_F(CommThreadTest, GarbageNeitherCrashesNorStalls)
{
    TEcuFaults faults;
    faults.GarbageRate = 1.0;
    faults.GarbageMax = 900;
    StartSim(faults);
    const std::vector<TArea> areas = {{0x00, 0, 255}};
    StartComm(Settings(areas, true, 100));
    test::Pump(1000);
    EXPECT_GE(FramesOf(*sim, TEcuFrame::TKind::Request).size(), 8u);

    faults.GarbageRate = 0;
    sim->SetFaults(faults);
    const std::size_t before = sink.Count(Kind::Cycle);
    ASSERT_TRUE(WaitCycles(before + 3, 2000));
    EXPECT_EQ(sink.Of(Kind::Cycle).back().Sample, Expected(areas));
}

// Bursts of 64 KiB of noise after every reply, faster than the line could
// carry them and racing the purge before each request: the port stays open
// (only a device that is really gone closes it) and polling never pauses.
// (The samples are noise: each burst fills the replies that follow it.)
TEST_F(CommThreadTest, BurstsOfNoiseNeverCloseThePort)
{
    TEcuFaults faults;
    faults.BurstBytes = 64 * 1024;
    StartSim(faults);
    StartComm(Settings({{0x10, 0, 8}, {0x40, 8, 4}}, true, 300));
    test::Pump(5000);
    StopComm();
    EXPECT_EQ(sink.Count(Kind::PortLost), 0u) << sink.Of(Kind::PortLost).front().Text.toStdString();
    EXPECT_EQ(comm->Reopens(), 0u);
    EXPECT_EQ(sink.Count(Kind::PortOpen), 1u);
    EXPECT_GE(sim->Replies(), 100u) << "a burst costs at most the cycle it hit";
    EXPECT_GE(comm->Cycles(), 100u);
}

// At 9600 bit/s a reply's bytes come about a millisecond apart; where the
// platform can wait for a byte count the worker wakes about once per reply,
// not once per byte, and the replies still arrive whole.
TEST_F(CommThreadTest, WakesOncePerReplyNotPerByte)
{
    TEcuSimOptions options;
    options.LinkPath = link;
    options.Baud = 9600;
    sim = std::make_unique<TEcuSimulator>(options);
    sim->FreezeMemory(PatternMemory());
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    const std::vector<TArea> areas = {{0x00, 0, 16}, {0x80, 16, 40}, {0xF0, 56, 2}};
    StartComm(Settings(areas));
    ASSERT_TRUE(WaitCycles(2, 3000));
    const std::uint64_t wakeups = comm->Wakeups();
    const std::uint64_t replies = sim->Replies();
    ASSERT_TRUE(WaitCycles(12, 5000));
    StopComm();
    for (const TCycleSample& c : sink.Of(Kind::Cycle))
        ASSERT_EQ(c.Sample, Expected(areas));
    const double perReply = double(comm->Wakeups() - wakeups) / double(sim->Replies() - replies);
#ifdef _WIN32
    EXPECT_GT(perReply, 0);
#else
    EXPECT_LE(perReply, 1.5) << "the worker woke for the bytes of a reply one by one";
#endif
}

// The port goes away (an unplugged adapter) and comes back at the same name:
// the worker reports the loss, reopens and resumes within two seconds.
TEST_F(CommThreadTest, UnplugAndReplugResumesPolling)
{
    StartSim();
    const std::vector<TArea> areas = {{0x10, 0, 8}};
    StartComm(Settings(areas, true, 300));
    ASSERT_TRUE(WaitCycles(5, 3000));

    sim->Unplug(300);
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Count(Kind::PortLost) >= 1; }, 2000));
    ASSERT_TRUE(test::WaitUntil([&] { return sim->Unplugs() == 1 && sim->PortUp(); }, 2000));
    QElapsedTimer back;
    back.start();
    const std::size_t cycles = sink.Count(Kind::Cycle);
    ASSERT_TRUE(WaitCycles(cycles + 3, 2500));
    EXPECT_LT(back.elapsed(), 2000);
    EXPECT_EQ(comm->Reopens(), 1u);
    // Lost, open again, the pending request sent again, then cycles.
    const std::string trace = sink.Trace();
    const std::size_t lost = trace.find('L');
    ASSERT_NE(lost, std::string::npos);
    EXPECT_EQ(trace.substr(lost, 3), "LOR");
    EXPECT_NE(trace.find('C', lost), std::string::npos);
    EXPECT_EQ(sink.Of(Kind::Cycle).back().Sample, Expected(areas));
}

// A port that does not exist yet is retried about once a second; the first
// request waits for it.
TEST_F(CommThreadTest, PortThatAppearsLaterIsOpenedAndPolled)
{
    StartComm(Settings({{0x10, 0, 2}}));
    test::Pump(300);
    EXPECT_FALSE(comm->PortIsOpen());
    ASSERT_EQ(sink.Count(Kind::PortLost), 1u);
    StartSim();
    ASSERT_TRUE(WaitCycles(3, 2500));
    EXPECT_EQ(sink.Count(Kind::PortLost), 1u) << "an outage is reported once";

    QElapsedTimer stop;
    stop.start();
    comm->Stop();
    EXPECT_LT(stop.elapsed(), 500);
}

// Stopping does not wait for the next attempt to open the port.
TEST_F(CommThreadTest, StopWhileWaitingForThePortIsPrompt)
{
    StartComm(Settings({{0x10, 0, 2}}));
    test::Pump(100);
    QElapsedTimer stop;
    stop.start();
    comm->Stop();
    EXPECT_LT(stop.elapsed(), 500);
    EXPECT_FALSE(comm->isRunning());
}

}  // namespace
}  // namespace kovra
