// The serial worker against the simulated ECU over a pseudo-terminal.
#include "link/comm_thread.h"
#include "config/settings.h"
#include "sim/sim_ecu.h"
#include "link_test_support.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
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

    // baud: the simulator's pace (0 answers at once).
    void StartSim(TEcuFaults faults = {}, bool withLink = true, std::uint32_t baud = 0)
    {
        TEcuSimOptions options;
        options.Faults = faults;
        options.Baud = baud;
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

    // Three areas of 58 bytes in all: replies long enough at 9600 bit/s for
    // the worker's wake-ups per reply to tell.
    const std::vector<TArea> kLineAreas = {{0x00, 0, 16}, {0x80, 16, 40}, {0xF0, 56, 2}};

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
    StartSim({}, true, 9600);
    const std::vector<TArea>& areas = kLineAreas;
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

// An ECU that answers slowly, but within the time-out, never sees a re-send:
// every reply gives the watchdog its full interval anew.
TEST_F(CommThreadTest, SlowRepliesWithinTheTimeoutAreNeverResent)
{
    TEcuFaults faults;
    faults.DelayMs = 140;
    StartSim(faults);
    StartComm(Settings({{0x20, 0, 2}, {0x30, 2, 2}}, true, 200));
    ASSERT_TRUE(WaitCycles(4, 3000));
    EXPECT_EQ(sink.Count(Kind::Resend), 0u);
    EXPECT_EQ(comm->Resends(), 0u);
    for (const auto& r : FramesOf(*sim, TEcuFrame::TKind::Request))
        EXPECT_TRUE(r.Answered);
}

#ifdef __linux__
// The worker's own context switches, voluntary and (unless asked for its
// own waits only) not, from the kernel's account of the thread named after
// its class.
std::uint64_t WorkerSwitches(bool voluntaryOnly = false)
{
    std::uint64_t total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("kovra::TComm", 0) != 0)
            continue;
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0
                || (!voluntaryOnly && line.rfind("nonvoluntary_ctxt_switches:", 0) == 0))
                total += std::stoull(line.substr(line.find(':') + 1));
    }
    return total;
}

// At 9600 bit/s the driver wakes a waiting reader for every byte that comes,
// whatever the read threshold. Asked to, the worker sleeps instead while a
// reply cannot have crossed the line yet, and the replies still come whole.
TEST_F(CommThreadTest, SleepsWhileTheReplyIsOnTheLine)
{
    StartSim({}, true, 9600);
    const std::vector<TArea>& areas = kLineAreas;
    TCommSettings s = Settings(areas);
    s.QuietWhileReplyInFlight = true;
    StartComm(s);
    ASSERT_TRUE(WaitCycles(2, 3000));
    const std::uint64_t switches = WorkerSwitches();
    const std::uint64_t replies = sim->Replies();
    const std::size_t cycles = sink.Count(Kind::Cycle);
    ASSERT_TRUE(WaitCycles(cycles + 10, 5000));
    const double perReply = double(WorkerSwitches() - switches) / double(sim->Replies() - replies);
    StopComm();
    ASSERT_GT(switches, 0u) << "no thread named after the worker";
    // A reply of this set is 28 bytes on average, each a wake-up when watched.
    EXPECT_LE(perReply, 14) << "the worker watched the bytes of a reply come one by one";
    for (const TCycleSample& c : sink.Of(Kind::Cycle))
        ASSERT_EQ(c.Sample, Expected(areas));
}

