#include "display/gauge_back.h"

#include "config/format.h"
#include "display/canvas.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace kovra {
namespace {

constexpr TColor kPanel = 0xFF0000;   // blue
constexpr TColor kScale = 0x00FF00;   // green
constexpr TColor kText = 0x000000;
constexpr double kDeg = std::numbers::pi / 180;

QRgb Rgb(TColor c) { return ToQColor(c).rgb() | 0xFF000000u; }

class GaugeBack : public ::testing::Test {
protected:
    void SetUp() override {
        SetDecimalSeparatorForTesting('.');
        data.Gauges.reserve(16);  // references from Add stay valid
    }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }

    // Draws the background of a 444-pixel panel (one panel unit per pixel).
    void Draw(int w = 444) {
        DrawPribBack(data, kPanel, w, PanelSize(w + 18).height(), dir.path().toStdString(),
                     background, frame, layout);
    }
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
        g.ScaleColor = kScale;
        g.TextColor = kText;
        data.Gauges.push_back(g);
        return data.Gauges.back();
    }
    void WriteFile(const QString& name, const QByteArray& bytes) {
        QDir(dir.path()).mkpath(QFileInfo(dir.filePath(name)).path());
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QImage Plain() const { return MakePicture(444, 250, kPanel); }

    QTemporaryDir dir;
    TAllData data;
    QImage background, frame;
    TPanelLayout layout;
};

