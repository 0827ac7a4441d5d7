#include "app/TLogU.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QVBoxLayout>

using namespace kovra;

namespace {

TEST(StripLog, CreatedFromSettingsSpanningItsColumnAndShowingItsFirstStep)
{
    QWidget box;
    auto* column = new QVBoxLayout(&box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    TLogSettings s;
    s.Height = 60;
    s.FormulaIndex = 2;
    s.LabelText = "\xE4\xE0\xF2\xF7\xE8\xEA" "0";  // "датчик0" in CP1251
    s.MaxValue = 50;
    s.MinValue = -50;
    s.TraceColor = 0x00FF00;
    TWindowOptions o;
    o.PanelColor = 0x102030;
    o.ChartTextHeight = 12;
    TLog* log = CreateLog(&box, column, s, o, 300);
    column->addStretch();

    EXPECT_EQ(log->LabelText, QString::fromUtf8("датчик0"));
    EXPECT_EQ(log->FormulaIndex, 2);
    EXPECT_EQ(log->MaxValue, 50);
    EXPECT_EQ(log->MinValue, -50);
    EXPECT_TRUE(log->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(log->canvas().fontBold);
    EXPECT_EQ(log->canvas().fontPixelHeight, 12);
    // The first step is drawn at the width asked for, before any layout.
    EXPECT_EQ(log->pictureWidth(), 300);
    EXPECT_EQ(log->pictureHeight(), 60);

    box.resize(420, 200);
    box.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(log->width(), 420);
    EXPECT_EQ(log->height(), 60);  // fixed, whatever room the column has
    log->add(25);
    EXPECT_EQ(log->pictureWidth(), 420);

    // On screen: the picture exactly.
    const QImage shown = log->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, log->Render());
}

TEST(StripLog, MomentChartIsLookedUpSafely)
{
    TAllData d;
    TLog a, b;
    const std::vector<TLog*> charts = {&a, &b};
    d.MomentChart = 1;
    EXPECT_EQ(MomentChartOf(charts, d), static_cast<TStripChart*>(&b));
    d.MomentChart = 2;
    EXPECT_EQ(MomentChartOf(charts, d), nullptr);
    d.MomentChart = 0;
    EXPECT_EQ(MomentChartOf({}, d), nullptr);
}

}  // namespace
