// The link's status line: its text from the worker's entries and the clock,
// and its place in the window's tab row, offscreen.
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"
#include "app/LinkStatus.h"
#include "config/cp1251.h"
#include "config/language.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using kovra::TCycleSample;
using kovra::TLinkStatus;
using Kind = TCycleSample::TKind;
namespace fs = std::filesystem;

constexpr std::int64_t kT0 = 1'800'000'000'000;  // any instant; entries and clock agree

TCycleSample Entry(Kind kind, std::int64_t ms, QString text = {})
{
    TCycleSample e;
    e.Kind = kind;
    e.Time = QDateTime::fromMSecsSinceEpoch(ms);
    e.Text = std::move(text);
    return e;
}

struct LinkStatusTest : ::testing::Test {
    TLinkStatus status{QStringLiteral("/dev/ttyUSB0")};
    kovra::TDeviceAccess access{true, true, "dialout"};

    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        status.Access = [this](const QString&) { return access; };
    }
    void Take(Kind kind, std::int64_t ms, QString text = {}) { status.Take(Entry(kind, ms, std::move(text))); }
    // Cycles every periodMs from `from`, count of them; returns the last one's time.
    std::int64_t Cycles(std::int64_t from, int count, std::int64_t periodMs)
    {
        for (int i = 0; i < count; ++i)
            Take(Kind::Cycle, from + i * periodMs);
        return from + (count - 1) * periodMs;
    }
};

TEST_F(LinkStatusTest, PortOpenThenAnsweringWithTheRateOfTheLastSeconds)
{
    EXPECT_EQ(status.Text(kT0), "Порт /dev/ttyUSB0 открывается");
    Take(Kind::PortOpen, kT0, "/dev/pts/7");
    EXPECT_EQ(status.Text(kT0 + 100), "Порт /dev/pts/7 открыт  ·  ожидание ответа ЭБУ");

    // One cycle: no rate yet, but answering.
    Take(Kind::Cycle, kT0 + 200);
    EXPECT_EQ(status.Text(kT0 + 250), "Порт /dev/pts/7 открыт  ·  ЭБУ отвечает: — цикл/с");

    // 25 per second for two seconds.
    std::int64_t last = Cycles(kT0 + 240, 50, 40);
    EXPECT_EQ(status.Text(last + 10), "Порт /dev/pts/7 открыт  ·  ЭБУ отвечает: 25.0 цикл/с");
    // Slowing to 10 per second: after a few seconds of it only the new rate counts.
    for (int turn = 0; turn < 8; ++turn) {
        last = Cycles(last + 100, 5, 100);
        status.Text(last + 10);
    }
    EXPECT_EQ(status.Text(last + 10), "Порт /dev/pts/7 открыт  ·  ЭБУ отвечает: 10.0 цикл/с");
}

TEST_F(LinkStatusTest, SilentEcuCountsSecondsSinceItsLastCycle)
{
    Take(Kind::PortOpen, kT0, "/dev/ttyUSB0");
    // The re-send that goes with the opening itself is not silence.
    Take(Kind::Resend, kT0);
    EXPECT_EQ(status.Text(kT0 + 500), "Порт /dev/ttyUSB0 открыт  ·  ожидание ответа ЭБУ");
    Take(Kind::Resend, kT0 + 1000);
    EXPECT_EQ(status.Text(kT0 + 2600), "Порт /dev/ttyUSB0 открыт  ·  ЭБУ молчит 2 с, запрос повторяется");

    const std::int64_t last = Cycles(kT0 + 3000, 10, 50);
    EXPECT_NE(status.Text(last + 20).indexOf("ЭБУ отвечает"), -1);
    Take(Kind::Resend, last + 1000);
    EXPECT_EQ(status.Text(last + 3900), "Порт /dev/ttyUSB0 открыт  ·  ЭБУ молчит 3 с, запрос повторяется");
    // It answers again.
    Take(Kind::Cycle, last + 4000);
    EXPECT_NE(status.Text(last + 4010).indexOf("ЭБУ отвечает"), -1);
}

