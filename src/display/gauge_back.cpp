#include "display/gauge_back.h"

#include "config/cp1251.h"

#include "config/format.h"
#include "display/canvas.h"
#include "display/jpeg_decode.h"
#include "display/gauge_kind.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kovra {

int RoundI(double v) {
    if (std::isnan(v))
        return 0;
    constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    const double r = std::nearbyint(v);  // the default rounding: to nearest, halves to even
    return r <= lo ? std::numeric_limits<int>::min()
           : r >= hi ? std::numeric_limits<int>::max()
                     : static_cast<int>(r);
}

int Px(double v, int base) {
    const long long sum = (long long)RoundI(v) + base;
    return int(std::clamp<long long>(sum, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()));
}

std::uint16_t PanelUnitsToPixels(int w, int units) {
    return static_cast<std::uint16_t>(std::clamp(RoundI(w / 444.0 * units), 0, 65535));
}

QSize PanelSize(int clientWidth) {
    const int w = std::max(0, clientWidth - 18);
    return QSize(w, RoundI(w * 0.5625));
}

bool IsDrawn(const TPribor& g) {
    if (g.Inert)
        return false;
    if (IsKind(g, TGaugeKind::Dial) || IsKind(g, TGaugeKind::Bar))
        return g.Maximum != g.Minimum && g.ScaleDivisions > 0;
    return true;
}

QString ScaleNumeral(const TPribor& g, int j, char decimalSeparator) {
    if (g.LabelDigits == 0)
        return {};
    const double value =
        (double(g.Maximum) - double(g.Minimum)) / g.ScaleDivisions * j + double(g.Minimum);
    return QString::fromStdString(FormatGeneral(value, decimalSeparator)).left(g.LabelDigits);
}

void DrawPribBack(const TAllData& data, TColor panelColor, int w, int h,
                  const std::filesystem::path& workingFolder, QImage& panelBackground,
                  QImage& panelFrame, TPanelLayout& out) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (panelFrame.size() != QSize(w, h) || panelFrame.format() != kPictureFormat)
        panelFrame = MakePicture(w, h, panelColor);

    panelBackground = MakePicture(w, h, panelColor);
    const bool drawable = !panelBackground.isNull();
    Canvas c(&panelBackground);
    c.brushColor = panelColor;
    c.brushStyle = BrushStyle::Clear;
    c.fontFamily = QStringLiteral("Arial");
    c.fontBold = false;

    if (drawable) {
        const QImage picture = DecodeJpegFile(QDir(workingFolder).filePath(QStringLiteral("back.jpg")));
        if (!picture.isNull())
            c.stretchDraw(0, 0, w, h, picture);
    }

    // An icon lamp given up on in an earlier layout of these gauges stays a
    // caption lamp.
    const std::vector<TGaugePlace> earlier = std::move(out.Gauges);
    const bool sameGauges = earlier.size() == data.Gauges.size();
    out.Gauges.assign(data.Gauges.size(), TGaugePlace{});
    out.Marks = TFrameMarks{};

    TGaugeBackPass pass{c, panelBackground, workingFolder, DecimalSeparator(), 0};
    for (std::size_t i = 0; i < data.Gauges.size(); ++i) {
        const TPribor& g = data.Gauges[i];
        TGaugePlace& place = out.Gauges[i];
        place.Kind = g.Kind;
        if (sameGauges && IsKind(g, TGaugeKind::IconLamp) &&
            earlier[i].Kind == std::uint8_t(TGaugeKind::CaptionLamp))
            place.Kind = std::uint8_t(TGaugeKind::CaptionLamp);
        const int s = place.ScaledSize = PanelUnitsToPixels(w, g.Size);
        place.ScaledX = PanelUnitsToPixels(w, g.X);
        place.ScaledY = PanelUnitsToPixels(w, g.Y);
        const TGaugeKindDraw* kind = GaugeKindDraw(place.Kind);
        if (!kind || !kind->back || !IsDrawn(g))
            continue;
        if (!kind->picturesOnly) {
            if (!drawable)
                continue;
            c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
            c.fontPointSize = 0;
            c.fontColor = g.TextColor;
            c.penWidth = std::max(1, RoundI(0.013 * s));
            c.penColor = g.ScaleColor;
            pass.th = c.textHeight(QStringLiteral("0"));
        }
        kind->back(pass, g, place);
    }

    out.Clock.ScaledSize = PanelUnitsToPixels(w, data.ClockSize);
    out.Clock.ScaledX = PanelUnitsToPixels(w, data.ClockX);
    out.Clock.ScaledY = PanelUnitsToPixels(w, data.ClockY);
}

}  // namespace kovra
