#include "display/gauge_live.h"

#include "config/format.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kovra {

namespace {

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

}  // namespace

QString ValueText(double v, char decimalSeparator) {
    return QString::fromStdString(FormatFixed(v, 7, 2, decimalSeparator));
}

double ScalePosition(const TPribor& g, double v) {
    // NaN compares false both ways; it is no reading, so the needle rests.
    if (std::isnan(v))
        return g.ScaleStart;
    const double max = g.Maximum, min = g.Minimum;
    double pos = PositionOf(g, v);
    if (!(max >= v))
        pos = g.ScaleEnd;
    if (min > v)
        pos = g.ScaleStart;
    return pos;
}

QString TimeFormatWithoutZone(const QString& format) {
    QString out;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar ch = format[i];
        if (ch == QLatin1Char('\'')) {
            // Quoted text is kept as it stands ('' inside is a quote).
            const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? format.size() : end + 1;
            out += QStringView(format).mid(i, stop - i);
            i = stop - 1;
            continue;
        }
        if (ch != QLatin1Char('t')) {
            out += ch;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == QLatin1Char('t'))
            ++i;
        // Drop what introduced the zone too: brackets around it, the space before it.
        const bool bracketed = !out.isEmpty() && (out.back() == QLatin1Char('(') ||
                                                  out.back() == QLatin1Char('[')) &&
                               i + 1 < format.size() &&
                               (format[i + 1] == QLatin1Char(')') || format[i + 1] == QLatin1Char(']'));
        if (bracketed) {
            out.chop(1);
            ++i;
        }
        while (!out.isEmpty() && out.back().isSpace())
            out.chop(1);
    }
    return out.trimmed();
}

QString ClockText(const QTime& t, const QLocale& locale) {
    return locale.toString(t, TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

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

    const QString noText;
    for (const TPribor& g : data.Gauges) {
        const TGaugeKindDraw* kind = GaugeKindDraw(g.Kind);
        if (!kind || !IsDrawn(g))
            continue;
        if (kind->picturesOnly) {
            TGaugeLivePass pass{c, noText, 0, 0};
            kind->live(pass, g);
            continue;
        }
        const int s = g.ScaledSize;
        c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
        c.fontPointSize = 0;
        c.fontColor = g.TextColor;
        c.penColor = g.NeedleColor;
        c.penWidth = std::max(1, RoundI(0.04 * s));
        const double v = data.ValueOf(g.FormulaIndex);
        const QString text = ValueText(v, sep);
        TGaugeLivePass pass{c, text, ScalePosition(g, v), c.textHeight(text)};
        kind->live(pass, g);
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
