#include "display/canvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>
#include <numbers>
#include <optional>
#include <vector>

namespace kovra {

namespace {

// Desktop colours of the Windows classic scheme, by system colour index, as
// 0x00BBGGRR. Used when no GUI application (and so no palette) exists.
constexpr std::array<TColor, 31> kClassicSystemColours = {
    0xC8D0D4,  //  0 scroll bar
    0xA56E3A,  //  1 desktop
    0x6A240A,  //  2 active caption
    0x808080,  //  3 inactive caption
    0xC8D0D4,  //  4 menu
    0xFFFFFF,  //  5 window
    0x000000,  //  6 window frame
    0x000000,  //  7 menu text
    0x000000,  //  8 window text
    0xFFFFFF,  //  9 caption text
    0xC8D0D4,  // 10 active border
    0xC8D0D4,  // 11 inactive border
    0x808080,  // 12 application workspace
    0x6A240A,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xC8D0D4,  // 15 button face
    0x808080,  // 16 button shadow
    0x808080,  // 17 grey text
    0x000000,  // 18 button text
    0xC8D0D4,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x404040,  // 21 3-D dark shadow
    0xC8D0D4,  // 22 3-D light
    0x000000,  // 23 tooltip text
    0xE1FFFF,  // 24 tooltip background
    0xB5B5B5,  // 25 (unused index)
    0x800000,  // 26 hot-tracked item
    0xF0CAA6,  // 27 active caption gradient
    0xC0C0C0,  // 28 inactive caption gradient
    0x6A240A,  // 29 menu highlight
    0xC8D0D4,  // 30 menu bar
};

QColor FromBgr(TColor c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// The running application's palette entry for a system colour index, where
// the desktop has an equivalent.
bool PaletteColour(unsigned index, QColor& out)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case 2: case 13: case 29: out = pal.color(QPalette::Highlight); return true;
    case 4: case 15: case 22: case 30: out = pal.color(QPalette::Button); return true;
    case 5: out = pal.color(QPalette::Base); return true;
    case 7: out = pal.color(QPalette::WindowText); return true;
    case 8: out = pal.color(QPalette::Text); return true;
    case 14: out = pal.color(QPalette::HighlightedText); return true;
    case 16: out = pal.color(QPalette::Mid); return true;
    case 17: out = pal.color(QPalette::Disabled, QPalette::Text); return true;
    case 18: out = pal.color(QPalette::ButtonText); return true;
    case 20: out = pal.color(QPalette::Light); return true;
    case 21: out = pal.color(QPalette::Shadow); return true;
    case 23: out = pal.color(QPalette::ToolTipText); return true;
    case 24: out = pal.color(QPalette::ToolTipBase); return true;
    case 26: out = pal.color(QPalette::Link); return true;
    default: return false;
    }
}

bool IsDirect(const QImage& img)
{
    const auto f = img.format();
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
}

// An opaque colour as the 32-bit word the direct formats store.
QRgb Word(TColor c) { return ToQColor(c).rgb() | 0xFF000000u; }

// Liang-Barsky clip of the segment (x1, y1)-(x2, y2) to the box [lo, hi] on
// both axes. False when nothing of the segment lies inside.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, double xlo, double ylo,
                 double xhi, double yhi)
{
    double t0 = 0, t1 = 1;
    const double dx = x2 - x1, dy = y2 - y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - xlo, xhi - x1, y1 - ylo, yhi - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const double nx1 = x1 + t0 * dx, ny1 = y1 + t0 * dy;
    const double nx2 = x1 + t1 * dx, ny2 = y1 + t1 * dy;
    x1 = nx1; y1 = ny1; x2 = nx2; y2 = ny2;
    return true;
}

// Coordinates beyond this are brought in by clipping first, so that the
// integer step arithmetic below cannot overflow.
constexpr long long kCoordLimit = 1 << 24;
// Ellipses up to this size are traced pixel by pixel (one span per row);
// larger ones, far beyond any picture, go to the painter.
constexpr long long kTracedEllipse = 1 << 14;

struct Plotter {
    Plotter(QImage& image, TColor c)
        : img(image), word(Word(c)), colour(ToQColor(c)), direct(IsDirect(image)),
          bits(direct ? image.bits() : nullptr), stride(image.bytesPerLine()),
          w(image.width()), h(image.height())
    {
    }
    QImage& img;
    QRgb word;
    QColor colour;
    bool direct;
    uchar* bits;
    qsizetype stride;
    int w, h;

