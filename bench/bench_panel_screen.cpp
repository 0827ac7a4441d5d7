// One frame of 64 gauges on a 1900-pixel panel, composed and put on the
// screen the way the window does it (composed over the background, painted
// from where it was composed), against the one block copy of the background
// that every frame needs anyway.
#include "gauge_settings_text.h"
#include "app/ImageView.h"
#include "config/cp1251.h"
#include "config/settings.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_live.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

using namespace kovra;

constexpr int kPanelWidth = 1900;

std::string PanelSettings()
{
    std::string s = "[настройки]\nкол-во_формул=192\nкол-во_приборов=64\n";
    s += bench::GaugeSections();
    return Utf8ToCp1251(s);
}

struct Screen {
    QTemporaryDir dir;
    TSettings settings = LoadSettingsFromBytes(PanelSettings());
    QImage background, frame;
    TPanelLayout layout;
    std::unique_ptr<ImageView> view;

    Screen()
    {
        const QSize size = PanelSize(kPanelWidth + 18);
        DrawPribBack(settings.Data, kButtonFace, size.width(), size.height(), dir.path().toStdString(), background,
                     frame, layout);
        view = std::make_unique<ImageView>();
        view->resize(size);
        view->showPicture(&frame);
        view->show();
        QCoreApplication::processEvents();
    }
    void NextValues(int tick)
    {
        for (std::size_t i = 0; i < settings.Data.Procs.size(); ++i)
            settings.Data.Procs[i].Value = (tick * 37 + i * 101) % 20000;
    }
};

Screen& Get()
{
    static Screen s;
    return s;
}

void BM_BackgroundCopyBaseline(benchmark::State& state)
{
    Screen& s = Get();
    for (auto _ : state)
        Canvas(&s.frame).copyRect(0, 0, s.frame.width(), s.frame.height(), s.background, 0, 0);
}
BENCHMARK(BM_BackgroundCopyBaseline)->Unit(benchmark::kMicrosecond);

// What the window spends per frame shown: the frame composed and painted.
void BM_DrawPribOnScreen(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        DrawPrib(s.settings.Data, s.layout, s.background, s.frame);
        s.view->repaint();
    }
}
BENCHMARK(BM_DrawPribOnScreen)->Unit(benchmark::kMicrosecond);

// The same when every frame starts from a whole copy of the background, as
// it does after a resize.
void BM_DrawPribOnScreenFullCopy(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        s.layout.Marks.Valid = false;
        DrawPrib(s.settings.Data, s.layout, s.background, s.frame);
        s.view->repaint();
    }
}
BENCHMARK(BM_DrawPribOnScreenFullCopy)->Unit(benchmark::kMicrosecond);

// Composing alone, without the screen.
void BM_DrawPribOnly(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        DrawPrib(s.settings.Data, s.layout, s.background, s.frame);
    }
}
BENCHMARK(BM_DrawPribOnly)->Unit(benchmark::kMicrosecond);

// The part of it that puts the frame on the screen.
void BM_PaintOnly(benchmark::State& state)
{
    Screen& s = Get();
    for (auto _ : state)
        s.view->repaint();
}
BENCHMARK(BM_PaintOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
