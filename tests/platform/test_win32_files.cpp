// Output files and the checked replace on the operating system's own files:
// exclusive creation, whole writes, sync, and a replace that never costs the
// old contents. Runs on every platform; the Windows build checks the Win32
// calls (CreateFileW, WriteFile, FlushFileBuffers, MoveFileExW) under wine.
#include "platform/files.h"
#include "platform/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kovra {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Names left in the folder besides the given ones: a temporary file that a
// replace forgot to remove shows here.
std::vector<std::string> Leftovers(const fs::path& folder, const std::vector<std::string>& known)
{
    std::vector<std::string> rest;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        bool isKnown = false;
        for (const auto& k : known)
            isKnown = isKnown || k == name;
        if (!isKnown)
            rest.push_back(name);
    }
    return rest;
}

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("kovra_files_") + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

TEST_F(Win32Files, CreatesWritesSyncsAndNeverOverwritesATakenName)
{
    const fs::path p = dir_ / "07.12.2026-14537.xlg";
    std::string bytes(70000, '\0');  // more than one buffer of any layer, with every byte value
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);

    TOsFile f;
    ASSERT_EQ(f.CreateNew(p), kFileOk);
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Write(bytes.data(), 100), kFileOk);
    EXPECT_EQ(f.Write(bytes.data() + 100, bytes.size() - 100), kFileOk);
    EXPECT_EQ(f.Write(bytes.data(), 0), kFileOk);
    EXPECT_EQ(f.Sync(), kFileOk);
    // A reader may look at the file while it is being written (a journal).
    EXPECT_EQ(ReadAll(p), bytes);
    EXPECT_EQ(f.Close(), kFileOk);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Close(), kFileOk);
    EXPECT_EQ(f.Write("x", 1), kFileAccessDenied);
    EXPECT_EQ(f.Sync(), kFileAccessDenied);

    TOsFile again;
    EXPECT_EQ(again.CreateNew(p), kFileExists);
    EXPECT_FALSE(again.IsOpen());
    EXPECT_EQ(ReadAll(p), bytes) << "a taken name was touched";

    TOsFile nowhere;
    EXPECT_EQ(nowhere.CreateNew(dir_ / "missing" / "a.xlg"), kFileInvalidName);
}

TEST_F(Win32Files, NamesOutsideTheAnsiCodePageAndMovedHandles)
{
    // A user's folder is often Cyrillic; the ANSI calls would mangle it.
    const fs::path folder = dir_ / fs::path(u8"Логи");
    fs::create_directories(folder);
    const fs::path p = folder / fs::path(u8"журнал.xlj");
    TOsFile f;
    ASSERT_EQ(f.CreateNew(p), kFileOk);
    TOsFile moved(std::move(f));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(moved.Write("abc", 3), kFileOk);
    TOsFile assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.Sync(), kFileOk);
    EXPECT_EQ(assigned.Close(), kFileOk);
    EXPECT_EQ(ReadAll(p), "abc");
    ASSERT_EQ(Leftovers(folder, {p.filename().string()}).size(), 0u);
}

// A finished journal becomes a log by a second name: while it is still open,
// never over a taken name, and the log stays when the journal's name goes.
TEST_F(Win32Files, ALinkNamesAnOpenFileAgainAndNeverTakesAName)
{
    const fs::path journal = dir_ / "journal-1-1.xjr";
    const fs::path log = dir_ / fs::path(u8"07.12.2026-14537.xlg");
    TOsFile f;
    ASSERT_EQ(f.CreateNew(journal), kFileOk);
    ASSERT_EQ(f.Write("abc", 3), kFileOk);
    ASSERT_EQ(f.Sync(), kFileOk);
    WriteAll(dir_ / "taken.xlg", "old");
    EXPECT_EQ(LinkNew(journal, dir_ / "taken.xlg"), kFileExists);
    EXPECT_EQ(ReadAll(dir_ / "taken.xlg"), "old");
    ASSERT_EQ(LinkNew(journal, log), kFileOk);
    ASSERT_EQ(f.Close(), kFileOk);
    fs::remove(journal);
    EXPECT_EQ(ReadAll(log), "abc");
    EXPECT_NE(LinkNew(dir_ / "none.xjr", dir_ / "none.xlg"), kFileOk);
    EXPECT_FALSE(fs::exists(dir_ / "none.xlg"));
    EXPECT_EQ(Leftovers(dir_, {log.filename().string(), "taken.xlg"}), std::vector<std::string>{});
}

