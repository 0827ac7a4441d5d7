// kovra settings --check: advice on faster polling comes after the problems
// and never makes a file fail the check.
#include "config/cp1251.h"
#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

#ifdef KOVRA_TOOL

using kovra::test::RunTool;
using kovra::test::TToolRun;

void Put(const QString& file, const std::string& utf8)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const std::string bytes = kovra::Utf8ToCp1251(utf8);
    f.write(bytes.data(), qint64(bytes.size()));
}

QStringList AdviceLines(const TToolRun& r)
{
    QStringList out;
    for (const QString& line : r.Out.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("advice: "))
            out << line;
    return out;
}

TEST(SettingsAdvice, TheDemosAreasReadAsOneAboutTwiceAsFast)
{
    const TToolRun r = RunTool({"settings", "--check", KOVRA_SOURCE_DIR "/demo"});
    EXPECT_EQ(r.Code, 0) << "advice is no problem: " << r.Out.toStdString();
    const QStringList advice = AdviceLines(r);
    ASSERT_EQ(advice.size(), 1) << r.Out.toStdString();
    EXPECT_EQ(r.Out.split('\n', Qt::SkipEmptyParts).size(), 1) << r.Out.toStdString();
    const QString& a = advice[0];
    EXPECT_TRUE(a.contains("areas 0, 1 and 2 lie side by side")) << a.toStdString();
    EXPECT_TRUE(a.contains("one area of 11 bytes at 0x10")) << a.toStdString();
    const QRegularExpressionMatch m = QRegularExpression(R"(about ([0-9.]+) times)").match(a);
    ASSERT_TRUE(m.hasMatch()) << a.toStdString();
    EXPECT_NEAR(m.captured(1).toDouble(), 2.0, 0.15);
}

TEST(SettingsAdvice, AreasWithGapsGetNone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Put(dir.filePath("set.ini"), "[настройки]\nкол-во_областей=3\n"
                                 "[области]\nсмещение_0=0x10\nразмер_0=4\nсмещение_1=0x20\nразмер_1=4\n"
                                 "смещение_2=0x15\nразмер_2=2\n");
    const TToolRun r = RunTool({"settings", "--check", dir.path()});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
}

TEST(SettingsAdvice, ComesAfterTheProblemsAndKeepsTheJsonAsItWas)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Two overlapping areas and a gauge whose scale is upside down.
    Put(dir.filePath("set.ini"), "[настройки]\nкол-во_областей=2\n"
                                 "[области]\nсмещение_0=0x40\nразмер_0=8\nсмещение_1=0x44\nразмер_1=8\n"
                                 "[Прибор_0]\nМинимум=50\n");
    const TToolRun r = RunTool({"settings", "--check", dir.path()});
    EXPECT_EQ(r.Code, 1) << "the problem decides the exit code";
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.Out.toStdString();
    EXPECT_FALSE(lines[0].startsWith("advice:")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("advice: areas 0 and 1 overlap")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("one area of 12 bytes at 0x40")) << lines[1].toStdString();

    const TToolRun json = RunTool({"settings", dir.path()});
    EXPECT_EQ(json.Code, 0);
    EXPECT_FALSE(json.Out.contains("advice", Qt::CaseInsensitive)) << json.Out.toStdString();
}

#endif

}  // namespace
