#include "run/run.h"

#include "config/sums.h"
#include "record/recorder.h"
#include "support/loop_delay.h"
#include "support/record_test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <thread>
#include <mutex>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>

namespace kovra {
namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "test_run";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Two bytes a cycle: i as a 16-bit number. f0 reads it, f1 counts cycles,
// f2 sums f0; one strip chart shows f0; a gauge alarms above 30000.
const char* const kSettings = R"([настройки]
кол-во_областей=1
кол-во_формул=3
кол-во_логов=1
кол-во_приборов=1
[области]
размер_0=2
[формула_0]
формула=a+256*b
кол-во_перем=2
переменная_0=a
отступ_пер_0=0
переменная_1=b
отступ_пер_1=1
[формула_1]
формула=1
кол-во_перем=0
суммировать=1
[формула_2]
формула=x
кол-во_перем=1
переменная_0=x
вид_0=1
номер_формулы_0=0
суммировать=1
[логер_0]
формула=0
[Прибор_0]
Формула=0
Тревога=1
ТревогаУровень=30000
Максимум=100
ГрадацияШк=10
)";

TCycleSample Cycle(std::uint32_t i)
{
    TCycleSample e;
    e.Kind = TCycleSample::TKind::Cycle;
    e.Sample = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)};
    e.TimeOfDay = 0.5 + i / 86'400'000.0;
    return e;
}

// Hands out the next batch each time the run has taken the last: a source
// that is never what holds the run back.
class TFastSource : public TSampleSource {
public:
    explicit TFastSource(std::uint32_t total) : total_(total) {}
    void SetConsumer(QObject* consumer) override { consumer_ = consumer; }
    void Start() override { Refill(); }
    void Stop() override {}
    bool Take(TCycleSample& out) override
    {
        if (queue_.empty())
            return false;
        out = std::move(queue_.front());
        queue_.pop_front();
        if (queue_.empty())
            QTimer::singleShot(0, [this] { Refill(); });
        return true;
    }
    bool Done() const { return next_ == total_ && queue_.empty(); }

private:
    void Refill()
    {
        if (!queue_.empty() || next_ == total_)
            return;
        for (int k = 0; k < 1000 && next_ < total_; ++k)
            queue_.push_back(Cycle(next_++));
        QCoreApplication::postEvent(consumer_, new QEvent(WM_CYCLE_DONE));
    }
    std::uint32_t total_;
    std::uint32_t next_ = 0;
    std::deque<TCycleSample> queue_;
    QObject* consumer_ = nullptr;
};

struct TCountingDisplays : TCycleDisplays {
    std::vector<double> Chart;
    int Prib = 0, Moment = 0, Alarms = 0;
    // What a chart step costs, for cycles dearer than the fakes.
    std::chrono::microseconds StepCost{0};
    void AddToChart(std::size_t, double v) override
    {
        Chart.push_back(v);
        QElapsedTimer spin;
        spin.start();
        while (StepCost.count() > 0 && spin.nsecsElapsed() < StepCost.count() * 1000) {
        }
    }
    void DrawPrib() override { ++Prib; }
    void DrawMoment() override { ++Moment; }
    void PlayAlarm() override { ++Alarms; }
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ASSERT_TRUE(std::filesystem::create_directory(Folder() / "logs"));
        run = std::make_unique<TRun>(LoadSettingsFromBytes(Utf8ToCp1251(kSettings)));
        run->SetDisplays(&displays);
        run->SetShownPage(TShownPage::Gauges);
        run->SetBudget(std::chrono::milliseconds(8));
        recorder = &run->AttachRecorder(Folder());
        recorder->Start();
    }
    std::filesystem::path Folder() const { return std::filesystem::path(dir.path().toStdString()); }
    static void TurnUntil(const std::function<bool()>& done)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // The recording's records in order, as the 16-bit numbers they carry.
    std::vector<std::uint32_t> Recorded() const
    {
        const std::vector<std::uint8_t> log = recorder->LogBuffer();
        std::vector<std::uint32_t> out;
        for (std::size_t at = 1; at + 6 <= log.size(); at += 6)
            out.push_back(log[at + 4] | (log[at + 5] << 8));
        return out;
    }
    static double SumOfNumbers(std::uint64_t from, std::uint64_t to)
    {
        double s = 0;
        for (std::uint64_t i = from; i < to; ++i)
            s += double(i & 0xFFFF);
        return s;
    }

    QTemporaryDir dir;
    TCountingDisplays displays;
    std::unique_ptr<TRun> run;
    TRecorder* recorder = nullptr;
};

