// Start-up order and shutdown of the main window, offscreen, against settings
// in a temporary program folder (no ECU answers: the port does not exist).
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"
#include "config/cp1251.h"
#include "record/recorder.h"
#include "support/full_disk.h"
#include "support/record_test_util.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using kovra::TForm1;
namespace fs = std::filesystem;

struct StartupTest : ::testing::Test {
    QTemporaryDir program, working;
    std::vector<QString> shown;

    void SetUp() override
    {
        kovra::ErrorBox::SetHook([this](const QString&, const QString& text) { shown.push_back(text); });
    }
    void TearDown() override { kovra::ErrorBox::SetHook({}); }

    fs::path Program() const { return program.path().toStdString(); }
    fs::path Working() const { return working.path().toStdString(); }

    // Settings text in UTF-8; written as CP1251 like a user's file.
    void WriteSettings(const std::string& utf8)
    {
        const std::string text = "[настройки]\nпорт=" + program.filePath("no-such-port").toStdString() + "\n" + utf8;
        std::ofstream(Program() / "set.ini", std::ios::binary) << kovra::Utf8ToCp1251(text);
    }
    static void WriteFile(const fs::path& p, const std::string& utf8)
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << kovra::Utf8ToCp1251(utf8);
    }
    static std::string ReadFile(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::unique_ptr<TForm1> Make() { return std::make_unique<TForm1>(Program(), Working()); }
};

TEST_F(StartupTest, LanguageFileReplacesCaptionsAndAutoStartOverridesTheButton)
{
    WriteSettings("язык=en\nавто_старт_логов=1\n");
    WriteFile(Working() / "lang" / "en.ini",
              "[Logger]\nTabSheet1=Charts\nTabSheet2=Gauges\nTabSheet3=Run\nButton1=Exit\nButton2=Record\n");
    fs::create_directories(Program() / "logs");
    auto f = Make();
    EXPECT_EQ(f->PageControl1->tabText(0), "Charts");
    EXPECT_EQ(f->PageControl1->tabText(1), "Gauges");
    EXPECT_EQ(f->PageControl1->tabText(2), "Run");
    EXPECT_EQ(f->Button1->text(), "Exit");
    // Recording started after the language file: its caption wins.
    EXPECT_TRUE(f->IsRecording());
    EXPECT_EQ(f->Button2->text(), "Записывается лог");
    EXPECT_TRUE(shown.empty());
}

TEST_F(StartupTest, MissingLanguageFileKeepsTheDesign)
{
    WriteSettings("язык=xx\n");
    auto f = Make();
    EXPECT_EQ(f->PageControl1->tabText(0), "Графики");
    EXPECT_EQ(f->Button2->text(), "Запись лога");
    EXPECT_FALSE(f->IsRecording());
}

TEST_F(StartupTest, RecordingTogglesFromKeyDoubleClickAndButton)
{
    WriteSettings("");
    fs::create_directories(Program() / "logs");
    auto f = Make();
    f->show();
    QTest::keyClick(f.get(), 'R');  // only the lower-case letter toggles
    EXPECT_FALSE(f->IsRecording());
    QTest::keyClicks(f.get(), "r");
    EXPECT_TRUE(f->IsRecording());
    QTest::mouseClick(f->Button2, Qt::LeftButton);
    EXPECT_FALSE(f->IsRecording());
    EXPECT_EQ(f->Button2->text(), "Запись лога");
    QTest::mouseDClick(f.get(), Qt::LeftButton);
    EXPECT_TRUE(f->IsRecording());
    // A recording without a cycle is the one byte N.
    f->Recording();
    int logs = 0;
    for (const auto& e : fs::directory_iterator(Program() / "logs"))
        if (e.path().extension() == ".xlg") {
            ++logs;
            EXPECT_EQ(ReadFile(e.path()), std::string(1, '\x01'));
        }
    EXPECT_EQ(logs, 2);
}

TEST_F(StartupTest, CloseWritesTheLogBeforeTheSumsAndStaysOpenWhenTheLogFails)
{
    WriteSettings("[формула_0]\nназвание=fuel\nсуммировать=1\nкол-во_перем=0\nформула=1\n");
    auto f = Make();
    f->show();
    f->Recording();
    ASSERT_TRUE(f->IsRecording());
    // No logs folder: the save fails, the window stays open, the sums wait.
    EXPECT_FALSE(f->close());
    EXPECT_TRUE(f->isVisible());
    EXPECT_TRUE(f->IsRecording());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Invalid filename.");
    EXPECT_FALSE(fs::exists(Program() / "log.sv"));
    // With the folder there, the log is written and then the sums.
    fs::create_directories(Program() / "logs");
    f->State().Values[0] = 12.345;
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(f->IsRecording());
    EXPECT_NE(ReadFile(Program() / "log.sv").find("fuel=12.35"), std::string::npos);
}

TEST_F(StartupTest, SumsRestoreErrorIsShownAndTheWindowStillRuns)
{
    WriteSettings("[формула_0]\nназвание=fuel\nсуммировать=1\n");
    WriteFile(Program() / "log.sv", "[Сохр_Формулы]\nfuel=abc\n");
    auto f = Make();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "'abc' is not a valid floating point value.");
    EXPECT_EQ(f->State().Values[0], 0.0);
    f->show();
    EXPECT_TRUE(f->isVisible());
}

