// Bar gauge: the caption, a straight scale with graduations and numerals,
// the value beside or below the caption and a caret whose tip touches the
// scale line. "Горизонтальный" off gives a horizontal scale (vertical marks),
// on a vertical one.
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

#include <utility>

namespace kovra {

namespace {

// All positions of a bar of size s at (x0, y0) whose font is th high. Scale
// positions (ScaleStart, ScaleEnd, a value's) are offsets from x0 across a
// horizontal scale and from y0 down a vertical one.
struct BarGeometry {
    BarGeometry(const TGaugePlace& g, int th)
        : s(g.ScaledSize), x0(g.ScaledX), y0(g.ScaledY), th(th),
          marksTop(y0 + 2 * th), line(marksTop + RoundI(0.07 * s)),
          minorTop(marksTop + RoundI(0.02 * s)), alarmRow(line + th),
          caretBase(Px(0.2 * s, y0) + 2 * th), column(Px(0.13 * s, x0)),
          majorEnd(Px(0.2 * s, x0)), minorEnd(Px(0.17 * s, x0)), numeralX(Px(0.23 * s, x0)),
          caretHalf(0.03 * s) {}

    // The scale's ends, minimum first, half a text line in from the bar's ends.
    std::pair<double, double> ends(bool vertical) const {
        return vertical ? std::pair{2.0 * s - 0.5 * th, 2.5 * th}
                        : std::pair{th / 2.0, 2.0 * s - th / 2.0};
    }

    int s, x0, y0, th;
    // Horizontal scale: rows. Major marks run from marksTop down to the scale
    // line, minor ones from minorTop; the caret stands on caretBase with its
    // tip on the line; the alarm zone lies one text line below the line.
    int marksTop, line, minorTop, alarmRow, caretBase;
    // Vertical scale: columns. The scale line (and the caret's tip) at column,
    // marks to majorEnd and minorEnd, numerals from numeralX.
    int column, majorEnd, minorEnd, numeralX;
    double caretHalf;  // half the caret's width along the scale
};

void Back(TGaugeBackPass& p, const TPribor& g, TGaugePlace& place) {
    Canvas& c = p.canvas;
    const BarGeometry bar(place, p.th);
    c.textOut(bar.x0, bar.y0, FromCp1251(g.Name));
    std::tie(place.ScaleStart, place.ScaleEnd) = bar.ends(g.Horizontal);
    if (g.Reverse)
        std::swap(place.ScaleStart, place.ScaleEnd);
    place.AlarmPos = PositionOf(g, place, g.AlarmLevel);
    const double b = place.ScaleStart, e = place.ScaleEnd;
    const int n = g.ScaleDivisions;

    if (!g.Horizontal) {
        c.line(Px(b, bar.x0), bar.line, Px(e, bar.x0), bar.line);
        for (int j = 0; j <= n; ++j) {
            const int x = Px(Along(b, e, n, j), bar.x0);
            c.line(x, bar.marksTop, x, bar.line);
            const QString text = ScaleNumeral(g, j, p.separator);
            if (!text.isEmpty())
                c.textOut(x - c.textWidth(text) / 2, bar.y0 + bar.th, text);
            if (j < n) {
                const int xm = Px(Along(b, e, n, j + 0.5), bar.x0);
                c.line(xm, bar.minorTop, xm, bar.line);
            }
        }
        SetAlarmPen(c, bar.s);
        if (g.AlarmEnabled)
            c.line(Px(place.AlarmPos, bar.x0), bar.alarmRow, Px(g.AlarmBelow ? b : e, bar.x0),
                   bar.alarmRow);
    } else {
        c.line(bar.column, Px(b, bar.y0), bar.column, Px(e, bar.y0));
        for (int j = 0; j <= n; ++j) {
            const int y = Px(Along(b, e, n, j), bar.y0);
            c.line(bar.column, y, bar.majorEnd, y);
            const QString text = ScaleNumeral(g, j, p.separator);
            if (!text.isEmpty())
                c.textOut(bar.numeralX, y - bar.th / 2, text);
            if (j < n) {
                const int ym = Px(Along(b, e, n, j + 0.5), bar.y0);
                c.line(bar.column, ym, bar.minorEnd, ym);
            }
        }
        SetAlarmPen(c, bar.s);
        if (g.AlarmEnabled)
            c.line(bar.column, Px(place.AlarmPos, bar.y0), bar.column,
                   Px(g.AlarmBelow ? b : e, bar.y0));
    }
}

void Live(TGaugeLivePass& p, const TPribor& g, const TGaugePlace& place) {
    Canvas& c = p.canvas;
    const BarGeometry bar(place, p.th);
    if (!g.Horizontal) {
        // The value on the caption's line, after the caption and two spaces.
        const int lw = c.textWidth(FromCp1251(g.Name) + QStringLiteral("  "));
        c.textOut(bar.x0 + lw, bar.y0, p.text);
        c.moveTo(Px(p.pos - bar.caretHalf, bar.x0), bar.caretBase);
        c.lineTo(Px(p.pos, bar.x0), bar.line);
        c.lineTo(Px(p.pos + bar.caretHalf, bar.x0), bar.caretBase);
    } else {
        c.textOut(bar.x0, bar.y0 + bar.th, p.text);
        c.moveTo(bar.x0, Px(p.pos - bar.caretHalf, bar.y0));
        c.lineTo(bar.column, Px(p.pos, bar.y0));
        c.lineTo(bar.x0, Px(p.pos + bar.caretHalf, bar.y0));
    }
}

}  // namespace

const TGaugeKindDraw kBarDraw{Back, Live};

}  // namespace kovra
