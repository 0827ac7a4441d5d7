// The gauge kinds and the one interface both layers of the panel draw them
// through. Each kind has a file of its own (gauge_kind_dial.cpp, ...) holding
// its background part, its live part and the one geometry both are drawn
// around, so the two halves of a gauge cannot drift apart. DrawPribBack and
// DrawPrib only set up the gauge's font and pen and hand over to its kind.
#pragma once

#include "config/model.h"
#include "display/canvas.h"
#include "display/gauge_back.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <filesystem>

namespace kovra {

// A gauge's kind, by the number "Вид" gives it in the settings file.
enum class TGaugeKind : std::uint8_t {
    Dial = 0,
    Bar = 1,
    Readout = 2,
    CaptionLamp = 3,
    IconLamp = 4,
};

inline bool IsKind(const TPribor& g, TGaugeKind k) { return g.Kind == std::uint8_t(k); }

// What a kind's background part is given. Unless the kind draws pictures
// only, the canvas already holds the gauge's font in its text colour and its
// scale pen, and th is the height of that font's text.
struct TGaugeBackPass {
    Canvas& canvas;
    const QImage& background;  // as it stands now: lamps capture it
    const std::filesystem::path& workingFolder;
    char separator;
    int th;
};

// What a kind's live part is given: the canvas on the frame with the gauge's
// font in its text colour and its needle pen (unless the kind draws pictures
// only), the value as shown, where it stands on the scale, th as above, and
// whether the gauge's alarm holds.
struct TGaugeLivePass {
    Canvas& canvas;
    const QString& text;
    double pos;
    int th;
    bool alarm;
};

// A kind's background part writes the gauge's scale positions and pictures
// into its place; its live part reads them.
struct TGaugeKindDraw {
    void (*back)(TGaugeBackPass&, const TPribor&, TGaugePlace&);
    void (*live)(TGaugeLivePass&, const TPribor&, const TGaugePlace&);
    // A kind that only copies ready pictures needs no font, no value text and
    // no drawable background (its pictures are still made, or given up on).
    bool picturesOnly = false;
};

// The drawing of a kind; null for a number that names no kind (drawn as nothing).
const TGaugeKindDraw* GaugeKindDraw(std::uint8_t kind);

extern const TGaugeKindDraw kDialDraw;
extern const TGaugeKindDraw kBarDraw;
extern const TGaugeKindDraw kReadoutDraw;
extern const TGaugeKindDraw kCaptionLampDraw;
extern const TGaugeKindDraw kIconLampDraw;

// --- the scale, shared by dials and bars ---------------------------------

// Graduation j of n between the scale's start b and end e.
inline double Along(double b, double e, double n, double j) { return (e - b) / n * j + b; }

// Where value v stands on g's scale, which runs from the place's ScaleStart
// at Minimum to its ScaleEnd at Maximum; not kept within the scale.
inline double PositionOf(const TPribor& g, const TGaugePlace& p, double v) {
    return (p.ScaleEnd - p.ScaleStart) / (double(g.Maximum) - double(g.Minimum)) *
               (v - double(g.Minimum)) + p.ScaleStart;
}

// The pen of the alarm zone, drawn over a scale of size s.
void SetAlarmPen(Canvas& c, int s);

}  // namespace kovra
