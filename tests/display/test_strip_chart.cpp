#include "display/strip_chart.h"

#include "config/format.h"
#include "test_canvas_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace kovra;
using kovra::testing::At;
using kovra::testing::IsInk;
using kovra::testing::Stored;

namespace {

constexpr TColor kBack = 0xEEEEEE;
constexpr TColor kBar = 0xFF0000;
constexpr TColor kText = 0x0000FF;

void Style(Canvas& c, int h)
{
    c.penColor = kBar;
    c.brushColor = kBack;
    c.fontColor = kText;
    c.fontPixelHeight = h;
    c.fontBold = true;
}

class StripChart : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDecimalSeparatorForTesting('.');
        Style(chart.canvas(), 10);
        chart.LabelText = "k0";
        chart.setControlSize(200, 150);
    }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }

    // The rows of column x painted in the bar colour.
    std::vector<int> BarRows(int x) const
    {
        const QImage img = chart.Render();
        std::vector<int> rows;
        for (int y = 0; y < img.height(); ++y)
            if (At(img, x, y) == Stored(kBar))
                rows.push_back(y);
        return rows;
    }
    static std::vector<int> Rows(int from, int to)  // inclusive, ascending
    {
        std::vector<int> r;
        for (int y = from; y <= to; ++y)
            r.push_back(y);
        return r;
    }

    TStripChart chart;
};

TEST_F(StripChart, BarRunsFromTheZeroLineToJustBeforeTheValuesRow)
{
    struct Case {
        int minValue, maxValue;
        double v;
        std::vector<int> rows;
    };
    const Case cases[] = {
        {0, 100, 50, Rows(76, 149)},    // zero line 150 lies below the picture
        {0, 100, 100, Rows(1, 149)},    // row 0 is erased
        {0, 100, 0, {}},
        {0, 100, 1e300, Rows(1, 149)},  // off the top
        {0, 100, std::numeric_limits<double>::infinity(), Rows(1, 149)},
        {0, 100, -std::numeric_limits<double>::infinity(), {}},
        {0, 100, std::numeric_limits<double>::quiet_NaN(), {}},
        {-50, 50, -50, Rows(75, 149)},
        {-50, 50, 50, Rows(1, 75)},
        {-50, 50, -1e9, Rows(75, 149)},
        {100, 200, 90, {}},             // zero line at 300, far below the picture
        {100, 200, 150, Rows(76, 149)},
        {100, 200, 250, Rows(1, 149)},
        {-2147483647 - 1, 2147483647, 1e9, Rows(41, 75)},
    };
    for (const Case& c : cases) {
        chart.MinValue = c.minValue;
        chart.MaxValue = c.maxValue;
        chart.add(c.v);
        EXPECT_EQ(BarRows(199), c.rows) << c.minValue << ".." << c.maxValue << " v=" << c.v;
    }
}

TEST_F(StripChart, EachCallScrollsOneColumnLeft)
{
    chart.add(50);
    chart.add(0);
    chart.add(100);
    EXPECT_EQ(BarRows(197), Rows(76, 149));
    EXPECT_TRUE(BarRows(198).empty());
    EXPECT_EQ(BarRows(199), Rows(1, 149));
    EXPECT_TRUE(BarRows(196).empty());  // still the first call's background
}

TEST_F(StripChart, CornerBoxShowsCaptionAndRightAlignedValue)
{
    chart.add(0);
    const QImage img = chart.Render();
    const int h = 10;
    int labelInk = 0, valueInkRight = -1, valueInkLeft = 999;
    for (int y = 0; y < 2 * h; ++y)
        for (int x = 0; x < 4 * h; ++x)
            if (IsInk(At(img, x, y), Stored(kBack), Stored(kText))) {
                if (y < h) {
                    ++labelInk;
                } else {
                    valueInkRight = std::max(valueInkRight, x);
                    valueInkLeft = std::min(valueInkLeft, x);
                }
            }
    EXPECT_GT(labelInk, 0);
    // "0.00" ends at the box's right edge, well right of its middle.
    EXPECT_GE(valueInkRight, 4 * h - 4);
    EXPECT_LE(valueInkRight, 4 * h - 1);
    EXPECT_GT(valueInkLeft, h);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 4 * h; x < img.width(); ++x)
            ASSERT_EQ(At(img, x, y), Stored(kBack)) << x << "," << y;
}

