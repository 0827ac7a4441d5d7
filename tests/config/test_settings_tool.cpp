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

TEST_F(SettingsTool, EveryFolderThatCannotBeSearchedIsNamedWithItsReason)
{
    const ToolRun missing = Tool({Folder() + "/nowhere"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err.count('\n'), 1) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains("nowhere") && missing.err.contains("does not exist")) << missing.err.toStdString();

    Put(Folder() + "/plain", "x");
    for (const QStringList& args : {QStringList{Folder() + "/plain"}, QStringList{"--check", Folder() + "/plain"}}) {
        const ToolRun file = Tool(args);
        EXPECT_EQ(file.code, 2);
        EXPECT_EQ(file.err.count('\n'), 1) << file.err.toStdString();
        EXPECT_TRUE(file.err.contains("plain") && file.err.contains("is not a folder")) << file.err.toStdString();
        EXPECT_TRUE(file.out.isEmpty());
    }

    // A folder that may not be searched (root is let through anyway: skipped).
    const QString locked = Folder() + "/locked";
    ASSERT_TRUE(QDir(Folder()).mkdir("locked"));
    Put(locked + "/set.ini", "[x]\n");
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const bool enforced = !QFile::exists(locked + "/set.ini");
    ToolRun denied;
    if (enforced)
        denied = Tool({"--check", locked});
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!enforced)
        GTEST_SKIP() << "permissions are not enforced for this user";
    EXPECT_EQ(denied.code, 2);
    EXPECT_EQ(denied.err.count('\n'), 1) << denied.err.toStdString();
    EXPECT_TRUE(denied.err.contains("locked") && denied.err.contains("cannot search")) << denied.err.toStdString();
}

TEST_F(SettingsTool, CheckOfAFileThatIsNoSettingsFileSaysWhatWasFound)
{
    std::string binary(1 << 20, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 2654435761u) >> 13);
    Put(Folder() + "/set.ini", binary);
    const ToolRun b = Tool({"--check", Folder()});
    EXPECT_EQ(b.code, 1);
    const QStringList lines = b.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].contains("set.ini") && lines[0].contains("binary bytes")) << lines[0].toStdString();

    Put(Folder() + "/set.ini", "just some notes\nnothing = here\n[other]\nx=1\n");
    const ToolRun t = Tool({"--check", Folder()});
    EXPECT_EQ(t.code, 1);
    EXPECT_EQ(t.out.count('\n'), 1) << t.out.toStdString();
    EXPECT_TRUE(t.out.contains("set.ini") && t.out.contains("no section of the settings")) << t.out.toStdString();
    EXPECT_FALSE(t.out.contains("binary"));

    // The JSON lists it among the problems; an empty file is all defaults and no problem.
    const ToolRun j = Tool({Folder()});
    EXPECT_EQ(j.code, 0);
    const QJsonArray problems = QJsonDocument::fromJson(j.out.toUtf8()).object()["Problems"].toArray();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0]["Problem"].toString().contains("no section of the settings"));
    Put(Folder() + "/set.ini", "");
    const ToolRun empty = Tool({"--check", Folder()});
    EXPECT_EQ(empty.code, 0);
    EXPECT_TRUE(empty.out.isEmpty()) << empty.out.toStdString();
}

TEST_F(SettingsTool, CheckNamesTotalsTheSumsFileCannotHold)
{
    Put(Folder() + "/set.ini", W(u8"[настройки]\nкол-во_формул=3\n"
                                 u8"[формула_0]\nназвание=\"[1] fuel\"\nсуммировать=1\n"
                                 u8"[формула_1]\nназвание=fuel=total\nсуммировать=1\n"
                                 u8"[формула_2]\nназвание=fuel\nсуммировать=1\n"));
    const ToolRun r = Tool({"--check", Folder()});
    EXPECT_EQ(r.code, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QString::fromUtf8("[формула_0] название = '[1] fuel': "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QString::fromUtf8("[формула_1] название = 'fuel=total': "))) << lines[1].toStdString();
}