    void plot(long long x, long long y) const
    {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        if (direct)
            reinterpret_cast<QRgb*>(bits + stride * y)[x] = word;
        else
            img.setPixelColor(int(x), int(y), colour);
    }
    void span(long long xa, long long xb, long long y) const  // inclusive
    {
        if (y < 0 || y >= h)
            return;
        xa = std::max<long long>(xa, 0);
        xb = std::min<long long>(xb, w - 1);
        for (long long x = xa; x <= xb; ++x)
            plot(x, y);
    }
};

// One-pixel line from (x1, y1) toward (x2, y2), end excluded. Step i along
// the major axis puts the minor axis at round(i * minor / major), halves
// toward the end point; only the steps inside the picture are visited.
void ThinLine(const Plotter& p, long long x1, long long y1, long long x2, long long y2)
{
    const long long dx = x2 - x1, dy = y2 - y1;
    const long long adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    const bool xMajor = adx >= ady;
    const long long n = xMajor ? adx : ady;
    if (n == 0)
        return;
    const long long minor = xMajor ? ady : adx;
    // Steps whose major coordinate lies inside the picture.
    const long long start = xMajor ? x1 : y1;
    const int s = xMajor ? sx : sy;
    const long long extent = xMajor ? p.w : p.h;
    long long i0 = 0, i1 = n - 1;
    if (s > 0) {
        i0 = std::max(i0, -start);
        i1 = std::min(i1, extent - 1 - start);
    } else {
        i0 = std::max(i0, start - (extent - 1));
        i1 = std::min(i1, start);
    }
    for (long long i = i0; i <= i1; ++i) {
        const long long m = (2 * i * minor + n) / (2 * n);
        if (xMajor)
            p.plot(x1 + sx * i, y1 + sy * m);
        else
            p.plot(x1 + sx * m, y1 + sy * i);
    }
}

// The box of an ellipse or arc, given by two corners in any order, as its
// top-left corner and size (its right column and bottom row are not part of
// it); nothing when there is no picture or the box is empty.
struct Box {
    int x, y;
    long long w, h;
};

std::optional<Box> DrawableBox(const QImage* img, int x1, int y1, int x2, int y2)
{
    if (!img || img->isNull())
        return std::nullopt;
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    const Box box{x1, y1, (long long)x2 - x1, (long long)y2 - y1};
    if (box.w <= 0 || box.h <= 0)
        return std::nullopt;
    return box;
}

QPainter::CompositionMode Opaque() { return QPainter::CompositionMode_Source; }

