#include "display/moment_chart.h"

#include "config/format.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace kovra {

namespace {

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long q = (p < 0) == (c < 0) ? (std::llabs(p) + std::llabs(c) / 2) / std::llabs(c)
                                           : -((std::llabs(p) + std::llabs(c) / 2) / std::llabs(c));
    return int(q);
}

// A pixel coordinate from a computed position; positions far off the picture
// are brought within int (the drawing clips them anyway).
std::optional<int> Coord(double v)
{
    if (std::isnan(v))
        return std::nullopt;
    return int(std::clamp(v, -1073741824.0, 1073741824.0));
}

// Round to nearest, halves to even.
double Round(double v) { return std::nearbyint(v); }

void Clear(Canvas& c)
{
    if (QImage* img = c.image())
        c.fillRect(0, 0, img->width(), img->height(), c.brushColor);
}

}  // namespace

int MomentFontHeight(int h)
{
    const int points = MulDiv(h, 72, 96);
    return MulDiv(points, 96, 72);
}

void InitMomentSurfaces(TMomentSurfaces& s, QImage* axis, QImage* plot)
{
    for (Canvas* c : {&s.Axis, &s.Plot}) {
        *c = Canvas();
        c->brushColor = 0xFFFFFF;
        c->brushStyle = BrushStyle::Solid;
        c->penColor = 0;
        c->penWidth = 1;
        c->fontColor = 0;
        c->fontFamily = QStringLiteral("Arial");
        c->fontPointSize = 8;
        c->fontBold = false;
    }
    s.Axis.attach(axis);
    s.Plot.attach(plot);
}

void SetupMomentSurfaces(TMomentSurfaces& s, const TStripChart& c, TColor panelColour)
{
    const Canvas& chart = c.canvas();
    s.Plot.brushColor = panelColour;
    s.Plot.brushStyle = BrushStyle::Solid;
    s.Plot.penColor = chart.penColor;
    s.Plot.penWidth = 3;
    s.Plot.fontColor = chart.fontColor;
    s.Plot.fontPointSize = 0;
    s.Plot.fontPixelHeight = MomentFontHeight(chart.fontPixelHeight);
    s.Axis.brushColor = panelColour;
    s.Axis.brushStyle = BrushStyle::Solid;
    s.Axis.penColor = chart.fontColor;
    s.Axis.penWidth = 1;
    s.Axis.fontColor = chart.fontColor;
}

void DrawMomentGrid(TMomentSurfaces& s, const TStripChart* c, QSize axisSize, QSize plotSize)
{
    for (auto [canvas, size] : {std::pair{&s.Axis, axisSize}, std::pair{&s.Plot, plotSize}}) {
        if (QImage* img = canvas->image())
            *img = MakePicture(size.width(), size.height(), canvas->brushColor);
    }
    QImage* axis = s.Axis.image();
    if (!c || !axis || axis->isNull() || c->MaxValue == 0)
        return;
    const std::int32_t xmax = c->MaxValue;
    const int cw = s.Axis.textWidth(QString::number(xmax) + QStringLiteral("00"));
    if (cw <= 0)
        return;
    const int n = axis->width() / cw - 1;
    if (n <= 0)
        return;
    for (int i = 0; i <= n; ++i) {
        const double label = Round(double(xmax) / n * i);
        s.Axis.textOut(i * cw, 10, QString::number(static_cast<long long>(label)));
        const int tick = i * cw + cw / 3;
        s.Axis.line(tick, 0, tick, 8);
    }
}

void DrawMoment(TMomentSurfaces& s, const TAllData& d, TRunState& state, const TStripChart* c)
{
    if (c)
        DrawMomentPoint(s, d, state.Moment, c, state.ValueOf(c->FormulaIndex), state.ValueOf(d.MomentFormula), true);
}

std::optional<std::size_t> LastMomentClear(const TAllData& d, const TMomentState& m, const TStripChart* c,
                                           std::span<const std::pair<double, double>> points)
{
    if (!c || c->MaxValue == 0 || static_cast<std::uint32_t>(d.MomentYMax) == 0)
        return std::nullopt;
    const double xmax = c->MaxValue;
    bool restart = m.MomentRestart;
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (xmax / 8 >= points[i].first) {
            restart = true;
        } else {
            if (restart)
                last = i;
            restart = false;
        }
    }
    return last;
}

void DrawMomentPoint(TMomentSurfaces& s, const TAllData& d, TMomentState& m, const TStripChart* c, double x,
                     double y, bool draw)
{
    QImage* plot = s.Plot.image();
    if (!c || !plot || c->MaxValue == 0)
        return;
    const double xmax = c->MaxValue;
    const double ymax = static_cast<std::uint32_t>(d.MomentYMax);
    if (ymax == 0)
        return;
    const double w3 = plot->width(), h3 = plot->height();
    const std::optional<int> px = Coord(Round(w3 / xmax * x));
    const std::optional<int> py = Coord(h3 - Round(h3 / ymax * y));

    if (xmax / 8 >= x) {
        m.MomentRestart = true;
    } else {
        if (x > m.MomentPrevX) {
            if (px && py) {
                if (draw)
                    s.Plot.lineTo(*px, *py);
                else
                    s.Plot.moveTo(*px, *py);
            }
            if (y > m.MomentPeak)
                m.MomentPeak = y;
        } else {
            if (draw) {
                const QString text = QStringLiteral("Максимум: ") +
                                     QString::fromLatin1(FormatFixed(m.MomentPeak, 5, 2).c_str());
                s.Plot.textOut(0, 0, text);
            }
            if (px && py)
                s.Plot.moveTo(*px, *py);
        }
        // The first point of a run clears what the line to it just drew.
        if (m.MomentRestart) {
            if (draw)
                Clear(s.Plot);
            m.MomentPeak = 0;
        }
        m.MomentRestart = false;
    }
    m.MomentPrevX = x;
}

}  // namespace kovra
