// Ways a log reaches the window besides OpenLog: dropped onto it, and the
// command line's start options.
#include "app/ErrorBox.h"
#include "app/KovraLoggerU.h"
#include "app/ReplayBar.h"
#include "config/cp1251.h"
#include "run/player_source.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using kovra::TForm1;

struct ReplayOpen : ::testing::Test {
    QTemporaryDir program, working;
    std::vector<QString> boxes;

    void SetUp() override
    {
        kovra::ErrorBox::SetHook([this](const QString&, const QString& text) { boxes.push_back(text); });
        std::ofstream(program.filePath("set.ini").toStdString(), std::ios::binary) << kovra::Utf8ToCp1251(
            "[настройки]\nпорт=" + program.filePath("no-such-port").toStdString() +
            "\nкол-во_областей=1\nкол-во_формул=1\nкол-во_логов=1\nкол-во_приборов=1\n[области]\nразмер_0=2\n"
            "[формула_0]\nкол-во_перем=1\nпеременная_0=a\nформула=a\n[логер_0]\nформула=0\n");
    }
    void TearDown() override { kovra::ErrorBox::SetHook({}); }

    // A log of `records` 2-byte samples, one every 50 ms from 10:00:00.
    QString WriteLog(int records, std::size_t sampleLength = 2)
    {
        std::string bytes(1, static_cast<char>(sampleLength));
        for (int i = 0; i < records; ++i) {
            const int ms = i * 50;
            bytes += static_cast<char>(10);
            bytes += static_cast<char>(ms / 60000);
            bytes += static_cast<char>(ms / 1000 % 60);
            bytes += static_cast<char>(ms % 1000 / 5);
            for (std::size_t k = 0; k < sampleLength; ++k)
                bytes += static_cast<char>(i + k);
        }
        const QString path = working.filePath("drive.xlg");
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }
    std::unique_ptr<TForm1> Make()
    {
        auto f = std::make_unique<TForm1>(program.path().toStdString(), working.path().toStdString());
        f->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
        return f;
    }
    static void Drop(TForm1& f, const QString& file)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file)});
        const QPoint at(100, 100);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &drop);
    }
};

TEST_F(ReplayOpen, ADroppedLogIsReplayedAndTheStartOptionsHold)
{
    auto f = Make();
    Drop(*f, WriteLog(100));
    QTRY_VERIFY(f->IsReplaying());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(f->ReplayBar->isVisible());
    EXPECT_FALSE(f->Button2->isEnabled());
    f->BackToLive();
    EXPECT_FALSE(f->IsReplaying());
    EXPECT_FALSE(f->ReplayBar->isVisible());
    EXPECT_TRUE(f->Button2->isEnabled());

    // --at with a time between records starts at the next one; --paused stays there.
    kovra::TReplayStart start;
    start.At = "10:00:01.020";
    start.Paused = true;
    start.Speed = 8;
    ASSERT_TRUE(f->OpenLog(WriteLog(100).toStdString(), start));
    EXPECT_EQ(f->ReplayShown(), 21u);
    EXPECT_FALSE(f->Player()->IsPlaying());
    EXPECT_EQ(f->Player()->Player().Speed(), 8);
    EXPECT_EQ(f->ReplayRun()->State().Values[0], 21);
    start.At = "end";
    ASSERT_TRUE(f->OpenLog(WriteLog(100).toStdString(), start));
    EXPECT_EQ(f->ReplayShown(), 99u);

    // A time after the last record, and a file of another sample length: a
    // box, and the replay shown before stays.
    start.At = "11:00:00";
    EXPECT_FALSE(f->OpenLog(WriteLog(100).toStdString(), start));
    ASSERT_EQ(boxes.size(), 1u);
    Drop(*f, WriteLog(10, 3));
    QTRY_COMPARE(boxes.size(), 2u);
    EXPECT_TRUE(boxes.back().contains(QStringLiteral("drive.xlg"))) << boxes.back().toStdString();
    EXPECT_TRUE(f->IsReplaying());
    EXPECT_EQ(f->ReplayShown(), 99u);
}

}  // namespace