// A painter set up for exact, unsmoothed drawing of lines, arcs and pictures.
void PreparePainter(QPainter& pt)
{
    pt.setRenderHint(QPainter::Antialiasing, false);
    pt.setRenderHint(QPainter::TextAntialiasing, false);
    pt.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

// Text is smoothed in grayscale, as the desktop draws it: the font engine
// gives each pixel's coverage (0 to 255), and the ink is laid over the
// picture in proportion to it. Coverage is rendered into a transparent
// scratch picture, where the alpha of white ink is the coverage itself.
QImage RenderCoverage(const QFont& font, int w, int h, int penX, int baseline, const QString& text)
{
    QImage tmp(std::max(1, w), std::max(1, h), QImage::Format_ARGB32_Premultiplied);
    tmp.fill(Qt::transparent);
    QPainter pt(&tmp);
    pt.setRenderHint(QPainter::TextAntialiasing, true);
    pt.setFont(font);
    pt.setPen(Qt::white);
    pt.drawText(QPoint(penX, baseline), text);
    return tmp;
}

// x * a / 255, rounded the way the font engine combines the coverage of
// glyphs that share a pixel.
inline unsigned MulCoverage(unsigned x, unsigned a)
{
    const unsigned t = x * a;
    return (t + (t >> 8) + 0x80) >> 8;
}

// Coverage c laid over coverage a, as one glyph over another.
inline std::uint8_t OverCoverage(std::uint8_t a, std::uint8_t c)
{
    return c == 0 ? a : c == 255 ? 255 : std::uint8_t(c + MulCoverage(a, 255 - c));
}

// Ink over the picture's pixel in proportion to coverage a.
inline QRgb BlendInk(QRgb dst, QRgb ink, unsigned a)
{
    if (a == 255)
        return ink;
    const unsigned b = 255 - a;
    auto channel = [&](int shift) {
        // t / 255 rounded, without a division.
        const unsigned t = ((ink >> shift) & 0xFF) * a + ((dst >> shift) & 0xFF) * b + 128;
        return ((t + (t >> 8)) >> 8) << shift;
    };
    return 0xFF000000u | channel(16) | channel(8) | channel(0);
}

QPen WidePen(TColor c, int width)
{
    QPen pen(ToQColor(c));
    pen.setWidth(width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Row spans of the ellipse inscribed in a box of bw x bh pixels at (x1, y1):
// the pixels whose centres lie within the ellipse through the centres of the
// box's outer pixels, widened by half a pixel.
struct EllipseRows {
    double cx = 0, cy = 0;
    std::vector<int> left, right;  // per row, absolute x; left > right: empty
};

EllipseRows MakeEllipseRows(int x1, int y1, int bw, int bh)
{
    EllipseRows e;
    e.cx = x1 + (bw - 1) / 2.0;
    e.cy = y1 + (bh - 1) / 2.0;
    const double a = (bw - 1) / 2.0 + 0.5, b = (bh - 1) / 2.0 + 0.5;
    e.left.resize(std::size_t(bh));
    e.right.resize(std::size_t(bh));
    for (int r = 0; r < bh; ++r) {
        const double t = (y1 + r - e.cy) / b;
        const double dx = a * std::sqrt(std::max(0.0, 1.0 - t * t));
        int l = int(std::ceil(e.cx - dx - 1e-9));
        int rr = int(std::floor(e.cx + dx + 1e-9));
        l = std::max(l, x1);
        rr = std::min(rr, x1 + bw - 1);
        e.left[std::size_t(r)] = l;
        e.right[std::size_t(r)] = rr;
    }
    return e;
}

// The outline pixels of an ellipse: in each row the run from the row's edge
// to where the narrower neighbouring row begins, so the outline has no gaps.
template <typename Visit>
void ForEachOutlinePixel(const EllipseRows& e, int y1, Visit visit)
{
    const int bh = int(e.left.size());
    for (int r = 0; r < bh; ++r) {
        const int l = e.left[std::size_t(r)], rr = e.right[std::size_t(r)];
        if (l > rr)
            continue;
        auto narrowerLeft = [&](int k) { return k < 0 || k >= bh ? rr + 1 : e.left[std::size_t(k)]; };
        auto narrowerRight = [&](int k) { return k < 0 || k >= bh ? l - 1 : e.right[std::size_t(k)]; };
        const int leftEnd = std::min(rr, std::max(l, std::max(narrowerLeft(r - 1), narrowerLeft(r + 1)) - 1));
        const int rightStart = std::max(l, std::min(rr, std::min(narrowerRight(r - 1), narrowerRight(r + 1)) + 1));
        for (int x = l; x <= leftEnd; ++x)
            visit(x, y1 + r);
        for (int x = std::max(rightStart, leftEnd + 1); x <= rr; ++x)
            visit(x, y1 + r);
    }
}

// Angle of a point seen from the centre, counterclockwise on screen, in [0, 2pi).
double ScreenAngle(double x, double y, double cx, double cy)
{
    double a = std::atan2(-(y - cy), x - cx);
    if (a < 0)
        a += 2 * std::numbers::pi;
    return a;
}

double CcwDistance(double from, double to)
{
    double d = to - from;
    while (d < 0)
        d += 2 * std::numbers::pi;
    while (d >= 2 * std::numbers::pi)
        d -= 2 * std::numbers::pi;
    return d;
}

// Font metrics are costly to look up: resolved fonts are kept per family,
// height and style.
struct FontKey {
    QString family;
    int pixelHeight;
    int pointSize;
    bool bold;
    bool operator==(const FontKey&) const = default;
};

struct ResolvedFont {
    QFont font;
    int ascent = 0;
    int cellHeight = 0;
};

QFont BaseFont(const QString& family, bool bold, int emPixels)
{
    QFont f(family);
    f.setPixelSize(std::max(1, emPixels));
    f.setBold(bold);
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setKerning(false);
    return f;
}

// Pixel heights are cell heights (ascent + descent, the way a positive
// character height selects a Windows font); point sizes set the em square at
// 96 dpi. The em size for a cell height is the largest whose cell is not
// taller than asked, and the cell is then taken as exactly the height asked.
ResolvedFont Resolve(const FontKey& k)
{
    ResolvedFont r;
    if (k.pointSize > 0) {
        const int em = int(std::min<long long>((static_cast<long long>(k.pointSize) * 96 + 36) / 72, 4096));
        r.font = BaseFont(k.family, k.bold, em);
        const QFontMetrics fm(r.font);
        r.ascent = fm.ascent();
        r.cellHeight = fm.ascent() + fm.descent();
        return r;
    }
    const int h = std::clamp(k.pixelHeight < 0 ? -k.pixelHeight : k.pixelHeight, 1, 4096);
    if (k.pixelHeight < 0) {  // negative: em height, as a Windows font takes it
        r.font = BaseFont(k.family, k.bold, h);
        const QFontMetrics fm(r.font);
        r.ascent = fm.ascent();
        r.cellHeight = fm.ascent() + fm.descent();
        return r;
    }
    const QFontMetricsF ref(BaseFont(k.family, k.bold, 1000));
    const double ratio = (ref.ascent() + ref.descent()) / 1000.0;
    int em = std::max(1, int(std::lround(h / (ratio > 0 ? ratio : 1.0))));
    auto cell = [&](int e) {
        const QFontMetrics fm(BaseFont(k.family, k.bold, e));
        return fm.ascent() + fm.descent();
    };
    while (em > 1 && cell(em) > h)
        --em;
    while (cell(em + 1) <= h)
        ++em;
    r.font = BaseFont(k.family, k.bold, em);
    const QFontMetrics fm(r.font);
    r.ascent = fm.ascent() + (h - (fm.ascent() + fm.descent())) / 2;
    r.cellHeight = h;
    return r;
}

// Texts of digits and number signs (the values every display redraws on
// every cycle) are composed from cached glyph masks instead of going through
// text layout each time. Kerning is off and these characters form no
// ligatures, so a glyph's pixels depend only on its pen position; a font
// whose advances are not whole pixels keeps the ordinary path.
constexpr std::string_view kCachedGlyphs = "0123456789.,+-: EINAF";
bool g_glyphCacheEnabled = true;

bool Cacheable(const QString& text)
{
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u >= 0x80 || kCachedGlyphs.find(char(u)) == std::string_view::npos)
            return false;
    }
    return true;
}

struct GlyphMask {
    int advance = 0;
    int left = 0;   // first column of ink, from the pen position
    int width = 0;  // columns of ink
    std::vector<std::uint8_t> ink;  // coverage, width x cell height, row by row
};

struct FontEntry {
    FontKey key;
    ResolvedFont font;
    bool glyphsUsable = false;
    std::array<GlyphMask, 128> glyphs;
    std::array<bool, 128> made{};

    const GlyphMask& glyph(char16_t u)
    {
        if (!made[u]) {
            made[u] = true;
            GlyphMask& g = glyphs[u];
            const QString s(QChar{u});
            const QFontMetrics fm(font.font);
            g.advance = fm.horizontalAdvance(s);
            const int margin = font.cellHeight + 2;
            const QImage tmp = RenderCoverage(font.font, g.advance + 2 * margin, font.cellHeight,
                                              margin, font.ascent, s);
            auto coverage = [&](int x, int y) { return std::uint8_t(qAlpha(tmp.pixel(x, y))); };
            int lo = tmp.width(), hi = -1;
            for (int y = 0; y < tmp.height(); ++y)
                for (int x = 0; x < tmp.width(); ++x)
                    if (coverage(x, y)) {
                        lo = std::min(lo, x);
                        hi = std::max(hi, x);
                    }
            if (hi >= lo) {
                g.left = lo - margin;
                g.width = hi - lo + 1;
                g.ink.assign(std::size_t(g.width) * std::size_t(tmp.height()), 0);
                for (int y = 0; y < tmp.height(); ++y)
                    for (int x = 0; x < g.width; ++x)
                        g.ink[std::size_t(y) * std::size_t(g.width) + std::size_t(x)] =
                            coverage(lo + x, y);
            }
        }
        return glyphs[u];
    }

    // Whole texts the glyphs cannot make (a Cyrillic caption, say), as the
    // font engine draws them into a cell at its origin: a caption drawn every
    // frame is shaped and rendered once. The width is the font's advance.
    struct TextMask {
        QString text;
        int width = 0;
        std::vector<std::uint8_t> cover;  // width x cellHeight, empty until drawn
    };
    std::vector<TextMask> texts;

    TextMask& text(const QString& t)
    {
        for (TextMask& m : texts)
            if (m.text == t)
                return m;
        // A handful of captions per font; values that change every frame
        // would only churn, so the list starts over when full.
        if (texts.size() >= 32)
            texts.clear();
        texts.push_back({t, QFontMetrics(font.font).horizontalAdvance(t), {}});
        return texts.back();
    }
    const std::vector<std::uint8_t>& cover(TextMask& m)
    {
        if (m.cover.empty() && m.width > 0 && font.cellHeight > 0) {
            const QImage tmp = RenderCoverage(font.font, m.width, font.cellHeight, 0, font.ascent, m.text);
            m.cover.resize(std::size_t(m.width) * std::size_t(font.cellHeight));
            for (int y = 0; y < font.cellHeight; ++y) {
                const QRgb* in = reinterpret_cast<const QRgb*>(tmp.constScanLine(y));
                for (int k = 0; k < m.width; ++k)
                    m.cover[std::size_t(y) * std::size_t(m.width) + std::size_t(k)] = std::uint8_t(qAlpha(in[k]));
            }
        }
        return m.cover;
    }
};

FontEntry& CachedEntry(const FontKey& key)
{
    // Never destroyed: fonts must not outlive the application's font database.
    static auto& cache = *new std::vector<std::unique_ptr<FontEntry>>;
    for (auto& e : cache)
        if (e->key == key)
            return *e;
    if (cache.size() > 64)
        cache.clear();
    auto e = std::make_unique<FontEntry>();
    e->key = key;
    e->font = Resolve(key);
    const QFontMetricsF fm(e->font.font);
    // Larger fonts are drawn by the font engine as one outline, where glyphs
    // that share a pixel merge differently from glyph images laid one over
    // another.
    e->glyphsUsable = e->font.cellHeight > 0 && e->font.cellHeight <= 512 &&
                      e->font.font.pixelSize() <= 64;
    for (char c : kCachedGlyphs) {
        const double adv = fm.horizontalAdvance(QChar(c));
        if (adv != std::floor(adv))
            e->glyphsUsable = false;
    }
    cache.push_back(std::move(e));
    return *cache.back();
}

const ResolvedFont& CachedFont(const FontKey& key) { return CachedEntry(key).font; }

}  // namespace

