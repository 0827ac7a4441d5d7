#include "display/canvas.h"

#include "test_canvas_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>

using namespace kovra;
using kovra::testing::At;
using kovra::testing::IsBlend;
using kovra::testing::Stored;

namespace {

constexpr TColor kBack = 0xFFFFFF;
constexpr TColor kInk = 0x0000FF;

using PixelSet = std::set<std::pair<int, int>>;

PixelSet Painted(const QImage& img, TColor back = kBack)
{
    PixelSet s;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (At(img, x, y) != back)
                s.insert({x, y});
    return s;
}

struct LineCase {
    int x1, y1, x2, y2;
};

class ThinLines : public ::testing::TestWithParam<LineCase> {};

// A one-pixel line paints its start, never its end, one pixel per step of the
// major axis, each step moving at most one pixel on the minor axis, never
// straying more than half a pixel from the ideal line.
TEST_P(ThinLines, PaintStartNotEndOnePixelPerStep)
{
    const LineCase c = GetParam();
    QImage img = MakePicture(40, 40, kBack);
    Canvas cv(&img);
    cv.penColor = kInk;
    cv.line(c.x1, c.y1, c.x2, c.y2);
    const PixelSet s = Painted(img);
    const int adx = std::abs(c.x2 - c.x1), ady = std::abs(c.y2 - c.y1);
    EXPECT_EQ(s.size(), std::size_t(std::max(adx, ady)));
    if (adx || ady) {
        EXPECT_TRUE(s.count({c.x1, c.y1}));
    }
    EXPECT_FALSE(s.count({c.x2, c.y2}));
    for (auto [x, y] : s) {
        // Distance from the ideal line, measured along the minor axis.
        if (adx >= ady && adx > 0) {
            const double ideal = c.y1 + double(c.y2 - c.y1) * (x - c.x1) / (c.x2 - c.x1);
            EXPECT_LE(std::abs(y - ideal), 0.5 + 1e-9) << x << "," << y;
        } else if (ady > 0) {
            const double ideal = c.x1 + double(c.x2 - c.x1) * (y - c.y1) / (c.y2 - c.y1);
            EXPECT_LE(std::abs(x - ideal), 0.5 + 1e-9) << x << "," << y;
        }
    }
    EXPECT_EQ(cv.penX(), c.x2);
    EXPECT_EQ(cv.penY(), c.y2);
}

INSTANTIATE_TEST_SUITE_P(Canvas, ThinLines,
                         ::testing::Values(LineCase{5, 5, 20, 5}, LineCase{20, 5, 5, 5},
                                           LineCase{5, 30, 5, 2}, LineCase{2, 2, 30, 30},
                                           LineCase{30, 2, 2, 13}, LineCase{3, 35, 11, 1},
                                           LineCase{7, 7, 7, 7}, LineCase{0, 0, 39, 1}));

TEST(Canvas, LinesFarOutsideThePictureAreClippedNotWalked)
{
    QImage img = MakePicture(10, 10, kBack);
    Canvas cv(&img);
    cv.penColor = kInk;
    cv.line(4, 5, 4, -2000000000);  // a bar toward a value far off the top
    PixelSet expect;
    for (int y = 0; y <= 5; ++y)
        expect.insert({4, y});
    EXPECT_EQ(Painted(img), expect);

    img = MakePicture(10, 10, kBack);
    cv.line(-2000000000, -2000000000, 2000000000, 2000000000);
    const PixelSet diag = Painted(img);
    EXPECT_EQ(diag.size(), 10u);
    EXPECT_TRUE(diag.count({0, 0}));
    EXPECT_TRUE(diag.count({9, 9}));

    img = MakePicture(10, 10, kBack);
    cv.penWidth = 3;
    cv.line(5, 5, 5, 2000000000);
    EXPECT_TRUE(Painted(img).count({5, 9}));
}

TEST(Canvas, WidePenCoversBothEndsAndItsWidth)
{
    QImage img = MakePicture(30, 30, kBack);
    Canvas cv(&img);
    cv.penColor = kInk;
    cv.penWidth = 3;
    cv.line(5, 10, 20, 10);
    const PixelSet s = Painted(img);
    for (int x = 5; x <= 20; ++x)
        for (int y = 9; y <= 11; ++y)
            EXPECT_TRUE(s.count({x, y})) << x << "," << y;
    for (auto [x, y] : s) {
        EXPECT_GE(x, 3);
        EXPECT_LE(x, 22);
        EXPECT_GE(y, 8);
        EXPECT_LE(y, 12);
    }
}

TEST(Canvas, FillRectExcludesRightColumnAndBottomRow)
{
    QImage img = MakePicture(20, 20, kBack);
    Canvas cv(&img);
    cv.brushColor = kInk;
    cv.fillRect(2, 3, 6, 5);
    PixelSet expect;
    for (int y = 3; y < 5; ++y)
        for (int x = 2; x < 6; ++x)
            expect.insert({x, y});
    EXPECT_EQ(Painted(img), expect);

    img = MakePicture(20, 20, kBack);
    cv.fillRect(6, 5, 2, 3);  // inverted: nothing
    cv.fillRect(4, 4, 4, 9);  // empty: nothing
    EXPECT_TRUE(Painted(img).empty());
    cv.fillRect(-100, 18, 100, 1000, 0x00FF00);  // clipped to the picture
    EXPECT_EQ(Painted(img).size(), 40u);
}

TEST(Canvas, EllipseStaysInsideItsBoxAndTouchesEveryEdge)
{
    for (auto [w, h] : {std::pair{21, 21}, {20, 20}, {31, 12}, {2, 2}, {1, 5}}) {
        QImage img = MakePicture(40, 40, kBack);
        Canvas cv(&img);
        cv.penColor = kInk;
        cv.brushStyle = BrushStyle::Clear;
        cv.ellipse(3, 4, 3 + w, 4 + h);
        const PixelSet s = Painted(img);
        int minX = 99, maxX = -1, minY = 99, maxY = -1;
        for (auto [x, y] : s) {
            minX = std::min(minX, x); maxX = std::max(maxX, x);
            minY = std::min(minY, y); maxY = std::max(maxY, y);
            // Symmetric about the box's centre.
            EXPECT_TRUE(s.count({2 * 3 + w - 1 - x, y})) << w << "x" << h;
            EXPECT_TRUE(s.count({x, 2 * 4 + h - 1 - y})) << w << "x" << h;
        }
        EXPECT_EQ(minX, 3) << w << "x" << h;
        EXPECT_EQ(maxX, 3 + w - 1) << w << "x" << h;
        EXPECT_EQ(minY, 4) << w << "x" << h;
        EXPECT_EQ(maxY, 4 + h - 1) << w << "x" << h;
        if (w == 21) {
            EXPECT_FALSE(s.count({13, 14}));  // the centre is not on a clear outline
        }
    }
    // A solid brush fills the inside with the brush colour.
    QImage img = MakePicture(40, 40, kBack);
    Canvas cv(&img);
    cv.penColor = kInk;
    cv.brushColor = 0x00FF00;
    cv.ellipse(0, 0, 21, 21);
    EXPECT_EQ(At(img, 10, 10), Stored(0x00FF00));
    EXPECT_EQ(At(img, 0, 10), Stored(kInk));
    EXPECT_EQ(At(img, 0, 0), Stored(kBack));
}

// Quadrant counts of an arc's pixels around the centre (10, 10) of a 21-pixel box.
struct Quadrants {
    int upperRight = 0, upperLeft = 0, lowerLeft = 0, lowerRight = 0;
};

Quadrants Count(const QImage& img)
{
    Quadrants q;
    for (auto [x, y] : Painted(img)) {
        if (x > 11 && y < 9) ++q.upperRight;
        if (x < 9 && y < 9) ++q.upperLeft;
        if (x < 9 && y > 11) ++q.lowerLeft;
        if (x > 11 && y > 11) ++q.lowerRight;
    }
    return q;
}

TEST(Canvas, ArcsRunCounterclockwiseFromStartRayToEndRay)
{
    for (int width : {1, 3}) {
        QImage img = MakePicture(21, 21, kBack);
        Canvas cv(&img);
        cv.penColor = kInk;
        cv.penWidth = width;
        // From 3 o'clock to 12 o'clock, counterclockwise: the upper right quarter.
        cv.arc(0, 0, 21, 21, 100, 10, 10, -100);
        Quadrants q = Count(img);
        EXPECT_GT(q.upperRight, 0) << width;
        EXPECT_EQ(q.upperLeft + q.lowerLeft + q.lowerRight, 0) << width;

        // The other way round: everything but the upper right quarter.
        img = MakePicture(21, 21, kBack);
        cv.arc(0, 0, 21, 21, 10, -100, 100, 10);
        q = Count(img);
        EXPECT_EQ(q.upperRight, 0) << width;
        EXPECT_GT(q.upperLeft, 0) << width;
        EXPECT_GT(q.lowerLeft, 0) << width;
        EXPECT_GT(q.lowerRight, 0) << width;
    }
    // Equal rays (even through different points) give the full circle.
    QImage full = MakePicture(21, 21, kBack);
    Canvas cv(&full);
    cv.penColor = kInk;
    cv.arc(0, 0, 21, 21, 15, 5, 20, 0);
    QImage outline = MakePicture(21, 21, kBack);
    Canvas ov(&outline);
    ov.penColor = kInk;
    ov.brushStyle = BrushStyle::Clear;
    ov.ellipse(0, 0, 21, 21);
    EXPECT_EQ(Painted(full), Painted(outline));
}

TEST(Canvas, BlockCopiesCombineWithAndOr)
{
    struct Case {
        CopyMode mode;
        TColor dest, src, expect;
    };
    for (const Case& c : {Case{CopyMode::Copy, 0x123456, 0xABCDEF, 0xABCDEF},
                          Case{CopyMode::And, 0x0F0FF0, 0xFF00FF, 0x0F00F0},
                          Case{CopyMode::Or, 0x0F0F00, 0x10F00F, 0x1FFF0F}}) {
        QImage dest = MakePicture(8, 8, c.dest);
        const QImage src = MakePicture(4, 4, c.src);
        Canvas cv(&dest);
        cv.copyRect(6, 1, 3, 2, src, 2, 2, c.mode);  // clipped by both pictures
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool inside = x >= 6 && y >= 1 && y < 3;
                EXPECT_EQ(At(dest, x, y), inside ? c.expect : c.dest) << x << "," << y;
            }
    }
}

