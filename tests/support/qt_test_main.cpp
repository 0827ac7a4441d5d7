// main() of the tests that draw: one application for the whole run (fonts
// and widgets need it), created before any case.
#include <gtest/gtest.h>

#ifdef KOVRA_TEST_WIDGETS
#include <QApplication>
using TTestApplication = QApplication;
#else
#include <QGuiApplication>
using TTestApplication = QGuiApplication;
#endif

int main(int argc, char** argv)
{
    // Test discovery runs the binary outside ctest's environment, where there
    // may be no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TTestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
