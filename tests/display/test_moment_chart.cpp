#include "display/moment_chart.h"

#include "config/format.h"
#include "test_canvas_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kovra;
using kovra::testing::At;
using kovra::testing::IsInk;
using kovra::testing::Stored;

namespace {

constexpr TColor kPanel = 0xDDDDDD;
constexpr TColor kTrace = 0xFF0000;
constexpr TColor kText = 0x0000FF;

class MomentChart : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDecimalSeparatorForTesting('.');
        chart.MaxValue = 8000;
        chart.FormulaIndex = 0;
        chart.canvas().penColor = kTrace;
        chart.canvas().fontColor = kText;
        chart.canvas().fontPixelHeight = 10;
        d.Procs.resize(2);
        st = TRunState(d);
        d.MomentFormula = 1;
        d.MomentYMax = 100;
        InitMomentSurfaces(s, &axis, &plot);
        SetupMomentSurfaces(s, chart, kPanel);
        DrawMomentGrid(s, &chart, QSize(800, 28), QSize(800, 400));
    }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }

    void Cycle(double x, double y)
    {
        st.Values[0] = x;
        st.Values[1] = y;
        DrawMoment(s, d, st, &chart);
    }
    bool PlotIsBlank() const { return plot == MakePicture(800, 400, kPanel); }
    int Ink(TColor c, QRect r) const
    {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += IsInk(At(plot, x, y), Stored(kPanel), Stored(c));
        return n;
    }
    // The picture of the axis labels as they should stand.
    QImage ExpectedAxis(int width, std::initializer_list<int> labels, int cw) const
    {
        QImage img = MakePicture(width, 28, kPanel);
        Canvas c = s.Axis;
        c.attach(&img);
        int i = 0;
        for (int label : labels) {
            c.textOut(i * cw, 10, QString::number(label));
            c.line(i * cw + cw / 3, 0, i * cw + cw / 3, 8);
            ++i;
        }
        return img;
    }

    TStripChart chart;
    TAllData d;
    TRunState st;
    QImage axis, plot;
    TMomentSurfaces s;
};

TEST_F(MomentChart, AxisLabelsStandOneCellApartWithTicksAThirdIn)
{
    const int cw = s.Axis.textWidth("800000");
    const int n = 800 / cw - 1;
    ASSERT_GT(n, 1);
    EXPECT_EQ(axis.size(), QSize(800, 28));
    EXPECT_EQ(plot.size(), QSize(800, 400));
    for (int i = 0; i <= n; ++i) {
        const int tick = i * cw + cw / 3;
        for (int y = 0; y < 8; ++y)
            EXPECT_EQ(At(axis, tick, y), Stored(kText)) << i << "," << y;
        EXPECT_EQ(At(axis, tick, 8), Stored(kPanel));
        EXPECT_EQ(At(axis, tick - 1, 4), Stored(kPanel));
    }
    // The last label is the full scale itself.
    QImage last = MakePicture(800, 28, kPanel);
    Canvas c = s.Axis;
    c.attach(&last);
    c.textOut(n * cw, 10, "8000");
    for (int y = 10; y < 28; ++y)
        for (int x = n * cw; x < std::min(800, (n + 1) * cw); ++x)
            ASSERT_EQ(axis.pixel(x, y), last.pixel(x, y)) << x << "," << y;
}

TEST_F(MomentChart, AxisLabelsRoundHalvesToEven)
{
    chart.MaxValue = 10;
    const int cw = s.Axis.textWidth("1000");
    DrawMomentGrid(s, &chart, QSize(5 * cw + cw / 2, 28), QSize(100, 100));  // n = 4
    EXPECT_EQ(axis, ExpectedAxis(5 * cw + cw / 2, {0, 2, 5, 8, 10}, cw));  // 2.5 -> 2, 7.5 -> 8
}

