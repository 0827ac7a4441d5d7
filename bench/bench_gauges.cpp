// One frame of a full gauge panel against the block copy every frame starts
// with: the live layer should cost little beyond that copy.
#include "config/model.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_kind.h"
#include "display/gauge_live.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace kovra;

constexpr int kWidth = 1900;

struct Panel {
    QTemporaryDir dir;
    TAllData data;
    TRunState state;
    QImage background, frame;
    TPanelLayout layout;

    Panel() {
        QDir(dir.path()).mkpath("icons");
        QImage icon(16, 16, QImage::Format_RGB32);
        icon.fill(Qt::black);
        for (int i = 4; i < 12; ++i)
            for (int j = 4; j < 12; ++j)
                icon.setPixel(i, j, qRgb(255, 200, 0));
        icon.save(dir.filePath("icons/lamp.bmp"), "BMP");
        QImage back(640, 360, QImage::Format_RGB32);
        back.fill(qRgb(40, 40, 60));
        back.save(dir.filePath("back.jpg"), "JPG");

        // 64 gauges in an 8 x 8 grid of 55 x 31 panel units.
        data.Procs.resize(8);
        for (int i = 0; i < 64; ++i) {
            TPribor g;
            // Dial, two bars, readout, caption lamp, icon lamp.
            constexpr TGaugeKind kinds[] = {TGaugeKind::Dial, TGaugeKind::Bar, TGaugeKind::Bar,
                                            TGaugeKind::Readout, TGaugeKind::CaptionLamp,
                                            TGaugeKind::IconLamp};
            const int kind = i % 6;
            g.Kind = std::uint8_t(kinds[kind]);
            g.Horizontal = kind == 2;
            g.Name = kind == 5 ? "lamp" : "Gauge " + std::to_string(i);
            g.FormulaIndex = std::uint16_t(i % 8);
            g.X = std::uint16_t(2 + (i % 8) * 55);
            g.Y = std::uint16_t(2 + (i / 8) * 31);
            g.Size = std::uint16_t(kinds[kind] == TGaugeKind::Dial ? 14 : 25);
            g.Minimum = 0;
            g.Maximum = 8000;
            g.ScaleDivisions = 8;
            g.LabelDigits = 4;
            g.StartAngle = 225;
            g.EndAngle = -45;
            g.AlarmEnabled = true;
            g.AlarmLevel = 6000;
            g.TextColor = 0xFFFFFF;
            g.NeedleColor = 0x0000FF;
            g.ScaleColor = 0xC0C0C0;
            data.Gauges.push_back(g);
        }
        data.GaugeCount = 64;
        data.ClockVisible = true;
        data.ClockSize = 60;
        data.ClockX = 380;
        data.ClockY = 235;
        DrawPribBack(data, 0x202020, kWidth, PanelSize(kWidth + 18).height(),
                     dir.path().toStdString(), background, frame, layout);
        state = TRunState(data);
    }
    void Step(int n) {
        for (std::size_t k = 0; k < data.Procs.size(); ++k)
            state.Values[k] = double((n * 37 + int(k) * 911) % 9000) + 0.25;
        for (std::size_t k = 0; k < data.Gauges.size(); ++k)
            state.AlarmActive[k] = (n + int(k)) % 3 == 0;
    }
};

Panel& Shared() {
    static Panel p;
    return p;
}

// Baseline: the one block copy of the background each frame starts with.
void BM_BackgroundCopy(benchmark::State& state) {
    Panel& p = Shared();
    for (auto _ : state) {
        std::memcpy(p.frame.bits(), p.background.constBits(), size_t(p.background.sizeInBytes()));
        benchmark::DoNotOptimize(p.frame.constBits());
    }
}
BENCHMARK(BM_BackgroundCopy)->Unit(benchmark::kMillisecond);

void BM_DrawPrib64(benchmark::State& state) {
    Panel& p = Shared();
    int n = 0;
    const QTime now(12, 0, 0);
    for (auto _ : state) {
        p.Step(n++);
        DrawPrib(p.data, p.state, p.layout, p.background, p.frame, now);
        benchmark::DoNotOptimize(p.frame.constBits());
    }
}
BENCHMARK(BM_DrawPrib64)->Unit(benchmark::kMillisecond);

// The resize path, for reference: JPEG decode, scales, numerals, icons.
void BM_DrawPribBack64(benchmark::State& state) {
    Panel& p = Shared();
    for (auto _ : state)
        DrawPribBack(p.data, 0x202020, kWidth, PanelSize(kWidth + 18).height(),
                     p.dir.path().toStdString(), p.background, p.frame, p.layout);
}
BENCHMARK(BM_DrawPribBack64)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Fonts need a GUI application; test discovery runs without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
