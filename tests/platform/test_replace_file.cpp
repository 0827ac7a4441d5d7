#include "platform/replace_file.h"

#include "support/failing_replace.h"
#include "support/full_disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kovra {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::size_t FilesIn(const fs::path& dir)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++n;
    return n;
}

struct ReplaceFileTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kovra-replace-" + std::to_string(std::random_device{}()));
    fs::path target = dir / "log.sv";
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(ReplaceFileTest, AnyFailureLeavesTheOldFileWholeAndNoTemporaryFile)
{
    const std::string old = "[old]\nkept=1\n", next = "[new]\nvalue=12,50\n";
    struct {
        const char* what;
        std::int64_t budget;
        int sync, close, rename, expected;
    } const cases[] = {
        {"nothing fits", 0, 0, 0, 0, kFileDiskFull},
        {"a few bytes fit", 3, 0, 0, 0, kFileDiskFull},
        {"all but the last byte fit", static_cast<std::int64_t>(next.size()) - 1, 0, 0, 0, kFileDiskFull},
        {"the sync fails", -1, kFileDeviceError, 0, 0, kFileDeviceError},
        {"the close fails", -1, 0, kFileDiskFull, 0, kFileDiskFull},
        {"the rename fails", -1, 0, 0, kFileAccessDenied, kFileAccessDenied},
    };
    for (const auto& c : cases) {
        Put(target, old);
        auto storage = std::make_shared<test::TFailingReplace>();
        storage->Budget = c.budget;
        storage->SyncFailure = c.sync;
        storage->CloseFailure = c.close;
        storage->RenameFailure = c.rename;
        EXPECT_EQ(ReplaceFileContents(target, next, storage), c.expected) << c.what;
        EXPECT_EQ(Read(target), old) << c.what;
        EXPECT_EQ(FilesIn(dir), 1u) << c.what;
    }
    EXPECT_EQ(ReplaceFileContents(target, next), kFileOk);
    EXPECT_EQ(Read(target), next);
    EXPECT_EQ(FilesIn(dir), 1u);
}

TEST_F(ReplaceFileTest, WritesInPiecesAndKeepsTheFirstFailure)
{
    Put(target, "old");
    auto storage = std::make_shared<test::TFailingReplace>();
    storage->Budget = 4;
    {
        TReplaceFile f(storage);
        ASSERT_EQ(f.Open(target), kFileOk);
        EXPECT_EQ(f.Write("abc"), kFileOk);
        EXPECT_EQ(f.Write("defg"), kFileDiskFull);
        storage->Budget = -1;  // space again: the file is still short, so it stays failed
        EXPECT_EQ(f.Write("h"), kFileDiskFull);
        EXPECT_EQ(f.Written(), 3u);
        EXPECT_EQ(f.Commit(), kFileDiskFull);
    }
    EXPECT_EQ(Read(target), "old");
    {
        TReplaceFile f;
        ASSERT_EQ(f.Open(dir / "new.ini"), kFileOk);
        f.Write("x");
    }  // never committed: nothing appears
    EXPECT_EQ(FilesIn(dir), 1u);
    EXPECT_EQ(ReplaceFileContents(dir / "missing" / "a.ini", "x"), kFileInvalidName);
}

TEST(ReplaceFileFullDisk, AFullDiskKeepsTheOldFile)
{
    test::TFullDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const fs::path target = disk.Root() / "log.sv";
    Put(target, "[Сохр_Формулы]\nfuel=1,00\n");
    disk.Fill();
    const std::string bigger(8192, 'x');
    EXPECT_EQ(ReplaceFileContents(target, bigger), kFileDiskFull);
    EXPECT_EQ(Read(target), "[Сохр_Формулы]\nfuel=1,00\n");
    for (const auto& e : fs::directory_iterator(disk.Root()))
        EXPECT_FALSE(e.path().extension() == ".tmp") << e.path();
    disk.Free();
    EXPECT_EQ(ReplaceFileContents(target, bigger), kFileOk);
    EXPECT_EQ(Read(target), bigger);
}

}  // namespace
}  // namespace kovra