TEST(Canvas, CopyOntoItselfShiftsLikeAScroll)
{
    QImage img(6, 3, kPictureFormat);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            img.setPixel(x, y, qRgb(x * 10, y * 10, 0));
    const QImage before = img.copy();
    Canvas cv(&img);
    cv.copyRect(-1, 0, 6, 3, img, 0, 0);  // one pixel to the left
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(img.pixel(x, y), before.pixel(x + 1, y));
        EXPECT_EQ(img.pixel(5, y), before.pixel(5, y));
    }
    cv.copyRect(0, 1, 6, 2, img, 0, 0);  // downward over itself
    EXPECT_EQ(img.pixel(3, 2), before.pixel(4, 1));
}

TEST(Canvas, MaskTurnsOneColourWhiteAndTheRestBlack)
{
    QImage src = MakePicture(3, 1, 0);
    src.setPixel(1, 0, qRgb(1, 0, 0));
    src.setPixel(2, 0, qRgb(255, 255, 255));
    const QImage mask = MakeMask(src, 0);
    EXPECT_EQ(At(mask, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(At(mask, 1, 0), 0u);
    EXPECT_EQ(At(mask, 2, 0), 0u);
}

TEST(Canvas, TextCellIsPlacedByItsTopLeftCorner)
{
    for (int h : {8, 10, 13, 20}) {
        QImage img = MakePicture(120, 60, kBack);
        Canvas cv(&img);
        cv.fontPixelHeight = h;
        cv.fontBold = true;
        cv.fontColor = kInk;
        cv.brushColor = 0x00FF00;
        EXPECT_EQ(cv.textHeight("0"), h);
        const int w = cv.textWidth("12.50");
        ASSERT_GT(w, 0);
        cv.textOut(7, 9, "12.50");
        int ink = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 120; ++x) {
                const bool cell = x >= 7 && x < 7 + w && y >= 9 && y < 9 + h;
                const TColor p = At(img, x, y);
                if (!cell)
                    EXPECT_EQ(p, Stored(kBack)) << h << ": " << x << "," << y;
                else
                    EXPECT_TRUE(IsBlend(p, Stored(0x00FF00), Stored(kInk))) << x << "," << y;
                ink += cell && p != Stored(0x00FF00);
            }
        EXPECT_GT(ink, 0) << h;
    }
    // A clear brush leaves the cell's background alone.
    QImage img = MakePicture(60, 30, kBack);
    Canvas cv(&img);
    cv.brushStyle = BrushStyle::Clear;
    cv.fontColor = kInk;
    cv.textOut(0, 0, "88");
    for (auto [x, y] : Painted(img))
        EXPECT_TRUE(IsBlend(At(img, x, y), Stored(kBack), Stored(kInk))) << x << "," << y;
    // Points: 9 pt is a 12-pixel em, whose cell is taller than the em.
    cv.fontPointSize = 9;
    EXPECT_GT(cv.textHeight("0"), 12);
    EXPECT_LT(cv.textHeight("0"), 16);
}

// Small value texts are smoothed in grayscale so that their glyphs stay
// apart: besides full ink there are pixels part way between ink and
// background, and only those.
TEST(Canvas, TextIsSmoothedInGrayscale)
{
    for (bool cached : {true, false}) {
        SetGlyphCacheEnabled(cached);
        for (int h : {8, 11, 20}) {
            QImage img = MakePicture(80, 30, kBack);
            Canvas cv(&img);
            cv.brushStyle = BrushStyle::Clear;
            cv.fontPixelHeight = h;
            cv.fontColor = 0x000000;
            cv.textOut(2, 2, "0.00");
            std::set<TColor> shades;
            for (auto [x, y] : Painted(img)) {
                const TColor p = At(img, x, y);
                EXPECT_TRUE(IsBlend(p, kBack, 0)) << x << "," << y;
                shades.insert(p);
            }
            EXPECT_GT(shades.size(), 3u) << h << (cached ? " cached" : "");
        }
    }
    SetGlyphCacheEnabled(true);
}

// Boxes may be given by any two opposite corners; an empty one draws nothing.
TEST(Canvas, EllipseAndArcBoxesAreNormalised)
{
    auto draw = [](auto paint) {
        QImage img = MakePicture(30, 30, kBack);
        Canvas cv(&img);
        cv.penColor = kInk;
        cv.brushStyle = BrushStyle::Clear;
        paint(cv);
        return Painted(img);
    };
    const PixelSet ellipse = draw([](Canvas& c) { c.ellipse(3, 4, 24, 19); });
    ASSERT_FALSE(ellipse.empty());
    EXPECT_EQ(draw([](Canvas& c) { c.ellipse(24, 19, 3, 4); }), ellipse);
    EXPECT_EQ(draw([](Canvas& c) { c.ellipse(24, 4, 3, 19); }), ellipse);
    const PixelSet arc = draw([](Canvas& c) { c.arc(3, 4, 24, 19, 100, 10, 10, -100); });
    ASSERT_FALSE(arc.empty());
    EXPECT_EQ(draw([](Canvas& c) { c.arc(24, 19, 3, 4, 100, 10, 10, -100); }), arc);
    EXPECT_TRUE(draw([](Canvas& c) { c.ellipse(5, 5, 5, 20); }).empty());
    EXPECT_TRUE(draw([](Canvas& c) { c.arc(5, 5, 20, 5, 0, 0, 1, 1); }).empty());
}

TEST(Canvas, StretchDrawFillsTheBox)
{
    QImage src = MakePicture(2, 2, 0x0000FF);
    src.setPixel(1, 1, qRgb(0, 0, 255));
    QImage img = MakePicture(10, 10, kBack);
    Canvas cv(&img);
    cv.stretchDraw(2, 2, 6, 6, src);
    EXPECT_EQ(At(img, 2, 2), 0x0000FFu);
    EXPECT_EQ(At(img, 5, 5), 0xFF0000u);
    EXPECT_EQ(At(img, 6, 6), kBack);
    EXPECT_EQ(At(img, 1, 1), kBack);
}

}  // namespace

