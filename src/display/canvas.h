// Drawing on off-screen pictures with the conventions every display here uses:
//  - a line from A to B paints A and every pixel toward B, but not B;
//  - a rectangle or circle box (x1, y1)-(x2, y2) excludes column x2 and row y2;
//  - an arc is part of the circle (ellipse) inscribed in its box, running
//    counterclockwise on screen from the ray through its start point to the
//    ray through its end point; equal rays give the full circle;
//  - text is placed by the top-left corner of its cell;
//  - colours are 0x00BBGGRR, and 0xFF0000xx names a desktop palette colour.
// Lines, arcs, fills and copies are not antialiased: positions are exact
// pixels. Text is smoothed in grayscale, the ink laid over the picture in
// proportion to each pixel's coverage, but never outside its cell.
//
// Pens: width 0 or 1 draws one-pixel lines (step i along the major axis puts
// the minor axis at round(i * minor / major), halves toward the end) and
// one-pixel outlines of the pixels nearest the ellipse. Wider pens work like
// Windows geometric pens: the stroke is centred on the pixel centres of the
// path, with round caps and joins, so both ends of a wide line are covered.
// A zero-length line paints nothing.
//
// Fonts: a positive fontPixelHeight is the height of the character cell
// (ascent + descent, as a positive Windows character height selects); a
// negative one is the em height. fontPointSize > 0 sets the em height to
// pt * 96 / 72 pixels (rounded), the screen's resolution being fixed at 96 dpi
// so that pictures do not depend on the desktop.
// Measuring or drawing text needs a QGuiApplication.
//
// System colours come from the running QGuiApplication's palette where it has
// an equivalent, otherwise from the Windows classic scheme.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>

namespace kovra {

using TColor = std::uint32_t;

// 0x00BBGGRR (or a system colour index) to a QColor.
QColor ToQColor(TColor c);

enum class BrushStyle { Solid, Clear };
enum class CopyMode { Copy, And, Or };

// The picture format every canvas uses; block copies between pictures of
// this format are plain memory copies.
inline constexpr QImage::Format kPictureFormat = QImage::Format_RGB32;

class Canvas {
public:
    Canvas() = default;
    explicit Canvas(QImage* image) : img_(image) {}
    void attach(QImage* image) { img_ = image; }
    QImage* image() const { return img_; }

    // Pen, brush, font: state as on a GDI device context.
    TColor penColor = 0;
    int penWidth = 1;
    TColor brushColor = 0xFFFFFF;
    BrushStyle brushStyle = BrushStyle::Solid;
    QString fontFamily = QStringLiteral("Arial");
    int fontPixelHeight = 10;  // character cell height in pixels, used when fontPointSize <= 0
    int fontPointSize = 0;     // > 0: size in points (at 96 dpi)
    bool fontBold = false;
    TColor fontColor = 0;
    // When set, every drawing call adds to it a box, within the picture,
    // holding every pixel the call may have changed.
    QRect* drawnBounds = nullptr;

    void moveTo(int x, int y) { penX_ = x; penY_ = y; }
    void lineTo(int x, int y);  // from the pen position, end excluded; the pen moves there
    void line(int x1, int y1, int x2, int y2) { moveTo(x1, y1); lineTo(x2, y2); }
    void fillRect(int x1, int y1, int x2, int y2);  // brush colour, right/bottom excluded
    void fillRect(int x1, int y1, int x2, int y2, TColor c);
    void ellipse(int x1, int y1, int x2, int y2);   // outline with the pen, filled with a solid brush
    void arc(int x1, int y1, int x2, int y2, int sx, int sy, int ex, int ey);
    void textOut(int x, int y, const QString& text);  // solid brush paints the cell
    int textWidth(const QString& text) const;
    int textHeight(const QString& text) const;
    QFont font() const;

    // Stretch src over the box (x1, y1)-(x2, y2).
    void stretchDraw(int x1, int y1, int x2, int y2, const QImage& src);
    // Copy the w x h block of src at (sx, sy) to (dx, dy) with the given raster operation.
    void copyRect(int dx, int dy, int w, int h, const QImage& src, int sx, int sy,
                  CopyMode mode = CopyMode::Copy);

    int penX() const { return penX_; }
    int penY() const { return penY_; }

private:
    // Adds the box (x1, y1)-(x2, y2), right and bottom excluded, to drawnBounds.
    void mark(long long x1, long long y1, long long x2, long long y2) const;

    QImage* img_ = nullptr;
    int penX_ = 0, penY_ = 0;
};

// Texts made only of digits, number signs, "E", "INF" and "NAN" are drawn
// from cached glyph coverage, pixel for pixel as the font engine draws them;
// switching the cache off sends every text through the font engine.
void SetGlyphCacheEnabled(bool on);

// A new picture of w x h filled with c.
QImage MakePicture(int w, int h, TColor fill);
// Two-colour mask: pixels of colour `transparent` become white, all others black.
QImage MakeMask(const QImage& src, TColor transparent);

}  // namespace kovra
