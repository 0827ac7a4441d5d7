// The "kovra settings" command, run as the user runs it.
#include "config/cp1251.h"
#include "support/settings_text.h"
#include "support/tool_run.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kovra::test::W;

namespace {

using kovra::test::TToolRun;

TToolRun Tool(const QStringList& args)
{
    return kovra::test::RunTool(QStringList{"settings"} + args);
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
    const TToolRun r = Tool({Folder()});
    ASSERT_EQ(r.Code, 0) << r.Err.toStdString();
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(r.Out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.Out.toStdString();
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
    const TToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.Code, 1);
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains(QString::fromUtf8("[формула_1] отступ_пер_0 = '9'")));
    EXPECT_TRUE(r.Out.contains(QString::fromUtf8("[Прибор_0] Максимум")));
    EXPECT_TRUE(r.Out.contains(QString::fromUtf8("[формула_0] формула = 'Переменная0+': the formula is refused")));
}

TEST_F(SettingsTool, CheckOfAGoodFileIsSilent)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=1\n[формула_0]\nформула=Переменная0/2\n"));
    const TToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
}

TEST_F(SettingsTool, MissingFileMeansDefaults)
{
    const TToolRun r = Tool({Folder()});
    EXPECT_EQ(r.Code, 0);
    EXPECT_FALSE(QJsonDocument::fromJson(r.Out.toUtf8()).object()["FileFound"].toBool());
    EXPECT_TRUE(r.Err.contains("default"));
}

TEST_F(SettingsTool, ToolErrorsAreOneLineAndExitTwo)
{
    const TToolRun missing = Tool({"--check", Folder() + "/nowhere"});
    EXPECT_EQ(missing.Code, 2);
    EXPECT_EQ(missing.Err.count('\n'), 1) << missing.Err.toStdString();
    EXPECT_TRUE(missing.Err.contains("does not exist"));

    ASSERT_TRUE(QDir(Folder()).mkdir("set.ini"));
    const TToolRun unreadable = Tool({Folder()});
    EXPECT_EQ(unreadable.Code, 2);
    EXPECT_EQ(unreadable.Err.count('\n'), 1) << unreadable.Err.toStdString();
    EXPECT_TRUE(unreadable.Out.isEmpty());
}

TEST_F(SettingsTool, EveryFolderThatCannotBeSearchedIsNamedWithItsReason)
{
    const TToolRun missing = Tool({Folder() + "/nowhere"});
    EXPECT_EQ(missing.Code, 2);
    EXPECT_EQ(missing.Err.count('\n'), 1) << missing.Err.toStdString();
    EXPECT_TRUE(missing.Err.contains("nowhere") && missing.Err.contains("does not exist")) << missing.Err.toStdString();

    Put(Folder() + "/plain", "x");
    for (const QStringList& args : {QStringList{Folder() + "/plain"}, QStringList{"--check", Folder() + "/plain"}}) {
        const TToolRun file = Tool(args);
        EXPECT_EQ(file.Code, 2);
        EXPECT_EQ(file.Err.count('\n'), 1) << file.Err.toStdString();
        EXPECT_TRUE(file.Err.contains("plain") && file.Err.contains("is not a folder")) << file.Err.toStdString();
        EXPECT_TRUE(file.Out.isEmpty());
    }

    // A folder that may not be searched (root is let through anyway: skipped).
    const QString locked = Folder() + "/locked";
    ASSERT_TRUE(QDir(Folder()).mkdir("locked"));
    Put(locked + "/set.ini", "[x]\n");
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const bool enforced = !QFile::exists(locked + "/set.ini");
    TToolRun denied;
    if (enforced)
        denied = Tool({"--check", locked});
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!enforced)
        GTEST_SKIP() << "permissions are not enforced for this user";
    EXPECT_EQ(denied.Code, 2);
    EXPECT_EQ(denied.Err.count('\n'), 1) << denied.Err.toStdString();
    EXPECT_TRUE(denied.Err.contains("locked") && denied.Err.contains("cannot search")) << denied.Err.toStdString();
}

TEST_F(SettingsTool, CheckOfAFileThatIsNoSettingsFileSaysWhatWasFound)
{
    std::string binary(1 << 20, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    Put(Folder() + "/set.ini", binary);
    const TToolRun b = Tool({"--check", Folder()});
    EXPECT_EQ(b.Code, 1);
    const QStringList lines = b.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].contains("set.ini") && lines[0].contains("binary bytes")) << lines[0].toStdString();

    Put(Folder() + "/set.ini", "just some notes\nnothing = here\n[other]\nx=1\n");
    const TToolRun t = Tool({"--check", Folder()});
    EXPECT_EQ(t.Code, 1);
    EXPECT_EQ(t.Out.count('\n'), 1) << t.Out.toStdString();
    EXPECT_TRUE(t.Out.contains("set.ini") && t.Out.contains("no section of the settings")) << t.Out.toStdString();
    EXPECT_FALSE(t.Out.contains("binary"));

    // The JSON lists it among the problems; an empty file is all defaults and no problem.
    const TToolRun j = Tool({Folder()});
    EXPECT_EQ(j.Code, 0);
    const QJsonArray problems = QJsonDocument::fromJson(j.Out.toUtf8()).object()["Problems"].toArray();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0]["Problem"].toString().contains("no section of the settings"));
    Put(Folder() + "/set.ini", "");
    const TToolRun empty = Tool({"--check", Folder()});
    EXPECT_EQ(empty.Code, 0);
    EXPECT_TRUE(empty.Out.isEmpty()) << empty.Out.toStdString();
}

TEST_F(SettingsTool, CheckNamesTotalsTheSumsFileCannotHold)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=3\n"
                                 u8"[формула_0]\nназвание=\"[1] fuel\"\nсуммировать=1\n"
                                 u8"[формула_1]\nназвание=fuel=total\nсуммировать=1\n"
                                 u8"[формула_2]\nназвание=fuel\nсуммировать=1\n"));
    const TToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.Code, 1);
    const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.Out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QString::fromUtf8("[формула_0] название = '[1] fuel': "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8("[формула_1] название = 'fuel=total': "))) << lines[1].toStdString();
}
