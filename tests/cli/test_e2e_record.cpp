// The recorder tool against the simulated ECU: a recording read back through
// the export, and a recording killed outright then recovered at the next start.
#include "config/cp1251.h"
#include "record/log_format.h"
#include "support/record_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace kovra {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Area 0: the live quantities at 0x10..0x1A; area 1: the first bytes of the
// identification text "KOVRA-SIM", which never change.
const char* const kIni = R"([настройки]
порт=./ecu
преамбула=1
таймаут_отв=300
кол-во_областей=2
кол-во_формул=6
[области]
смещение_0=0x10
размер_0=11
смещение_1=0x00
размер_1=4
[формула_0]
название=rpm
формула=hi*256+lo
кол-во_перем=2
переменная_0=hi
переменная_1=lo
отступ_пер_1=1
[формула_1]
название=coolant
формула=c-40
переменная_0=c
отступ_пер_0=2
[формула_2]
название=running
формула=b
переменная_0=b
отступ_пер_0=9
бит_0=1
[формула_3]
название=ident
формула=k*256+o
кол-во_перем=2
переменная_0=k
область_пер_0=1
переменная_1=o
область_пер_1=1
отступ_пер_1=1
[формула_4]
название=battery
формула=v/10
переменная_0=v
отступ_пер_0=8
[формула_5]
название=dt
формула=dt
переменная_0=dt
вид_0=2
)";

// A record of these settings: 4 time bytes and the 15 sample bytes.
constexpr std::size_t kRecord = 4 + 11 + 4;

class RecordToolTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder = dir.path();
    QProcess sim;

    void SetUp() override
    {
#if defined(_WIN32)
        GTEST_SKIP() << "the simulated ECU needs pseudo-terminals";
#endif
        QDir(folder).mkdir("logs");
        test::WriteBytes(fs::path(folder.toStdString()) / "set.ini",
                         [] { const std::string s = Utf8ToCp1251(kIni); return Bytes(s.begin(), s.end()); }());
        QStringList args{"ecu-sim", "--link", folder + "/ecu", "--baud", "9600"};
        const QString memory = QStringLiteral(KOVRA_SOURCE_DIR "/demo/ecu-memory.ini");
        if (QFileInfo::exists(memory))
            args << "--memory" << memory;
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(KOVRA_TOOL, args);
        ASSERT_TRUE(sim.waitForStarted());
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(folder + "/ecu") && t.elapsed() < 5000)
            QThread::msleep(20);
        ASSERT_TRUE(QFileInfo::exists(folder + "/ecu"));
    }

    void TearDown() override
    {
        if (sim.state() != QProcess::NotRunning) {
            sim.kill();
            sim.waitForFinished();
        }
    }

    QProcess* Record(QStringList extra)
    {
        auto* p = new QProcess;
        p->setWorkingDirectory(folder);
        p->start(KOVRA_TOOL, QStringList{"record", "--settings", folder} + extra);
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }

    std::vector<std::vector<std::string>> Export(const QString& log)
    {
        QProcess p;
        p.start(KOVRA_TOOL, {"export", log, "--settings", folder});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        std::vector<std::vector<std::string>> rows;
        std::istringstream in(p.readAllStandardOutput().toStdString());
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> cells;
            std::istringstream l(line);
            for (std::string c; std::getline(l, c, ',');)
                cells.push_back(c);
            rows.push_back(cells);
        }
        return rows;
    }
};

TEST_F(RecordToolTest, ARecordingReadsBackAsTheSimulatorsMemory)
{
    std::unique_ptr<QProcess> rec(Record({"--duration", "3"}));
    ASSERT_TRUE(rec->waitForFinished(30000));
    ASSERT_EQ(rec->exitCode(), 0) << rec->readAllStandardError().toStdString();
    const QString log = QString::fromUtf8(rec->readAllStandardOutput()).trimmed();
    ASSERT_TRUE(QFileInfo::exists(log)) << log.toStdString();
    EXPECT_TRUE(QDir(folder + "/logs").entryList({"*.xjr"}, QDir::Files).isEmpty());

    const auto rows = Export(log);
    ASSERT_GT(rows.size(), 11u) << "fewer than 10 cycles in 3 s";
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "rpm", "coolant", "running", "ident", "battery", "dt"}));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& r = rows[i];
        ASSERT_EQ(r.size(), 7u) << i;
        EXPECT_EQ(r[4], std::to_string('K' * 256 + 'O')) << i;
        EXPECT_EQ(r[3], "1") << i;  // the engine runs
        EXPECT_GE(std::stod(r[1]), 780) << i;
        EXPECT_LE(std::stod(r[1]), 6700) << i;
        EXPECT_GE(std::stod(r[2]), 15) << i;
        EXPECT_LE(std::stod(r[2]), 100) << i;
        EXPECT_GE(std::stod(r[5]), 13.7) << i;
        EXPECT_LE(std::stod(r[5]), 14.5) << i;
        if (i > 1) {
            EXPECT_GT(std::stod(r[6]), 0) << i;
            EXPECT_LT(std::stod(r[6]), 1) << i;
        }
    }
}

TEST_F(RecordToolTest, AKilledRecordingIsRecoveredAtTheNextStart)
{
    std::unique_ptr<QProcess> rec(Record({}));
    const QString logs = folder + "/logs";
    QString journal;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        const QStringList j = QDir(logs).entryList({"*.xjr"}, QDir::Files);
        if (!j.isEmpty() && QFileInfo(logs + "/" + j[0]).size() > static_cast<qint64>(1 + 30 * kRecord)) {
            journal = logs + "/" + j[0];
            break;
        }
        QThread::msleep(50);
    }
    ASSERT_FALSE(journal.isEmpty()) << "no journal with 30 records";
    QThread::msleep(1500);
    const Bytes before = test::ReadBytes(journal.toStdString());  // a second or more before the kill
    QThread::msleep(1000);
    const QTime killedAt = QTime::currentTime();
    rec->kill();
    ASSERT_TRUE(rec->waitForFinished());
    ASSERT_TRUE(QFileInfo::exists(journal));
    EXPECT_TRUE(QDir(logs).entryList({"*.xlg"}, QDir::Files).isEmpty());

    std::unique_ptr<QProcess> next(Record({"--duration", "0.5"}));
    ASSERT_TRUE(next->waitForFinished(30000));
    ASSERT_EQ(next->exitCode(), 0);
    const QString newLog = QString::fromUtf8(next->readAllStandardOutput()).trimmed();
    EXPECT_FALSE(QFileInfo::exists(journal));
    QStringList logsNow = QDir(logs).entryList({"*.xlg"}, QDir::Files);
    logsNow.removeAll(QFileInfo(newLog).fileName());
    ASSERT_EQ(logsNow.size(), 1);

    const Bytes recovered = test::ReadBytes((logs + "/" + logsNow[0]).toStdString());
    ASSERT_GE(recovered.size(), before.size());
    const std::size_t whole = 1 + (before.size() - 1) / kRecord * kRecord;
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(whole), recovered.begin()));
    const TLogShape shape = InspectLog(recovered);
    EXPECT_EQ(shape.TrailingBytes, 0u);
    ASSERT_GT(shape.Records, 0u);
    const std::uint8_t* last = recovered.data() + 1 + (shape.Records - 1) * shape.RecordSize;
    const TTimeStamp stamp{last[0], last[1], last[2], last[3]};
    const std::int64_t lag = killedAt.msecsSinceStartOfDay() - stamp.MsOfDay();
    EXPECT_LT(lag, 1000) << "the last recovered record is older than a second before the kill";
}

}  // namespace
}  // namespace kovra
