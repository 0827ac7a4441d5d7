// Digital readout: the caption in the background, the value's first
// "Кол-воЦиврШк" characters below it, red while the alarm holds.
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

namespace kovra {

namespace {

struct ReadoutGeometry {
    ReadoutGeometry(const TGaugePlace& g, int th) : x0(g.ScaledX), y0(g.ScaledY), valueY(y0 + th) {}
    int x0, y0;  // the caption's cell
    int valueY;  // the value's cell, one text line below
};

void Back(TGaugeBackPass& p, const TPribor& g, TGaugePlace& place) {
    const ReadoutGeometry r(place, p.th);
    p.canvas.textOut(r.x0, r.y0, FromCp1251(g.Name));
}

void Live(TGaugeLivePass& p, const TPribor& g, const TGaugePlace& place) {
    const ReadoutGeometry r(place, p.th);
    if (p.alarm)
        p.canvas.fontColor = 255;  // red
    p.canvas.textOut(r.x0, r.valueY, p.text.left(g.LabelDigits));
}

}  // namespace

const TGaugeKindDraw kReadoutDraw{Back, Live};

}  // namespace kovra