QColor ToQColor(TColor c)
{
    if ((c >> 24) == 0xFF) {
        const unsigned index = c & 0xFF;
        QColor q;
        if (PaletteColour(index, q))
            return q;
        return index < kClassicSystemColours.size() ? FromBgr(kClassicSystemColours[index])
                                                    : QColor(0, 0, 0);
    }
    return FromBgr(c & 0xFFFFFF);
}

void Canvas::mark(long long x1, long long y1, long long x2, long long y2) const
{
    if (!drawnBounds || !img_)
        return;
    const long long l = std::max(x1, 0LL), t = std::max(y1, 0LL);
    const long long r = std::min<long long>(x2, img_->width()), b = std::min<long long>(y2, img_->height());
    if (l < r && t < b)
        *drawnBounds |= QRect(int(l), int(t), int(r - l), int(b - t));
}

void Canvas::lineTo(int x, int y)
{
    const int fromX = penX_, fromY = penY_;
    penX_ = x;
    penY_ = y;
    if (!img_ || img_->isNull())
        return;
    double x1 = fromX, y1 = fromY, x2 = x, y2 = y;
    const int w = std::max(1, penWidth);
    const bool huge = std::max({std::llabs(fromX), std::llabs(fromY), std::llabs(x), std::llabs(y)}) >
                      kCoordLimit;
    if (huge) {
        // Only the part near the picture can show; clip in floating point
        // with a margin, so the end we draw to lies outside the picture.
        const double m = w + 4.0;
        if (!ClipSegment(x1, y1, x2, y2, -m, -m, img_->width() + m, img_->height() + m))
            return;
        x1 = std::round(x1); y1 = std::round(y1); x2 = std::round(x2); y2 = std::round(y2);
    }
    {
        // A wide pen reaches half its width beyond the path; a whole width is ample.
        const long long reach = w <= 1 ? 0 : w;
        mark((long long)std::min(x1, x2) - reach, (long long)std::min(y1, y2) - reach,
             (long long)std::max(x1, x2) + 1 + reach, (long long)std::max(y1, y2) + 1 + reach);
    }
    if (w <= 1) {
        const Plotter p(*img_, penColor);
        ThinLine(p, (long long)x1, (long long)y1, (long long)x2, (long long)y2);
        return;
    }
    if (x1 == x2 && y1 == y2)
        return;
    QPainter pt(img_);
    PreparePainter(pt);
    pt.setPen(WidePen(penColor, w));
    pt.drawLine(QPointF(x1 + 0.5, y1 + 0.5), QPointF(x2 + 0.5, y2 + 0.5));
}

