// An hour's log of the demo (72,000 records, 20 cycles a second) replayed
// through the window with the demo's configuration: a seek to its last
// record on each tab, and playing it through as fast as possible, with how
// often the screen was refreshed meanwhile.
#include "app/KovraLoggerU.h"
#include "app/ScreenPacer.h"
#include "run/player_source.h"
#include "../tests/support/replay_log.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

namespace {

using namespace kovra;

constexpr std::uint64_t kRecords = 72'000;

struct TReplayWindow {
    QTemporaryDir dir;
    std::filesystem::path folder = dir.path().toStdString();
    std::filesystem::path log = folder / "hour.xlg";
    std::unique_ptr<TForm1> form;

    TReplayWindow()
    {
        test::CopyDemo(KOVRA_SOURCE_DIR "/demo", folder, true);
        test::WriteFileBytes(log, test::LogBytes(11, kRecords, test::DemoSample));
        form = std::make_unique<TForm1>(folder, folder);
        form->ErrorHook = [](const QString& text) { qWarning("%s", qPrintable(text)); };
        form->AlarmHook = [] {};
        form->show();
        form->Run().StopSource();
        TReplayStart start;
        start.Speed = 0;
        start.Paused = true;
        if (!form->OpenLog(log, start))
            qFatal("the log did not open");
        QCoreApplication::processEvents();
    }
    void ShowPage(int page)
    {
        form->PageControl1->setCurrentIndex(page);
        QCoreApplication::processEvents();
    }
};

TReplayWindow& Window()
{
    static TReplayWindow w;
    return w;
}

void BM_SeekToTheLastRecord(benchmark::State& state)
{
    TReplayWindow& w = Window();
    w.ShowPage(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        w.form->ReplaySeek(kRecords - 1);
        benchmark::DoNotOptimize(w.form->ReplayShown());
    }
    state.SetLabel(std::array{"charts", "gauges", "chart tab"}[state.range(0)]);
}
BENCHMARK(BM_SeekToTheLastRecord)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

// From the first record to the last as fast as possible, the event loop
// turning (and the screen refreshed) as the window runs it.
void BM_PlayThroughAsFastAsPossible(benchmark::State& state)
{
    TReplayWindow& w = Window();
    w.ShowPage(static_cast<int>(state.range(0)));
    double records = 0, refreshes = 0, seconds = 0;
    for (auto _ : state) {
        w.form->ReplaySeek(0);
        QCoreApplication::processEvents();
        const long long before = w.form->Pacer()->Refreshes();
        QElapsedTimer t;
        t.start();
        w.form->ReplayPlayPause();
        while (w.form->ReplayShown() + 1 < kRecords || w.form->Player()->IsPlaying())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        const double s = t.nsecsElapsed() / 1e9;
        state.SetIterationTime(s);
        seconds += s;
        records += kRecords - 1;
        refreshes += double(w.form->Pacer()->Refreshes() - before);
    }
    state.counters["records_per_s"] = records / seconds;
    state.counters["refreshes_per_s"] = refreshes / seconds;
    state.SetLabel(std::array{"charts", "gauges", "chart tab"}[state.range(0)]);
}
BENCHMARK(BM_PlayThroughAsFastAsPossible)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseManualTime()
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Window().form.reset();
    return 0;
}
