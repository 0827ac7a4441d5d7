// The chart tab: one value (X, the formula of a chosen strip chart, whose top
// value is X's full scale) against another (Y, a chosen formula), run by run.
// A run starts when X rises above an eighth of its full scale: the plot is
// cleared and, while X keeps rising, the curve is drawn point by point; when
// X stops rising, the run's largest Y is written in the top-left corner.
//
// The window owns the two pictures (the axis strip and the plot) and one
// TMomentSurfaces that draws on them; the plot's pen position is part of the
// chart's state and carries from one call to the next. GUI thread only.
#pragma once

#include "config/model.h"
#include "config/run_state.h"
#include "display/canvas.h"
#include "display/strip_chart.h"

#include <QImage>
#include <QSize>

#include <cstddef>
#include <optional>
#include <span>
#include <utility>

namespace kovra {

struct TMomentSurfaces {
    Canvas Axis;  // the strip with the X labels
    Canvas Plot;  // the plot area
};

// Attaches the surfaces to the two pictures with the toolkit's default
// attributes: white brush, black pen and text, an 8-point font.
void InitMomentSurfaces(TMomentSurfaces& s, QImage* axis, QImage* plot);

// The attributes borrowed from strip chart c: on the plot its bar colour as a
// 3-pixel pen, its font colour and size; on the axis strip its font colour for
// pen and text. Both brushes take the panel colour.
void SetupMomentSurfaces(TMomentSurfaces& s, const TStripChart& c, TColor panelColour);

// The plot's font height for a strip chart's font height h in pixels: the
// chart's size in points, taken back to pixels, as a font size handed from
// one font to another comes out.
int MomentFontHeight(int h);

// Brings both pictures to their controls' sizes, clears them, and labels the
// axis strip from 0 to chart c's top value. Without a chart, with a top value
// of 0, or with room for a single label, the strip stays empty.
void DrawMomentGrid(TMomentSurfaces& s, const TStripChart* c, QSize axisSize, QSize plotSize);

// One cycle's point: X the value in state of chart c's formula, Y that of
// d.MomentFormula, Y's full scale d.MomentYMax (taken unsigned); the chart
// tab's run carries on in state.Moment. Does nothing without a chart, or
// when either full scale is 0. A point whose coordinate is not a number is
// not drawn to (the pen stays); coordinates beyond the plot are clipped.
void DrawMoment(TMomentSurfaces& s, const TAllData& d, TRunState& state, const TStripChart* c);

// The same for the point (x, y), carrying on the run m; with draw false only
// the run's state and the pen move, nothing is painted: for points whose
// drawing a later clear of the plot wipes out anyway.
void DrawMomentPoint(TMomentSurfaces& s, const TAllData& d, TMomentState& m, const TStripChart* c, double x,
                     double y, bool draw);

// Of points (x, y) that DrawMoment would get in turn, starting from the run
// m: the last one whose drawing clears the plot (the first point of a run),
// or nullopt when none does.
std::optional<std::size_t> LastMomentClear(const TAllData& d, const TMomentState& m, const TStripChart* c,
                                           std::span<const std::pair<double, double>> points);

}  // namespace kovra
