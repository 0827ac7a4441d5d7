// A log replayed through the window: against the live cycles it holds,
// seeking against playing, what a replay refuses, its keys and the way back
// to live, and the window's event loop while it plays as fast as it can.
// Offscreen, no ECU: the demo configuration, the live run fed as the worker
// would feed it.
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"
#include "app/ReplayBar.h"
#include "app/TLogU.h"
#include "run/log_player.h"
#include "run/player_source.h"
#include "support/loop_delay.h"
#include "support/replay_log.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace kovra;

constexpr std::size_t kDemoSampleLength = 11;

template <class Pred>
bool WaitFor(Pred done, int timeoutMs = 60000)
{
    QElapsedTimer since;
    since.start();
    while (!done()) {
        if (since.elapsed() > timeoutMs)
            return false;
        QTest::qWait(1);
    }
    return true;
}

// What a run has on screen after its last cycle.
struct TShot {
    std::vector<double> Values;
    std::vector<QImage> Charts;
    QImage Panel;  // only when the gauge tab is shown
    QImage Moment;
    double MomentPeak = 0, MomentPrevX = 0;
    bool MomentRestart = false;
};

void ExpectSame(const TShot& a, const TShot& b, const std::string& what)
{
    ASSERT_EQ(a.Values.size(), b.Values.size()) << what;
    for (std::size_t i = 0; i < a.Values.size(); ++i)
        EXPECT_EQ(a.Values[i], b.Values[i]) << what << ": formula " << i;
    ASSERT_EQ(a.Charts.size(), b.Charts.size()) << what;
    for (std::size_t k = 0; k < a.Charts.size(); ++k) {
        EXPECT_FALSE(a.Charts[k].isNull()) << what << ": strip chart " << k;
        EXPECT_TRUE(a.Charts[k] == b.Charts[k]) << what << ": strip chart " << k << ", " << a.Charts[k].width()
                                                << " and " << b.Charts[k].width() << " wide";
    }
    EXPECT_TRUE(a.Panel == b.Panel) << what << ": gauge frame";
    EXPECT_TRUE(a.Moment == b.Moment) << what << ": chart tab";
    EXPECT_EQ(a.MomentPeak, b.MomentPeak) << what;
    EXPECT_EQ(a.MomentPrevX, b.MomentPrevX) << what;
    EXPECT_EQ(a.MomentRestart, b.MomentRestart) << what;
}

