// One strip-chart step on a full-HD-wide chart: the ring against the plain
// way of copying the whole picture one column to the left on every call.
#include "config/format.h"
#include "display/canvas.h"
#include "display/strip_chart.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cmath>

using namespace kovra;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 150;

void Style(Canvas& c)
{
    c.penColor = 0xFF0000;
    c.brushColor = 0xFF00000F;
    c.fontColor = 255;
    c.fontPixelHeight = 10;
    c.fontBold = true;
}

double Value(long i) { return 50 + 40 * std::sin(double(i) * 0.1); }

// The baseline: every call moves the whole picture.
void BM_ScrollWholePicture(benchmark::State& state)
{
    QImage pic = MakePicture(kWidth, kHeight, 0xFF00000F);
    Canvas c(&pic);
    Style(c);
    const QString label = QStringLiteral("датчик0");
    const int h = c.fontPixelHeight;
    long i = 0;
    for (auto _ : state) {
        const double v = Value(i++);
        c.copyRect(-1, 0, kWidth, kHeight, pic, 0, 0);
        c.fillRect(kWidth - 1, 0, kWidth, kHeight);
        c.line(kWidth - 1, kHeight, kWidth - 1, kHeight - int(std::nearbyint(1.5 * v)));
        c.fillRect(kWidth - 1, 0, kWidth, 1);
        c.fillRect(0, 0, 4 * h, 2 * h);
        c.textOut(0, 0, label);
        const QString text = QString::fromLatin1(FormatFixed(v, 5, 2).c_str());
        c.textOut(4 * h - c.textWidth(text), h, text);
        benchmark::DoNotOptimize(pic.constBits());
    }
}
BENCHMARK(BM_ScrollWholePicture);

void BM_RingAdd(benchmark::State& state)
{
    TStripChart chart;
    Style(chart.canvas());
    chart.LabelText = QStringLiteral("датчик0");
    chart.setControlSize(kWidth, kHeight);
    long i = 0;
    for (auto _ : state) {
        chart.add(Value(i++));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RingAdd);

// What the widget's paint adds per frame: the two pieces of the ring.
void BM_RingDraw(benchmark::State& state)
{
    TStripChart chart;
    Style(chart.canvas());
    chart.setControlSize(kWidth, kHeight);
    for (int k = 0; k < 777; ++k)
        chart.add(Value(k));
    QImage screen(kWidth, kHeight, kPictureFormat);
    for (auto _ : state) {
        QPainter p(&screen);
        chart.Draw(p, 0, 0);
    }
}
BENCHMARK(BM_RingDraw);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    char name[] = "bench_strip";
    char* qargv[] = {name, nullptr};
    QGuiApplication app(qargc, qargv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