TEST_F(StripChart, ChartWithoutScaleOnlyScrollsAndShowsItsCaption)
{
    chart.MinValue = chart.MaxValue = 30;
    chart.add(1000);
    chart.add(-5);
    const QImage img = chart.Render();
    int labelInk = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const TColor p = At(img, x, y);
            if (y < 10 && x < 40 && IsInk(p, Stored(kBack), Stored(kText)))
                ++labelInk;
            else
                ASSERT_EQ(p, Stored(kBack)) << x << "," << y;
        }
    EXPECT_GT(labelInk, 0);
}

TEST_F(StripChart, ResizeKeepsTheOldPictureAtTheTopLeft)
{
    chart.add(100);
    chart.setControlSize(260, 150);
    EXPECT_EQ(chart.pictureWidth(), 200);  // the picture follows at the next call
    chart.add(0);
    EXPECT_EQ(chart.pictureWidth(), 260);
    EXPECT_EQ(BarRows(198), Rows(1, 149));  // the old rightmost column, scrolled once
    for (int x = 199; x < 260; ++x)
        EXPECT_TRUE(BarRows(x).empty()) << x;
}

// The straightforward chart: the whole picture is copied onto itself one
// column to the left on every call.
struct ScrollingChart {
    QImage pic;
    Canvas c;
    int minValue = 0, maxValue = 100;
    QString label;

    void add(double v, int W, int H)
    {
        if (pic.width() != W || pic.height() != H) {
            QImage fresh = MakePicture(W, H, c.brushColor);
            if (!pic.isNull() && !fresh.isNull()) {
                Canvas f(&fresh);
                f.copyRect(0, 0, pic.width(), pic.height(), pic, 0, 0);
            }
            pic = fresh;
        }
        c.attach(&pic);
        if (pic.isNull())
            return;
        c.copyRect(-1, 0, W, H, pic, 0, 0);
        c.fillRect(W - 1, 0, W, H);
        if (maxValue != minValue && !std::isnan(v)) {
            const double scale = H / (double(maxValue) - double(minValue));
            const double y0 = H - std::nearbyint(scale * -double(minValue));
            const double y1 = y0 - std::nearbyint(scale * v);
            auto row = [&](double r) { return int(std::clamp(r, -1e6, 1e6)); };
            c.line(W - 1, row(y0), W - 1, row(y1));
        }
        c.fillRect(W - 1, 0, W, 1);
        const int h = c.fontPixelHeight;
        c.fillRect(0, 0, 4 * h, 2 * h);
        c.textOut(0, 0, label);
        if (maxValue != minValue) {
            const QString text = QString::fromLatin1(FormatFixed(v, 5, 2).c_str());
            c.textOut(4 * h - c.textWidth(text), h, text);
        }
    }
};

// The ring laid out flat against the plain chart, pixel for pixel.
void ExpectSamePicture(const TStripChart& ring, const ScrollingChart& plain, int round, int call)
{
    const QImage flat = ring.Render();
    ASSERT_EQ(flat.size(), plain.pic.size());
    for (int y = 0; y < flat.height(); ++y)
        for (int x = 0; x < flat.width(); ++x)
            ASSERT_EQ(flat.pixel(x, y), plain.pic.pixel(x, y))
                << "round " << round << " call " << call << " at " << x << "," << y;
}

TEST_F(StripChart, RingLooksExactlyLikeAScrolledPicture)
{
    std::mt19937 rng(20240611);
    const QString labels[] = {"", "k", "Обороты двигателя, об/мин", "x1"};
    for (int round = 0; round < 12; ++round) {
        const int h = std::uniform_int_distribution<int>(6, 16)(rng);
        TStripChart ring;
        ScrollingChart plain;
        Style(ring.canvas(), h);
        Style(plain.c, h);
        ring.LabelText = plain.label = labels[round % 4];
        const int mins[] = {0, -50, 100, 7};
        const int maxs[] = {100, 50, 200, 7};
        ring.MinValue = plain.minValue = mins[round % 4];
        ring.MaxValue = plain.maxValue = maxs[round % 4];
        int W = std::uniform_int_distribution<int>(1, 90)(rng);
        int H = std::uniform_int_distribution<int>(1, 60)(rng);
        std::uniform_real_distribution<double> value(-150, 250);
        for (int call = 0; call < 250; ++call) {
            if (std::uniform_int_distribution<int>(0, 40)(rng) == 0) {
                W = std::uniform_int_distribution<int>(1, 90)(rng);
                H = std::uniform_int_distribution<int>(1, 60)(rng);
            }
            double v = value(rng);
            if (call % 37 == 5)
                v = std::numeric_limits<double>::quiet_NaN();
            if (call % 41 == 7)
                v = 1e12;  // a text wider than the box
            ring.setControlSize(W, H);
            ring.add(v);
            plain.add(v, W, H);
            ExpectSamePicture(ring, plain, round, call);
            if (HasFatalFailure())
                return;
        }
    }
}

