#include "display/gauge_back.h"

#include "config/cp1251.h"

#include "config/format.h"
#include "display/canvas.h"
#include "display/jpeg_decode.h"
#include "display/picture.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace kovra {

namespace {

constexpr TColor kRed = 255;

// Graduation j of n between the scale's start b and end e.
double Along(double b, double e, double n, double j) { return (e - b) / n * j + b; }

// The position of value v on a scale running from b (at min) to e (at max).
double PositionOf(const TPribor& g, double v) {
    return (g.ScaleEnd - g.ScaleStart) / (double(g.Maximum) - double(g.Minimum)) *
               (v - double(g.Minimum)) + g.ScaleStart;
}

class BackPainter {
public:
    BackPainter(QImage& background, char sep) : c_(&background), sep_(sep) {}

    Canvas& canvas() { return c_; }

    void dial(TPribor& g, int s, int x0, int y0, int th);
    void bar(TPribor& g, int s, int x0, int y0, int th);

private:
    Canvas c_;
    char sep_;
};

// The arc of the dial's circle from the ray through direction a to the ray
// through direction b, counterclockwise on screen.
void DialArc(Canvas& c, int x0, int y0, int s, int cx, int cy, double a, double b) {
    c.arc(x0, y0, x0 + 2 * s + 1, y0 + 2 * s + 1, cx + RoundI(100 * std::cos(a)),
          cy + RoundI(100 * std::sin(a)), cx + RoundI(100 * std::cos(b)),
          cy + RoundI(100 * std::sin(b)));
}

// A graduation mark at angle a, from radius s inward to radius inner * s.
void DialMark(Canvas& c, int cx, int cy, int s, double a, double inner) {
    const double dx = std::cos(a) * s, dy = std::sin(a) * s;
    c.line(Px(dx, cx), Px(dy, cy), Px(inner * dx, cx), Px(inner * dy, cy));
}

void BackPainter::dial(TPribor& g, int s, int x0, int y0, int th) {
    const int cx = x0 + s, cy = y0 + s;
    const double rad = -std::numbers::pi / 180;  // screen y points down
    const double a1 = g.StartAngle * rad, a2 = g.EndAngle * rad;
    g.ScaleStart = a1;
    g.ScaleEnd = a2;
    g.AlarmPos = PositionOf(g, g.AlarmLevel);
    const double al = g.AlarmPos;

    if (a1 > a2)
        DialArc(c_, x0, y0, s, cx, cy, a1, a2);
    else
        DialArc(c_, x0, y0, s, cx, cy, a2, a1);

    const int n = g.ScaleDivisions;
    for (int j = 0; j <= n; ++j) {
        const double a = Along(a1, a2, n, j);
        DialMark(c_, cx, cy, s, a, 0.9);
        const QString text = ScaleNumeral(g, j, sep_);
        if (!text.isEmpty()) {
            const double dx = std::cos(a) * s, dy = std::sin(a) * s;
            c_.textOut(Px(0.75 * dx, cx) - c_.textWidth(text) / 2,
                       Px(0.75 * dy, cy) - th / 2, text);
        }
        if (j > 0)
            DialMark(c_, cx, cy, s, Along(a1, a2, n, j - 0.5), 0.95);
    }

    const int hub = s / 10;
    c_.ellipse(cx - hub, cy - hub, cx + hub, cy + hub);
    const QString caption = FromCp1251(g.Name);
    c_.textOut(cx - c_.textWidth(caption) / 2, cy - th - hub, caption);

    c_.penWidth = std::max(1, RoundI(0.03 * s));
    c_.penColor = kRed;
    if (!g.AlarmEnabled)
        return;
    if (!g.AlarmBelow) {
        if (a1 < a2)
            DialArc(c_, x0, y0, s, cx, cy, a2, al);
        else
            DialArc(c_, x0, y0, s, cx, cy, al, a2);
    } else {
        if (a1 > a2)
            DialArc(c_, x0, y0, s, cx, cy, a1, al);
        else
            DialArc(c_, x0, y0, s, cx, cy, al, a1);
    }
}

void BackPainter::bar(TPribor& g, int s, int x0, int y0, int th) {
    c_.textOut(x0, y0, FromCp1251(g.Name));
    const int n = g.ScaleDivisions;
    if (!g.Horizontal) {
        // A horizontal scale, minimum at the left unless reversed.
        g.ScaleStart = th / 2.0;
        g.ScaleEnd = 2.0 * s - th / 2.0;
        if (g.Reverse)
            std::swap(g.ScaleStart, g.ScaleEnd);
        g.AlarmPos = PositionOf(g, g.AlarmLevel);
        const double b = g.ScaleStart, e = g.ScaleEnd;

        const int top = y0 + 2 * th;
        const int yb = top + RoundI(0.07 * s);
        c_.line(Px(b, x0), yb, Px(e, x0), yb);
        for (int j = 0; j <= n; ++j) {
            const int x = Px(Along(b, e, n, j), x0);
            c_.line(x, top, x, yb);
            const QString text = ScaleNumeral(g, j, sep_);
            if (!text.isEmpty())
                c_.textOut(x - c_.textWidth(text) / 2, y0 + th, text);
            if (j < n) {
                const int xm = Px(Along(b, e, n, j + 0.5), x0);
                c_.line(xm, top + RoundI(0.02 * s), xm, yb);
            }
        }
        c_.penWidth = std::max(1, RoundI(0.03 * s));
        c_.penColor = kRed;
        if (g.AlarmEnabled) {
            const int row = y0 + 3 * th + RoundI(0.07 * s);
            c_.line(Px(g.AlarmPos, x0), row, Px(g.AlarmBelow ? b : e, x0), row);
        }
    } else {
        // A vertical scale, minimum at the bottom unless reversed.
        g.ScaleStart = 2.0 * s - 0.5 * th;
        g.ScaleEnd = 2.5 * th;
        if (g.Reverse)
            std::swap(g.ScaleStart, g.ScaleEnd);
        g.AlarmPos = PositionOf(g, g.AlarmLevel);
        const double b = g.ScaleStart, e = g.ScaleEnd;

        const int xl = Px(0.13 * s, x0);
        c_.line(xl, Px(b, y0), xl, Px(e, y0));
        for (int j = 0; j <= n; ++j) {
            const int y = Px(Along(b, e, n, j), y0);
            c_.line(xl, y, Px(0.2 * s, x0), y);
            const QString text = ScaleNumeral(g, j, sep_);
            if (!text.isEmpty())
                c_.textOut(Px(0.23 * s, x0), y - th / 2, text);
            if (j < n) {
                const int ym = Px(Along(b, e, n, j + 0.5), y0);
                c_.line(xl, ym, Px(0.17 * s, x0), ym);
            }
        }
        c_.penWidth = std::max(1, RoundI(0.03 * s));
        c_.penColor = kRed;
        if (g.AlarmEnabled)
            c_.line(xl, Px(g.AlarmPos, y0), xl, Px(g.AlarmBelow ? b : e, y0));
    }
}

// The icon's file: icons/<caption>.bmp in the working folder. A backslash in
// the caption separates folders, as it always has on Windows.
QString IconPath(const std::filesystem::path& workingFolder, const std::string& caption) {
    QString name = FromCp1251(caption);
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir(workingFolder).filePath(QStringLiteral("icons/") + name + QStringLiteral(".bmp"));
}

// Makes the icon lamp's two pictures over the background as it stands now, or
// turns the gauge into a caption lamp when its bitmap cannot be had.
void MakeIconLamp(TPribor& g, const std::filesystem::path& workingFolder,
                  const QImage& background, int s, int x0, int y0) {
    g.IconOn.reset();
    g.IconOff.reset();
    const QString path = IconPath(workingFolder, g.Name);
    QImage bitmap;
    if (QFileInfo(path).isFile())
        bitmap.load(path, "BMP");
    if (bitmap.isNull()) {
        g.Kind = 3;
        return;
    }
    const int iw = RoundI(s * 0.3);
    const int ih = RoundI(double(bitmap.height()) / bitmap.width() * s * 0.3);
    auto on = std::make_shared<TPicture>();
    auto off = std::make_shared<TPicture>();
    if (iw > 0 && ih > 0 && !background.isNull()) {
        QImage icon = MakePicture(iw, ih, 0);
        Canvas(&icon).stretchDraw(0, 0, iw, ih, bitmap);
        const QImage mask = MakeMask(icon, 0);

        off->image = MakePicture(iw, ih, 0);
        Canvas offCanvas(&off->image);
        offCanvas.copyRect(0, 0, iw, ih, background, x0, y0);
        offCanvas.copyRect(0, 0, iw, ih, mask, 0, 0, CopyMode::And);

        on->image = off->image.copy();
        Canvas(&on->image).copyRect(0, 0, iw, ih, icon, 0, 0, CopyMode::Or);
    }
    g.IconOn = std::move(on);
    g.IconOff = std::move(off);
}

}  // namespace