void Canvas::fillRect(int x1, int y1, int x2, int y2) { fillRect(x1, y1, x2, y2, brushColor); }

void Canvas::fillRect(int x1, int y1, int x2, int y2, TColor c)
{
    if (!img_ || img_->isNull())
        return;
    const int l = std::max(x1, 0), t = std::max(y1, 0);
    const int r = std::min(x2, img_->width()), b = std::min(y2, img_->height());
    if (l >= r || t >= b)
        return;
    mark(l, t, r, b);
    if (IsDirect(*img_)) {
        const QRgb word = Word(c);
        uchar* bits = img_->bits();
        const qsizetype stride = img_->bytesPerLine();
        for (int y = t; y < b; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(bits + stride * y);
            std::fill(row + l, row + r, word);
        }
        return;
    }
    QPainter pt(img_);
    pt.setCompositionMode(Opaque());
    pt.fillRect(QRect(l, t, r - l, b - t), ToQColor(c));
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    const std::optional<Box> box = DrawableBox(img_, x1, y1, x2, y2);
    if (!box)
        return;
    const auto [bx, by, bw, bh] = *box;
    const int w = std::max(1, penWidth);
    const long long reach = w <= 1 ? 0 : w;
    mark(bx - reach, by - reach, bx + bw + reach, by + bh + reach);
    if (w > 1 || bw > kTracedEllipse || bh > kTracedEllipse) {
        QPainter pt(img_);
        PreparePainter(pt);
        pt.setPen(WidePen(penColor, w));
        if (brushStyle == BrushStyle::Solid)
            pt.setBrush(ToQColor(brushColor));
        pt.drawEllipse(QRectF(bx + 0.5, by + 0.5, double(bw - 1), double(bh - 1)));
        return;
    }
    // Rows outside the picture need no spans.
    const EllipseRows e = MakeEllipseRows(bx, by, int(bw), int(bh));
    if (brushStyle == BrushStyle::Solid) {
        const Plotter fill(*img_, brushColor);
        for (int r = 0; r < int(bh); ++r)
            fill.span(e.left[std::size_t(r)], e.right[std::size_t(r)], by + r);
    }
    const Plotter pen(*img_, penColor);
    ForEachOutlinePixel(e, by, [&](int x, int y) { pen.plot(x, y); });
}

