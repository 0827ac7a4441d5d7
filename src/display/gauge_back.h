// The gauge panel's background layer: the picture behind every gauge, redrawn
// only when the panel changes size. It also turns each gauge's and the clock's
// layout from panel units (one 444th of the panel's width) into pixels and
// works out the scale positions the live layer (gauge_live.h) reads.
//
// Nothing here touches a widget: the window passes the model, its panel colour,
// the panel's size, the working folder (back.jpg and icons/ live there) and the
// two pictures it owns.
#pragma once

#include "config/cp1251.h"

#include "config/model.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kovra {

// The size of the gauge image for a gauge tab whose client area is
// clientWidth wide: 18 pixels are left for the vertical scroll bar and the
// height is 9/16 of the width, rounded half to even. Never negative.
QSize PanelSize(int clientWidth);

// Rebuilds panelBackground (w x h, the panel colour, back.jpg stretched over
// it, the static parts of every gauge), resizes panelFrame to w x h, and
// writes the derived fields of every gauge (ScaledSize/X/Y, ScaleStart/End,
// AlarmPos, IconOn/IconOff) and of the clock. An icon lamp whose bitmap is
// missing or unreadable becomes a caption lamp for the rest of the run.
// Gauges marked Inert draw nothing. A back.jpg that cannot be decoded is
// treated as missing.
void DrawPribBack(TAllData& data, TColor panelColor, int w, int h,
                  const std::filesystem::path& workingFolder, QImage& panelBackground,
                  QImage& panelFrame);

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
