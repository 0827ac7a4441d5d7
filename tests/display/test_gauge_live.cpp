#include "display/gauge_live.h"

#include "config/format.h"
#include "display/canvas.h"
#include "display/gauge_back.h"

#include <QDir>
#include <QGuiApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace kovra {
namespace {

constexpr TColor kPanel = 0xFFFFFF;
constexpr TColor kNeedle = 0xFF0000;  // blue
constexpr TColor kText = 0x008000;    // dark green
const double kInf = std::numeric_limits<double>::infinity();

QRgb Rgb(TColor c) { return ToQColor(c).rgb() | 0xFF000000u; }

int CountColour(const QImage& img, TColor c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) == Rgb(c);
    return n;
}

class GaugeLive : public ::testing::Test {
protected:
    void SetUp() override {
        SetDecimalSeparatorForTesting('.');
        data.Procs.resize(1);
        data.Gauges.reserve(16);  // references from Add stay valid
    }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }

    TPribor& Add(std::uint8_t kind, int size, int x, int y) {
        TPribor g;
        g.Kind = kind;
        g.Size = std::uint16_t(size);
        g.X = std::uint16_t(x);
        g.Y = std::uint16_t(y);
        g.Minimum = 0;
        g.Maximum = 100;
        g.ScaleDivisions = 10;
        g.LabelDigits = 0;
        g.NeedleColor = kNeedle;
        g.TextColor = kText;
        g.ScaleColor = 0x808080;
        data.Gauges.push_back(g);
        return data.Gauges.back();
    }
    // What the cycles would have left in the run's state.
    void SetValue(std::size_t i, double v) {
        if (state.Values.size() <= i)
            state.Values.resize(i + 1, 0.0);
        state.Values[i] = v;
    }
    void SetAlarm(std::size_t i, bool on) {
        if (state.AlarmActive.size() <= i)
            state.AlarmActive.resize(i + 1, false);
        state.AlarmActive[i] = on;
    }
    // A 444 x 250 panel: one panel unit per pixel.
    void Back() { DrawPribBack(data, kPanel, 444, 250, dir.path().toStdString(), background, frame, layout); }
    QImage Frame(double value) {
        SetValue(0, value);
        DrawPrib(data, state, layout, background, frame, QTime(12, 34, 56));
        return frame;
    }
    // The background with one text drawn the way the live layer draws it.
    QImage WithText(int x, int y, int pixelHeight, TColor colour, const QString& text) {
        QImage img = background.copy();
        Canvas c(&img);
        c.brushStyle = BrushStyle::Clear;
        c.fontPixelHeight = pixelHeight;
        c.fontColor = colour;
        c.textOut(x, y, text);
        return img;
    }

    QTemporaryDir dir;
    TAllData data;
    TRunState state;
    QImage background, frame;
    TPanelLayout layout;
};