TEST_F(MomentChart, StripWithoutRoomOrScaleStaysEmpty)
{
    const int cw = s.Axis.textWidth("800000");
    for (int width : {cw - 1, cw, 2 * cw - 1}) {  // n < 0 and n == 0
        DrawMomentGrid(s, &chart, QSize(width, 28), QSize(50, 40));
        EXPECT_EQ(axis, MakePicture(width, 28, kPanel)) << width;
        EXPECT_EQ(plot, MakePicture(50, 40, kPanel));
    }
    chart.MaxValue = 0;
    DrawMomentGrid(s, &chart, QSize(800, 28), QSize(50, 40));
    EXPECT_EQ(axis, MakePicture(800, 28, kPanel));
    DrawMomentGrid(s, nullptr, QSize(300, 28), QSize(60, 40));
    EXPECT_EQ(axis, MakePicture(300, 28, kPanel));
    EXPECT_EQ(plot.size(), QSize(60, 40));
}

TEST_F(MomentChart, RunsStartAboveAnEighthAndPeakShowsWhenXStopsRising)
{
    const QRect text(0, 0, 150, 14);
    Cycle(500, 10);
    Cycle(1000, 10);  // an eighth exactly: still waiting
    EXPECT_TRUE(st.Moment.MomentRestart);
    EXPECT_TRUE(PlotIsBlank());

    Cycle(2000, 50);  // first point: the line to it is cleared away
    EXPECT_FALSE(st.Moment.MomentRestart);
    EXPECT_TRUE(PlotIsBlank());
    EXPECT_EQ(st.Moment.MomentPeak, 0);  // its Y does not count
    EXPECT_EQ(s.Plot.penX(), 200);
    EXPECT_EQ(s.Plot.penY(), 200);

    Cycle(3000, 80);  // (200, 200) -> (300, 80)
    EXPECT_EQ(At(plot, 250, 140), Stored(kTrace));
    Cycle(4000, 60);  // -> (400, 160)
    EXPECT_EQ(At(plot, 350, 120), Stored(kTrace));
    EXPECT_EQ(st.Moment.MomentPeak, 80);
    EXPECT_EQ(Ink(kText, text), 0);

    Cycle(4000, 99);  // equal X is not rising: the peak is written
    EXPECT_GT(Ink(kText, text), 0);
    EXPECT_EQ(st.Moment.MomentPeak, 80);
    QImage expected = plot.copy();
    {
        Canvas c = s.Plot;
        c.attach(&expected);
        c.textOut(0, 0, QString::fromUtf8("Максимум: 80.00"));
    }
    EXPECT_EQ(plot, expected);

    Cycle(3500, 20);  // falling, but above an eighth: the pen moves, the plot stays
    EXPECT_EQ(s.Plot.penX(), 350);
    EXPECT_EQ(s.Plot.penY(), 320);
    Cycle(5000, 90);  // rising again continues on the same plot
    EXPECT_EQ(At(plot, 250, 140), Stored(kTrace));
    EXPECT_EQ(At(plot, 425, 180), Stored(kTrace));  // (350, 320) -> (500, 40)
    EXPECT_EQ(st.Moment.MomentPeak, 90);

    Cycle(800, 0);
    Cycle(1500, 0);  // a new run clears the plot
    EXPECT_TRUE(PlotIsBlank());
    EXPECT_EQ(st.Moment.MomentPeak, 0);
    EXPECT_EQ(st.Moment.MomentPrevX, 1500);
}

TEST_F(MomentChart, ARunOfTheTabChangesOnlyItsOwnPartOfTheState)
{
    const TAllData before = d;
    st.AlarmActive = {true, false};
    Cycle(500, 10);
    Cycle(2000, 50);
    Cycle(3000, 80);
    EXPECT_EQ(st.Values, (std::vector<double>{3000, 80}));
    EXPECT_EQ(st.AlarmActive, (std::vector<bool>{true, false}));
    EXPECT_EQ(st.Moment, (TMomentState{80, 3000, false}));
    EXPECT_TRUE(d == before);
}