TEST_F(RunTest, EveryCycleOfASourceAsFastAsItCanIsProcessedInOrderAndRecorded)
{
    constexpr std::uint32_t kTotal = 100'000;
    auto source = std::make_unique<TFastSource>(kTotal);
    TFastSource* fast = source.get();
    run->SetSource(std::move(source));
    run->StartSource();
    TurnUntil([&] { return fast->Done() && run->PendingEntries() == 0; });

    EXPECT_EQ(run->Processed(), kTotal);
    EXPECT_EQ(run->DroppedFromDisplay(), 0u);
    const TRunState& d = run->State();
    EXPECT_EQ(d.Values[1], kTotal);
    EXPECT_EQ(d.Values[2], SumOfNumbers(0, kTotal));
    EXPECT_EQ(d.Values[0], (kTotal - 1) & 0xFFFF);
    ASSERT_EQ(displays.Chart.size(), kTotal);
    for (std::uint32_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(displays.Chart[i], i & 0xFFFF) << i;
    EXPECT_EQ(displays.Prib, static_cast<int>(kTotal));
    const std::vector<std::uint32_t> recorded = Recorded();
    ASSERT_EQ(recorded.size(), kTotal);
    for (std::uint32_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(recorded[i], i & 0xFFFF) << i;
}

TEST_F(RunTest, FallingBehindSkipsDrawingThenFormulasButNeverARecord)
{
    // Far behind: the oldest are worked out without being drawn.
    const std::uint32_t extra = 1500;
    const std::uint32_t total = static_cast<std::uint32_t>(kMaxQueuedSamples) + extra;
    for (std::uint32_t i = 0; i < total; ++i)
        run->QueueEntry(Cycle(i));
    TurnUntil([&] { return run->PendingEntries() == 0; });
    EXPECT_EQ(run->Undrawn(), extra);
    EXPECT_EQ(displays.Prib, static_cast<int>(total - extra));
    EXPECT_EQ(run->RecordedOnly(), 0u);
    EXPECT_EQ(run->State().Values[1], total);
    EXPECT_EQ(run->State().Values[2], SumOfNumbers(0, total));
    // The strip charts still get a step for every one of them.
    ASSERT_EQ(displays.Chart.size(), total);
    for (std::uint32_t i = 0; i < total; ++i)
        ASSERT_EQ(displays.Chart[i], i & 0xFFFF) << i;

    // Hopelessly behind: the oldest are only recorded.
    const std::uint32_t more = static_cast<std::uint32_t>(TRun::kRecordOnlyBacklog) + 700;
    for (std::uint32_t i = total; i < total + more; ++i)
        run->QueueEntry(Cycle(i));
    TurnUntil([&] { return run->PendingEntries() == 0; });
    EXPECT_EQ(run->RecordedOnly(), 700u);
    EXPECT_EQ(run->State().Values[1], total + more - 700);
    EXPECT_EQ(run->DroppedFromDisplay(), extra + 700 + (more - 700 - kMaxQueuedSamples));
    const std::vector<std::uint32_t> recorded = Recorded();
    ASSERT_EQ(recorded.size(), total + more);
    for (std::uint32_t i = 0; i < total + more; ++i)
        ASSERT_EQ(recorded[i], i & 0xFFFF) << i;
}

TEST_F(RunTest, TheChartTabsRunIsWorkedOutForEveryCycleHoweverFarBehind)
{
    run->SetShownPage(TShownPage::Moment);
    const std::uint32_t total = static_cast<std::uint32_t>(kMaxQueuedSamples) + 900;
    for (std::uint32_t i = 0; i < total; ++i)
        run->QueueEntry(Cycle(i));
    TurnUntil([&] { return run->PendingEntries() == 0; });
    EXPECT_EQ(displays.Moment, static_cast<int>(total));
    EXPECT_EQ(displays.Prib, 0);
    EXPECT_EQ(run->DroppedFromDisplay(), 0u);
}

// A source on a thread of its own that completes cycles faster than the run
// handles them and posts as the serial worker does: when its queue was empty.
class TThreadSource : public TSampleSource {
public:
    ~TThreadSource() override { Stop(); }
    void SetConsumer(QObject* consumer) override { consumer_ = consumer; }
    void Start() override
    {
        thread_ = std::thread([this] {
            for (std::uint32_t i = 0; !stop_; ++i) {
                bool wasEmpty;
                {
                    std::lock_guard lock(mutex_);
                    wasEmpty = queue_.empty();
                    queue_.push_back(Cycle(i));
                    ++made_;
                }
                if (wasEmpty)
                    QCoreApplication::postEvent(consumer_, new QEvent(WM_CYCLE_DONE));
                if (i % 64 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    void Stop() override
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    bool Take(TCycleSample& out) override
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty())
            return false;
        out = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }
    std::uint64_t Made()
    {
        std::lock_guard lock(mutex_);
        return made_;
    }

private:
    QObject* consumer_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<TCycleSample> queue_;
    std::uint64_t made_ = 0;
};

// The window runs an event loop (exec), where timers may wait for as long as
// posted events keep coming: a run that went on from a posted event after
// every budget, with a source posting beside it, would hold a timer off.
TEST_F(RunTest, ARepeatingTimerKeepsItsBeatInARunningEventLoopWhileASourceFloodsTheRun)
{
    auto owned = std::make_unique<TThreadSource>();
    TThreadSource* source = owned.get();
    run->SetSource(std::move(owned));
    run->SetBudget(std::chrono::milliseconds(2));
    displays.StepCost = std::chrono::microseconds(20);
    QEventLoop loop;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    test::TLoopDelay since;
    double worst = 0;
    int beats = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        worst = std::max(worst, since.ElapsedMs() - 5);
        since.Start();
        if (++beats == 40)
            loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    run->StartSource();
    since.Start();
    beat.start(5);
    loop.exec();
    run->StopSource();
    EXPECT_EQ(beats, 40);
    EXPECT_GT(run->PendingEntries(), 0u) << "the run kept up with the source: nothing to test";
    EXPECT_LE(worst, 2 * 2 + 5);
    TurnUntil([&] { return run->PendingEntries() == 0; });
    EXPECT_EQ(run->Processed() + run->RecordedOnly(), source->Made());
    EXPECT_EQ(Recorded().size(), source->Made());
}

TEST_F(RunTest, ATimerFiresWithinTwoBudgetsWhileEntriesPileUp)
{
    // Entries that take many budgets to handle.
    for (std::uint32_t i = 0; i < 4000; ++i)
        run->QueueEntry(Cycle(i));
    test::TLoopDelay since;
    double firedAfter = -1;
    std::size_t pendingThen = 0;
    QTimer::singleShot(0, [&] {
        firedAfter = since.ElapsedMs();
        pendingThen = run->PendingEntries();
    });
    since.Start();
    run->SetBudget(std::chrono::milliseconds(1));
    TurnUntil([&] { return run->PendingEntries() == 0 && firedAfter >= 0; });
    ASSERT_GE(firedAfter, 0);
    EXPECT_LE(firedAfter, 2 * 8);
    EXPECT_GT(pendingThen, 0u) << "the entries were handled before the timer: too few to test";
}

TEST_F(RunTest, ARestartedRunGivesWhatAFreshRunGives)
{
    auto feed = [&] {
        for (std::uint32_t i = 29990; i < 30010; ++i)
            run->ProcessCycle(Cycle(i).Sample, Cycle(i).TimeOfDay);
    };
    feed();
    const std::vector<double> values = {run->State().Values[0], run->State().Values[1],
                                        run->State().Values[2]};
    EXPECT_TRUE(run->State().Alarm(0));
    run->State().Moment.MomentPeak = 5;
    run->State().Moment.MomentPrevX = 7;

    run->Restart(0.25);
    EXPECT_EQ(run->Cycle().LastCycleTime, 0.25);
    EXPECT_EQ(run->Processed(), 0u);
    EXPECT_FALSE(run->State().Alarm(0));
    EXPECT_EQ(run->State().Moment.MomentPeak, 0);
    EXPECT_EQ(run->State().Moment.MomentPrevX, 0);
    for (const double v : run->State().Values)
        EXPECT_EQ(v, 0);
    feed();
    EXPECT_EQ(run->State().Values[0], values[0]);
    EXPECT_EQ(run->State().Values[1], values[1]);
    EXPECT_EQ(run->State().Values[2], values[2]);
}

// The chart tab as the window runs it: each cycle carries the tab's run on
// in the run's state from the values of that cycle.
struct TChartTabDisplays : TCountingDisplays {
    TRun* Run = nullptr;
    void DrawMoment() override
    {
        TMomentState& m = Run->State().Moment;
        const double x = Run->State().ValueOf(0);
        m.MomentRestart = x <= 30000;
        if (x > m.MomentPrevX && x > m.MomentPeak)
            m.MomentPeak = x;
        m.MomentPrevX = x;
    }
};

TEST_F(RunTest, ARunStartedAgainIsInTheStateOfAFreshRunAndItsSettingsAreAsRead)
{
    const TSettings loaded = LoadSettingsFromBytes(Utf8ToCp1251(kSettings));
    const TRunState fresh(loaded.Data);
    ASSERT_EQ(fresh.Values.size(), 3u);
    ASSERT_EQ(fresh.AlarmActive.size(), 1u);
    EXPECT_EQ(run->State(), fresh);

    TChartTabDisplays chartTab;
    chartTab.Run = run.get();
    run->SetDisplays(&chartTab);
    run->SetShownPage(TShownPage::Moment);
    auto feed = [](TRun& r) {
        for (std::uint32_t i = 29990; i < 30010; ++i)
            r.ProcessCycle(Cycle(i).Sample, Cycle(i).TimeOfDay);
    };
    // Sums carried over from log.sv, then cycles that raise the alarm and
    // run the chart tab.
    const std::string sums = Utf8ToCp1251("[Сохр_Формулы]\n") + loaded.Data.Procs[1].Name + "=1000\n" +
                             loaded.Data.Procs[2].Name + "=5\n";
    ASSERT_EQ(RestoreSumsFromBytes(sums, run->Data(), run->State()), std::nullopt);
    EXPECT_EQ(run->State().Values[1], 1000);
    feed(*run);
    EXPECT_EQ(run->State().Values[1], 1020);
    EXPECT_TRUE(run->State().Alarm(0));
    EXPECT_EQ(run->State().Moment.MomentPeak, 30009);

    run->Restart(0.25);
    EXPECT_EQ(run->State(), fresh);
    // Nothing of the cycles stayed behind in the settings.
    EXPECT_TRUE(run->Data() == loaded.Data);

    // From there on it goes as a run that never ran before.
    TRun other(loaded);
    TChartTabDisplays otherTab;
    otherTab.Run = &other;
    other.SetDisplays(&otherTab);
    other.SetShownPage(TShownPage::Moment);
    other.Restart(0.25);
    feed(*run);
    feed(other);
    EXPECT_EQ(run->State(), other.State());
    EXPECT_EQ(run->State().Values[1], 20);
    EXPECT_TRUE(run->Data() == loaded.Data);
}

}  // namespace
}  // namespace kovra