struct ReplayTest : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path folder;
    std::vector<QString> boxes;

    void SetUp() override
    {
        folder = dir.path().toStdString();
        test::CopyDemo(KOVRA_SOURCE_DIR "/demo", folder);
        std::filesystem::create_directories(folder / "logs");
        ErrorBox::SetHook([this](const QString&, const QString& text) { boxes.push_back(text); });
    }
    void TearDown() override { ErrorBox::SetHook({}); }

    std::unique_ptr<TForm1> Make(int page = 0)
    {
        auto f = std::make_unique<TForm1>(folder, folder);
        f->ErrorHook = [this](const QString& text) { boxes.push_back(text); };
        f->AlarmHook = [] {};
        f->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
        // The strip charts laid out on their page once, so that their size
        // stays what it is when their page is hidden.
        f->PageControl1->setCurrentIndex(0);
        EXPECT_TRUE(WaitFor([&] { return f->Loggers[0]->width() == f->ScrollBox1->viewport()->width(); }));
        // Only the test's entries reach the live run: no port notices, no re-sends.
        f->Run().StopSource();
        f->PageControl1->setCurrentIndex(page);
        return f;
    }

    std::filesystem::path WriteLog(const std::string& name, std::uint64_t records, std::size_t trailing = 0)
    {
        std::vector<std::uint8_t> bytes = test::LogBytes(kDemoSampleLength, records, test::DemoSample);
        bytes.resize(bytes.size() + trailing, 0x5A);
        const std::filesystem::path p = folder / name;
        test::WriteFileBytes(p, bytes);
        return p;
    }

    static std::unique_ptr<TLogPlayer> Opened(const std::filesystem::path& log)
    {
        auto p = std::make_unique<TLogPlayer>();
        EXPECT_TRUE(p->Open(log, kDemoSampleLength)) << p->Error();
        return p;
    }

    // Records from .. to - 1 of the log as the worker would have queued them,
    // timed as the log's stamps give their times back; the first one starts
    // the accumulating formulas' time.
    static void FeedLive(TForm1& f, const TLogPlayer& log, std::uint64_t from, std::uint64_t to)
    {
        if (from == 0)
            f.Cycle()->LastCycleTime = log.TimeOfDay(0);
        for (std::uint64_t i = from; i < to; ++i) {
            TCycleSample e;
            e.Kind = TCycleSample::TKind::Cycle;
            e.TimeOfDay = log.TimeOfDay(i);
            const std::span<const std::uint8_t> s = log.Sample(i);
            e.Sample.assign(s.begin(), s.end());
            f.QueueEntry(std::move(e));
            if (f.PendingEntries() >= 1000) {
                ASSERT_TRUE(WaitFor([&] { return f.PendingEntries() == 0; }));
            }
        }
        ASSERT_TRUE(WaitFor([&] { return f.PendingEntries() == 0; }));
        EXPECT_EQ(f.DroppedFromDisplay(), 0u);
    }

    static bool ReplayedToEnd(TForm1& f)
    {
        return WaitFor([&] {
            return !f.Player()->IsPlaying() && f.ReplayRun()->PendingEntries() == 0 &&
                   f.ReplayShown() + 1 == f.Player()->Player().Records();
        });
    }

    // Paused and nothing left to handle: what is shown will not change.
    static bool Settled(TForm1& f)
    {
        return WaitFor([&] { return !f.Player()->IsPlaying() && f.ReplayRun()->PendingEntries() == 0; });
    }

    // charts: also the strip charts. On another page than theirs their
    // controls keep whatever size the hidden layout gave them last, which
    // the strip in a replay changes.
    static TShot Shoot(TForm1& f, TRun& run, bool charts = true)
    {
        TShot s;
        s.Values = run.State().Values;
        for (const TLog* log : f.Loggers)
            if (charts)
                s.Charts.push_back(log->ShownChart().Render());
        if (f.PageControl1->currentIndex() == 1) {
            f.Image1->grab();  // a paint composes the frame
            s.Panel = f.Image1->shownPicture().copy();
        }
        if (f.PageControl1->currentIndex() == 2)
            s.Moment = f.Image3->shownPicture().copy();
        s.MomentPeak = run.State().Moment.MomentPeak;
        s.MomentPrevX = run.State().Moment.MomentPrevX;
        s.MomentRestart = run.State().Moment.MomentRestart;
        return s;
    }

    static int WidestChart(TForm1& f)
    {
        int w = 0;
        for (const TLog* log : f.Loggers)
            w = std::max(w, log->controlWidth());
        return w;
    }

    static TReplayStart Fastest(bool paused = false)
    {
        TReplayStart s;
        s.Speed = 0;
        s.Paused = paused;
        return s;
    }
};

// --- the same samples, live and replayed ------------------------------------

