#include "display/gauge_kind.h"

#include "display/gauge_back.h"

#include <algorithm>

namespace kovra {

const TGaugeKindDraw* GaugeKindDraw(std::uint8_t kind) {
    switch (TGaugeKind(kind)) {
    case TGaugeKind::Dial: return &kDialDraw;
    case TGaugeKind::Bar: return &kBarDraw;
    case TGaugeKind::Readout: return &kReadoutDraw;
    case TGaugeKind::CaptionLamp: return &kCaptionLampDraw;
    case TGaugeKind::IconLamp: return &kIconLampDraw;
    }
    return nullptr;
}

void SetAlarmPen(Canvas& c, int s) {
    c.penWidth = std::max(1, RoundI(0.03 * s));
    c.penColor = 255;  // red
}

}  // namespace kovra