TEST(PanelGeometry, PanelSizeFollowsClientWidth) {
    const struct { int client; QSize size; } cases[] = {
        {462, {444, 250}},   // 249.75 rounds up
        {100, {82, 46}},     // 46.125
        {1918, {1900, 1069}},
        {18, {0, 0}},
        {-5, {0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PanelSize(c.client), c.size) << c.client;
}

TEST(PanelGeometry, PanelUnitsRoundHalfToEvenAndStayIn16Bits) {
    const struct { int w, units, px; } cases[] = {
        {444, 50, 50}, {888, 25, 50}, {666, 1, 2}, {666, 3, 4}, {666, 5, 8},
        {444, 65535, 65535}, {4000, 65535, 65535}, {0, 100, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PanelUnitsToPixels(c.w, c.units), c.px) << c.w << " " << c.units;
}

TEST(PanelGeometry, RoundingIsDefinedForEveryDouble) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(RoundI(2.5), 2);
    EXPECT_EQ(RoundI(-3.5), -4);
    EXPECT_EQ(RoundI(std::nan("")), 0);
    EXPECT_EQ(RoundI(inf), std::numeric_limits<int>::max());
    EXPECT_EQ(RoundI(-1e300), std::numeric_limits<int>::min());
    EXPECT_EQ(Px(1e300, 100), std::numeric_limits<int>::max());
    EXPECT_EQ(Px(-1e300, -100), std::numeric_limits<int>::min());
    EXPECT_EQ(Px(0.5, 1), 1);
}

TEST_F(GaugeBack, DerivedFieldsOfDialsAndBars) {
    TPribor& dial = Add(0, 100, 10, 20);
    dial.StartAngle = 225;
    dial.EndAngle = -45;
    for (auto [horizontal, reverse] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
        TPribor& bar = Add(1, 100, 200, 20);
        bar.Horizontal = horizontal;
        bar.Reverse = reverse;
    }
    for (TPribor& g : data.Gauges)
        g.AlarmLevel = 75;
    data.ClockSize = 40;
    data.ClockX = 300;
    data.ClockY = 11;
    Draw(888);

    const auto& g = layout.Gauges;
    ASSERT_EQ(g.size(), 5u);
    EXPECT_EQ(g[0].ScaledSize, 200);
    EXPECT_EQ(g[0].ScaledX, 20);
    EXPECT_EQ(g[0].ScaledY, 40);
    EXPECT_DOUBLE_EQ(g[0].ScaleStart, -225 * kDeg);
    EXPECT_DOUBLE_EQ(g[0].ScaleEnd, 45 * kDeg);
    EXPECT_NEAR(g[0].AlarmPos, -22.5 * kDeg, 1e-12);
    // Bars of S = 200 have a 40-pixel font: th / 2 = 20 keeps the ends off the edges.
    const struct { double start, end, alarm; } bars[] = {
        {20, 380, 290},    // horizontal scale, minimum at the left
        {380, 20, 110},    // reversed
        {380, 100, 170},   // vertical scale, minimum at the bottom
        {100, 380, 310},   // reversed
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(g[1 + i].ScaleStart, bars[i].start) << i;
        EXPECT_DOUBLE_EQ(g[1 + i].ScaleEnd, bars[i].end) << i;
        EXPECT_DOUBLE_EQ(g[1 + i].AlarmPos, bars[i].alarm) << i;
        EXPECT_EQ(g[1 + i].ScaledX, 400);
    }
    EXPECT_EQ(layout.Clock.ScaledSize, 80);
    EXPECT_EQ(layout.Clock.ScaledX, 600);
    EXPECT_EQ(layout.Clock.ScaledY, 22);
    EXPECT_EQ(background.size(), QSize(888, 500));
    EXPECT_EQ(frame.size(), QSize(888, 500));
}

TEST(ScaleNumerals, ValuesInGeneralFormatCutToLabelDigits) {
    TPribor g;
    const struct {
        int min, max, divisions, digits, j;
        char sep;
        const char* text;
    } cases[] = {
        {0, 1000, 50, 2, 0, '.', "0"},   {0, 1000, 50, 2, 1, '.', "20"},
        {0, 1000, 50, 2, 4, '.', "80"},  {0, 1000, 50, 2, 5, '.', "10"},
        {0, 1000, 50, 2, 6, '.', "12"},  {0, 1000, 50, 2, 50, '.', "10"},
        {0, 1000, 50, 0, 7, '.', ""},    {-100, 100, 4, 50, 1, '.', "-50"},
        {0, 1, 4, 50, 1, ',', "0,25"},   {0, 1, 3, 4, 1, '.', "0.33"},
        {0, 1, 3, 50, 1, '.', "0.333333333333333"},
    };
    for (const auto& c : cases) {
        g.Minimum = c.min;
        g.Maximum = c.max;
        g.ScaleDivisions = std::uint16_t(c.divisions);
        g.LabelDigits = std::uint16_t(c.digits);
        EXPECT_EQ(ScaleNumeral(g, c.j, c.sep), QString::fromLatin1(c.text))
            << c.min << ".." << c.max << " j=" << c.j;
    }
}

TEST(Cp1251, CaptionsDecodeToUnicode) {
    EXPECT_EQ(FromCp1251("\xD2\xE5\xEC\xEF \xA8\xB8 \xB9" "5"), QStringLiteral(u"Темп Ёё №5"));
    EXPECT_EQ(FromCp1251(std::string("a\0b", 3)).size(), 3);
}

TEST_F(GaugeBack, DialScaleRunsCounterclockwiseFromItsStart) {
    // Both dials span 270 degrees over the top; the gap is at the bottom.
    const struct { int start, end, zeroDx; } cases[] = {{225, -45, -67}, {-45, 225, 67}};
    for (const auto& c : cases) {
        data.Gauges.clear();
        TPribor& d = Add(0, 100, 10, 20);
        d.StartAngle = std::int16_t(c.start);
        d.EndAngle = std::int16_t(c.end);
        Draw();
        const int cx = 110, cy = 120;
        EXPECT_EQ(background.pixel(cx, 20), Rgb(kScale)) << c.start;   // top of the arc
        EXPECT_EQ(background.pixel(cx, 220), Rgb(kPanel)) << c.start;  // the gap
        // Graduation 0, the minimum, on the side the scale starts from.
        EXPECT_EQ(background.pixel(cx + c.zeroDx, cy + 67), Rgb(kScale)) << c.start;
    }
    // Equal angles: a full circle, every graduation on one ray.
    data.Gauges.clear();
    TPribor& full = Add(0, 100, 10, 20);
    full.StartAngle = full.EndAngle = 90;
    Draw();
    EXPECT_EQ(background.pixel(110, 220), Rgb(kScale));
    EXPECT_EQ(background.pixel(110 + 67, 120 + 67), Rgb(kPanel));
}

TEST_F(GaugeBack, AlarmZonesRunToTheChosenEndOfTheScale) {
    const QRgb red = Rgb(255);
    for (bool below : {false, true}) {
        data.Gauges.clear();
        TPribor& d = Add(0, 100, 10, 20);  // 0 at 225 degrees, 100 at -45: 75 at 22.5
        d.StartAngle = 225;
        d.EndAngle = -45;
        Add(1, 100, 240, 20);  // horizontal: 75 at x = 145, th = 20
        for (TPribor& g : data.Gauges) {
            g.AlarmEnabled = true;
            g.AlarmBelow = below;
            g.AlarmLevel = 75;
        }
        Draw();
        EXPECT_EQ(background.pixel(210, 120) == red, !below);  // dial at 0 degrees
        EXPECT_EQ(background.pixel(110, 20) == red, below);    // dial at 90 degrees
        const int row = 20 + 3 * 20 + 7;
        EXPECT_EQ(background.pixel(240 + 170, row) == red, !below);
        EXPECT_EQ(background.pixel(240 + 100, row) == red, below);
    }
}

TEST_F(GaugeBack, IconLampsComposeOverTheBackground) {
    // 10 x 20: the top half black (transparent), the bottom half green.
    QImage bmp(10, 20, QImage::Format_RGB32);
    bmp.fill(Qt::black);
    for (int y = 10; y < 20; ++y)
        for (int x = 0; x < 10; ++x)
            bmp.setPixel(x, y, qRgb(0, 255, 0));
    ASSERT_TRUE(QDir(dir.path()).mkpath("icons"));
    ASSERT_TRUE(bmp.save(dir.filePath(QStringLiteral(u"icons/Лампа.bmp")), "BMP"));
    WriteFile("icons/broken.bmp", "BM this is no bitmap");

    TPribor& lamp = Add(4, 100, 50, 30);
    lamp.Name = "\xCB\xE0\xEC\xEF\xE0";  // "Лампа" in CP1251
    Add(4, 100, 50, 30).Name = "missing";
    Add(4, 100, 50, 30).Name = "broken";
    Draw();

    const TGaugePlace& g = layout.Gauges[0];
    EXPECT_EQ(g.Kind, 4);
    ASSERT_TRUE(!g.IconOn.isNull() && !g.IconOff.isNull());
    EXPECT_EQ(g.IconOn.size(), QSize(30, 60));
    EXPECT_EQ(g.IconOff.size(), QSize(30, 60));
    EXPECT_EQ(g.IconOn.pixel(15, 10), Rgb(kPanel));
    EXPECT_EQ(g.IconOn.pixel(15, 50), qRgb(0, 255, 0));
    EXPECT_EQ(g.IconOff.pixel(15, 10), Rgb(kPanel));
    EXPECT_EQ(g.IconOff.pixel(15, 50), qRgb(0, 0, 0));
    EXPECT_EQ(background, Plain());  // nothing drawn for a lamp

    for (int i : {1, 2}) {
        EXPECT_EQ(layout.Gauges[i].Kind, 3) << data.Gauges[i].Name;
        EXPECT_TRUE(layout.Gauges[i].IconOn.isNull()) << data.Gauges[i].Name;
        EXPECT_EQ(data.Gauges[i].Kind, 4) << "the model keeps its setting";
    }
    // A bitmap that turns up while the program runs is not picked up by the
    // next layout (a resize); the lamp that has its bitmap stays a lamp.
    ASSERT_TRUE(bmp.save(dir.filePath("icons/missing.bmp"), "BMP"));
    Draw(888);
    EXPECT_EQ(layout.Gauges[0].Kind, 4);
    EXPECT_EQ(layout.Gauges[0].IconOn.size(), QSize(60, 120));
    EXPECT_EQ(layout.Gauges[1].Kind, 3);
}

TEST_F(GaugeBack, BackgroundPictureIsStretchedAndBadOnesCountAsMissing) {
    QImage green(40, 20, QImage::Format_RGB32);
    green.fill(qRgb(0, 200, 0));
    ASSERT_TRUE(green.save(dir.filePath("back.jpg"), "JPG", 100));
    Draw();
    const QRgb px = background.pixel(400, 240);
    EXPECT_NEAR(qGreen(px), 200, 8);
    EXPECT_NEAR(qBlue(px), 0, 8);

    QFile file(dir.filePath("back.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    for (const QByteArray& bad : {QByteArray("not a jpeg"), good.left(good.size() / 2)}) {
        WriteFile("back.jpg", bad);
        Draw();
        EXPECT_EQ(background, Plain());
    }
}

TEST_F(GaugeBack, GaugesWithoutScaleOrOutOfRangeSettingsStayDefined) {
    Add(0, 100, 10, 10).Inert = true;
    Add(0, 100, 10, 10).Maximum = 0;          // no scale, not caught by a loader
    Add(1, 100, 10, 10).ScaleDivisions = 0;
    Add(9, 100, 10, 10);                      // unknown kind
    Draw();
    EXPECT_EQ(background, Plain());

    // Far off the panel, at the ends of every range.
    TPribor& d = Add(0, 65535, 65535, 65535);
    d.Minimum = std::numeric_limits<std::int32_t>::min();
    d.Maximum = std::numeric_limits<std::int32_t>::max();
    d.AlarmEnabled = true;
    d.AlarmLevel = 1e300;
    TPribor& b = Add(1, 3000, 0, 0);
    b.AlarmEnabled = true;
    b.AlarmLevel = -std::numeric_limits<double>::infinity();
    b.LabelDigits = 50;
    TPribor& v = Add(1, 0, 0, 0);
    v.Horizontal = true;
    v.AlarmEnabled = true;
    v.AlarmLevel = std::nan("");
    Draw();
    EXPECT_EQ(layout.Gauges[4].ScaledSize, 65535);
    EXPECT_TRUE(std::isfinite(layout.Gauges[4].AlarmPos));
    Draw(0);
    EXPECT_TRUE(background.isNull());
}

}  // namespace
}  // namespace kovra