TEST(ScalePosition, ValuesOutsideTheScaleStopAtItsEnds) {
    TPribor g;
    g.Minimum = 0;
    g.Maximum = 100;
    TGaugePlace p;
    p.ScaleStart = 10;
    p.ScaleEnd = 190;
    const struct { double v, pos; } cases[] = {
        {50, 100}, {0, 10}, {100, 190}, {150, 190}, {-5, 10},
        {1e308, 190}, {kInf, 190}, {-kInf, 10}, {std::nan(""), 10},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(ScalePosition(g, p, c.v), c.pos) << c.v;
    g.Minimum = std::numeric_limits<std::int32_t>::min();  // a span beyond 32 bits
    g.Maximum = std::numeric_limits<std::int32_t>::max();
    EXPECT_NEAR(ScalePosition(g, p, 0), 100, 1e-6);
}

TEST(ValueText, TwoDecimalsAndSevenSignificantDigits) {
    EXPECT_EQ(ValueText(1234.567, '.'), "1234.57");
    EXPECT_EQ(ValueText(1234.567, ','), "1234,57");
    const QString big = ValueText(12345678, '.');
    EXPECT_TRUE(big.startsWith("1.234568E")) << big.toStdString();
}

TEST_F(GaugeLive, DialAboveMaximumPointsAtTheMaximumGraduation) {
    TPribor& d = Add(0, 100, 10, 10);  // maximum at 3 o'clock: a level needle
    d.StartAngle = 180;
    d.EndAngle = 0;
    Back();
    // Rows above the value text (which starts at cy + S / 10) hold the needle.
    const QRect needleRows(0, 0, 444, 110 + 10);
    const QImage atMax = Frame(100).copy(needleRows);
    EXPECT_EQ(atMax.pixel(110 + 80, 110), Rgb(kNeedle));
    EXPECT_EQ(atMax.pixel(110 - 15, 110), Rgb(kNeedle));  // the tail
    for (double v : {100.5, 1e9, 1e300, kInf})
        EXPECT_EQ(Frame(v).copy(needleRows), atMax) << v;
    EXPECT_NE(Frame(99).copy(needleRows), atMax);
    // The text still shows the real value.
    EXPECT_NE(Frame(1e9), Frame(100));
    // No reading rests the needle at the minimum.
    EXPECT_EQ(Frame(std::nan("")).copy(needleRows), Frame(0).copy(needleRows));
}

TEST_F(GaugeLive, BarCaretsTouchTheScaleAtTheMinimumEnd) {
    Add(1, 100, 10, 10);                    // horizontal: minimum at the left
    Add(1, 100, 250, 10).Horizontal = true; // vertical: minimum at the bottom
    Back();
    const QImage f = Frame(0);
    // th = 20; the tip lies on the scale line, at ScaleStart.
    EXPECT_EQ(f.pixel(10 + 10, 10 + 40 + 7), Rgb(kNeedle));
    EXPECT_EQ(f.pixel(250 + 13, 10 + 190), Rgb(kNeedle));
    const QImage top = Frame(100);
    EXPECT_EQ(top.pixel(10 + 190, 10 + 40 + 7), Rgb(kNeedle));
    EXPECT_EQ(top.pixel(250 + 13, 10 + 50), Rgb(kNeedle));
}

TEST_F(GaugeLive, ReadoutKeepsItsFirstCharacters) {
    TPribor& r = Add(2, 100, 20, 30);
    Back();
    for (auto [digits, shown] : {std::pair{4, "1234"}, {3, "123"}, {50, "1234.57"}}) {
        r.LabelDigits = std::uint16_t(digits);
        EXPECT_EQ(Frame(1234.567), WithText(20, 30 + 20, 20, kText, shown)) << digits;
    }
    SetAlarm(0, true);
    EXPECT_EQ(Frame(1234.567), WithText(20, 50, 20, 255, "1234.57"));
}

TEST_F(GaugeLive, CaptionLampTurnsRedOnlyWhileItsAlarmHolds) {
    TPribor& lamp = Add(3, 100, 20, 30);
    lamp.Name = "OIL";
    TPribor& next = Add(3, 100, 20, 100);
    next.Name = "FAN";
    Back();
    const QImage off = Frame(0);
    EXPECT_GT(CountColour(off.copy(0, 0, 444, 90), kText), 0);
    EXPECT_EQ(CountColour(off, 255), 0);
    SetAlarm(0, true);
    const QImage on = Frame(0);
    EXPECT_GT(CountColour(on.copy(0, 0, 444, 90), 255), 0);
    EXPECT_EQ(CountColour(on.copy(0, 0, 444, 90), kText), 0);
    // The next gauge sets its own colour again.
    EXPECT_GT(CountColour(on.copy(0, 90, 444, 160), kText), 0);
}

TEST_F(GaugeLive, IconLampsShowTheirPictureAndLaterGaugesDrawOnTop) {
    for (TColor c : {0x0000FFu, 0x00FF00u}) {
        Add(4, 100, 40, 40);
        TGaugePlace& g = layout.Gauges.emplace_back();
        g.Kind = 4;
        g.IconOff = MakePicture(30, 30, 0);
        g.IconOn = MakePicture(30, 30, c);
    }
    layout.Gauges[0].IconOff = MakePicture(40, 40, 0x123456);
    // No background pass: the pictures set above stay.
    background = MakePicture(444, 250, kPanel);
    for (TGaugePlace& g : layout.Gauges) {
        g.ScaledX = g.ScaledY = 40;
        g.ScaledSize = 100;
    }
    QImage f = Frame(0);
    EXPECT_EQ(f.pixel(45, 45), qRgb(0, 0, 0));
    EXPECT_EQ(f.pixel(75, 75), Rgb(0x123456));  // only the first one's picture reaches here
    SetAlarm(0, true);
    SetAlarm(1, true);
    f = Frame(0);
    EXPECT_EQ(f.pixel(45, 45), qRgb(0, 255, 0));
    EXPECT_EQ(f.pixel(75, 75), Rgb(kPanel));
}

TEST_F(GaugeLive, ClockIsDrawnOnlyWhenVisible) {
    data.ClockSize = 100;
    data.ClockX = 300;
    data.ClockY = 200;
    data.ClockColor = 0x0000FF;
    Back();
    EXPECT_EQ(Frame(0), background);
    data.ClockVisible = true;
    QImage expected = background.copy();
    Canvas c(&expected);
    c.brushStyle = BrushStyle::Clear;
    c.fontPointSize = 13;
    c.fontColor = 0x0000FF;
    c.textOut(300, 200, ClockText(QTime(12, 34, 56)));
    EXPECT_EQ(Frame(0), expected);
}

// The clock shows the time of day with seconds and never the time zone some
// locales' long format carries ("15:06:49 UTC").
TEST(ClockText, LongTimeFormatWithoutTheZone) {
    const QTime t(15, 6, 49);
    const struct { const char* locale; const char* text; } cases[] = {
        {"C", "15:06:49"}, {"de_DE", "15:06:49"}, {"ru_RU", "15:06:49"},
        {"en_US", "3:06:49 PM"},
    };
    for (const auto& c : cases) {
        QString text = ClockText(t, QLocale(QString::fromLatin1(c.locale)));
        // CLDR puts a narrow no-break space before "PM".
        text.replace(QChar(0x202F), u' ').replace(QChar(0x00A0), u' ');
        EXPECT_EQ(text, QString::fromLatin1(c.text)) << c.locale;
    }
    EXPECT_FALSE(ClockText(t).contains(QStringLiteral("UTC")));
    EXPECT_TRUE(ClockText(t).contains(QStringLiteral("49")));

    const struct { const char* format; const char* without; } formats[] = {
        {"HH:mm:ss t", "HH:mm:ss"},       {"h:mm:ss AP tttt", "h:mm:ss AP"},
        {"H:mm:ss (t)", "H:mm:ss"},       {"t HH:mm:ss", "HH:mm:ss"},
        {"HH:mm:ss 'at' tt", "HH:mm:ss 'at'"}, {"'t'HH:mm", "'t'HH:mm"},
        {"HH 'o''clock' t", "HH 'o''clock'"}, {"HH 'unclosed t", "HH 'unclosed t"},
        {"HH:mm:ss", "HH:mm:ss"},         {"t", ""},
    };
    for (const auto& f : formats)
        EXPECT_EQ(TimeFormatWithoutZone(QString::fromLatin1(f.format)), QString::fromLatin1(f.without))
            << f.format;
}

// The two halves of a bar are drawn around one geometry: at every size the
// caret's tip lands on the scale line of the background. (Sizes with a
// one-pixel needle pen, whose tip is a single pixel.)
TEST_F(GaugeLive, BarCaretTipsLandOnTheScaleLineAtEverySize) {
    for (int size : {12, 23, 31, 37}) {
        for (bool vertical : {false, true}) {
            data.Gauges.clear();
            TPribor& g = Add(1, size, 30, 20);
            g.Horizontal = vertical;
            g.Name = "";
            g.ScaleColor = 0x0000FF;
            Back();
            // The scale line: the row (column) holding the most scale pixels.
            auto line = [&](const QImage& img) {
                int best = -1, most = 0;
                for (int i = 0; i < (vertical ? img.width() : img.height()); ++i) {
                    int n = 0;
                    for (int k = 0; k < (vertical ? img.height() : img.width()); ++k)
                        n += (vertical ? img.pixel(i, k) : img.pixel(k, i)) == Rgb(0x0000FF);
                    if (n > most) {
                        most = n;
                        best = i;
                    }
                }
                return best;
            };
            const int scaleLine = line(background);
            for (double v : {0.0, 37.0, 100.0}) {
                const QImage f = Frame(v);
                // The tip: the caret's pixel nearest the scale line.
                int tip = vertical ? -1 : 1 << 20;
                for (int y = 0; y < f.height(); ++y)
                    for (int x = 0; x < f.width(); ++x)
                        if (f.pixel(x, y) == Rgb(kNeedle))
                            tip = vertical ? std::max(tip, x) : std::min(tip, y);
                EXPECT_EQ(tip, scaleLine) << size << (vertical ? " vertical " : " horizontal ") << v;
            }
        }
    }
}

TEST_F(GaugeLive, FramesOfAnySizeAndGaugesWithoutScaleAreSafe) {
    Add(0, 100, 10, 10).Inert = true;
    Add(2, 100, 10, 10).Inert = true;
    TPribor& noScale = Add(1, 100, 10, 10);
    Back();
    noScale.Maximum = noScale.Minimum;  // after the background pass
    frame = QImage();                    // the window lost its frame
    EXPECT_EQ(Frame(kInf), background);
    background = QImage();
    EXPECT_TRUE(Frame(1).isNull());
}

// Each frame restores only the boxes the previous one drew on; the result
// must be the frame drawn over a whole copy of the background, whatever
// changed in between: values and their texts' widths, alarms, lamps, the
// clock, gauges that stop being drawn, and writes to the frame from outside.
TEST_F(GaugeLive, FramesDrawnOverTheLastOneEqualFramesDrawnOverTheBackground) {
    QImage bmp(10, 20, QImage::Format_RGB32);
    bmp.fill(Qt::black);
    for (int y = 10; y < 20; ++y)
        for (int x = 0; x < 10; ++x)
            bmp.setPixel(x, y, qRgb(0, 255, 0));
    ASSERT_TRUE(QDir(dir.path()).mkpath("icons"));
    ASSERT_TRUE(bmp.save(dir.filePath("icons/lamp.bmp"), "BMP"));

    data.Procs.resize(8);
    Add(0, 60, 10, 10).LabelDigits = 5;       // wide needle pen
    Add(0, 20, 150, 10);                      // one-pixel needle
    Add(1, 60, 200, 10).Name = "BAR";
    TPribor& vertical = Add(1, 60, 330, 10);
    vertical.Horizontal = true;
    vertical.Reverse = true;
    Add(2, 50, 10, 150).LabelDigits = 50;     // the whole value text, however long
    Add(3, 50, 150, 150).Name = "OIL";
    Add(4, 100, 250, 150).Name = "lamp";
    Add(1, 80, 400, 200).Name = "EDGE";       // runs off the panel's right and bottom
    for (std::size_t i = 0; i < data.Gauges.size(); ++i)
        data.Gauges[i].FormulaIndex = std::uint16_t(i);
    data.ClockSize = 100;
    data.ClockX = 300;
    data.ClockY = 110;
    data.ClockColor = 0x0000FF;
    Back();
    ASSERT_EQ(layout.Gauges[6].Kind, 4);

    const TPanelLayout reference = layout;  // its own marks: every frame from scratch
    auto full = [&](const QTime& t) {
        QImage f;
        DrawPrib(data, state, reference, background, f, t);
        return f;
    };
    const double nan = std::nan("");
    const struct { double value; bool alarm, clock; int second; bool inert; } steps[] = {
        {1, false, true, 0, false},          {12345678.9, true, true, 1, false},
        {-1e300, false, false, 2, false},    {50, true, true, 59, true},
        {nan, false, true, 3, false},        {kInf, true, true, 4, true},
        {99.99, false, false, 5, false},     {-0.01, true, true, 6, false},
    };
    QImage shown, shownExpected;
    for (int round = 0; round < 2; ++round) {
        for (const auto& st : steps) {
            for (std::size_t i = 0; i < data.Procs.size(); ++i)
                SetValue(i, st.value * double(i + 1));
            for (std::size_t i = 0; i < data.Gauges.size(); ++i)
                SetAlarm(i, st.alarm != (i % 2 == 1));
            data.ClockVisible = st.clock;
            data.Gauges[2].Inert = st.inert;
            const QTime t(st.second % 2 ? 9 : 23, 59, st.second);
            DrawPrib(data, state, layout, background, frame, t);
            ASSERT_EQ(frame, full(t)) << st.value << " round " << round;
            // A frame still held from before (the screen's) is left as it was.
            if (!shown.isNull())
                EXPECT_EQ(shown, shownExpected);
            shown = frame;
            shownExpected = frame.copy();
        }
        // Whatever else writes to the frame sends the next one back to a whole copy.
        Canvas(&frame).fillRect(0, 0, 444, 250, 0x00FFFF);
    }

    // The frames really were drawn over the last one: a pixel of the
    // background that no moving part covers, changed behind the frames' back,
    // does not reach the next frame.
    QRect drawn;
    long long area = 0;
    for (const QRect& r : layout.Marks.Drawn) {
        drawn |= r;
        area += (long long)r.width() * r.height();
    }
    ASSERT_FALSE(drawn.contains(0, 249));
    EXPECT_LT(area, 444 * 250 / 4);
    const QRgb kept = frame.pixel(0, 249);
    const_cast<uchar*>(background.constBits())[background.bytesPerLine() * 249] ^= 0xFF;
    DrawPrib(data, state, layout, background, frame, QTime(1, 2, 3));
    EXPECT_EQ(frame.pixel(0, 249), kept);
}

// What a frame reports as changed is all that the screen repaints: every
// pixel that differs from the frame before must lie in it, and a frame that
// had to start from a whole copy reports the whole frame.
// A frame draws again only the gauges whose reading changed and those that
// share pixels with them; overlapping gauges, values that stay, texts that
// grow into a neighbour: every frame is the one drawn from the background.
TEST_F(GaugeLive, GaugesThatDidNotChangeAreLeftAsTheyAreAndOverlapsStayExact) {
    data.Procs.resize(7);
    Add(0, 60, 10, 10);                      // a dial...
    Add(2, 40, 60, 60).LabelDigits = 50;     // ...with a readout over it
    Add(1, 60, 200, 10).Name = "BAR";
    Add(1, 60, 230, 40).Name = "OVER";       // a bar over the bar
    Add(2, 50, 10, 170).LabelDigits = 50;    // a readout whose text grows into the lamp
    Add(3, 40, 60, 185).Name = "OIL";
    Add(0, 40, 330, 150);                    // alone
    for (std::size_t i = 0; i < data.Gauges.size(); ++i)
        data.Gauges[i].FormulaIndex = std::uint16_t(i);
    data.ClockSize = 100;
    data.ClockX = 300;
    data.ClockY = 110;
    data.ClockVisible = true;
    Back();
    const TPanelLayout reference = layout;
    std::mt19937 rng(77);
    const double values[] = {0, 1, 33.3, 99, 12345678.9, -5, std::nan("")};
    int untouched = 0, partial = 0;
    for (int step = 0; step < 300; ++step) {
        // Most steps change a few gauges only, some none.
        for (std::size_t i = 0; i < data.Gauges.size(); ++i) {
            if (std::uniform_int_distribution<int>(0, 3)(rng) == 0)
                SetValue(i, values[std::uniform_int_distribution<int>(0, 6)(rng)] * double(i + 1));
            if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
                SetAlarm(i, !state.Alarm(i));
        }
        const QTime t(4, 0, step / 7 % 60);
        const QImage before = frame.copy();
        const QRegion changed = DrawPrib(data, state, layout, background, frame, t);
        QImage fresh;
        DrawPrib(data, state, reference, background, fresh, t);
        ASSERT_EQ(frame, fresh) << "step " << step;
        for (int y = 0; y < 250; ++y)
            for (int x = 0; x < 444; ++x) {
                if (frame.pixel(x, y) != before.pixel(x, y)) {
                    ASSERT_TRUE(changed.contains(QPoint(x, y))) << x << "," << y << " step " << step;
                }
            }
        untouched += changed.isEmpty();
        partial += !changed.isEmpty() && changed != QRegion(0, 0, 444, 250);
    }
    EXPECT_GT(untouched, 0);
    EXPECT_GT(partial, 0);
}

TEST_F(GaugeLive, EveryChangedPixelLiesInTheReportedRegion) {
    data.Procs.resize(6);
    Add(0, 60, 10, 10).LabelDigits = 5;
    Add(0, 20, 150, 10);
    Add(1, 60, 200, 10).Name = "BAR";
    Add(2, 50, 10, 150).LabelDigits = 50;
    Add(3, 50, 150, 150).Name = "OIL";
    Add(1, 80, 400, 200).Name = "EDGE";  // runs off the panel
    for (std::size_t i = 0; i < data.Gauges.size(); ++i)
        data.Gauges[i].FormulaIndex = std::uint16_t(i);
    data.ClockSize = 100;
    data.ClockX = 300;
    data.ClockY = 110;
    data.ClockColor = 0x0000FF;
    Back();

    const QRegion whole(0, 0, 444, 250);
    EXPECT_EQ(DrawPrib(data, state, layout, background, frame, QTime(1, 0, 0)), whole);
    const double values[] = {0, 100, 3.5, 12345678.9, -7, std::nan(""), 55, 55, 99};
    int second = 0;
    int partial = 0;
    for (int round = 0; round < 2; ++round) {
        for (double v : values) {
            for (std::size_t i = 0; i < data.Procs.size(); ++i)
                SetValue(i, v * double(i + 1));
            for (std::size_t i = 0; i < data.Gauges.size(); ++i)
                SetAlarm(i, (int(v) + int(i)) % 2 == 0);
            data.ClockVisible = second % 3 != 0;
            const QImage before = frame.copy();
            const QRegion changed = DrawPrib(data, state, layout, background, frame, QTime(2, 0, ++second % 60));
            for (int y = 0; y < 250; ++y)
                for (int x = 0; x < 444; ++x)
                    if (frame.pixel(x, y) != before.pixel(x, y))
                        ASSERT_TRUE(changed.contains(QPoint(x, y))) << x << "," << y << " value " << v;
            EXPECT_TRUE((changed - whole).isEmpty());
            partial += changed != whole;
        }
        // A write from outside: the next frame starts over and says so.
        Canvas(&frame).fillRect(0, 0, 444, 250, 0x00FFFF);
        EXPECT_EQ(DrawPrib(data, state, layout, background, frame, QTime(3, 0, 0)), whole);
    }
    EXPECT_EQ(partial, 2 * int(std::size(values)));
}

}  // namespace
}  // namespace kovra