// Wide charts draw their steps in batches, when the picture is looked at.
// Whatever the batch (one step to more than a batch holds), the values (texts
// of every width under the box, NaN), and whatever changes between two looks
// (scale, caption, colours, font, size), the picture is the plain one.
TEST_F(StripChart, BatchedStepsLookExactlyLikeStepsDrawnOneByOne)
{
    std::mt19937 rng(20261209);
    const QString labels[] = {"", "k", "Обороты двигателя, об/мин", "x1"};
    const TColor backs[] = {kBack, 0x00FF00, 0xFFFFFF};
    for (int round = 0; round < 8; ++round) {
        const int h = std::uniform_int_distribution<int>(6, 16)(rng);
        TStripChart ring;
        ScrollingChart plain;
        Style(ring.canvas(), h);
        Style(plain.c, h);
        // A size in points makes the text taller than the box's unit: the
        // rows below the box's fill keep what older values wrote there.
        if (round % 2)
            ring.canvas().fontPointSize = plain.c.fontPointSize = 8 + round;
        ring.LabelText = plain.label = labels[round % 4];
        ring.MinValue = plain.minValue = round % 3 == 2 ? 7 : -50;
        ring.MaxValue = plain.maxValue = round % 3 == 2 ? 7 : 150;
        int W = std::uniform_int_distribution<int>(256, 700)(rng);
        int H = std::uniform_int_distribution<int>(20, 80)(rng);
        std::uniform_real_distribution<double> value(-150, 250);
        int lookIn = 1;
        for (int call = 0; call < 600; ++call) {
            if (std::uniform_int_distribution<int>(0, 120)(rng) == 0) {
                W = std::uniform_int_distribution<int>(256, 700)(rng);
                H = std::uniform_int_distribution<int>(20, 80)(rng);
            }
            if (std::uniform_int_distribution<int>(0, 90)(rng) == 0) {
                // What a settings change between two steps does.
                const int k = std::uniform_int_distribution<int>(0, 3)(rng);
                if (k == 0)
                    ring.LabelText = plain.label = labels[call % 4];
                if (k == 1)
                    ring.canvas().brushColor = plain.c.brushColor = backs[call % 3];
                if (k == 2)
                    ring.canvas().fontPixelHeight = plain.c.fontPixelHeight = 6 + call % 11;
                if (k == 3)
                    ring.MaxValue = plain.maxValue = ring.MaxValue + 25;
            }
            double v = value(rng);
            const int kind = std::uniform_int_distribution<int>(0, 9)(rng);
            if (kind == 0)
                v = std::numeric_limits<double>::quiet_NaN();
            if (kind == 1)
                v = 1e12;  // a text wider than the box
            if (kind == 2)
                v = 3;  // a narrow one after wide ones
            ring.setControlSize(W, H);
            ring.add(v);
            plain.add(v, W, H);
            if (--lookIn > 0)
                continue;
            lookIn = std::uniform_int_distribution<int>(1, 2 * TStripChart::kMaxPending + 9)(rng);
            ExpectSamePicture(ring, plain, round, call);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST_F(StripChart, ExtremeSizesAndFontHeightsStayWithinThePicture)
{
    for (int h : {1 << 30, -(1 << 30), 0, -7, 3000}) {
        for (auto [w, ht] : {std::pair{1, 1}, {5, 300}, {300, 5}, {0, 10}}) {
            TStripChart c;
            Style(c.canvas(), h);
            c.LabelText = "k0";
            c.setControlSize(w, ht);
            c.add(50);
            c.add(-1e308);
            EXPECT_EQ(c.pictureWidth(), w);
            EXPECT_EQ(c.pictureHeight(), w ? ht : 0);
        }
    }
}

}  // namespace