TEST_F(ReplayTest, ReplayShowsWhatTheLiveCyclesShowedOnEveryTab)
{
    const auto log = WriteLog("same.xlg", 1000);
    const auto p = Opened(log);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        auto f = Make(page);
        ASSERT_GT(1000, WidestChart(*f)) << "the strip charts must scroll";
        FeedLive(*f, *p, 0, p->Records());
        const TShot live = Shoot(*f, f->Run());

        // Another window replays the log.
        auto r = Make(page);
        ASSERT_TRUE(r->OpenLog(log, Fastest(true)));
        if (page == 2) {
            ASSERT_TRUE(WaitFor([&] { return r->Image3->size() == f->Image3->size(); }));
        }
        r->ReplaySeek(0);
        r->ReplayPlayPause();
        ASSERT_TRUE(ReplayedToEnd(*r));
        ExpectSame(live, Shoot(*r, *r->ReplayRun()), "replay against live");
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(ReplayTest, AccumulatingFormulasStartFromZeroAtTheFirstRecord)
{
    const auto log = WriteLog("sums.xlg", 600);
    auto f = Make();
    FeedLive(*f, *Opened(log), 0, 600);
    // A replay of it after the live run summed it once: the replay's sums are
    // the log's alone, and equal those of the live run that started at 0.
    ASSERT_TRUE(f->OpenLog(log, Fastest()));
    ASSERT_TRUE(ReplayedToEnd(*f));
    const std::size_t fuel = 13, distance = 14;
    EXPECT_GT(f->State().Values[distance], 0);
    EXPECT_GT(f->State().Values[fuel], 0);
    EXPECT_EQ(f->ReplayRun()->State().Values[distance], f->State().Values[distance]);
    EXPECT_EQ(f->ReplayRun()->State().Values[fuel], f->State().Values[fuel]);
    // Played again from its end: from zero again, not on top of the first pass.
    f->ReplayPlayPause();
    ASSERT_TRUE(ReplayedToEnd(*f));
    EXPECT_EQ(f->ReplayRun()->State().Values[distance], f->State().Values[distance]);
}

// --- seeking against playing -------------------------------------------------

TEST_F(ReplayTest, SeekShowsWhatPlayingFromTheFirstRecordShows)
{
    const std::uint64_t records = 20000;
    const auto log = WriteLog("long.xlg", records);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        auto f = Make(page);
        ASSERT_TRUE(f->OpenLog(log, Fastest(true)));
        // The pages give the strip its height; the layout settles before the play.
        QTest::qWait(100);
        f->ReplaySeek(0);
        EXPECT_EQ(f->ReplayShown(), 0u);
        // Fast play most of the way, then one record at a time.
        f->ReplayPlayPause();
        ASSERT_TRUE(WaitFor([&] { return f->ReplayShown() >= 1000; }));
        f->ReplayPlayPause();
        ASSERT_TRUE(Settled(*f));
        const std::uint64_t target = f->ReplayShown() + 300;
        ASSERT_LT(target, records);
        ASSERT_GT(target, std::uint64_t(WidestChart(*f)) + 200) << "seek must skip drawing some cycles";
        while (f->ReplayShown() < target)
            f->ReplayStep(1);
        QTest::qWait(20);
        ASSERT_EQ(f->ReplayShown(), target);
        const TShot played = Shoot(*f, *f->ReplayRun(), page == 0);

        f->ReplaySeek(target);
        EXPECT_EQ(f->ReplayShown(), target);
        ExpectSame(played, Shoot(*f, *f->ReplayRun(), page == 0), "seek against play");

        // And back: a step back is a seek to the record before.
        f->ReplayStep(-1);
        const TShot back = Shoot(*f, *f->ReplayRun(), page == 0);
        f->ReplayStep(1);
        ExpectSame(played, Shoot(*f, *f->ReplayRun(), page == 0), "step back and on");
        f->ReplaySeek(target - 1);
        ExpectSame(back, Shoot(*f, *f->ReplayRun(), page == 0), "step back against seek");
    }
}

TEST_F(ReplayTest, PauseDuringFastPlayStopsAtTheRecordShownAndStepsGoOnFromIt)
{
    const auto log = WriteLog("pause.xlg", 6000);
    auto f = Make(2);
    ASSERT_TRUE(f->OpenLog(log, Fastest(true)));
    f->ReplayPlayPause();
    ASSERT_TRUE(WaitFor([&] { return f->ReplayShown() >= 1500; }));
    ASSERT_LT(f->ReplayShown() + 1, 6000u) << "played to the end before the pause";
    // Paused in the middle of a batch: nothing after the record shown is
    // handled any more, and the next step is the record after it, once.
    f->ReplayPlayPause();
    const std::uint64_t paused = f->ReplayShown();
    f->ReplayStep(1);
    ASSERT_TRUE(Settled(*f));
    QTest::qWait(50);
    ASSERT_EQ(f->ReplayShown(), paused + 1);
    const TShot stepped = Shoot(*f, *f->ReplayRun());
    f->ReplaySeek(paused + 1);
    ExpectSame(stepped, Shoot(*f, *f->ReplayRun()), "step after a pause against seek");

    // Playing on from there goes through every record once.
    f->ReplayPlayPause();
    ASSERT_TRUE(ReplayedToEnd(*f));
    const TShot played = Shoot(*f, *f->ReplayRun());
    f->ReplaySeek(5999);
    ExpectSame(played, Shoot(*f, *f->ReplayRun()), "played on after a pause against seek");
}

// --- what a replay refuses ---------------------------------------------------

