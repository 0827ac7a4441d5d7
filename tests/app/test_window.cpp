// The main window's layout and its small handlers, offscreen.
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {

using kovra::TForm1;

struct WindowTest : ::testing::Test {
    QTemporaryDir program, working;
    std::vector<QString> shown;

    void SetUp() override
    {
        kovra::ErrorBox::SetHook([this](const QString&, const QString& text) { shown.push_back(text); });
    }
    void TearDown() override { kovra::ErrorBox::SetHook({}); }

    void WriteSettings(const std::string& utf8)
    {
        std::ofstream(program.filePath("set.ini").toStdString(), std::ios::binary) << utf8;
    }
    std::unique_ptr<TForm1> Make()
    {
        return std::make_unique<TForm1>(program.path().toStdString(), working.path().toStdString());
    }
};

TEST_F(WindowTest, DesignControlsAndCaptions)
{
    auto f = Make();
    EXPECT_EQ(f->objectName(), "Form1");
    EXPECT_EQ(f->windowTitle(), "Kovra Logger");
    EXPECT_EQ(f->size(), QSize(842, 504));
    EXPECT_EQ(f->font().family(), "Arial");
    EXPECT_EQ(f->font().pixelSize(), 10);
    auto* tabs = f->findChild<QTabWidget*>("PageControl1");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabPosition(), QTabWidget::South);
    EXPECT_EQ(tabs->currentWidget()->objectName(), "TabSheet2");
    EXPECT_EQ(tabs->tabText(0), "Графики");
    EXPECT_EQ(tabs->tabText(1), "Приборы");
    EXPECT_EQ(tabs->tabText(2), "Момент");
    auto* b1 = f->findChild<QPushButton*>("Button1");
    auto* b2 = f->findChild<QPushButton*>("Button2");
    ASSERT_TRUE(b1 && b2);
    EXPECT_EQ(b1->text(), "выход");
    EXPECT_EQ(b1->geometry(), QRect(773, 486, 60, 16));
    EXPECT_EQ(b2->text(), "Запись лога");
    EXPECT_EQ(b2->geometry(), QRect(180, 486, 120, 16));
    for (const char* name : {"TabSheet1", "TabSheet3", "ScrollBox1", "ScrollBox2", "Image1", "Image2", "Image3"})
        EXPECT_NE(f->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(f->findChild<QWidget*>("Image2")->height(), 28);
}

TEST_F(WindowTest, ButtonsFollowTheirAnchors)
{
    auto f = Make();
    f->show();
    f->resize(1000, 600);
    EXPECT_EQ(f->Button1->geometry(), QRect(1000 - 69, 600 - 18, 60, 16));
    EXPECT_EQ(f->Button2->geometry(), QRect(180, 600 - 18, 120, 16));
}

TEST_F(WindowTest, GaugeImageFollowsTheTabWidth)
{
    auto f = Make();
    f->TabSheet2->resize(100, 300);
    f->TabSheet2Resize();
    EXPECT_EQ(f->Image1->size(), QSize(82, 46));
    f->TabSheet2->resize(462, 300);
    f->TabSheet2Resize();
    EXPECT_EQ(f->Image1->size(), QSize(444, 250));
}

TEST_F(WindowTest, WheelScrollsByAFifthOfTheDeltaAndIsNotHandled)
{
    auto f = Make();
    f->show();
    QScrollBar* bar = f->ScrollBox2->verticalScrollBar();
    bar->setRange(0, 1000);
    bar->setValue(500);
    EXPECT_FALSE(f->ScrollBox1MouseWheel(7));
    EXPECT_EQ(bar->value(), 499);
    f->ScrollBox1MouseWheel(-3);
    EXPECT_EQ(bar->value(), 499);
    f->ScrollBox1MouseWheel(-120);
    EXPECT_EQ(bar->value(), 523);
    // On the graphs tab the graphs' box moves instead.
    f->PageControl1->setCurrentIndex(0);
    QScrollBar* bar1 = f->ScrollBox1->verticalScrollBar();
    bar1->setRange(0, 1000);
    bar1->setValue(100);
    f->ScrollBox1MouseWheel(120);
    EXPECT_EQ(bar1->value(), 76);
    EXPECT_EQ(bar->value(), 523);
}

TEST(ErrorBoxText, FullStopByTheRuntimeRule)
{
    EXPECT_EQ(kovra::ErrorBox::Decorate("Floating point overflow"), "Floating point overflow.");
    EXPECT_EQ(kovra::ErrorBox::Decorate("'' is not a valid floating point value"),
              "'' is not a valid floating point value.");
    EXPECT_EQ(kovra::ErrorBox::Decorate("I/O error 13."), "I/O error 13.");
    EXPECT_EQ(kovra::ErrorBox::Decorate("(5)"), "(5)");  // ')' sorts before '.'
    EXPECT_EQ(kovra::ErrorBox::Decorate(""), "");
}

TEST_F(WindowTest, OnlyOneErrorBoxAtATime)
{
    int nested = 0;
    kovra::ErrorBox::SetHook([&](const QString&, const QString&) {
        ++nested;
        EXPECT_FALSE(kovra::ErrorBox::Show(nullptr, "second"));
    });
    EXPECT_TRUE(kovra::ErrorBox::Show(nullptr, "first"));
    EXPECT_EQ(nested, 1);
    EXPECT_FALSE(kovra::ErrorBox::IsOpen());
}

}  // namespace
