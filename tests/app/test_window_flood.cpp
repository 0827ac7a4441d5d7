// The window under a flood of cycles: its event loop keeps turning, every
// cycle reaches the recorder, and what is drawn reaches the screen at most once
// per refresh. Offscreen, no ECU: entries are queued as the worker would.
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"
#include "app/ScreenPacer.h"
#include "config/cp1251.h"
#include "display/gauge_back.h"
#include "display/gauge_live.h"
#include "record/recorder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/loop_delay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

namespace {

using kovra::TCycleSample;
using kovra::TForm1;

struct FloodTest : ::testing::Test {
    QTemporaryDir program, working;
    std::vector<QString> shown;

    void SetUp() override
    {
        kovra::ErrorBox::SetHook([this](const QString&, const QString& text) { shown.push_back(text); });
    }
    void TearDown() override { kovra::ErrorBox::SetHook({}); }

    // Two areas of 2 bytes; `formulas` formulas over them, `charts` strip
    // charts and `gauges` gauges of every kind.
    void WriteSettings(int formulas, int charts, int gauges)
    {
        std::string s = "[настройки]\nпорт=" + program.filePath("no-such-port").toStdString() +
                        "\nкол-во_областей=2\nкол-во_формул=" + std::to_string(formulas) +
                        "\nкол-во_логов=" + std::to_string(charts) +
                        "\nкол-во_приборов=" + std::to_string(gauges) +
                        "\n[области]\nсмещение_0=0\nразмер_0=2\nсмещение_1=16\nразмер_1=2\n";
        for (int n = 0; n < formulas; ++n)
            s += "[формула_" + std::to_string(n) + "]\nкол-во_перем=2\nпеременная_0=a\nобласть_пер_0=0\n"
                 "отступ_пер_0=0\nпеременная_1=b\nобласть_пер_1=1\nотступ_пер_1=1\n"
                 "формула=(a*256+b)/4+sin(a)*2\n";
        for (int k = 0; k < charts; ++k)
            s += "[логер_" + std::to_string(k) + "]\nвысота=60\nформула=" + std::to_string(k % formulas) +
                 "\nмакс_знач=20000\n";
        for (int g = 0; g < gauges; ++g)
            s += "[Прибор_" + std::to_string(g) + "]\nВид=" + std::to_string(g % 4) + "\nНазвание=G" +
                 std::to_string(g) + "\nФормула=" + std::to_string(g % formulas) + "\nХ=" +
                 std::to_string(2 + (g % 8) * 55) + "\nУ=" + std::to_string(2 + (g / 8) * 31) +
                 "\nРазмер=20\nМаксимум=20000\nГрадацияШк=8\nКол-воЦиврШк=5\nТревога=1\nТревогаУровень=15000\n";
        std::ofstream(program.filePath("set.ini").toStdString(), std::ios::binary) << kovra::Utf8ToCp1251(s);
    }
    std::unique_ptr<TForm1> Make()
    {
        auto f = std::make_unique<TForm1>(program.path().toStdString(), working.path().toStdString());
        f->resize(1200, 700);
        f->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
        return f;
    }
    static TCycleSample Cycle(int i, std::size_t length)
    {
        TCycleSample e;
        e.Kind = TCycleSample::TKind::Cycle;
        e.Sample.assign(length, 0);
        e.Sample[0] = static_cast<std::uint8_t>(i >> 8);
        e.Sample[1] = static_cast<std::uint8_t>(i);
        e.Sample[3] = static_cast<std::uint8_t>(i * 7);
        e.TimeOfDay = 0.5 + i / 86400000.0;  // one cycle a millisecond from noon
        return e;
    }
};

TEST_F(FloodTest, TimersAndInputStillComeThroughWhileCyclesPileUp)
{
    WriteSettings(64, 8, 16);
    auto f = Make();
    const std::size_t n = f->SampleBuffer().size();
    // Enough cycles for at least 25 budgets, by what one costs here.
    QElapsedTimer probe;
    probe.start();
    for (int i = 0; i < 100; ++i)
        f->ProcessCycle(Cycle(i, n).Sample);
    const double perCycleMs = std::max(probe.nsecsElapsed() / 1e6 / 100, 1e-3);
    const int count = std::min(400000, static_cast<int>(25 * TForm1::kLogPrintBudgetMs / perCycleMs) + 1);
    ASSERT_LT(count, 400000) << "cycles too cheap to flood the window";
    // Fewer than the window keeps queued, so every one of them is processed in full.
    const int queued = std::min<int>(count, kovra::kMaxQueuedSamples);
    const std::uint64_t before = f->ProcessedCycles();
    for (int i = 0; i < queued; ++i)
        f->QueueEntry(Cycle(i, n));

    kovra::test::TLoopDelay since;
    double firedAfter = -1;
    std::size_t pendingThen = 0;
    QTimer::singleShot(0, f.get(), [&] {
        firedAfter = since.ElapsedMs();
        pendingThen = f->PendingEntries();
    });
    since.Start();
    QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 60000);
    ASSERT_GE(firedAfter, 0);
    EXPECT_LE(firedAfter, 2 * TForm1::kLogPrintBudgetMs);
    if (queued == count) {  // the flood outlasted the timer's wait
        EXPECT_GT(pendingThen, 0u);
    }
    EXPECT_EQ(f->ProcessedCycles() - before, static_cast<std::uint64_t>(queued));
    EXPECT_EQ(f->DroppedFromDisplay(), 0u);
}