TEST_F(MomentChart, MissingChartOrZeroScalesDrawNothing)
{
    st.Moment.MomentPrevX = 1234;
    for (int pass = 0; pass < 3; ++pass) {
        TStripChart* c = &chart;
        chart.MaxValue = 8000;
        d.MomentYMax = 100;
        if (pass == 0) c = nullptr;
        if (pass == 1) chart.MaxValue = 0;
        if (pass == 2) d.MomentYMax = 0;
        st.Values[0] = 100;  // would restart
        DrawMoment(s, d, st, c);
        st.Values[0] = 5000;  // would draw
        DrawMoment(s, d, st, c);
        EXPECT_EQ(st.Moment.MomentPrevX, 1234) << pass;
        EXPECT_FALSE(st.Moment.MomentRestart) << pass;
        EXPECT_TRUE(PlotIsBlank()) << pass;
    }
    // "Момент_У_макс" is taken unsigned: -1 is a huge scale, not a negative one.
    d.MomentYMax = -1;
    chart.MaxValue = 8000;
    Cycle(2000, 1);
    Cycle(3000, 1e9);
    EXPECT_EQ(s.Plot.penY(), 400 - int(std::nearbyint(400.0 / 4294967295.0 * 1e9)));
}

TEST_F(MomentChart, PointsOffThePlotAreClippedAndNaNIsNotDrawnTo)
{
    Cycle(2000, 0);
    Cycle(3000, 1e300);  // far above the top
    Cycle(4000, -std::numeric_limits<double>::infinity());
    const int penX = s.Plot.penX(), penY = s.Plot.penY();
    Cycle(5000, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(s.Plot.penX(), penX);
    EXPECT_EQ(s.Plot.penY(), penY);
    EXPECT_EQ(st.Moment.MomentPrevX, 5000);
    EXPECT_EQ(At(plot, 200, 0), Stored(kTrace));  // (200, 400) straight up off the top
}

TEST(MomentFont, ChartSizeRoundTripsThroughPoints)
{
    EXPECT_EQ(MomentFontHeight(10), 11);
    EXPECT_EQ(MomentFontHeight(12), 12);
    EXPECT_EQ(MomentFontHeight(14), 15);
    EXPECT_EQ(MomentFontHeight(0), 0);
}

TEST_F(MomentChart, PointsDrawnOnlyFromTheLastClearGiveWhatDrawingThemAllGives)
{
    // Two runs and the start of a third, a point off the scale and a NaN.
    std::vector<std::pair<double, double>> points;
    for (int run = 0; run < 3; ++run) {
        points.emplace_back(500, 10);
        for (int k = 1; k <= (run == 2 ? 12 : 30); ++k)
            points.emplace_back(1000 + 200.0 * k, 20 + 2.0 * k + run);
        points.emplace_back(run == 1 ? std::nan("") : 9000, 200);
        for (int k = 0; k < 5; ++k)
            points.emplace_back(6000 - 900.0 * k, 30);
    }
    TMomentState all = st.Moment;
    for (const auto& [x, y] : points)
        DrawMomentPoint(s, d, all, &chart, x, y, true);
    const QImage drawnAll = plot;

    DrawMomentGrid(s, &chart, QSize(800, 28), QSize(800, 400));
    const std::optional<std::size_t> from = LastMomentClear(d, st.Moment, &chart, points);
    ASSERT_TRUE(from.has_value());
    EXPECT_GT(*from, points.size() / 2);
    for (std::size_t i = 0; i < points.size(); ++i)
        DrawMomentPoint(s, d, st.Moment, &chart, points[i].first, points[i].second, i >= *from);
    EXPECT_EQ(plot, drawnAll);
    EXPECT_EQ(st.Moment.MomentPeak, all.MomentPeak);
    EXPECT_EQ(st.Moment.MomentPrevX, all.MomentPrevX);
    EXPECT_EQ(st.Moment.MomentRestart, all.MomentRestart);
    // Without a scale nothing clears.
    d.MomentYMax = 0;
    EXPECT_FALSE(LastMomentClear(d, st.Moment, &chart, points).has_value());
}

}  // namespace