TEST_F(ReplayTest, RefusesALogOfAnotherSampleLengthNamingTheFileAndBothLengths)
{
    auto f = Make();
    const auto other = folder / "other.xlg";
    test::WriteFileBytes(other, test::LogBytes(12, 10, test::DemoSample));
    EXPECT_FALSE(f->OpenLog(other));
    EXPECT_FALSE(f->IsReplaying());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("other.xlg"))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("12"))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("11"))) << boxes[0].toStdString();

    // While another log is replayed, that one goes on.
    const auto good = WriteLog("good.xlg", 100);
    ASSERT_TRUE(f->OpenLog(good, Fastest(true)));
    f->ReplaySeek(40);
    EXPECT_FALSE(f->OpenLog(other));
    EXPECT_EQ(boxes.size(), 2u);
    ASSERT_TRUE(f->IsReplaying());
    EXPECT_EQ(f->ReplayShown(), 40u);
    EXPECT_TRUE(f->ReplayBar->isVisible());
}

TEST_F(ReplayTest, RefusesToOpenWhileRecordingAndTheRecordingGoesOn)
{
    const auto log = WriteLog("while.xlg", 100);
    auto f = Make();
    f->Recording();
    ASSERT_TRUE(f->IsRecording());
    EXPECT_FALSE(f->OpenLog(log));
    EXPECT_FALSE(f->IsReplaying());
    EXPECT_TRUE(f->IsRecording());
    EXPECT_FALSE(f->ReplayBar->isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("while.xlg")));
    f->Recording();
    EXPECT_FALSE(f->IsRecording()) << boxes.back().toStdString();
}

TEST_F(ReplayTest, StartTimeOpensAtItsRecordAndABadOneOpensNothing)
{
    // 10:00:00.000 to 10:00:04.950, a record each 50 ms.
    const auto log = WriteLog("at.xlg", 100);
    auto f = Make();
    for (const char* bad : {"10:00", "25:00:00", "10:61:00", "ten", "", "10:00:00.1234", "11:00:00"}) {
        SCOPED_TRACE(bad);
        boxes.clear();
        TReplayStart s;
        s.At = bad;
        EXPECT_FALSE(f->OpenLog(log, s));
        EXPECT_FALSE(f->IsReplaying());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].contains(QStringLiteral("at.xlg")));
    }
    TReplayStart s;
    s.Paused = true;
    s.At = "10:00:02.5";
    ASSERT_TRUE(f->OpenLog(log, s));
    EXPECT_EQ(f->ReplayShown(), 50u);
    s.At = "end";
    ASSERT_TRUE(f->OpenLog(log, s));
    EXPECT_EQ(f->ReplayShown(), 99u);
}

TEST_F(ReplayTest, CutShortLogReplaysUpToItsLastWholeRecordAndSaysSo)
{
    const auto log = WriteLog("cut.xlg", 300, 7);
    auto f = Make();
    ASSERT_TRUE(f->OpenLog(log, Fastest()));
    EXPECT_EQ(f->Player()->Player().Records(), 300u);
    ASSERT_TRUE(ReplayedToEnd(*f));
    EXPECT_EQ(f->ReplayShown(), 299u);
    EXPECT_TRUE(f->ReplayBar->Note->text().contains(QStringLiteral("обрезана"))) << f->ReplayBar->Note->text().toStdString();
    EXPECT_TRUE(f->ReplayBar->Note->text().contains(QStringLiteral("7"))) << f->ReplayBar->Note->text().toStdString();
    EXPECT_TRUE(boxes.empty());
}

// --- keys, and back to live ----------------------------------------------------