TEST_F(FloodTest, EveryCycleIsRecordedInOrderWhenTheWindowFallsFarBehind)
{
    WriteSettings(4, 2, 4);
    auto f = Make();
    f->Recording();
    ASSERT_TRUE(f->IsRecording());
    const std::size_t n = f->SampleBuffer().size();
    const int extra = 1500;
    const int total = static_cast<int>(kovra::kMaxQueuedSamples) + extra;
    for (int i = 0; i < total; ++i)
        f->QueueEntry(Cycle(i, n));
    QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 60000);

    // The oldest were recorded without being drawn; the rest in full.
    EXPECT_EQ(f->DroppedFromDisplay(), static_cast<std::uint64_t>(extra));
    EXPECT_EQ(f->ProcessedCycles(), kovra::kMaxQueuedSamples);
    const std::vector<std::uint8_t>& log = f->Recorder()->LogBuffer();
    const std::size_t record = 4 + n;
    ASSERT_EQ(log.size(), 1 + record * static_cast<std::size_t>(total));
    int lastMs = -1;
    for (int i = 0; i < total; ++i) {
        const std::uint8_t* r = log.data() + 1 + record * static_cast<std::size_t>(i);
        ASSERT_EQ((r[4] << 8) | r[5], i & 0xFFFF) << i;
        // Stamped when the worker completed the cycle (noon plus i ms, to the
        // 5 ms of a stamp and the precision of a single-precision time).
        ASSERT_EQ(r[0], 12) << i;
        const int ms = (r[1] * 60 + r[2]) * 1000 + r[3] * 5;
        ASSERT_NEAR(ms, i, 10) << i;
        ASSERT_GE(ms, lastMs) << i;
        lastMs = ms;
    }
    // The values are the last cycle's.
    const int last = total - 1;
    const double a = (last >> 8) & 0xFF, b = (last * 7) & 0xFF;
    EXPECT_NEAR(f->State().Values[0], (a * 256 + b) / 4 + std::sin(a) * 2, 1e-9);
}