namespace {

// Numbers are drawn from cached glyphs; they must come out exactly as the
// font engine draws the whole text.
TEST(Canvas, CachedGlyphsDrawNumbersAsTheFontEngineDoes)
{
    const QString texts[] = {"0.00", "-123.45", "1.2346E10", "NAN", "-INF", "7,50", "99999.99",
                             "11:1", "+0"};
    struct Font {
        int pixels, points;
        bool bold;
    };
    for (const Font f : {Font{10, 0, true}, Font{13, 0, false}, Font{0, 8, false},
                         Font{-17, 0, true}, Font{31, 0, false}}) {
        for (const QString& t : texts) {
            QImage cached = MakePicture(220, 50, kBack);
            QImage plain = cached.copy();
            for (bool on : {true, false}) {
                SetGlyphCacheEnabled(on);
                Canvas cv(on ? &cached : &plain);
                cv.fontPixelHeight = f.pixels;
                cv.fontPointSize = f.points;
                cv.fontBold = f.bold;
                cv.fontColor = kInk;
                cv.brushColor = 0x00FF00;
                cv.textOut(-3, 2, t);  // cut at the left edge, like a wide value
                cv.textOut(40, 11, t);
                cv.brushStyle = BrushStyle::Clear;
                cv.textOut(45, 13, t);  // over other text
            }
            SetGlyphCacheEnabled(true);
            Canvas a(&cached);
            a.fontPixelHeight = f.pixels;
            a.fontPointSize = f.points;
            a.fontBold = f.bold;
            const int cachedWidth = a.textWidth(t);
            SetGlyphCacheEnabled(false);
            EXPECT_EQ(cachedWidth, a.textWidth(t)) << t.toStdString();
            SetGlyphCacheEnabled(true);
            ASSERT_EQ(cached, plain) << t.toStdString() << " " << f.pixels << "/" << f.points;
        }
    }
}

// Texts the glyphs cannot make are kept whole once drawn; drawn again, in
// the cell or cut by an edge, over the last drawing or not, they come out as
// the font engine draws them each time. More texts than the list keeps, so
// that it starts over in between.
TEST(Canvas, KeptWholeTextsDrawAsTheFontEngineDoes)
{
    std::vector<QString> texts = {QString::fromUtf8("Давление"), QString::fromUtf8("ТЕМП ОЖ"),
                                  QStringLiteral("Oil pressure"), QString::fromUtf8("Ж")};
    for (int i = 0; i < 40; ++i)
        texts.push_back(QString::fromUtf8("Датчик %1").arg(i));
    for (int round = 0; round < 2; ++round) {
        for (const QString& t : texts) {
            QImage kept = MakePicture(160, 40, kBack);
            QImage plain = kept.copy();
            int widths[2] = {};
            for (bool on : {true, false}) {
                SetGlyphCacheEnabled(on);
                Canvas cv(on ? &kept : &plain);
                cv.fontPixelHeight = 13;
                cv.fontColor = kInk;
                cv.brushStyle = BrushStyle::Clear;
                cv.textOut(4, 3, t);
                cv.textOut(6, 4, t);     // over itself
                cv.textOut(-5, 20, t);   // cut at the left edge
                cv.textOut(120, 30, t);  // cut at the right and bottom
                widths[on] = cv.textWidth(t);
            }
            SetGlyphCacheEnabled(true);
            EXPECT_EQ(widths[true], widths[false]) << t.toStdString();
            ASSERT_EQ(kept, plain) << t.toStdString() << " round " << round;
        }
    }
}

}  // namespace