int RoundI(double v) {
    if (std::isnan(v))
        return 0;
    constexpr double lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    const double r = std::nearbyint(v);  // the default rounding: to nearest, halves to even
    return r <= lo ? std::numeric_limits<int>::min()
           : r >= hi ? std::numeric_limits<int>::max()
                     : static_cast<int>(r);
}

int Px(double v, int base) {
    const long long sum = (long long)RoundI(v) + base;
    return int(std::clamp<long long>(sum, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()));
}

std::uint16_t PanelUnitsToPixels(int w, int units) {
    return static_cast<std::uint16_t>(std::clamp(RoundI(w / 444.0 * units), 0, 65535));
}

QSize PanelSize(int clientWidth) {
    const int w = std::max(0, clientWidth - 18);
    return QSize(w, RoundI(w * 0.5625));
}

bool IsDrawn(const TPribor& g) {
    if (g.Inert)
        return false;
    if (g.Kind == 0 || g.Kind == 1)
        return g.Maximum != g.Minimum && g.ScaleDivisions > 0;
    return true;
}

QString ScaleNumeral(const TPribor& g, int j, char decimalSeparator) {
    if (g.LabelDigits == 0)
        return {};
    const double value =
        (double(g.Maximum) - double(g.Minimum)) / g.ScaleDivisions * j + double(g.Minimum);
    return QString::fromStdString(FormatGeneral(value, decimalSeparator)).left(g.LabelDigits);
}

