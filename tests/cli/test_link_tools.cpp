// kovra ecu-sim and kovra poll, run as the user runs them.
#include "config/cp1251.h"
#include "platform/pty.h"
#include "support/sim_ecu_fixture.h"
#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

namespace kovra {
namespace {

#ifdef KOVRA_TOOL
class LinkToolsTest : public test::SimulatedEcuTest {
protected:
    // Runs kovra poll to its end; returns its exit code.
    int Poll(QStringList args, QString& out, QString& err)
    {
        const test::TToolRun poll = test::RunTool(QStringList{"poll"} + args, 15000);
        out = poll.Out;
        err = poll.Err;
        return poll.Code < 0 ? -1 : poll.Code;
    }
};

TEST_F(LinkToolsTest, PollPrintsEachCycleOfTheSimulatedEngine)
{
    StartSim({"--baud", "9600"});
    WriteSettings(
        "[настройки]\r\nпорт=" + link.toStdString() + "\r\nкол-во_областей=2\r\n"
        "[области]\r\nсмещение_0=0\r\nразмер_0=9\r\nсмещение_1=0x19\r\nразмер_1=1\r\n");
    QString out, err;
    ASSERT_EQ(Poll({"--settings", dir.path(), "--cycles", "4"}, out, err), 0) << err.toStdString();

    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    const QRegularExpression cycle(R"(^\d\d:\d\d:\d\d\.\d\d\d 4B 4F 56 52 41 2D 53 49 4D [0-9A-F]{2}$)");
    int cycles = 0;
    for (const QString& line : lines) {
        if (line.contains("port open"))
            continue;
        EXPECT_TRUE(cycle.match(line).hasMatch()) << line.toStdString();
        ++cycles;
    }
    EXPECT_EQ(cycles, 4);
}

TEST_F(LinkToolsTest, PollReportsAPortThatIsNotThere)
{
    QString out, err;
    const int code = Poll({"--settings", dir.path(), "--port", link, "--cycles", "2", "--seconds", "0.5"},
                          out, err);
    EXPECT_EQ(code, 1) << "fewer cycles than asked for";
    EXPECT_TRUE(out.contains(" port lost: cannot open ")) << out.toStdString();
    EXPECT_TRUE(err.contains("no set.ini")) << err.toStdString();
}

// Silence windows show up as re-send lines, and polling goes on after them.
TEST_F(LinkToolsTest, PollShowsResends)
{
    StartSim({"--silence", "1000:600", "--no-preamble"});
    WriteSettings("[настройки]\r\nтаймаут_отв=100\r\nпреамбула=0\r\n");
    QString out, err;
    ASSERT_EQ(Poll({"--settings", dir.path(), "--port", link, "--seconds", "1.5"}, out, err), 0)
        << err.toStdString();
    EXPECT_TRUE(out.contains(" re-send: request\n")) << out.left(2000).toStdString();
    const qsizetype resend = out.indexOf(" re-send: request");
    EXPECT_TRUE(QRegularExpression(R"(\d 4B\n)").match(out, resend).hasMatch()) << "cycles after the silence";
}

TEST_F(LinkToolsTest, SimRefusesABadLayoutFile)
{
    const QString layout = QDir(dir.path()).filePath("bad.ini");
    QFile f(layout);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[rpm]\naddress = 0x10\nbehaviour = warp\n");
    f.close();
    QProcess bad;
    bad.start(KOVRA_TOOL, {"ecu-sim", "--memory", layout, "--seconds", "1"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("line 3: unknown behaviour 'warp'"));
}
#endif

}  // namespace
}  // namespace kovra
