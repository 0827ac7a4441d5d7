// The "kovra settings" command, run as the user runs it.
#include "config/cp1251.h"
#include "settings_text.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kovra::test::W;

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

ToolRun Tool(const QStringList& args)
{
    QProcess p;
    p.start(KOVRA_TOOL, QStringList{"settings"} + args);
    ToolRun r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void Put(const QString& file, const std::string& bytes)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

class SettingsTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString Folder() const { return dir_.path(); }
    QTemporaryDir dir_;
};

}  // namespace

TEST_F(SettingsTool, PrintsTheModelAsUtf8Json)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=2\nпорт=com7\n"
                                 u8"[формула_0]\nназвание=Обороты\nформула=Переменная0*30\n"
                                 u8"[формула_1]\nкол-во_перем=0\nформула=\n"
                                 u8"[логер_0]\nназвание=Об/мин «ДВС»\nмакс_знач=8000\n"));
    const ToolRun r = Tool({Folder()});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_TRUE(root["FileFound"].toBool());
    EXPECT_EQ(root["Options"]["PortName"].toString(), "com7");
    const QJsonObject data = root["Data"].toObject();
    EXPECT_EQ(data["FormulaCount"].toInt(), 2);
    EXPECT_EQ(data["Procs"][0]["Name"].toString(), QString::fromUtf8("Обороты"));
    EXPECT_EQ(data["Procs"][0]["Vars"][0]["Name"].toString(), QString::fromUtf8("Переменная0"));
    EXPECT_EQ(data["Procs"][1]["Vars"].toArray().size(), 0);
    EXPECT_EQ(data["Gauges"][0]["Name"].toString(), "NoName");
    EXPECT_EQ(data["SampleLength"].toInt(), 1);
    EXPECT_EQ(root["FormulaTexts"][0].toString(), QString::fromUtf8("Переменная0*30"));
    EXPECT_EQ(root["FormulaTexts"][1].toString(), "");
    EXPECT_EQ(root["Loggers"][0]["LabelText"].toString(), QString::fromUtf8("Об/мин «ДВС»"));
    EXPECT_EQ(root["Loggers"][0]["MaxValue"].toInt(), 8000);
    EXPECT_TRUE(root["Problems"].toArray().isEmpty());
}

TEST_F(SettingsTool, CheckListsProblemsAndRefusedFormulas)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=2\n"
                                 u8"[формула_0]\nформула=Переменная0+\n"
                                 u8"[формула_1]\nформула=2*Переменная0\nотступ_пер_0=9\n"
                                 u8"[Прибор_0]\nМинимум=50\n"));
    const ToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.code, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("[формула_1] отступ_пер_0 = '9'")));
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("[Прибор_0] Максимум")));
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("[формула_0] формула = 'Переменная0+': the formula is refused")));
}

TEST_F(SettingsTool, CheckOfAGoodFileIsSilent)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=1\n[формула_0]\nформула=Переменная0/2\n"));
    const ToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
}

TEST_F(SettingsTool, MissingFileMeansDefaults)
{
    const ToolRun r = Tool({Folder()});
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(QJsonDocument::fromJson(r.out.toUtf8()).object()["FileFound"].toBool());
    EXPECT_TRUE(r.err.contains("default"));
}

TEST_F(SettingsTool, ToolErrorsAreOneLineAndExitTwo)
{
    const ToolRun missing = Tool({"--check", Folder() + "/nowhere"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err.count('\n'), 1) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains("does not exist"));

    ASSERT_TRUE(QDir(Folder()).mkdir("set.ini"));
    const ToolRun unreadable = Tool({Folder()});
    EXPECT_EQ(unreadable.code, 2);
    EXPECT_EQ(unreadable.err.count('\n'), 1) << unreadable.err.toStdString();
    EXPECT_TRUE(unreadable.out.isEmpty());
}