TEST_F(FloodTest, StoppingARecordingKeepsTheCyclesTheWindowHasNotHandledYet)
{
    WriteSettings(4, 2, 4);
    ASSERT_TRUE(QDir(program.path()).mkpath("logs"));
    auto f = Make();
    f->Recording();
    ASSERT_TRUE(f->IsRecording());
    const std::size_t n = f->SampleBuffer().size();
    const int total = 3000;
    for (int i = 0; i < total; ++i)
        f->QueueEntry(Cycle(i, n));
    // "r" before the window has got round to them: they completed before it.
    f->FormKeyPress(QLatin1Char('r'));
    ASSERT_FALSE(f->IsRecording()) << (shown.empty() ? std::string() : shown.back().toStdString());
    QDir logs(program.filePath("logs"));
    const QStringList saved = logs.entryList({"*.xlg"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1) << saved.join(' ').toStdString();
    QFile file(logs.filePath(saved[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    const std::size_t record = 4 + n;
    ASSERT_EQ(std::size_t(log.size()), 1 + record * std::size_t(total));
    for (int i = 0; i < total; ++i) {
        const auto* r = reinterpret_cast<const std::uint8_t*>(log.constData()) + 1 + record * std::size_t(i);
        ASSERT_EQ((r[4] << 8) | r[5], i & 0xFFFF) << i;
    }
    // They are still handled in full afterwards, and not recorded twice.
    QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 60000);
    EXPECT_EQ(f->ProcessedCycles(), std::uint64_t(total));
    EXPECT_EQ(f->Recorder()->LogBuffer().size(), 1u);
    const int last = total - 1;
    const double a = (last >> 8) & 0xFF, b = (last * 7) & 0xFF;
    EXPECT_NEAR(f->State().Values[0], (a * 256 + b) / 4 + std::sin(a) * 2, 1e-9);
}

struct PaintCount : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(FloodTest, PanelShowsTheLastCycleAndIsComposedOncePerRefresh)
{
    WriteSettings(4, 2, 16);
    auto f = Make();
    QTRY_VERIFY(!f->Image1->shownPicture().isNull());
    const std::size_t n = f->SampleBuffer().size();
    PaintCount paints;
    f->Image1->installEventFilter(&paints);
    QElapsedTimer since;
    since.start();
    for (int i = 0; i < 300; ++i)
        f->QueueEntry(Cycle(1000 + i * 37, n));
    QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 60000);
    QTest::qWait(3 * f->Pacer()->IntervalMs());
    f->Image1->removeEventFilter(&paints);
    EXPECT_GE(paints.count, 1);
    EXPECT_LE(paints.count, since.elapsed() / f->Pacer()->IntervalMs() + 1);

    // On screen: the frame the last cycle's values and alarms give, drawn
    // straight over the background.
    QImage background, frame;
    kovra::TPanelLayout layout;
    kovra::TAllData& d = f->Data();
    kovra::DrawPribBack(d, f->Settings().Options.PanelColor, f->Image1->width(), f->Image1->height(),
                        working.path().toStdString(), background, frame, layout);
    kovra::DrawPrib(d, f->State(), layout, background, frame);
    const QImage onScreen = f->Image1->grab().toImage().convertToFormat(frame.format());
    EXPECT_EQ(onScreen, frame);
    EXPECT_EQ(f->Image1->shownPicture(), frame);
}

struct PaintRegions : QObject {
    std::vector<QRegion> regions;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            regions.push_back(static_cast<QPaintEvent*>(e)->region());
        return false;
    }
};

// What the screen holds: the window's backing store, which a paint of a
// region changes only there (a grab of the widget would paint it whole).
QImage OnScreen(QWidget* w)
{
    const QPoint at = w->mapTo(w->window(), QPoint(0, 0));
    return w->screen()->grabWindow(w->window()->winId(), at.x(), at.y(), w->width(), w->height()).toImage();
}

TEST_F(FloodTest, PanelRepaintsOnlyWhatChangedAndTheScreenHoldsTheFrameAfterEveryRefresh)
{
    WriteSettings(4, 2, 16);
    auto f = Make();
    QTRY_VERIFY(!f->Image1->shownPicture().isNull());
    const std::size_t n = f->SampleBuffer().size();
    const QRegion whole(f->Image1->rect());
    PaintRegions paints;
    f->Image1->installEventFilter(&paints);
    kovra::TAllData& d = f->Data();
    QImage background, frame;
    kovra::TPanelLayout layout;
    kovra::DrawPribBack(d, f->Settings().Options.PanelColor, f->Image1->width(), f->Image1->height(),
                        working.path().toStdString(), background, frame, layout);
    // Values far apart, so that needles, carets, texts and alarms move a lot
    // from one refresh to the next.
    QTest::qWait(3 * f->Pacer()->IntervalMs());
    for (int round = 0; round < 6; ++round) {
        paints.regions.clear();
        for (int i = 0; i < 5; ++i)
            f->QueueEntry(Cycle(round * 9973 + i * 4099 + 17, n));
        QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 60000);
        QTRY_VERIFY(!paints.regions.empty());
        QTest::qWait(3 * f->Pacer()->IntervalMs());
        kovra::TPanelLayout scratch = layout;
        scratch.Marks = {};
        QImage expected;
        kovra::DrawPrib(d, f->State(), scratch, background, expected);
        ASSERT_EQ(f->Image1->shownPicture(), expected) << "round " << round;
        ASSERT_EQ(OnScreen(f->Image1).convertToFormat(expected.format()), expected) << "round " << round;
        // The cycles repainted the boxes of the moving parts, not the panel
        // (the first frame after the background was drawn starts from a
        // whole copy of it).
        if (round > 0) {
            for (const QRegion& r : paints.regions)
                EXPECT_NE(r, whole) << "round " << round;
        }
    }
    f->Image1->removeEventFilter(&paints);
}