// Left as they are, the settings sleep through all but the end of each reply
// once the worker has seen a few, and the replies still come whole.
TEST_F(CommThreadTest, ByDefaultWatchesOnlyTheEndOfEachReply)
{
    StartSim({}, true, 9600);
    const std::vector<TArea>& areas = kLineAreas;
    StartComm(Settings(areas));
    ASSERT_TRUE(WaitCycles(3, 3000));
    const std::uint64_t switches = WorkerSwitches(true);
    const std::uint64_t replies = sim->Replies();
    const std::uint64_t quiet = comm->QuietWaits();
    const std::size_t cycles = sink.Count(Kind::Cycle);
    ASSERT_TRUE(WaitCycles(cycles + 10, 5000));
    const std::uint64_t seen = sim->Replies() - replies;
    const double perReply = double(WorkerSwitches(true) - switches) / double(seen);
    const std::uint64_t quietWaits = comm->QuietWaits() - quiet;
    StopComm();
    ASSERT_GT(switches, 0u) << "no thread named after the worker";
    // 28 bytes a reply on average; the sleep, the last byte or two, and room
    // for a machine that wakes the worker late. (Preemptions are the load's.)
    EXPECT_LE(perReply, 10) << "the worker watched the bytes of a reply come one by one";
    // Most replies are slept through; a slow machine (a sanitizer build)
    // watches a few more of them again to learn their end anew.
    EXPECT_GE(quietWaits * 2, seen);
    for (const TCycleSample& c : sink.Of(Kind::Cycle))
        ASSERT_EQ(c.Sample, Expected(areas));
}
#endif

