// Round dial: a scale arc with graduations and numerals, a hub with the
// caption above it, the value below it and a needle through it.
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

#include <cmath>
#include <numbers>

namespace kovra {

namespace {

struct DialGeometry {
    // Fractions of the radius: the inner ends of the graduations (where the
    // needle's tip stops too), the numerals' centres and the needle's tail.
    static constexpr double kMajorInner = 0.9, kMinorInner = 0.95, kNumeral = 0.75,
                            kNeedleTip = kMajorInner, kNeedleTail = 0.2;

    explicit DialGeometry(const TGaugePlace& g)
        : s(g.ScaledSize), x0(g.ScaledX), y0(g.ScaledY), cx(x0 + s), cy(y0 + s), hub(s / 10) {}

    // The pixel at fraction k of the radius in direction a (radians, screen y down).
    int X(double a, double k) const { return Px(std::cos(a) * s * k, cx); }
    int Y(double a, double k) const { return Px(std::sin(a) * s * k, cy); }

    // The arc of the dial's circle from the ray through direction a to the
    // ray through direction b, counterclockwise on screen.
    void arc(Canvas& c, double a, double b) const {
        c.arc(x0, y0, x0 + 2 * s + 1, y0 + 2 * s + 1, cx + RoundI(100 * std::cos(a)),
              cy + RoundI(100 * std::sin(a)), cx + RoundI(100 * std::cos(b)),
              cy + RoundI(100 * std::sin(b)));
    }
    // A graduation in direction a, from the circle inward to fraction inner.
    void mark(Canvas& c, double a, double inner) const {
        c.line(X(a, 1), Y(a, 1), X(a, inner), Y(a, inner));
    }

    int s, x0, y0, cx, cy, hub;
};

void Back(TGaugeBackPass& p, const TPribor& g, TGaugePlace& place) {
    Canvas& c = p.canvas;
    const DialGeometry d(place);
    const double rad = -std::numbers::pi / 180;  // screen y points down
    const double a1 = g.StartAngle * rad, a2 = g.EndAngle * rad;
    place.ScaleStart = a1;
    place.ScaleEnd = a2;
    place.AlarmPos = PositionOf(g, place, g.AlarmLevel);
    const double al = place.AlarmPos;

    if (a1 > a2)
        d.arc(c, a1, a2);
    else
        d.arc(c, a2, a1);

    const int n = g.ScaleDivisions;
    for (int j = 0; j <= n; ++j) {
        const double a = Along(a1, a2, n, j);
        d.mark(c, a, DialGeometry::kMajorInner);
        const QString text = ScaleNumeral(g, j, p.separator);
        if (!text.isEmpty())
            c.textOut(d.X(a, DialGeometry::kNumeral) - c.textWidth(text) / 2,
                      d.Y(a, DialGeometry::kNumeral) - p.th / 2, text);
        if (j > 0)
            d.mark(c, Along(a1, a2, n, j - 0.5), DialGeometry::kMinorInner);
    }

    c.ellipse(d.cx - d.hub, d.cy - d.hub, d.cx + d.hub, d.cy + d.hub);
    const QString caption = FromCp1251(g.Name);
    c.textOut(d.cx - c.textWidth(caption) / 2, d.cy - p.th - d.hub, caption);

    SetAlarmPen(c, d.s);
    if (!g.AlarmEnabled)
        return;
    if (!g.AlarmBelow) {
        if (a1 < a2)
            d.arc(c, a2, al);
        else
            d.arc(c, al, a2);
    } else {
        if (a1 > a2)
            d.arc(c, a1, al);
        else
            d.arc(c, al, a1);
    }
}

void Live(TGaugeLivePass& p, const TPribor&, const TGaugePlace& place) {
    Canvas& c = p.canvas;
    const DialGeometry d(place);
    c.textOut(d.cx - c.textWidth(p.text) / 2, d.cy + d.hub, p.text);
    const double tail = p.pos + std::numbers::pi;
    c.line(d.X(tail, DialGeometry::kNeedleTail), d.Y(tail, DialGeometry::kNeedleTail),
           d.X(p.pos, DialGeometry::kNeedleTip), d.Y(p.pos, DialGeometry::kNeedleTip));
}

}  // namespace

const TGaugeKindDraw kDialDraw{Back, Live};

}  // namespace kovra
