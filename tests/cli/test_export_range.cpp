// kovra export --from/--to: the rows of the records between two times of
// day, values from zero at the first of them; a time it cannot use is
// refused with exit status 2.
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

class ExportRange : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Put(In("set.ini"), QByteArray::fromStdString(kovra::Utf8ToCp1251(
                               "[настройки]\nкол-во_формул=2\n[области]\nразмер_0=1\n"
                               "[формула_0]\nназвание=x\nформула=x\nпеременная_0=x\n"
                               "[формула_1]\nназвание=n\nформула=1\nкол-во_перем=0\nсуммировать=1\n")));
        // 23:59:59.000, 23:59:59.500, 00:00:00.000, 00:00:00.500: past midnight.
        Put(In("run.xlg"), QByteArray("\x01"
                                      "\x17\x3B\x3B\x00\x01"
                                      "\x17\x3B\x3B\x64\x02"
                                      "\x00\x00\x00\x00\x03"
                                      "\x00\x00\x00\x64\x04",
                                      21));
    }
    QString In(const QString& name) const { return QDir(dir.path()).filePath(name); }
    static void Put(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    TToolRun Export(const QStringList& times)
    {
        return RunTool(QStringList{"export", In("run.xlg"), "--settings", dir.path()} + times);
    }
    QTemporaryDir dir;
};

TEST_F(ExportRange, WritesTheRecordsBetweenTheTimesCountingFromTheFirst)
{
    TToolRun r = Export({"--from", "23:59:59.200", "--to", "00:00:00"});
    ASSERT_EQ(r.Code, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "time,x,n\n23:59:59.500,2,1\n00:00:00.000,3,2\n");
    EXPECT_TRUE(r.Err.contains("2 records")) << r.Err.toStdString();

    r = Export({"--from", "00:00:00.100"});
    ASSERT_EQ(r.Code, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "time,x,n\n00:00:00.500,4,1\n");
    r = Export({"--to", "23:59:59", "-o", In("out.csv")});
    ASSERT_EQ(r.Code, 0) << r.Err.toStdString();
    QFile out(In("out.csv"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), "time,x,n\n23:59:59.000,1,1\n");
    r = Export({"--from", "end"});
    EXPECT_EQ(r.Out, "time,x,n\n00:00:00.500,4,1\n");
}

TEST_F(ExportRange, ATimeItCannotUseIsRefusedWithStatusTwo)
{
    struct TCase {
        QStringList Times;
        QString Says;
    };
    for (const TCase& c : {TCase{{"--from", "7:00"}, "--from \"7:00\" is not a time of day"},
                           TCase{{"--to", "25:00:00"}, "hours run from 00 to 23"},
                           TCase{{"--from", "00:00:01"}, "after the last record (00:00:00.500)"},
                           TCase{{"--from", "00:00:00.200", "--to", "00:00:00.100"}, "no record lies"}}) {
        SCOPED_TRACE(c.Times.join(' ').toStdString());
        const TToolRun r = Export(c.Times);
        EXPECT_EQ(r.Code, 2);
        EXPECT_EQ(r.Out, "");
        ASSERT_EQ(r.ErrLines().size(), 1) << r.Err.toStdString();
        EXPECT_TRUE(r.ErrLines()[0].startsWith("kovra export: ") && r.ErrLines()[0].contains(c.Says))
            << r.ErrLines()[0].toStdString();
    }
}

#endif

}  // namespace