TEST_F(Win32Files, ReplaceSwapsContentsAndLeavesNothingBehind)
{
    const fs::path target = dir_ / "log.sv";
    WriteAll(target, "old");
    EXPECT_EQ(ReplaceFileContents(target, "new contents"), kFileOk);
    EXPECT_EQ(ReadAll(target), "new contents");
    EXPECT_EQ(ReplaceFileContents(target, ""), kFileOk);
    EXPECT_EQ(ReadAll(target), "");
    // A target that does not exist yet is created.
    const fs::path fresh = dir_ / fs::path(u8"сумма.sv");
    EXPECT_EQ(ReplaceFileContents(fresh, "1"), kFileOk);
    EXPECT_EQ(ReadAll(fresh), "1");
    EXPECT_EQ(Leftovers(dir_, {"log.sv", fresh.filename().string()}), std::vector<std::string>{});

    // Abandoned without Commit: the target keeps its contents.
    {
        TReplaceFile r;
        ASSERT_EQ(r.Open(target), kFileOk);
        EXPECT_EQ(r.Write("half"), kFileOk);
    }
    EXPECT_EQ(ReadAll(target), "");
    EXPECT_EQ(Leftovers(dir_, {"log.sv", fresh.filename().string()}), std::vector<std::string>{});

    EXPECT_EQ(ReplaceFileContents(dir_ / "missing" / "log.sv", "x"), kFileInvalidName);
}

#if defined(_WIN32)

// Windows refuses to rename over a file that is open without delete sharing
// (and over a read-only one). The replace then fails, the target keeps what it
// had, and the temporary file does not stay behind, even when it was given
// the target's read-only attribute, which Windows will not delete.
TEST_F(Win32Files, ReplaceRefusedByTheSystemKeepsTheTargetAndCleansUp)
{
    const fs::path target = dir_ / "set.ini";
    WriteAll(target, "[a]\nb=1\n");
    for (const DWORD attributes : {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{FILE_ATTRIBUTE_READONLY}}) {
        SCOPED_TRACE(attributes);
        ASSERT_TRUE(SetFileAttributesW(target.c_str(), attributes));
        HANDLE h = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_NE(ReplaceFileContents(target, "lost?"), kFileOk);
        CloseHandle(h);
        EXPECT_EQ(ReadAll(target), "[a]\nb=1\n");
        EXPECT_EQ(Leftovers(dir_, {"set.ini"}), std::vector<std::string>{});
    }
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Win32Files, SyncAndRenameReachTheFileSystem)
{
    // What the Win32 branch reports for a handle it cannot use, and a rename
    // onto a folder: errors, not silence.
    const fs::path a = dir_ / "a.tmp";
    WriteAll(a, "a");
    fs::create_directories(dir_ / "folder");
    EXPECT_NE(RenameReplacing(a, dir_ / "folder"), kFileOk);
    EXPECT_EQ(ReadAll(a), "a");
    EXPECT_EQ(RenameReplacing(dir_ / "none.tmp", dir_ / "b"), kFileNotFound);
    EXPECT_EQ(RenameReplacing(a, dir_ / "b"), kFileOk);
    EXPECT_EQ(ReadAll(dir_ / "b"), "a");
    EXPECT_FALSE(fs::exists(a));
}

#endif

}  // namespace
}  // namespace kovra
