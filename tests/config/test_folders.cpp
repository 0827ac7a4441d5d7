// The choice between a portable folder, a per-user folder and --folder.
#include "config/folders.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace kovra;

namespace {

class Folders : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp_.isValid());
        root_ = fs::path(tmp_.path().toStdString());
        in_.ExecutableFolder = root_ / "bin";
        in_.CurrentFolder = root_ / "cwd";
        in_.UserDataFolder = root_ / "home/.local/share/kovra";
        in_.Example = root_ / "share/kovra/example";
        fs::create_directories(in_.ExecutableFolder);
        fs::create_directories(in_.CurrentFolder);
        fs::create_directories(in_.Example / "lang");
        Write(in_.Example / "set.ini", "[настройки]\nпорт=ttyUSB0\n");
        Write(in_.Example / "lang/ru.ini", "[Logger]\n");
    }
    static void Write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
    static std::string Read(const fs::path& p)
    {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    QTemporaryDir tmp_;
    fs::path root_;
    TFolderInputs in_;
};

TEST_F(Folders, SetIniBesideTheProgramKeepsTheClassicLayout)
{
    Write(in_.ExecutableFolder / "set.ini", "");
    const TFolders f = ChooseFolders(in_);
    EXPECT_EQ(f.Kind, TFolders::TKind::Portable);
    EXPECT_EQ(f.Program, in_.ExecutableFolder);
    EXPECT_EQ(f.Working, in_.CurrentFolder);
    EXPECT_FALSE(f.Created);
    EXPECT_FALSE(fs::exists(in_.UserDataFolder));
}

TEST_F(Folders, InstalledProgramMakesThePerUserFolderOnceAndNeverOverwritesIt)
{
    const TFolders first = ChooseFolders(in_);
    EXPECT_EQ(first.Kind, TFolders::TKind::PerUser);
    EXPECT_EQ(first.Program, in_.UserDataFolder);
    EXPECT_EQ(first.Working, in_.UserDataFolder);
    EXPECT_TRUE(first.Created);
    EXPECT_TRUE(first.Error.empty()) << first.Error;
    EXPECT_EQ(Read(in_.UserDataFolder / "set.ini"), Read(in_.Example / "set.ini"));
    EXPECT_TRUE(fs::exists(in_.UserDataFolder / "lang/ru.ini"));
    EXPECT_TRUE(fs::is_directory(in_.UserDataFolder / "logs"));

    // The user's own edits survive the next start.
    Write(in_.UserDataFolder / "set.ini", "mine");
    const TFolders second = ChooseFolders(in_);
    EXPECT_FALSE(second.Created);
    EXPECT_EQ(Read(in_.UserDataFolder / "set.ini"), "mine");
}

TEST_F(Folders, ExplicitFolderServesBothRolesAndIsSeededOnlyWhenNew)
{
    Write(in_.ExecutableFolder / "set.ini", "");  // --folder wins over a portable folder
    in_.Explicit = root_ / "car-2";
    TFolders f = ChooseFolders(in_);
    EXPECT_EQ(f.Kind, TFolders::TKind::Explicit);
    EXPECT_EQ(f.Program, root_ / "car-2");
    EXPECT_EQ(f.Working, root_ / "car-2");
    EXPECT_TRUE(f.Created);
    EXPECT_TRUE(fs::exists(root_ / "car-2/set.ini"));

    // A folder that already holds something is the user's: nothing is added.
    in_.Explicit = root_ / "car-3";
    fs::create_directories(root_ / "car-3");
    Write(root_ / "car-3/notes.txt", "x");
    f = ChooseFolders(in_);
    EXPECT_FALSE(f.Created);
    EXPECT_FALSE(fs::exists(root_ / "car-3/set.ini"));
}

TEST_F(Folders, AFolderThatCannotBeMadeIsReportedNotFatal)
{
    Write(root_ / "file", "x");
    in_.UserDataFolder = root_ / "file/kovra";  // a file in the way
    const TFolders f = ChooseFolders(in_);
    EXPECT_FALSE(f.Error.empty());
    EXPECT_FALSE(f.Created);
}

TEST(FoldersInstalled, ExampleLiesUnderShareBesideBin)
{
    EXPECT_EQ(InstalledExampleFolder("/usr/bin"), fs::path("/usr/share/kovra/example"));
}

}  // namespace