void Canvas::arc(int x1, int y1, int x2, int y2, int sx, int sy, int ex, int ey)
{
    const std::optional<Box> box = DrawableBox(img_, x1, y1, x2, y2);
    if (!box)
        return;
    const auto [bx, by, bw, bh] = *box;
    const double cx = bx + (bw - 1) / 2.0, cy = by + (bh - 1) / 2.0;
    const double a0 = ScreenAngle(sx, sy, cx, cy);
    double span = CcwDistance(a0, ScreenAngle(ex, ey, cx, cy));
    if (span == 0)
        span = 2 * std::numbers::pi;
    const int w = std::max(1, penWidth);
    const long long reach = w <= 1 ? 0 : w;
    mark(bx - reach, by - reach, bx + bw + reach, by + bh + reach);
    if (w <= 1 && bw <= kTracedEllipse && bh <= kTracedEllipse) {
        const EllipseRows e = MakeEllipseRows(bx, by, int(bw), int(bh));
        const Plotter pen(*img_, penColor);
        ForEachOutlinePixel(e, by, [&](int x, int y) {
            if (CcwDistance(a0, ScreenAngle(x, y, cx, cy)) <= span + 1e-12)
                pen.plot(x, y);
        });
        return;
    }
    // Wide pens: a polyline along the ellipse through the pixel centres of
    // the box's outer pixels, stroked with round caps and joins.
    const double ra = (bw - 1) / 2.0, rb = (bh - 1) / 2.0;
    const int steps = std::clamp(int(std::max(ra, rb) * span), 8, 4096);
    QPainterPath path;
    for (int i = 0; i <= steps; ++i) {
        const double theta = a0 + span * i / steps;
        // The point of the ellipse on the ray at screen angle theta.
        const double t = std::atan2(ra * std::sin(theta), rb * std::cos(theta));
        const QPointF pt(cx + ra * std::cos(t) + 0.5, cy - rb * std::sin(t) + 0.5);
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    QPainter pt(img_);
    PreparePainter(pt);
    pt.setPen(WidePen(penColor, w));
    pt.setBrush(Qt::NoBrush);
    pt.drawPath(path);
}

QFont Canvas::font() const
{
    return CachedFont({fontFamily, fontPixelHeight, fontPointSize, fontBold}).font;
}

int Canvas::textWidth(const QString& text) const
{
    FontEntry& e = CachedEntry({fontFamily, fontPixelHeight, fontPointSize, fontBold});
    if (g_glyphCacheEnabled && e.glyphsUsable && Cacheable(text)) {
        int w = 0;
        for (QChar ch : text)
            w += e.glyph(ch.unicode()).advance;
        return w;
    }
    if (g_glyphCacheEnabled)
        return e.text(text).width;
    return QFontMetrics(e.font.font).horizontalAdvance(text);
}

int Canvas::textHeight(const QString&) const
{
    return CachedFont({fontFamily, fontPixelHeight, fontPointSize, fontBold}).cellHeight;
}

namespace {

// Whether the visible ink of text's glyphs (from pen position x, between
// columns cl and cr) lies side by side, no column inked by two glyphs.
bool InkSideBySide(FontEntry& e, const QString& text, long long x, int cl, int cr)
{
    long long pen = x, inkedTo = cl;
    for (QChar ch : text) {
        const GlyphMask& g = e.glyph(ch.unicode());
        const long long from = std::max<long long>(pen + g.left, cl);
        const long long to = std::min<long long>(pen + g.left + g.width, cr);
        if (from < to) {
            if (from < inkedTo)
                return false;
            inkedTo = to;
        }
        pen += g.advance;
    }
    return true;
}

// Hands every row of text's glyphs (from pen position x, cell top y) that is
// visible in columns cl to cr and rows ct to cb to visit(yy, gx, mask, from,
// to): the glyph's coverage of picture row yy, whose column k lies at gx + k,
// visible for k from `from` up to `to`.
template <class Visit>
void ForVisibleGlyphRows(FontEntry& e, const QString& text, long long x, int y, int cl, int cr, int ct, int cb,
                         Visit&& visit)
{
    long long pen = x;
    for (QChar ch : text) {
        const GlyphMask& g = e.glyph(ch.unicode());
        const long long gx = pen + g.left;
        const int from = int(std::max<long long>(cl - gx, 0));
        const int to = int(std::min<long long>(cr - gx, g.width));
        for (int yy = ct; yy < cb && from < to; ++yy)
            visit(yy, gx, g.ink.data() + std::size_t(yy - y) * std::size_t(g.width), from, to);
        pen += g.advance;
    }
}

}  // namespace

void Canvas::textOut(int x, int y, const QString& text)
{
    if (!img_ || img_->isNull() || text.isEmpty())
        return;
    FontEntry& e = CachedEntry({fontFamily, fontPixelHeight, fontPointSize, fontBold});
    const ResolvedFont& f = e.font;
    const int w = textWidth(text);
    if (x >= img_->width() || y >= img_->height() || (long long)x + w <= 0 ||
        (long long)y + f.cellHeight <= 0)
        return;
    // The cell, clipped to the picture: text never paints outside it.
    const int cl = std::max(x, 0), ct = std::max(y, 0);
    const int cr = int(std::min<long long>((long long)x + w, img_->width()));
    const int cb = int(std::min<long long>((long long)y + f.cellHeight, img_->height()));
    mark(cl, ct, cr, cb);
    if (brushStyle == BrushStyle::Solid)
        fillRect(cl, ct, cr, cb, brushColor);
    const int vw = cr - cl, vh = cb - ct;
    const QRgb ink = Word(fontColor);
    const bool direct = IsDirect(*img_);
    const bool glyphs = g_glyphCacheEnabled && e.glyphsUsable && Cacheable(text);
    if (glyphs && direct && InkSideBySide(e, text, x, cl, cr)) {
        // No two glyphs share a column: each glyph's coverage is the cell's
        // there, so it goes onto the picture without being gathered first.
        ForVisibleGlyphRows(e, text, x, y, cl, cr, ct, cb,
                            [&](int yy, long long gx, const std::uint8_t* m, int from, int to) {
                                QRgb* row = reinterpret_cast<QRgb*>(img_->scanLine(yy));
                                for (int k = from; k < to; ++k)
                                    if (m[k])
                                        row[gx + k] = BlendInk(row[gx + k], ink, m[k]);
                            });
        return;
    }
    // The coverage of the visible part of the cell, row by row.
    static thread_local std::vector<std::uint8_t> cover;
    cover.assign(std::size_t(vw) * std::size_t(vh), 0);
    if (glyphs) {
        ForVisibleGlyphRows(e, text, x, y, cl, cr, ct, cb,
                            [&](int yy, long long gx, const std::uint8_t* m, int from, int to) {
                                std::uint8_t* row = cover.data() + std::size_t(yy - ct) * std::size_t(vw) +
                                                    std::size_t(gx - cl);
                                for (int k = from; k < to; ++k)
                                    row[k] = OverCoverage(row[k], m[k]);
                            });
    } else if (g_glyphCacheEnabled && cl == x && ct == y && vw == w && vh == f.cellHeight) {
        // The whole cell is on the picture: the same coverage as rendering it now.
        const std::vector<std::uint8_t>& whole = e.cover(e.text(text));
        if (whole.size() == cover.size())
            cover = whole;
    } else {
        const QImage tmp = RenderCoverage(f.font, vw, vh, x - cl, y - ct + f.ascent, text);
        for (int yy = 0; yy < vh; ++yy) {
            const QRgb* in = reinterpret_cast<const QRgb*>(tmp.constScanLine(yy));
            std::uint8_t* row = cover.data() + std::size_t(yy) * std::size_t(vw);
            for (int k = 0; k < vw; ++k)
                row[k] = std::uint8_t(qAlpha(in[k]));
        }
    }
    for (int yy = 0; yy < vh; ++yy) {
        const std::uint8_t* row = cover.data() + std::size_t(yy) * std::size_t(vw);
        QRgb* out = direct ? reinterpret_cast<QRgb*>(img_->scanLine(ct + yy)) + cl : nullptr;
        for (int k = 0; k < vw; ++k) {
            if (!row[k])
                continue;
            if (direct)
                out[k] = BlendInk(out[k], ink, row[k]);
            else
                img_->setPixelColor(cl + k, ct + yy,
                                    QColor::fromRgb(BlendInk(img_->pixel(cl + k, ct + yy), ink, row[k])));
        }
    }
}

void SetGlyphCacheEnabled(bool on) { g_glyphCacheEnabled = on; }

void Canvas::stretchDraw(int x1, int y1, int x2, int y2, const QImage& src)
{
    if (!img_ || img_->isNull() || src.isNull() || x2 <= x1 || y2 <= y1)
        return;
    mark(x1, y1, x2, y2);
    QPainter pt(img_);
    PreparePainter(pt);
    pt.setCompositionMode(Opaque());
    pt.drawImage(QRect(x1, y1, x2 - x1, y2 - y1), src);
}

void Canvas::copyRect(int dx, int dy, int w, int h, const QImage& src, int sx, int sy,
                      CopyMode mode)
{
    if (!img_ || img_->isNull() || src.isNull() || w <= 0 || h <= 0)
        return;
    // Clip against both pictures, moving source and destination together.
    long long ldx = dx, ldy = dy, lsx = sx, lsy = sy, lw = w, lh = h;
    auto trim = [](long long& d, long long& s, long long& len, long long dLimit, long long sLimit) {
        const long long front = std::max({0LL, -d, -s});
        d += front; s += front; len -= front;
        len = std::min({len, dLimit - d, sLimit - s});
    };
    trim(ldx, lsx, lw, img_->width(), src.width());
    trim(ldy, lsy, lh, img_->height(), src.height());
    if (lw <= 0 || lh <= 0)
        return;
    mark(ldx, ldy, ldx + lw, ldy + lh);
    const bool same = &src == img_ || src.constBits() == img_->constBits();
    QImage converted;
    const QImage* s = &src;
    if (!IsDirect(src) && !same) {
        converted = src.convertToFormat(kPictureFormat);
        s = &converted;
    }
    if (!IsDirect(*img_)) {
        QImage part = s->copy(int(lsx), int(lsy), int(lw), int(lh)).convertToFormat(kPictureFormat);
        QImage dest = img_->copy(int(ldx), int(ldy), int(lw), int(lh)).convertToFormat(kPictureFormat);
        Canvas c(&dest);
        c.copyRect(0, 0, int(lw), int(lh), part, 0, 0, mode);
        QPainter pt(img_);
        pt.setCompositionMode(Opaque());
        pt.drawImage(int(ldx), int(ldy), dest);
        return;
    }
    const std::size_t bytes = std::size_t(lw) * sizeof(QRgb);
    // A copy onto itself moving down must run bottom-up, like memmove.
    const bool bottomUp = same && ldy > lsy;
    std::vector<QRgb> tmp;
    for (long long k = 0; k < lh; ++k) {
        const long long r = bottomUp ? lh - 1 - k : k;
        QRgb* d = reinterpret_cast<QRgb*>(img_->scanLine(int(ldy + r))) + ldx;
        const QRgb* sp = reinterpret_cast<const QRgb*>(s->constScanLine(int(lsy + r))) + lsx;
        if (same && mode != CopyMode::Copy) {
            tmp.assign(sp, sp + lw);
            sp = tmp.data();
        }
        switch (mode) {
        case CopyMode::Copy: std::memmove(d, sp, bytes); break;
        case CopyMode::And:
            for (long long i = 0; i < lw; ++i) d[i] = (d[i] & sp[i]) | 0xFF000000u;
            break;
        case CopyMode::Or:
            for (long long i = 0; i < lw; ++i) d[i] = d[i] | sp[i] | 0xFF000000u;
            break;
        }
    }
}

QImage MakePicture(int w, int h, TColor fill)
{
    if (w <= 0 || h <= 0)
        return QImage();
    QImage img(w, h, kPictureFormat);
    img.fill(Word(fill));
    return img;
}

QImage MakeMask(const QImage& src, TColor transparent)
{
    if (src.isNull())
        return QImage();
    const QImage s = IsDirect(src) ? src : src.convertToFormat(kPictureFormat);
    QImage out(s.width(), s.height(), kPictureFormat);
    const QRgb key = Word(transparent) & 0xFFFFFFu;
    for (int y = 0; y < s.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(s.constScanLine(y));
        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < s.width(); ++x)
            o[x] = (in[x] & 0xFFFFFFu) == key ? 0xFFFFFFFFu : 0xFF000000u;
    }
    return out;
}

}  // namespace kovra