TEST_F(LinkStatusTest, PortThatCannotOpenSaysWhyAndWhichGroupToJoin)
{
    Take(Kind::PortLost, kT0, "cannot open /dev/ttyUSB0: Permission denied");
    EXPECT_EQ(status.Text(kT0), "Порт /dev/ttyUSB0 не открывается: Permission denied");

    TLinkStatus denied;
    access = {true, false, "uucp"};
    denied.Access = [this](const QString& device) {
        EXPECT_EQ(device, "/dev/ttyACM0");
        return access;
    };
    denied.Take(Entry(Kind::PortLost, kT0, "cannot open /dev/ttyACM0: Permission denied"));
    EXPECT_EQ(denied.Text(kT0),
              "Нет доступа к порту /dev/ttyACM0: войдите в группу uucp и перезайдите в систему");
    // A device that does not say its group: the usual one.
    access.Group.clear();
    denied.Take(Entry(Kind::PortLost, kT0, "cannot open /dev/ttyACM0: Permission denied"));
    EXPECT_NE(denied.Text(kT0).indexOf("группу dialout"), -1);

    access = {false, false, ""};
    denied.Take(Entry(Kind::PortLost, kT0, "cannot open /dev/ttyACM0: No such file or directory"));
    EXPECT_EQ(denied.Text(kT0), "Порт /dev/ttyACM0 не найден, ожидание");

    // Text in no known shape is shown as the reason, whole.
    TLinkStatus odd(QStringLiteral("COM3"));
    odd.Take(Entry(Kind::PortLost, kT0, "strange"));
    EXPECT_EQ(odd.Text(kT0), "Порт COM3 не открывается: strange");
}

TEST_F(LinkStatusTest, AdapterGoneIsBeingReopenedAndStartsAfreshWhenBack)
{
    Take(Kind::PortOpen, kT0, "/dev/ttyUSB0");
    const std::int64_t last = Cycles(kT0 + 100, 20, 50);
    status.Text(last);
    Take(Kind::PortLost, last + 30, "/dev/ttyUSB0: The device was removed");
    EXPECT_EQ(status.Text(last + 5000), "Адаптер /dev/ttyUSB0 пропал (The device was removed), переподключение");

    // Back: the old cycles neither make it answer nor count in its rate.
    Take(Kind::PortOpen, last + 6000, "/dev/ttyUSB0");
    Take(Kind::Resend, last + 6000);
    EXPECT_EQ(status.Text(last + 6100), "Порт /dev/ttyUSB0 открыт  ·  ожидание ответа ЭБУ");
    Cycles(last + 6200, 11, 100);
    EXPECT_EQ(status.Text(last + 7300), "Порт /dev/ttyUSB0 открыт  ·  ЭБУ отвечает: 10.0 цикл/с");
}

TEST_F(LinkStatusTest, DroppedNoticeAndReplayJoinTheLine)
{
    Take(Kind::PortOpen, kT0, "/dev/ttyUSB0");
    status.SetDropped(0);
    EXPECT_EQ(status.Text(kT0).indexOf("пропущено"), -1);
    status.SetDropped(4097);
    Take(Kind::Notice, kT0, QStringLiteral("old advice"));
    Take(Kind::Notice, kT0, QStringLiteral("latency timer 16 ms"));
    EXPECT_EQ(status.Text(kT0),
              "Порт /dev/ttyUSB0 открыт  ·  ожидание ответа ЭБУ  ·  пропущено на экране: 4097  ·  latency timer 16 ms");
    status.SetReplay(std::pair{QStringLiteral("07.12.2026-14537.xlg"), QStringLiteral("00:01:20")});
    EXPECT_EQ(status.Text(kT0).section(TLinkStatus::kSeparator, 0, 0), "лог 07.12.2026-14537.xlg, 00:01:20");
}

TEST(StatusTexts, LanguageFileReplacesOnlyTheTextsItHas)
{
    kovra::TStatusTexts texts;
    kovra::ApplyStatusTexts(texts, [](std::string_view key) -> std::optional<std::string> {
        if (key == "StatusEcuAnswering")
            return kovra::Utf8ToCp1251("ECU answers, %1 cycles/s");
        if (key == "StatusPortOpen")
            return kovra::Utf8ToCp1251("Порт %1 готов");  // CP1251 like the shipped files
        return std::nullopt;
    });
    TLinkStatus status({}, texts);
    QLocale::setDefault(QLocale::c());
    status.Take(Entry(Kind::PortOpen, kT0, "COM3"));
    status.Take(Entry(Kind::Cycle, kT0 + 100));
    status.Take(Entry(Kind::Cycle, kT0 + 600));
    EXPECT_EQ(status.Text(kT0 + 700), "Порт COM3 готов  ·  ECU answers, 2.0 cycles/s");
    EXPECT_EQ(texts.EcuSilent, kovra::TStatusTexts{}.EcuSilent);
}

// The shipped language files carry every text: ru.ini the built-in ones, en.ini
// a translation of each.
TEST(StatusTexts, ShippedLanguageFilesHaveEveryText)
{
    auto read = [](const char* name) {
        const kovra::TIniFile file = kovra::ReadLanguageFile(fs::path(KOVRA_SOURCE_DIR) / "demo", name);
        kovra::TStatusTexts texts;
        int found = 0;
        kovra::ApplyStatusTexts(texts, [&](std::string_view key) {
            auto v = file.Read("Logger", key);
            found += v.has_value();
            return v;
        });
        return std::pair{texts, found};
    };
    const auto [ru, ruFound] = read("ru");
    const auto [en, enFound] = read("en");
    EXPECT_EQ(ruFound, 11);
    EXPECT_EQ(enFound, 11);
    EXPECT_EQ(ru, kovra::TStatusTexts{});
    EXPECT_EQ(en.EcuAnswering, "ECU answering: %1 cycles/s");
}

