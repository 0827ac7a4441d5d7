// Caption lamp: nothing in the background; the caption in the live layer, in
// its text colour, red while the alarm holds.
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

namespace kovra {

namespace {

void Live(TGaugeLivePass& p, const TPribor& g, const TGaugePlace& place) {
    if (p.alarm)
        p.canvas.fontColor = 255;  // red
    p.canvas.textOut(place.ScaledX, place.ScaledY, FromCp1251(g.Name));
}

}  // namespace

const TGaugeKindDraw kCaptionLampDraw{nullptr, Live};

}  // namespace kovra