void DrawPribBack(TAllData& data, TColor panelColor, int w, int h,
                  const std::filesystem::path& workingFolder, QImage& panelBackground,
                  QImage& panelFrame) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (panelFrame.size() != QSize(w, h) || panelFrame.format() != kPictureFormat)
        panelFrame = MakePicture(w, h, panelColor);

    panelBackground = MakePicture(w, h, panelColor);
    const bool drawable = !panelBackground.isNull();
    const char sep = DecimalSeparator();
    BackPainter painter(panelBackground, sep);
    Canvas& c = painter.canvas();
    c.brushColor = panelColor;
    c.brushStyle = BrushStyle::Clear;
    c.fontFamily = QStringLiteral("Arial");
    c.fontBold = false;

    if (drawable) {
        const QImage picture = DecodeJpegFile(QDir(workingFolder).filePath(QStringLiteral("back.jpg")));
        if (!picture.isNull())
            c.stretchDraw(0, 0, w, h, picture);
    }

    for (TPribor& g : data.Gauges) {
        const int s = g.ScaledSize = PanelUnitsToPixels(w, g.Size);
        const int x0 = g.ScaledX = PanelUnitsToPixels(w, g.X);
        const int y0 = g.ScaledY = PanelUnitsToPixels(w, g.Y);
        if (!IsDrawn(g))
            continue;
        if (g.Kind == 4) {
            MakeIconLamp(g, workingFolder, panelBackground, s, x0, y0);
            continue;
        }
        if (g.Kind > 2 || !drawable)
            continue;
        c.fontPixelHeight = std::max(1, RoundI(0.2 * s));
        c.fontPointSize = 0;
        c.fontColor = g.TextColor;
        c.penWidth = std::max(1, RoundI(0.013 * s));
        c.penColor = g.ScaleColor;
        const int th = c.textHeight(QStringLiteral("0"));
        switch (g.Kind) {
        case 0: painter.dial(g, s, x0, y0, th); break;
        case 1: painter.bar(g, s, x0, y0, th); break;
        case 2: c.textOut(x0, y0, FromCp1251(g.Name)); break;
        }
    }

    data.ClockScaledSize = PanelUnitsToPixels(w, data.ClockSize);
    data.ClockScaledX = PanelUnitsToPixels(w, data.ClockX);
    data.ClockScaledY = PanelUnitsToPixels(w, data.ClockY);
}

}  // namespace kovra
