#include "display/gauge_live.h"

#include "config/format.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/picture.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace kovra {

namespace {

constexpr TColor kRed = 255;

// The frame starts as an exact copy of the background: one block copy.
void CopyBackground(const QImage& background, QImage& frame) {
    if (frame.size() != background.size() || frame.format() != background.format() ||
        frame.bytesPerLine() != background.bytesPerLine()) {
        frame = background.copy();
        return;
    }
    if (!background.isNull())
        std::memcpy(frame.bits(), background.constBits(), size_t(background.sizeInBytes()));
}

void DrawDial(Canvas& c, const TPribor& g, double pos, const QString& text) {
    const int s = g.ScaledSize;
    const int cx = g.ScaledX + s, cy = g.ScaledY + s;
    c.textOut(cx - c.textWidth(text) / 2, cy + s / 10, text);
    const double back = pos + std::numbers::pi;
    c.line(Px(std::cos(back) * s * 0.2, cx), Px(std::sin(back) * s * 0.2, cy),
           Px(std::cos(pos) * s * 0.9, cx), Px(std::sin(pos) * s * 0.9, cy));
}

void DrawBar(Canvas& c, const TPribor& g, double pos, const QString& text, int th) {
    const int s = g.ScaledSize, x0 = g.ScaledX, y0 = g.ScaledY;
    const double half = 0.03 * s;  // half the caret's width
    if (!g.Horizontal) {
        // Value beside the caption; the caret's tip touches the scale line from below.
        const int lw = c.textWidth(FromCp1251(g.Name) + QStringLiteral("  "));
        c.textOut(x0 + lw, y0, text);
        const int base = Px(0.2 * s, y0) + 2 * th;
        c.moveTo(Px(pos - half, x0), base);
        c.lineTo(Px(pos, x0), Px(0.07 * s, y0) + 2 * th);
        c.lineTo(Px(pos + half, x0), base);
    } else {
        // Value under the caption; the caret's tip touches the scale line from the left.
        c.textOut(x0, y0 + th, text);
        c.moveTo(x0, Px(pos - half, y0));
        c.lineTo(Px(0.13 * s, x0), Px(pos, y0));
        c.lineTo(x0, Px(pos + half, y0));
    }
}

}  // namespace

QString ValueText(double v, char decimalSeparator) {
    return QString::fromStdString(FormatFixed(v, 7, 2, decimalSeparator));
}

double ScalePosition(const TPribor& g, double v) {
    // NaN compares false both ways; it is no reading, so the needle rests.
    if (std::isnan(v))
        return g.ScaleStart;
    const double max = g.Maximum, min = g.Minimum;
    double pos = (g.ScaleEnd - g.ScaleStart) / (max - min) * (v - min) + g.ScaleStart;
    if (!(max >= v))
        pos = g.ScaleEnd;
    if (min > v)
        pos = g.ScaleStart;
    return pos;
}

QString ClockText(const QTime& t) { return QLocale::system().toString(t, QLocale::LongFormat); }

void DrawPrib(const TAllData& data, const QImage& panelBackground, QImage& panelFrame,
              const QTime& now) {
    CopyBackground(panelBackground, panelFrame);
    if (panelFrame.isNull())
        return;
    const char sep = DecimalSeparator();
    Canvas c(&panelFrame);
    c.brushStyle = BrushStyle::Clear;
    c.fontFamily = QStringLiteral("Arial");
    c.fontBold = false;

    for (const TPribor& g : data.Gauges) {
        if (g.Kind > 4 || !IsDrawn(g))
            continue;
        const int s = g.ScaledSize;
        if (g.Kind == 4) {
            const auto& icon = g.AlarmActive ? g.IconOn : g.IconOff;
            if (icon && !icon->image.isNull())
                c.copyRect(g.ScaledX, g.ScaledY, icon->image.width(), icon->image.height(),
                           icon->image, 0, 0);
            continue;
        }
        c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
        c.fontPointSize = 0;
        c.fontColor = g.TextColor;
        c.penColor = g.NeedleColor;
        c.penWidth = std::max(1, RoundI(0.04 * s));
        const double v = data.ValueOf(g.FormulaIndex);
        const QString text = ValueText(v, sep);
        const int th = c.textHeight(text);
        const double pos = ScalePosition(g, v);
        switch (g.Kind) {
        case 0: DrawDial(c, g, pos, text); break;
        case 1: DrawBar(c, g, pos, text, th); break;
        case 2:
            if (g.AlarmActive)
                c.fontColor = kRed;
            c.textOut(g.ScaledX, g.ScaledY + th, text.left(g.LabelDigits));
            break;
        case 3:
            if (g.AlarmActive)
                c.fontColor = kRed;
            c.textOut(g.ScaledX, g.ScaledY, FromCp1251(g.Name));
            break;
        }
    }

    if (data.ClockVisible) {
        c.fontColor = data.ClockColor;
        c.fontPointSize = std::max(1, RoundI(0.13 * data.ClockScaledSize));
        c.textOut(data.ClockScaledX, data.ClockScaledY, ClockText(now));
    }
}

void DrawPrib(const TAllData& data, const QImage& panelBackground, QImage& panelFrame) {
    DrawPrib(data, panelBackground, panelFrame, QTime::currentTime());
}

}  // namespace kovra
