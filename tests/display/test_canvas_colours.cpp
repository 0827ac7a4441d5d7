// Colour conversion without a GUI application: the fixed desktop scheme.
#include "display/canvas.h"

#include <gtest/gtest.h>

using namespace kovra;

TEST(CanvasColours, LowByteIsRedAndSystemColoursComeFromTheClassicScheme)
{
    EXPECT_EQ(ToQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ToQColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ToQColor(0x00336699), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(ToQColor(0xFF00000F), QColor(212, 208, 200));  // button face
    EXPECT_EQ(ToQColor(0xFF000005), QColor(255, 255, 255));  // window
    EXPECT_EQ(ToQColor(0xFF0000FE), QColor(0, 0, 0));        // no such colour
    // Only the low three bytes of a plain colour count.
    EXPECT_EQ(ToQColor(0x120000FF), QColor(255, 0, 0));
}
