// The gauge panel's live layer: one frame per completed sample cycle, drawn
// over the background that DrawPribBack (gauge_back.h) made, at the places of
// its layout. Only the moving parts are drawn here: needles, bar carets, value
// texts, lamps and the clock. The finished frame is left in panelFrame for the
// window to copy to the screen in one block, so no half-drawn frame is ever
// shown.
//
// A frame is the background plus the moving parts, so only the boxes the last
// frame drew on need the background back; the whole background is copied
// only when the frame, the background or the layout is not the one the last
// frame was drawn with. Either way the frame is pixel for pixel the same.
// What a frame changed is what it restored and what it drew, so only that
// has to reach the screen.
#pragma once

#include "config/model.h"
#include "config/run_state.h"
#include "display/gauge_back.h"

#include <QImage>
#include <QLocale>
#include <QRegion>
#include <QString>
#include <QTime>

namespace kovra {

// Draws the frame for the gauges of data with their current values (the
// value in state of each gauge's formula) and alarm states, and the clock showing `now`, each where
// `layout` places it (a gauge the layout has no place for is not drawn). The
// frame takes the background's size. Values outside a scale pin the needle or
// caret to the scale's end while the text shows the real value; NaN (no
// reading) rests it at the scale's start.
//
// Returns the part of the frame whose pixels may differ from the frame before
// (the whole frame when it was copied whole): outside it the frame is as it
// was.
QRegion DrawPrib(const TAllData& data, const TRunState& state, const TPanelLayout& layout,
                 const QImage& panelBackground, QImage& panelFrame, const QTime& now);
// The same with the clock at the current local time.
QRegion DrawPrib(const TAllData& data, const TRunState& state, const TPanelLayout& layout,
                 const QImage& panelBackground, QImage& panelFrame);

// A gauge's value as shown: fixed point, 2 decimals, at most 7 significant
// digits (scientific beyond that).
QString ValueText(double v, char decimalSeparator);

// Where value v stands on the gauge's scale (radians for a dial, a pixel
// offset for a bar), kept between its place's ScaleStart and ScaleEnd.
double ScalePosition(const TPribor& g, const TGaugePlace& place, double v);

// The clock's text: the time of day with seconds, in the locale's long time
// format without the time zone that some locales add to it ("15:06:49 UTC").
QString ClockText(const QTime& t, const QLocale& locale = QLocale::system());

// A QLocale time format without its time zone fields ("t" to "tttt"), and
// without the brackets or the space that set the zone off.
QString TimeFormatWithoutZone(const QString& format);

}  // namespace kovra
