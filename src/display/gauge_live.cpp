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

bool SameShape(const QImage& a, const QImage& b) {
    return a.size() == b.size() && a.format() == b.format() && a.bytesPerLine() == b.bytesPerLine();
}

// The frame starts as an exact copy of the background: one block copy.
void CopyBackground(const QImage& background, QImage& frame) {
    if (!SameShape(frame, background)) {
        frame = background.copy();
        return;
    }
    if (!background.isNull())
        std::memcpy(frame.bits(), background.constBits(), size_t(background.sizeInBytes()));
}

// The frame as the background, given what the last frame drew on it;
// false when it had to be copied whole.
bool RestoreBackground(const QImage& background, QImage& frame, const TFrameMarks& marks) {
    const bool known = marks.Valid && !frame.isNull() && SameShape(frame, background) &&
                       frame.cacheKey() == marks.FrameKey &&
                       background.cacheKey() == marks.BackgroundKey;
    if (!known) {
        CopyBackground(background, frame);
        return false;
    }
    if (marks.Drawn.empty())
        return true;
    const qsizetype stride = frame.bytesPerLine();
    const int depth = frame.depth() / 8;
    uchar* to = frame.bits();
    const uchar* from = background.constBits();
    const QRect all = frame.rect();
    for (const QRect& drawn : marks.Drawn) {
        const QRect r = drawn & all;
        if (r.isEmpty())
            continue;
        const std::size_t offset = std::size_t(r.x()) * std::size_t(depth);
        const std::size_t bytes = std::size_t(r.width()) * std::size_t(depth);
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(to + stride * y + offset, from + stride * y + offset, bytes);
    }
    return true;
}

// The union of boxes that mostly come in pairs (a gauge's box of the last
// frame and of this one, in the same place): merged in order, each pair
// costs one small union.
QRegion UnionOf(const std::vector<QRect>& a, const std::vector<QRect>& b, const QRect& within) {
    QRegion out;
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        QRect box;
        if (i < a.size())
            box = a[i];
        if (i < b.size()) {
            // One box around both when that adds little: fewer, larger rects
            // are cheaper to paint and flush than many slivers.
            const QRect both = box | b[i];
            const qint64 area = qint64(both.width()) * both.height();
            const qint64 parts = qint64(box.width()) * box.height() + qint64(b[i].width()) * b[i].height();
            if (box.isEmpty() || area <= parts) {
                box = both;
            } else {
                out += box & within;
                box = b[i];
            }
        }
        out += box & within;
    }
    return out;
}

}  // namespace

QString ValueText(double v, char decimalSeparator) {
    return QString::fromStdString(FormatFixed(v, 7, 2, decimalSeparator));
}

double ScalePosition(const TPribor& g, const TGaugePlace& place, double v) {
    // NaN compares false both ways; it is no reading, so the needle rests.
    if (std::isnan(v))
        return place.ScaleStart;
    const double max = g.Maximum, min = g.Minimum;
    double pos = PositionOf(g, place, v);
    if (!(max >= v))
        pos = place.ScaleEnd;
    if (min > v)
        pos = place.ScaleStart;
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

QRegion DrawPrib(const TAllData& data, const TRunState& state, const TPanelLayout& layout,
                 const QImage& panelBackground, QImage& panelFrame, const QTime& now) {
    TFrameMarks& marks = layout.Marks;
    const bool restored = RestoreBackground(panelBackground, panelFrame, marks);
    std::vector<QRect>& before = marks.Before;
    before.clear();
    if (restored)
        before.swap(marks.Drawn);
    marks.Valid = false;
    marks.Drawn.clear();
    if (panelFrame.isNull())
        return QRegion();
    const char sep = DecimalSeparator();
    Canvas c(&panelFrame);
    c.brushStyle = BrushStyle::Clear;
    c.fontFamily = QStringLiteral("Arial");
    c.fontBold = false;
    // Each gauge's and the clock's drawing is bounded on its own: one box
    // around all of them would cover most of the panel.
    QRect drawn;
    c.drawnBounds = &drawn;
    auto keep = [&] {
        if (!drawn.isEmpty())
            marks.Drawn.push_back(drawn);
        drawn = QRect();
    };

    const QString noText;
    const std::size_t placed = std::min(data.Gauges.size(), layout.Gauges.size());
    for (std::size_t i = 0; i < placed; ++i) {
        const TPribor& g = data.Gauges[i];
        const TGaugePlace& place = layout.Gauges[i];
        const TGaugeKindDraw* kind = GaugeKindDraw(place.Kind);
        if (!kind || !IsDrawn(g))
            continue;
        if (kind->picturesOnly) {
            TGaugeLivePass pass{c, noText, 0, 0, state.Alarm(i)};
            kind->live(pass, g, place);
            keep();
            continue;
        }
        const int s = place.ScaledSize;
        c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
        c.fontPointSize = 0;
        c.fontColor = g.TextColor;
        c.penColor = g.NeedleColor;
        c.penWidth = std::max(1, RoundI(0.04 * s));
        const double v = state.ValueOf(g.FormulaIndex);
        const QString text = ValueText(v, sep);
        TGaugeLivePass pass{c, text, ScalePosition(g, place, v), c.textHeight(text), state.Alarm(i)};
        kind->live(pass, g, place);
        keep();
    }

    if (data.ClockVisible) {
        c.fontColor = data.ClockColor;
        c.fontPointSize = std::max(1, RoundI(0.13 * layout.Clock.ScaledSize));
        c.textOut(layout.Clock.ScaledX, layout.Clock.ScaledY, ClockText(now));
        keep();
    }
    marks.FrameKey = panelFrame.cacheKey();
    marks.BackgroundKey = panelBackground.cacheKey();
    marks.Valid = true;
    if (!restored)
        return QRegion(panelFrame.rect());
    return UnionOf(before, marks.Drawn, panelFrame.rect());
}

QRegion DrawPrib(const TAllData& data, const TRunState& state, const TPanelLayout& layout,
                 const QImage& panelBackground, QImage& panelFrame) {
    return DrawPrib(data, state, layout, panelBackground, panelFrame, QTime::currentTime());
}

}  // namespace kovra