TEST_F(ReplayTest, KeysPlayPauseAndStepAndRecordingStaysOff)
{
    const auto log = WriteLog("keys.xlg", 400);
    auto f = Make();
    TReplayStart s;
    s.Paused = true;
    s.Speed = 1;
    s.At = "10:00:05";
    ASSERT_TRUE(f->OpenLog(log, s));
    ASSERT_EQ(f->ReplayShown(), 100u);
    QTest::keyClick(f.get(), Qt::Key_Right);
    EXPECT_EQ(f->ReplayShown(), 101u);
    QTest::keyClick(f.get(), Qt::Key_Right);
    QTest::keyClick(f.get(), Qt::Key_Left);
    EXPECT_EQ(f->ReplayShown(), 101u);
    // The recording button has the focus, as it does after a click.
    QTest::keyClick(f->Button2, Qt::Key_Left);
    EXPECT_EQ(f->ReplayShown(), 100u);

    QTest::keyClick(f.get(), Qt::Key_Space);
    EXPECT_TRUE(f->Player()->IsPlaying());
    ASSERT_TRUE(WaitFor([&] { return f->ReplayShown() > 100; }, 5000));
    QTest::keyClick(f.get(), Qt::Key_Space);
    EXPECT_FALSE(f->Player()->IsPlaying());

    QTest::keyClick(f.get(), 'r');
    QTest::keyClick(f->Button2, 'r');
    f->FormDblClick();
    EXPECT_FALSE(f->IsRecording());
    EXPECT_FALSE(f->Button2->isEnabled());
    EXPECT_TRUE(f->IsReplaying());
    EXPECT_TRUE(boxes.empty());

    f->BackToLive();
    EXPECT_TRUE(f->Button2->isEnabled());
    QTest::keyClick(f.get(), 'r');
    EXPECT_TRUE(f->IsRecording());
    f->Recording();
}

TEST_F(ReplayTest, BackToLiveShowsTheLivePicturesWithTheCyclesThatCameDuringTheReplay)
{
    const auto log = WriteLog("back.xlg", 1200);
    const auto p = Opened(log);
    // The chart tab is left out: see the disabled case below.
    for (int page = 0; page < 2; ++page) {
        SCOPED_TRACE(page);
        auto uninterrupted = Make(page);
        FeedLive(*uninterrupted, *p, 0, 1200);
        const TShot expected = Shoot(*uninterrupted, uninterrupted->Run());
        uninterrupted.reset();

        auto f = Make(page);
        FeedLive(*f, *p, 0, 500);
        // Another log than the live cycles', so that its pictures differ.
        const auto other = WriteLog("other.xlg", 300);
        ASSERT_TRUE(f->OpenLog(other, Fastest()));
        FeedLive(*f, *p, 500, 1200);
        ASSERT_TRUE(ReplayedToEnd(*f));
        f->BackToLive();
        EXPECT_FALSE(f->IsReplaying());
        EXPECT_FALSE(f->ReplayBar->isVisible());
        ExpectSame(expected, Shoot(*f, f->Run()), "live after a replay against live alone");
    }
}

// Known fault, left to the window's layout: the replay's strip takes its
// height from the pages, so opening a log and going back resizes the chart
// tab's plot twice, and each resize starts it afresh: the live runs drawn
// before and during the replay are gone. Enable once the plot survives it.
TEST_F(ReplayTest, BackToLiveKeepsTheChartTabsLiveRuns)
{
    const auto log = WriteLog("back.xlg", 1200);
    const auto p = Opened(log);
    auto uninterrupted = Make(2);
    FeedLive(*uninterrupted, *p, 0, 1200);
    const TShot expected = Shoot(*uninterrupted, uninterrupted->Run());
    uninterrupted.reset();

    auto f = Make(2);
    FeedLive(*f, *p, 0, 500);
    ASSERT_TRUE(f->OpenLog(WriteLog("other.xlg", 300), Fastest()));
    QTest::qWait(50);
    FeedLive(*f, *p, 500, 1200);
    f->BackToLive();
    QTest::qWait(50);
    ExpectSame(expected, Shoot(*f, f->Run()), "chart tab after a replay against live alone");
}

// --- the event loop while playing as fast as possible ------------------------

TEST_F(ReplayTest, TimersStillComeThroughWhilePlayingAsFastAsPossible)
{
    const std::uint64_t records = 40000;
    const auto log = WriteLog("flood.xlg", records);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        auto f = Make(page);
        ASSERT_TRUE(f->OpenLog(log, Fastest()));
        ASSERT_TRUE(WaitFor([&] { return f->ReplayShown() >= 500; }));
        test::TLoopDelay since;
        double firedAfter = -1;
        std::uint64_t shownThen = 0;
        QTimer::singleShot(0, f.get(), [&] {
            firedAfter = since.ElapsedMs();
            shownThen = f->ReplayShown();
        });
        since.Start();
        ASSERT_TRUE(WaitFor([&] { return firedAfter >= 0; }));
        EXPECT_LE(firedAfter, 2 * TForm1::kLogPrintBudgetMs);
        EXPECT_LT(shownThen + 1, records) << "the replay ended before the timer was due";
        f->BackToLive();
    }
}

}  // namespace
