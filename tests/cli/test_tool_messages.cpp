// kovra poll, record and export given what they cannot use: each says so in
// one line naming the file and the reason, and exits with a failure.
#include "config/cp1251.h"
#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace {

#ifdef KOVRA_TOOL

using kovra::test::RunTool;
using kovra::test::TToolRun;

void Put(const QString& file, const QByteArray& bytes)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Get(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The one line of standard error, or a description of what came instead.
QString OneLine(const TToolRun& r)
{
    return r.ErrLines().size() == 1 ? r.ErrLines()[0] : "<" + QString::number(r.ErrLines().size()) + " lines: " + r.ErrLines().join(" | ") + ">";
}

class ToolMessages : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString In(const QString& name) const { return QDir(dir.path()).filePath(name); }

    // set.ini with two formulas over a 2-byte sample, and a log of 2 records
    // and a cut-short third.
    void WriteSettingsAndLog()
    {
        Put(In("set.ini"), QByteArray::fromStdString(kovra::Utf8ToCp1251(
                               "[настройки]\nкол-во_формул=2\n[области]\nразмер_0=2\n"
                               "[формула_0]\nназвание=a\nформула=x\nпеременная_0=x\n"
                               "[формула_1]\nназвание=b\nформула=x*2\nпеременная_0=x\nотступ_пер_0=1\n")));
        Put(In("run.xlg"), QByteArray("\x02"
                                      "\x0A\x00\x00\x00\x05\x06"
                                      "\x0A\x00\x01\x00\x07\x08"
                                      "\x0A\x00",
                                      1 + 6 + 6 + 2));
    }

    QTemporaryDir dir;
};

TEST_F(ToolMessages, ASettingsFolderThatIsNotThereIsRefused)
{
    WriteSettingsAndLog();
    const QString missing = In("no-such-folder");
    for (const QStringList& args : {QStringList{"export", In("run.xlg"), "--settings", missing},
                                    QStringList{"poll", "--settings", missing, "--seconds", "0.2"},
                                    QStringList{"record", "--settings", missing, "--duration", "0.2"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const TToolRun r = RunTool(args);
        EXPECT_NE(r.Code, 0);
        EXPECT_TRUE(OneLine(r).contains(missing) && OneLine(r).contains("does not exist")) << OneLine(r).toStdString();
        EXPECT_EQ(r.Out, "");
    }
    // A file given as the folder.
    const TToolRun r = RunTool({"export", In("run.xlg"), "--settings", In("run.xlg")});
    EXPECT_NE(r.Code, 0);
    EXPECT_TRUE(OneLine(r).contains(In("run.xlg")) && OneLine(r).contains("not a folder")) << OneLine(r).toStdString();
}

TEST_F(ToolMessages, ASetIniThatIsAFolderIsRefusedNotTakenForMissing)
{
    WriteSettingsAndLog();
    ASSERT_TRUE(QFile::remove(In("set.ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("set.ini"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("logs"));
    for (const QStringList& args : {QStringList{"poll", "--settings", dir.path(), "--seconds", "0.2"},
                                    QStringList{"record", "--settings", dir.path(), "--duration", "0.2"},
                                    QStringList{"export", In("run.xlg"), "--settings", dir.path()}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const TToolRun r = RunTool(args);
        EXPECT_NE(r.Code, 0);
        const QString line = OneLine(r);
        EXPECT_TRUE(line.contains("set.ini") && line.contains("is a folder")) << line.toStdString();
        EXPECT_FALSE(line.contains("no set.ini")) << line.toStdString();
    }
    EXPECT_TRUE(QDir(In("logs")).isEmpty()) << "nothing was recorded";
}

TEST_F(ToolMessages, ALogThatCannotBeReadIsNamedWithTheReason)
{
    WriteSettingsAndLog();
    struct TCase {
        QString Log;
        QString Reason;
    };
    for (const TCase& c : {TCase{dir.path(), "folder"}, TCase{In("missing.xlg"), "No such file"},
                           TCase{In("run.xlg") + "/inner.xlg", "directory"}}) {
        SCOPED_TRACE(c.Log.toStdString());
        const TToolRun r = RunTool({"export", c.Log, "--settings", dir.path()});
        EXPECT_EQ(r.Code, 1);
        const QString line = OneLine(r);
        EXPECT_TRUE(line.startsWith("kovra export: cannot read " + c.Log + ": ")) << line.toStdString();
        EXPECT_TRUE(line.contains(c.Reason, Qt::CaseInsensitive)) << line.toStdString();
        EXPECT_FALSE(line.contains("basic_filebuf")) << line.toStdString();
    }
}

TEST_F(ToolMessages, PollSaysSoWhenThePortNeverOpened)
{
    WriteSettingsAndLog();
    const TToolRun r = RunTool({"poll", "--settings", dir.path(), "--port", In("no-such-tty"), "--seconds", "0.5"});
    EXPECT_EQ(r.Code, 1);
    ASSERT_FALSE(r.ErrLines().isEmpty());
    const QString last = r.ErrLines().last();
    EXPECT_TRUE(last.startsWith("kovra poll: the port never opened: ") && last.contains(In("no-such-tty")))
        << last.toStdString();
}

TEST_F(ToolMessages, AFailedExportLeavesTheCsvThatWasThere)
{
    WriteSettingsAndLog();
    const QByteArray before = "time,a\n09:00:00.000,1\n";
    Put(In("out.csv"), before);
    // A log of another sample length.
    Put(In("other.xlg"), QByteArray("\x03\x0A\x00\x00\x00\x01\x02\x03", 8));
    TToolRun r = RunTool({"export", In("other.xlg"), "--settings", dir.path(), "-o", In("out.csv")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(OneLine(r).contains(In("other.xlg")) && OneLine(r).contains("3 bytes long")) << OneLine(r).toStdString();
    EXPECT_EQ(Get(In("out.csv")), before);

    // Into a folder that is not there: nothing is made.
    r = RunTool({"export", In("run.xlg"), "--settings", dir.path(), "-o", In("nowhere/out.csv")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(OneLine(r).contains(In("nowhere/out.csv")) && OneLine(r).contains("folder does not exist"))
        << OneLine(r).toStdString();

    // And the export that works replaces it, telling of the cut-short record.
    r = RunTool({"export", In("run.xlg"), "--settings", dir.path(), "-o", In("out.csv")});
    ASSERT_EQ(r.Code, 0) << r.ErrLines().join('\n').toStdString();
    EXPECT_EQ(Get(In("out.csv")), "time,a,b\n10:00:00.000,5,12\n10:00:01.000,7,16\n");
    EXPECT_TRUE(r.ErrLines().join('\n').contains("cut short (2 bytes)"));
    EXPECT_EQ(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files | QDir::Hidden).size(), 0);
}

#endif

}  // namespace
