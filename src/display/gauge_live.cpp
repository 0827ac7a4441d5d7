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

// Puts the background back in the given boxes of the frame.
void RestoreBoxes(const QImage& background, QImage& frame, const std::vector<QRect>& boxes,
                  const std::vector<bool>* only = nullptr) {
    const qsizetype stride = frame.bytesPerLine();
    const int depth = frame.depth() / 8;
    uchar* to = frame.bits();
    const uchar* from = background.constBits();
    const QRect all = frame.rect();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (only && !(*only)[i])
            continue;
        const QRect r = boxes[i] & all;
        if (r.isEmpty())
            continue;
        const std::size_t offset = std::size_t(r.x()) * std::size_t(depth);
        const std::size_t bytes = std::size_t(r.width()) * std::size_t(depth);
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(to + stride * y + offset, from + stride * y + offset, bytes);
    }
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
    const std::size_t placed = std::min(data.Gauges.size(), layout.Gauges.size());
    const std::size_t entries = placed + 1;  // the gauges, then the clock
    const char sep = DecimalSeparator();

    // What every gauge and the clock is drawn from in this frame (in the
    // scratch of the marks, whose strings keep their room from frame to frame).
    std::vector<TGaugeLook>& looks = marks.NextLooks;
    looks.resize(entries);
    for (TGaugeLook& l : looks) {
        l.Drawn = false;
        l.Text.clear();
        l.Position = 0;
        l.Alarm = false;
    }
    for (std::size_t i = 0; i < placed; ++i) {
        const TPribor& g = data.Gauges[i];
        const TGaugeKindDraw* kind = GaugeKindDraw(layout.Gauges[i].Kind);
        TGaugeLook& l = looks[i];
        l.Gauge = g;
        if (!kind || !IsDrawn(g))
            continue;
        l.Drawn = true;
        l.Alarm = state.Alarm(i);
        if (!kind->picturesOnly) {
            const double v = state.ValueOf(g.FormulaIndex);
            l.Text = ValueText(v, sep);
            l.Position = ScalePosition(g, layout.Gauges[i], v);
        }
    }
    if (data.ClockVisible) {
        looks[placed].Drawn = true;
        looks[placed].Text = ClockText(now);
        looks[placed].Position = double(data.ClockColor);  // the clock's one setting not in the layout
    }

    const bool known = marks.Valid && !panelFrame.isNull() && SameShape(panelFrame, panelBackground) &&
                       panelFrame.cacheKey() == marks.FrameKey &&
                       panelBackground.cacheKey() == marks.BackgroundKey && marks.Drawn.size() == entries &&
                       marks.Looks.size() == entries;
    if (!known)
        CopyBackground(panelBackground, panelFrame);
    marks.Valid = false;
    if (panelFrame.isNull())
        return QRegion();

    Canvas c(&panelFrame);
    c.brushStyle = BrushStyle::Clear;
    c.fontFamily = QStringLiteral("Arial");
    c.fontBold = false;
    // Each gauge's and the clock's drawing is bounded on its own: one box
    // around all of them would cover most of the panel.
    QRect drawn;
    c.drawnBounds = &drawn;
    const QString noText;
    auto drawSlot = [&](std::size_t i) -> QRect {
        drawn = QRect();
        const TGaugeLook& l = looks[i];
        if (!l.Drawn)
            return drawn;
        if (i == placed) {
            c.fontColor = data.ClockColor;
            c.fontPointSize = std::max(1, RoundI(0.13 * layout.Clock.ScaledSize));
            c.textOut(layout.Clock.ScaledX, layout.Clock.ScaledY, l.Text);
            return drawn;
        }
        const TPribor& g = data.Gauges[i];
        const TGaugePlace& place = layout.Gauges[i];
        const TGaugeKindDraw* kind = GaugeKindDraw(place.Kind);
        if (kind->picturesOnly) {
            TGaugeLivePass pass{c, noText, 0, 0, l.Alarm};
            kind->live(pass, g, place);
            return drawn;
        }
        const int s = place.ScaledSize;
        c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
        c.fontPointSize = 0;
        c.fontColor = g.TextColor;
        c.penColor = g.NeedleColor;
        c.penWidth = std::max(1, RoundI(0.04 * s));
        TGaugeLivePass pass{c, l.Text, l.Position, c.textHeight(l.Text), l.Alarm};
        kind->live(pass, g, place);
        return drawn;
    };
    auto finish = [&](QRegion region) {
        marks.Looks.swap(looks);
        marks.FrameKey = panelFrame.cacheKey();
        marks.BackgroundKey = panelBackground.cacheKey();
        marks.Valid = true;
        return region;
    };

    if (!known) {
        marks.Drawn.assign(entries, QRect());
        for (std::size_t i = 0; i < entries; ++i)
            marks.Drawn[i] = drawSlot(i);
        return finish(QRegion(panelFrame.rect()));
    }

    // Drawn again: what changed, and whatever shares pixels with it (putting
    // its box back erases them; the background is put back and all of them
    // are drawn in order, as a whole frame would draw them).
    std::vector<bool> again(entries, false);
    bool any = false;
    for (std::size_t i = 0; i < entries; ++i)
        any |= again[i] = !(looks[i] == marks.Looks[i]);
    if (!any) {
        marks.Valid = true;
        marks.Looks.swap(looks);
        return QRegion();
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t k = 0; k < entries; ++k) {
            if (again[k] || marks.Drawn[k].isEmpty())
                continue;
            for (std::size_t j = 0; j < entries; ++j)
                if (again[j] && marks.Drawn[j].intersects(marks.Drawn[k])) {
                    again[k] = grew = true;
                    break;
                }
        }
    }
    std::vector<QRect>& before = marks.Before;
    before = marks.Drawn;
    RestoreBoxes(panelBackground, panelFrame, before, &again);
    std::vector<QRect> after(entries);
    bool reached = false;  // a new drawing reached a gauge that was not drawn again
    for (std::size_t i = 0; i < entries && !reached; ++i) {
        if (!again[i]) {
            after[i] = before[i];
            continue;
        }
        after[i] = drawSlot(i);
        if (after[i].isEmpty())
            continue;
        for (std::size_t k = 0; k < entries && !reached; ++k)
            reached = !again[k] && after[i].intersects(before[k]);
    }
    if (reached) {
        // Rare (a value text grew into a neighbour): the whole frame anew,
        // from every box there was.
        RestoreBoxes(panelBackground, panelFrame, before);
        RestoreBoxes(panelBackground, panelFrame, after);
        for (std::size_t i = 0; i < entries; ++i)
            after[i] = drawSlot(i);
        marks.Drawn = after;
        return finish(UnionOf(before, after, panelFrame.rect()));
    }
    std::vector<QRect> oldBoxes, newBoxes;
    for (std::size_t i = 0; i < entries; ++i)
        if (again[i]) {
            oldBoxes.push_back(before[i]);
            newBoxes.push_back(after[i]);
        }
    marks.Drawn = after;
    return finish(UnionOf(oldBoxes, newBoxes, panelFrame.rect()));
}

QRegion DrawPrib(const TAllData& data, const TRunState& state, const TPanelLayout& layout,
                 const QImage& panelBackground, QImage& panelFrame) {
    return DrawPrib(data, state, layout, panelBackground, panelFrame, QTime::currentTime());
}

}  // namespace kovra