// The window, with a port that does not exist.
struct StatusWindowTest : ::testing::Test {
    QTemporaryDir program, working;
    std::vector<QString> shown;

    void SetUp() override
    {
        kovra::ErrorBox::SetHook([this](const QString&, const QString& text) { shown.push_back(text); });
    }
    void TearDown() override { kovra::ErrorBox::SetHook({}); }

    QString Port() const { return program.filePath("no-such-port"); }
    void WriteSettings(const std::string& utf8)
    {
        const std::string text = "[настройки]\nпорт=" + Port().toStdString() + "\n" + utf8;
        std::ofstream(program.filePath("set.ini").toStdString(), std::ios::binary) << kovra::Utf8ToCp1251(text);
    }
    std::unique_ptr<kovra::TForm1> Make()
    {
        return std::make_unique<kovra::TForm1>(program.path().toStdString(), working.path().toStdString());
    }
};

TEST_F(StatusWindowTest, SitsBetweenTheButtonsWhichStayWhereTheyAre)
{
    WriteSettings("");
    auto f = Make();
    auto* label = f->findChild<QLabel*>("LinkStatus");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->font(), f->font());
    f->show();
    for (const QSize size : {QSize(842, 504), QSize(1000, 600), QSize(500, 300)}) {
        f->resize(size);
        const int w = size.width(), h = size.height();
        EXPECT_EQ(f->Button1->geometry(), QRect(w - 69, h - 18, 60, 16)) << w;
        EXPECT_EQ(f->Button2->geometry(), QRect(180, h - 18, 120, 16)) << w;
        EXPECT_EQ(label->y(), f->Button2->y());
        EXPECT_GT(label->x(), f->Button2->geometry().right());
        EXPECT_LT(label->geometry().right(), f->Button1->x());
    }
    // A double-click there records, as on the rest of the window.
    fs::create_directories(fs::path(program.path().toStdString()) / "logs");
    QTest::mouseDClick(label, Qt::LeftButton);
    EXPECT_TRUE(f->IsRecording());
    f->Recording();
    EXPECT_FALSE(f->IsRecording());
    // The line is cut to fit, whole in the tooltip.
    f->resize(500, 300);
    f->UpdateLinkStatus();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(label->toolTip(), f->LinkStatusLine());
}

TEST_F(StatusWindowTest, MissingPortShownFromTheLanguageFileAndNeverInABox)
{
    WriteSettings("язык=en\n");
    fs::create_directories(working.filePath("lang").toStdString());
    std::ofstream(working.filePath("lang/en.ini").toStdString(), std::ios::binary)
        << "[Logger]\nButton1=Exit\nStatusPortMissing=Port %1 is missing\nStatusPortGone=Adapter %1 gone (%2)\n";
    auto f = Make();
    auto* label = f->findChild<QLabel*>("LinkStatus");
    ASSERT_NE(label, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(f->LinkStatusLine(), "Port " + Port() + " is missing", 5000);
    EXPECT_EQ(label->toolTip(), f->LinkStatusLine());
    EXPECT_EQ(f->Button1->text(), "Exit");

    // The port's comings and goings, and a flood that the window cannot
    // draw, change the line only.
    f->QueueEntry(Entry(Kind::PortOpen, QDateTime::currentMSecsSinceEpoch(), "/dev/ttyX"));
    f->QueueEntry(Entry(Kind::PortLost, QDateTime::currentMSecsSinceEpoch(), "/dev/ttyX: gone"));
    QTRY_COMPARE_WITH_TIMEOUT(f->LinkStatusLine(), "Adapter /dev/ttyX gone (gone)", 2000);
    const std::size_t flood = kovra::kMaxQueuedSamples + 25;
    for (std::size_t i = 0; i < flood; ++i) {
        TCycleSample c = Entry(Kind::Cycle, QDateTime::currentMSecsSinceEpoch());
        c.Sample.assign(f->SampleBuffer().size(), 0);
        f->QueueEntry(std::move(c));
    }
    QTRY_VERIFY_WITH_TIMEOUT(f->PendingEntries() == 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(f->LinkStatusLine().contains("пропущено на экране: 25"), 2000);
    EXPECT_TRUE(shown.empty()) << shown.front().toStdString();
}

}  // namespace