// A device that answers faster than its line (here a pseudo-terminal without
// pacing) is not held to the line's pace by the sleeps after each request:
// they are learnt from its replies, which are whole at once.
TEST_F(CommThreadTest, QuietWaitsDoNotHoldAFastDeviceToItsLine)
{
    StartSim();
    const std::vector<TArea> areas = {{0x00, 0, 16}, {0x80, 16, 40}};
    TCommSettings s = Settings(areas);
    s.QuietWhileReplyInFlight = true;
    StartComm(s);
    ASSERT_TRUE(WaitCycles(5, 3000));
    const std::size_t cycles = sink.Count(Kind::Cycle);
    test::Pump(1000);
    const double perSecond = double(sink.Count(Kind::Cycle) - cycles);
    StopComm();
    EXPECT_GE(perSecond, 5 * CycleWireLimit(9600, areas, kPreambleOn));
    EXPECT_EQ(sink.Of(Kind::Cycle).back().Sample, Expected(areas));
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

// A USB adapter whose latency timer cannot be lowered: one notice with the
// fix, and no second one when the port comes back. (The pseudo-terminal
// stands in for the adapter through a folder laid out like sysfs.)
TEST_F(CommThreadTest, UnwritableLatencyTimerIsNoticedOncePerRun)
{
    namespace fs = std::filesystem;
    StartSim();
    const fs::path root = fs::path(dir.path().toStdString()) / "sys";
    // The kernel refuses writes to /proc/version even from root.
    const auto fakeAdapter = [&](const std::string& device) {
        const fs::path attr = root / "class/tty" / fs::path(device).filename() / "device/latency_timer";
        fs::create_directories(attr.parent_path());
        std::error_code ec;
        fs::create_symlink("/proc/version", attr, ec);
        return attr;
    };
    const fs::path attr = fakeAdapter(sim->DevicePath());
    TCommSettings s = Settings({{0x10, 0, 8}}, true, 300);
    s.SysfsRoot = root;
    StartComm(s);
    ASSERT_TRUE(WaitCycles(3, 3000));
    const auto notices = sink.Of(Kind::Notice);
    ASSERT_EQ(notices.size(), 1u) << sink.Trace();
    EXPECT_NE(notices[0].Text.toStdString().find(attr.string()), std::string::npos) << notices[0].Text.toStdString();
    EXPECT_TRUE(notices[0].Text.contains("udev")) << notices[0].Text.toStdString();
    EXPECT_EQ(sink.Trace().substr(0, 2), "ON") << "told right after the port opened";

    sim->Unplug(300);
    ASSERT_TRUE(test::WaitUntil([&] { return sim->Unplugs() == 1 && sim->PortUp(); }, 2000));
    fakeAdapter(sim->DevicePath());  // the terminal may come back under another number
    ASSERT_TRUE(test::WaitUntil([&] { return comm->Reopens() == 1; }, 2500));
    const std::size_t cycles = sink.Count(Kind::Cycle);
    ASSERT_TRUE(WaitCycles(cycles + 2, 2500));
    EXPECT_EQ(sink.Count(Kind::Notice), 1u) << sink.Trace();
}

// A timer that may be written is set to 1 ms without a word; the host's
// turnaround is measured on every reply.
TEST_F(CommThreadTest, WritableLatencyTimerIsLoweredSilentlyAndTurnaroundIsMeasured)
{
    namespace fs = std::filesystem;
    StartSim();
    const fs::path root = fs::path(dir.path().toStdString()) / "sys";
    const fs::path attr = root / "class/tty" / fs::path(sim->DevicePath()).filename() / "device/latency_timer";
    fs::create_directories(attr.parent_path());
    std::ofstream(attr) << "16\n";
    TCommSettings s = Settings({{0x10, 0, 4}, {0x40, 4, 4}});
    s.SysfsRoot = root;
    EXPECT_EQ(TCommThread().Turnaround().Count, 0u);
    StartComm(s);
    ASSERT_TRUE(WaitCycles(10, 3000));
    StopComm();
    EXPECT_EQ(sink.Count(Kind::Notice), 0u) << sink.Trace();
    std::ifstream in(attr);
    int ms = -1;
    in >> ms;
    EXPECT_EQ(ms, 1);

    const TValueSummary turn = comm->Turnaround();
    EXPECT_GE(turn.Count, 19u) << "one per reply that was followed by a request";
    EXPECT_LE(turn.Count, TRecentValues::kDefaultCapacity);
    EXPECT_GT(turn.Median, 0);
    EXPECT_LE(turn.Median, turn.P90);
    EXPECT_LT(turn.P90, 100000) << "a tenth of a second from reply to request";
}

TEST(RecentValues, MedianAndNinetiethPercentileOfKnownSets)
{
    EXPECT_EQ(Summarize({}).Count, 0u);
    EXPECT_EQ(Summarize({}).Median, 0);
    const TValueSummary one = Summarize({42});
    EXPECT_EQ(one.Median, 42);
    EXPECT_EQ(one.P90, 42);
    // Order does not matter; between ranks the value is interpolated.
    const TValueSummary ten = Summarize({7, 3, 10, 1, 9, 2, 8, 5, 4, 6});
    EXPECT_EQ(ten.Count, 10u);
    EXPECT_DOUBLE_EQ(ten.Median, 5.5);
    EXPECT_DOUBLE_EQ(ten.P90, 9.1);
    const TValueSummary odd = Summarize({100, 1, 50, 2, 3});
    EXPECT_DOUBLE_EQ(odd.Median, 3);
    EXPECT_DOUBLE_EQ(odd.P90, 80);
    EXPECT_DOUBLE_EQ(Percentile({1, 2, 3}, 0), 1);
    EXPECT_DOUBLE_EQ(Percentile({1, 2, 3}, 1), 3);
    EXPECT_DOUBLE_EQ(Percentile({1, 2, 3}, 7), 3) << "clamped";
}

TEST(RecentValues, KeepsOnlyTheMostRecentOldestFirst)
{
    TRecentValues r(4);
    EXPECT_TRUE(r.Values().empty());
    r.Add(1);
    r.Add(2);
    EXPECT_EQ(r.Values(), (std::vector<double>{1, 2}));
    for (int i = 3; i <= 10; ++i)
        r.Add(i);
    EXPECT_EQ(r.Values(), (std::vector<double>{7, 8, 9, 10}));
    r.Add(11);
    EXPECT_EQ(r.Values(), (std::vector<double>{8, 9, 10, 11}));
    TRecentValues tiny(0);  // still holds the latest value
    tiny.Add(5);
    tiny.Add(6);
    EXPECT_EQ(tiny.Values(), (std::vector<double>{6}));
}

TEST(WireLimit, CyclesPerSecondTheLineAllows)
{
    const std::vector<TArea> areas = {{0x00, 0, 16}, {0x10, 16, 16}, {0x20, 32, 16}};
    // Per area: request 5, reply 5 + 2 + 16 + 1 with the preamble.
    EXPECT_EQ(CycleWireBytes(areas, kPreambleOn), 87u);
    EXPECT_EQ(CycleWireBytes(areas, 0), 72u);
    EXPECT_DOUBLE_EQ(CycleWireLimit(9600, areas, kPreambleOn), 960.0 / 87);
    EXPECT_DOUBLE_EQ(CycleWireLimit(10400, areas, 0), 1040.0 / 72);
    EXPECT_DOUBLE_EQ(PercentOfWireLimit(960.0 / 87 / 2, 9600, areas, kPreambleOn), 50);
    EXPECT_DOUBLE_EQ(PercentOfWireLimit(1040.0 / 72, 10400, areas, 0), 100);
    EXPECT_EQ(CycleWireLimit(9600, {}, kPreambleOn), 0);
    EXPECT_EQ(PercentOfWireLimit(10, 9600, {}, kPreambleOn), 0);
    EXPECT_EQ(PercentOfWireLimit(10, 0, areas, kPreambleOn), 0);
}

TEST(AreaMerge, TheDemosThreeAreasReadAsOneAboutTwiceAsFast)
{
    const TSettings demo = LoadSettings(std::filesystem::path(KOVRA_SOURCE_DIR) / "demo");
    ASSERT_EQ(demo.Data.Areas.size(), 3u);
    const auto merges = MergeableAreas(demo.Data.Areas, demo.Options.Preamble ? kPreambleOn : 0);
    ASSERT_EQ(merges.size(), 1u);
    EXPECT_EQ(merges[0].Areas, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(merges[0].Address, 0x10);
    EXPECT_EQ(merges[0].Length, 11u);
    EXPECT_EQ(merges[0].BytesBefore, 50u);
    EXPECT_EQ(merges[0].BytesAfter, 24u);
    EXPECT_NEAR(merges[0].SpeedUp(), 2.0, 0.15);
}

TEST(AreaMerge, OnlyTouchingOrOverlappingAreasThatFitOneRequest)
{
    using Merges = std::vector<TAreaMerge>;
    // Gaps between them: nothing to merge.
    EXPECT_TRUE(MergeableAreas({{0x10, 0, 4}, {0x20, 4, 4}, {0x15, 8, 2}}, kPreambleOn).empty());
    EXPECT_TRUE(MergeableAreas({{0x10, 0, 4}}, kPreambleOn).empty());
    EXPECT_TRUE(MergeableAreas({}, kPreambleOn).empty());
    // Out of polling order and overlapping: 0x10..0x17 holds area 2 as well.
    const Merges overlap = MergeableAreas({{0x30, 0, 4}, {0x10, 4, 8}, {0x14, 12, 2}}, 0);
    ASSERT_EQ(overlap.size(), 1u);
    EXPECT_EQ(overlap[0].Areas, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(overlap[0].Length, 8u);
    EXPECT_EQ(overlap[0].BytesBefore, 12u + 16u + 10u);
    EXPECT_EQ(overlap[0].BytesAfter, 12u + 16u);
    // Two groups, each reported with its own gain.
    const Merges two = MergeableAreas({{0x00, 0, 2}, {0x02, 2, 2}, {0x80, 4, 1}, {0x81, 5, 1}}, kPreambleOn);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].Address, 0x00);
    EXPECT_EQ(two[1].Address, 0x80);
    // One request asks for at most 255 bytes.
    EXPECT_EQ(MergeableAreas({{0x00, 0, 200}, {0xC8, 200, 55}, {0x00, 0, 0}}, kPreambleOn).size(), 1u);
    const Merges capped = MergeableAreas({{0x00, 0, 200}, {0xC8, 200, 56}}, kPreambleOn);
    EXPECT_TRUE(capped.empty());
}

}  // namespace
}  // namespace kovra
