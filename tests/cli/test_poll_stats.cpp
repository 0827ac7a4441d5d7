// kovra poll --stats against the simulated ECU: the link's pace set against
// what the line allows, as the user reads it.
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

namespace kovra {
namespace {

#ifdef KOVRA_TOOL

// One report: which span, then the figures.
const QRegularExpression kStatsLine(
    R"(^kovra poll: stats \((last interval|whole run), ([0-9.]+) s\): ([0-9.]+) cycles/s, ([0-9]+)% of the wire limit )"
    R"(\(([0-9.]+) cycles/s at ([0-9]+) bit/s\), (turnaround median ([0-9]+) us, p90 ([0-9]+) us|no turnaround yet), )"
    R"(([0-9]+) re-sends, ([0-9]+) reopens, ([0-9]+) samples dropped$)");

QStringList StatsLines(const QString& err)
{
    QStringList out;
    for (const QString& line : err.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("kovra poll: stats"))
            out << line;
    return out;
}

class PollStats : public test::SimulatedEcuTest {};

TEST_F(PollStats, ReportsEveryIntervalAndAtTheEndAgainstTheWireLimit)
{
    StartSim({"--baud", "9600"});
    // Three 16-byte areas with the preamble: 87 bytes a cycle, 11.0 cycles/s at 9600 bit/s.
    WriteSettings("[настройки]\r\nпорт=" + link.toStdString() + "\r\nкол-во_областей=3\r\n"
                  "[области]\r\nсмещение_0=0\r\nразмер_0=16\r\nсмещение_1=0x10\r\nразмер_1=16\r\n"
                  "смещение_2=0x20\r\nразмер_2=16\r\n");
    const test::TToolRun r = test::RunTool(
        {"poll", "--settings", dir.path(), "--seconds", "3.5", "--stats", "--stats-interval", "1"}, 15000);
    ASSERT_EQ(r.Code, 0) << r.Err.toStdString();

    const QStringList lines = StatsLines(r.Err);
    ASSERT_GE(lines.size(), 4) << r.Err.toStdString();
    EXPECT_LE(lines.size(), 5) << r.Err.toStdString();
    for (int i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        const QRegularExpressionMatch m = kStatsLine.match(lines[i]);
        ASSERT_TRUE(m.hasMatch());
        EXPECT_EQ(m.captured(1), i + 1 == lines.size() ? "whole run" : "last interval");
        EXPECT_EQ(m.captured(5), "11.0");
        EXPECT_EQ(m.captured(6), "9600");
        const double rate = m.captured(3).toDouble();
        const int percent = m.captured(4).toInt();
        // The simulator paces its replies at the line's byte time; the host
        // adds its turnaround and the ECU's own pause, never takes away.
        EXPECT_GT(rate, 3.0);
        EXPECT_LE(rate, 11.6);
        EXPECT_NEAR(percent, 100 * rate / (960.0 / 87), 1.01);
        ASSERT_FALSE(m.captured(8).isEmpty()) << "a turnaround once cycles run";
        EXPECT_LE(m.captured(8).toInt(), m.captured(9).toInt()) << "median above p90";
        EXPECT_LT(m.captured(9).toInt(), 100000);
        EXPECT_EQ(m.captured(10), "0");
        EXPECT_EQ(m.captured(11), "0");
        EXPECT_EQ(m.captured(12), "0");
    }
    // The whole run's rate agrees with the cycles printed.
    const QRegularExpressionMatch whole = kStatsLine.match(lines.back());
    const double seconds = whole.captured(2).toDouble();
    EXPECT_NEAR(seconds, 3.5, 0.5);
    // Cycle lines only (the port's opening is a line too); both figures are
    // printed to a tenth, which leaves rate * seconds off by up to 0.05 * (rate + seconds).
    const QRegularExpression cycleLine(R"(^\S+( [0-9A-F]{2})+$)");
    qsizetype cycles = 0;
    for (const QString& line : r.Out.split('\n', Qt::SkipEmptyParts))
        cycles += cycleLine.match(line).hasMatch();
    const double rate = whole.captured(3).toDouble();
    EXPECT_NEAR(rate * seconds, double(cycles), 0.05 * (rate + seconds) + 0.5) << r.Out.toStdString();
}

TEST_F(PollStats, APortThatNeverOpenedStillReportsAndFails)
{
    WriteSettings("[настройки]\r\nпорт=" + QDir(dir.path()).filePath("nowhere").toStdString() + "\r\n");
    const test::TToolRun r = test::RunTool({"poll", "--settings", dir.path(), "--seconds", "1", "--stats"}, 15000);
    EXPECT_EQ(r.Code, 1) << r.Err.toStdString();
    const QStringList lines = StatsLines(r.Err);
    ASSERT_EQ(lines.size(), 1) << r.Err.toStdString();  // the interval is longer than the run
    const QRegularExpressionMatch m = kStatsLine.match(lines[0]);
    ASSERT_TRUE(m.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(m.captured(1), "whole run");
    EXPECT_EQ(m.captured(3), "0.0");
    EXPECT_EQ(m.captured(4), "0");
    EXPECT_EQ(m.captured(7), "no turnaround yet");
    EXPECT_TRUE(r.Err.contains("never opened")) << r.Err.toStdString();
}

#endif

}  // namespace
}  // namespace kovra
