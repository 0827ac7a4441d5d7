// The gauge panel's background layer: the picture behind every gauge, redrawn
// only when the panel changes size. The same pass lays the panel out: it turns
// each gauge's and the clock's settings from panel units (one 444th of the
// panel's width) into pixels, works out the scale positions and makes the
// icon lamps' pictures, all kept in a TPanelLayout beside the two pictures.
// The live layer (gauge_live.h) draws from the model and that layout; the
// model itself is only read.
//
// Nothing here touches a widget: the window passes the model, its panel colour,
// the panel's size, the working folder (back.jpg and icons/ live there), the
// two pictures it owns and its layout.
#pragma once

#include "config/cp1251.h"

#include "config/model.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kovra {

// The size of the gauge image for a gauge tab whose client area is
// clientWidth wide: 18 pixels are left for the vertical scroll bar and the
// height is 9/16 of the width, rounded half to even. Never negative.
QSize PanelSize(int clientWidth);

// Where and how one gauge is drawn on a panel of a given width.
struct TGaugePlace {
    // The kind drawn: the configured one, except that an icon lamp without a
    // readable bitmap is drawn as a caption lamp.
    std::uint8_t Kind = 0;
    std::uint16_t ScaledSize = 0;  // pixels
    std::uint16_t ScaledX = 0;
    std::uint16_t ScaledY = 0;
    // Scale positions of the minimum, the maximum and the alarm level: angles
    // in radians for a dial, pixel offsets for a bar.
    double ScaleStart = 0;
    double ScaleEnd = 0;
    double AlarmPos = 0;
    // An icon lamp's pictures, made over the background: shown while the
    // alarm does not hold (IconOff) and while it does (IconOn).
    QImage IconOff;
    QImage IconOn;
};

struct TClockPlace {
    std::uint16_t ScaledSize = 0;
    std::uint16_t ScaledX = 0;
    std::uint16_t ScaledY = 0;
};

// What the last frame drew over the background, so that the next one has
// only those boxes to restore. Valid only for the very frame and background
// it was taken on: their cache keys change with any write to either picture.
// What a gauge (or the clock) was drawn from: a frame draws it again only
// when this changed, or when a neighbour's drawing reaches into its box.
struct TGaugeLook {
    TPribor Gauge;  // its settings, which the live layer reads too
    bool Drawn = false;
    QString Text;
    double Position = 0;
    bool Alarm = false;
    bool operator==(const TGaugeLook&) const = default;
};

struct TFrameMarks {
    qint64 FrameKey = 0;
    qint64 BackgroundKey = 0;
    std::vector<QRect> Drawn;  // within the frame, one per gauge and the clock last (empty: nothing)
    std::vector<TGaugeLook> Looks;  // the same slots
    std::vector<TGaugeLook> NextLooks;  // scratch: this frame's, while it is drawn
    bool Valid = false;
    std::vector<QRect> Before;  // scratch: the boxes of the frame before, while a frame is drawn
};

struct TPanelLayout {
    std::vector<TGaugePlace> Gauges;  // one per gauge of the model, in order
    TClockPlace Clock;
    // Bookkeeping of the live layer, not part of the layout: a layout is
    // drawn from as a const record, and the marks only spare work.
    mutable TFrameMarks Marks;
};

// Rebuilds panelBackground (w x h, the panel colour, back.jpg stretched over
// it, the static parts of every gauge), resizes panelFrame to w x h, and lays
// the panel out into `out` (one place per gauge and the clock's). An icon
// lamp whose bitmap is missing or unreadable is drawn as a caption lamp, and
// stays one in every later layout made into the same `out` for the same
// gauges: a bitmap added while the program runs is not picked up. Gauges
// marked Inert draw nothing. A back.jpg that cannot be decoded is treated as
// missing.
void DrawPribBack(const TAllData& data, TColor panelColor, int w, int h,
                  const std::filesystem::path& workingFolder, QImage& panelBackground,
                  QImage& panelFrame, TPanelLayout& out);

// The text of scale numeral j of a dial or bar gauge: the graduation's value in
// general format, cut to the gauge's LabelDigits characters.
QString ScaleNumeral(const TPribor& g, int j, char decimalSeparator);

// --- helpers the two layers share -------------------------------------------

// Round half to even into an int. NaN gives 0; values beyond int's range take
// its nearest end, so any double gives a defined coordinate.
int RoundI(double v);

// Round(v) + base, the way every drawn position is formed, saturating instead
// of overflowing when v lies far outside the panel (an alarm level of 1e300).
int Px(double v, int base);

// A setting in panel units as pixels of a panel w pixels wide, kept within the
// 16 bits the model stores (a gauge that far out is off the panel anyway).
std::uint16_t PanelUnitsToPixels(int w, int units);

// CP1251 bytes (as the settings file holds captions) as text.
inline QString FromCp1251(const std::string& bytes) { return Cp1251ToQString(bytes); }

// Whether a gauge is drawn at all: not made inert by the loader and, for a dial
// or bar, with a scale to divide (a model built by hand may lack the loader's
// check).
bool IsDrawn(const TPribor& g);

}  // namespace kovra
