// Helpers shared by the drawing tests: pixel access in the model's 0x00BBGGRR
// colours. Their main() (tests/support) makes the GUI application fonts need.
#pragma once

#include "display/canvas.h"

#include <QImage>

#include <algorithm>

namespace kovra::testing {

// The pixel at (x, y) as 0x00BBGGRR.
inline TColor At(const QImage& img, int x, int y)
{
    const QRgb p = img.pixel(x, y);
    return TColor(qRed(p)) | (TColor(qGreen(p)) << 8) | (TColor(qBlue(p)) << 16);
}

// The same colour as a picture stores it.
inline TColor Stored(TColor c)
{
    const QColor q = ToQColor(c);
    return TColor(q.red()) | (TColor(q.green()) << 8) | (TColor(q.blue()) << 16);
}

// Whether p lies between colours a and b, channel by channel, in one
// proportion (to each channel's rounding): what smoothing ink b over a gives.
inline bool IsBlend(TColor p, TColor a, TColor b)
{
    double lo = 0, hi = 1;
    for (int shift : {0, 8, 16}) {
        const int pa = int((a >> shift) & 0xFF), pb = int((b >> shift) & 0xFF);
        const int pp = int((p >> shift) & 0xFF);
        if (pa == pb) {
            if (pp != pa)
                return false;
            continue;
        }
        const double k1 = (pp - 1.0 - pa) / (pb - pa), k2 = (pp + 1.0 - pa) / (pb - pa);
        lo = std::max(lo, std::min(k1, k2));
        hi = std::min(hi, std::max(k1, k2));
    }
    return lo <= hi;
}

// Whether p carries ink of colour ink smoothed over background back: text
// is smoothed, so its pixels are full ink or part way to it.
inline bool IsInk(TColor p, TColor back, TColor ink) { return p != back && IsBlend(p, back, ink); }

}  // namespace kovra::testing
