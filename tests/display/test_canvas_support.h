// Helpers shared by the drawing tests: an offscreen GUI application (fonts
// need one) and pixel access in the model's 0x00BBGGRR colours.
#pragma once

#include "display/canvas.h"

#include <QGuiApplication>
#include <QImage>

namespace kovra::testing {

inline void EnsureGuiApp()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char arg0[] = "kovra-display-test";
    static char* argv[] = {arg0, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

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

}  // namespace kovra::testing