TEST(ScreenPacer, RepaintsTheRegionsAskedForOrWhatTheComposeStepChanged)
{
    QWidget w;
    w.resize(200, 100);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    PaintRegions paints;
    w.installEventFilter(&paints);
    kovra::TScreenPacer pacer;
    pacer.SetIntervalMs(5);
    auto next = [&] {
        paints.regions.clear();
        QElapsedTimer waited;
        waited.start();
        while (paints.regions.empty() && waited.elapsed() < 2000)
            QTest::qWait(1);
        QTest::qWait(20);
        QRegion all;
        for (const QRegion& r : paints.regions)
            all += r;
        return all;
    };
    pacer.Request(&w, QRegion(10, 10, 5, 5));
    pacer.Request(&w, QRegion(50, 60, 8, 4));
    EXPECT_EQ(next(), QRegion(10, 10, 5, 5) + QRegion(50, 60, 8, 4));
    // A request without a region is the whole widget, whatever else was asked.
    pacer.Request(&w, QRegion(1, 1, 2, 2));
    pacer.Request(&w);
    EXPECT_EQ(next(), QRegion(w.rect()));

    // With a compose step: it runs once per refresh, and what it returns is repainted.
    int composed = 0;
    pacer.SetCompose(&w, [&] {
        ++composed;
        return QRegion(100, 20, 30, 10);
    });
    for (int i = 0; i < 50; ++i)
        pacer.Request(&w);
    EXPECT_EQ(next(), QRegion(100, 20, 30, 10));
    EXPECT_EQ(composed, 1);
    // Nothing changed, nothing repainted; the step still ran.
    pacer.SetCompose(&w, [&] {
        ++composed;
        return QRegion();
    });
    pacer.Request(&w);
    QTest::qWait(30);
    EXPECT_EQ(composed, 2);
    paints.regions.clear();
    QTest::qWait(20);
    EXPECT_TRUE(paints.regions.empty());
    // A forgotten widget loses its step too.
    pacer.Forget(&w);
    pacer.Request(&w);
    EXPECT_EQ(next(), QRegion(w.rect()));
    EXPECT_EQ(composed, 2);
    w.removeEventFilter(&paints);
}

TEST(ScreenPacer, ManyRequestsMakeOneUpdatePerInterval)
{
    QWidget a, b;
    a.show();
    b.show();
    kovra::TScreenPacer pacer;
    pacer.SetIntervalMs(20);
    QElapsedTimer since;
    since.start();
    while (since.elapsed() < 200) {
        pacer.Request(&a);
        pacer.Request(&b);
        QCoreApplication::processEvents();
    }
    QTest::qWait(40);
    EXPECT_GE(pacer.Refreshes(), 5);
    EXPECT_LE(pacer.Refreshes(), since.elapsed() / 20 + 1);
    // A forgotten widget is not touched again.
    pacer.Request(&a);
    pacer.Forget(&a);
    const long long now = pacer.Refreshes();
    QTest::qWait(40);
    EXPECT_EQ(pacer.Refreshes(), now);
}

}  // namespace