TEST_F(StartupTest, ChartsStackInOrderInTheGraphsTab)
{
    WriteSettings("кол-во_логов=3\n[логер_0]\nвысота=40\nназвание=a\n[логер_1]\nвысота=50\n[логер_2]\nвысота=60\n");
    auto f = Make();
    f->show();
    f->PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    ASSERT_EQ(f->Loggers.size(), 3u);
    int y = 0;
    const int heights[] = {40, 50, 60};
    int i = 0;
    for (QWidget* w : f->ScrollBox1->widget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_EQ(w->y(), y);
        EXPECT_EQ(w->height(), heights[i]);
        EXPECT_TRUE(w->testAttribute(Qt::WA_TransparentForMouseEvents));  // clicks reach the box
        y += w->height();
        ++i;
    }
    EXPECT_EQ(i, 3);
}

TEST_F(StartupTest, CyclesUpdateValuesAlarmsAndShowOneErrorBoxAtATime)
{
    WriteSettings("кол-во_формул=2\nкол-во_приборов=1\n"
                  "[формула_0]\nпеременная_0=x\nформула=x*2\n"
                  "[формула_1]\nпеременная_0=x\nформула=1/x\n"
                  "[Прибор_0]\nВид=2\nМаксимум=100\nТревога=1\nТревогаУровень=10\nТревогаЗвук=1\n");
    auto f = Make();
    int alarms = 0;
    f->AlarmHook = [&] { ++alarms; };
    f->ProcessCycle({21});
    EXPECT_EQ(f->State().Values[0], 42.0);
    EXPECT_TRUE(f->State().AlarmActive[0]);
    EXPECT_EQ(alarms, 1);
    EXPECT_TRUE(shown.empty());

    // 1/0 fails on every cycle; cycles that arrive while the box is open are
    // processed but add no second box.
    int nestedShown = 0;
    kovra::ErrorBox::SetHook([&](const QString&, const QString& text) {
        shown.push_back(text);
        f->ProcessCycle({0});
        nestedShown = static_cast<int>(shown.size());
    });
    f->ProcessCycle({0});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Floating point division by zero.");
    EXPECT_EQ(nestedShown, 1);
    EXPECT_EQ(f->State().Values[0], 0.0);  // formulas before the failing one ran
}

TEST_F(StartupTest, SumsMessagesKeepTheCyrillicOfTheFileAndOfTheProgramFolder)
{
    QTemporaryDir cyrillic(QDir::tempPath() + QStringLiteral("/Программа-XXXXXX"));
    ASSERT_TRUE(cyrillic.isValid());
    const fs::path folder = kovra::ToPath(cyrillic.path());
    const std::string settings = "[настройки]\nпорт=" + (folder / "no-such-port").string() +
                                 "\n[формула_0]\nназвание=fuel\nсуммировать=1\n";
    WriteFile(folder / "set.ini", settings);
    WriteFile(folder / "log.sv", "[Сохр_Формулы]\nfuel=абв\n");
    auto f = std::make_unique<TForm1>(folder, Working());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "'абв' is not a valid floating point value.");

    // log.sv that cannot be written: the box names it as the user reads it.
    fs::remove(folder / "log.sv");
    fs::create_directory(folder / "log.sv");
    f->show();
    EXPECT_FALSE(f->close());
    EXPECT_TRUE(f->isVisible());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], "Unable to write to " + QDir::toNativeSeparators(cyrillic.path() + "/log.sv") + ".");
    fs::remove(folder / "log.sv");
    EXPECT_TRUE(f->close());
}

TEST_F(StartupTest, AFullDiskAtCloseKeepsLogSvAndTheWindowOpen)
{
    kovra::test::TFullDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const fs::path folder = disk.Root();
    WriteFile(folder / "set.ini", "[настройки]\nпорт=" + (folder / "no-such-port").string() +
                                      "\n[формула_0]\nназвание=fuel\nсуммировать=1\n");
    WriteFile(folder / "log.sv", "[Сохр_Формулы]\nfuel=41\n");
    auto f = std::make_unique<TForm1>(folder, Working());
    ASSERT_EQ(f->State().Values[0], 41.0);
    f->State().Values[0] = 12345.678;
    f->show();
    disk.Fill();
    EXPECT_FALSE(f->close());
    EXPECT_TRUE(f->isVisible());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Unable to write to " + kovra::FromPath(folder / "log.sv") + ".");
    EXPECT_EQ(ReadFile(folder / "log.sv"), kovra::Utf8ToCp1251("[Сохр_Формулы]\nfuel=41\n"));
    disk.Free();
    EXPECT_TRUE(f->close());
    EXPECT_NE(ReadFile(folder / "log.sv").find("fuel=12345"), std::string::npos);
}

TEST_F(StartupTest, AJournalThatCannotBeWrittenShowsOneBoxNotOnePerCycle)
{
    WriteSettings("");
    fs::create_directories(Program() / "logs");
    auto f = Make();
    auto storage = std::make_shared<kovra::test::TFailingStorage>();
    f->Recorder()->SetStorage(storage);
    f->Recording();
    ASSERT_TRUE(f->Recorder()->Journal().Active());
    storage->WriteBudget = 0;  // the disk is full from now on
    for (int i = 0; i < 20; ++i)
        f->ProcessCycle({static_cast<std::uint8_t>(i)});
    EXPECT_TRUE(shown.empty());  // not from inside the cycle
    QApplication::processEvents();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith("cannot write the journal ")) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains("Disk full; the recording goes on in memory")) << shown[0].toStdString();
    EXPECT_EQ(f->Recorder()->LogBuffer().size(), 1u + 20 * 5);
    storage->WriteBudget = -1;
    f->Recording();
    EXPECT_FALSE(f->IsRecording());
    EXPECT_EQ(shown.size(), 1u);
}

}  // namespace
