#include "config/format.h"
#include "config/ini.h"
#include "config/language.h"
#include "config/sums.h"
#include "support/settings_text.h"
#include "support/failing_replace.h"
#include "support/full_disk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

using namespace kovra;
using kovra::test::W;

namespace {

std::filesystem::path Folder(const QTemporaryDir& dir)
{
    return std::filesystem::path(dir.path().toStdString());
}

void Put(const std::filesystem::path& file, const std::string& bytes)
{
    QFile f(QString::fromStdString(file.string()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string Get(const std::filesystem::path& file)
{
    return ReadFileBytes(file).Bytes;
}

struct TSum {
    std::u8string_view Name;
    bool Accumulate = false;
    double Value = 0;
};

// Formulas of a model, and the values a run holds for them.
struct TValued {
    TAllData Data;
    TRunState State;

    TValued() = default;
    TValued(std::initializer_list<TSum> sums) { Set(sums); }
    void Set(std::initializer_list<TSum> sums)
    {
        for (const TSum& sum : sums) {
            TProc p;
            p.Name = W(sum.Name);
            p.Accumulate = sum.Accumulate;
            Data.Procs.push_back(p);
            State.Values.push_back(sum.Value);
        }
    }
};

class SumsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        SetDecimalSeparatorForTesting(',');
    }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }

    QTemporaryDir dir_;
};

}  // namespace

TEST(FormatSum, SevenDigitsOrTwoDecimals)
{
    EXPECT_EQ(FormatSum(1234.5, ','), "1234,50");
    EXPECT_EQ(FormatSum(123456.789, ','), "123456,80");
    EXPECT_EQ(FormatSum(0.004, '.'), "0.00");
    EXPECT_EQ(FormatSum(10000000, '.'), "1E7");
}

TEST_F(SumsTest, RoundTripKeepsOtherEntriesAndBytes)
{
    const auto folder = Folder(dir_);
    const std::string before = W(u8"; kept\r\n[Сохр_Формулы]\r\nЧужая=5,5\r\nПробег = 1,00\r\n\r\n[Прочее]\r\nx=1\r\n");
    Put(folder / "log.sv", before);

    TValued out{{u8"Пробег", true, 1234.5}, {u8"Скорость", false, 99}, {u8"Расход", true, -0.25},
                {u8"Большая", true, 12345678}};
    ASSERT_EQ(SaveSums(folder, out.Data, out.State), std::nullopt);
    EXPECT_EQ(Get(folder / "log.sv"),
              W(u8"; kept\r\n[Сохр_Формулы]\r\nЧужая=5,5\r\nПробег = 1234,50\r\nРасход=-0,25\r\nБольшая=1,234568E7\r\n"
                u8"\r\n[Прочее]\r\nx=1\r\n"));

    TValued in{{u8"Пробег", true}, {u8"Скорость", false, 7}, {u8"Расход", true}, {u8"Большая", true}};
    ASSERT_EQ(RestoreSums(folder, in.Data, in.State), std::nullopt);
    EXPECT_EQ(in.State.Values[0], 1234.5);
    EXPECT_EQ(in.State.Values[1], 7);  // not accumulating: untouched
    EXPECT_EQ(in.State.Values[2], -0.25);
    EXPECT_EQ(in.State.Values[3], 12345680);
}

TEST_F(SumsTest, MissingFileRestoresZeroAndSaveCreatesIt)
{
    const auto folder = Folder(dir_);
    TValued data{{u8"Пробег", true, 3}};
    ASSERT_EQ(RestoreSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_EQ(data.State.Values[0], 0);
    data.State.Values[0] = 2.5;
    ASSERT_EQ(SaveSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_EQ(Get(folder / "log.sv"), W(u8"[Сохр_Формулы]\r\nПробег=2,50\r\n"));
}

TEST_F(SumsTest, AStateSizedForAnotherModelIsReadAndFilledOnlyWithinIt)
{
    const auto folder = Folder(dir_);
    TValued data{{u8"Пробег", true, 2}, {u8"Расход", true, 3}};
    data.State.Values.resize(1);  // the second formula has no value there
    ASSERT_EQ(SaveSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_EQ(Get(folder / "log.sv"), W(u8"[Сохр_Формулы]\r\nПробег=2,00\r\nРасход=0,00\r\n"));
    TRunState empty;
    ASSERT_EQ(RestoreSums(folder, data.Data, empty), std::nullopt);
    EXPECT_EQ(empty.Values, (std::vector<double>{2, 0}));
}

TEST_F(SumsTest, NoAccumulatingFormulaLeavesTheFileAlone)
{
    const auto folder = Folder(dir_);
    TValued data{{u8"Пробег", false, 3}};
    ASSERT_EQ(SaveSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder / "log.sv"));
}

TEST_F(SumsTest, SameNameTwiceSharesOneEntry)
{
    const auto folder = Folder(dir_);
    Put(folder / "log.sv", W(u8"[Сохр_Формулы]\nСумма=4,00\n"));
    TValued data{{u8"Сумма", true}, {u8"сумма", true}};
    ASSERT_EQ(RestoreSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_EQ(data.State.Values[0], 4);
    EXPECT_EQ(data.State.Values[1], 4);
    data.State.Values[0] = 10;
    data.State.Values[1] = 20;
    ASSERT_EQ(SaveSums(folder, data.Data, data.State), std::nullopt);
    EXPECT_EQ(Get(folder / "log.sv"), W(u8"[Сохр_Формулы]\nСумма=20,00\n"));
}

TEST_F(SumsTest, RestoreStopsAtTheFirstEntryThatIsNoNumber)
{
    const auto folder = Folder(dir_);
    Put(folder / "log.sv", W(u8"[Сохр_Формулы]\nА=1,5\nБ=\nВ=2,5\n"));
    TValued data{{u8"А", true}, {u8"Б", true}, {u8"В", true}};
    EXPECT_EQ(RestoreSums(folder, data.Data, data.State), "'' is not a valid floating point value");
    EXPECT_EQ(data.State.Values[0], 1.5);
    EXPECT_EQ(data.State.Values[1], 0);
    EXPECT_EQ(data.State.Values[2], 0);

    // A point under a comma locale is no number either; the text is quoted as it is.
    TValued point{{u8"А", true}};
    EXPECT_EQ(RestoreSumsFromBytes(W(u8"[Сохр_Формулы]\nА=1.5 км\n"), point.Data, point.State),
              W(u8"'1.5 км' is not a valid floating point value"));
}

TEST_F(SumsTest, WriteFailureNamesTheFileAndChangesNothing)
{
    const auto missing = Folder(dir_) / "no such folder";
    TValued data{{u8"Пробег", true, 1}};
    const auto error = SaveSums(missing, data.Data, data.State);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, "Unable to write to " + DisplayPath(missing / "log.sv"));
    EXPECT_TRUE(std::filesystem::path(DisplayPath(missing / "log.sv")).is_absolute());
    EXPECT_FALSE(std::filesystem::exists(missing));

    // log.sv that cannot be read is not overwritten blind.
    const auto folder = Folder(dir_);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("log.sv"));
    EXPECT_TRUE(SaveSums(folder, data.Data, data.State).has_value());
    EXPECT_TRUE(std::filesystem::is_directory(folder / "log.sv"));
}

TEST_F(SumsTest, ReadOnlyFolderKeepsTheOldFile)
{
    const auto folder = Folder(dir_) / "ro";
    std::filesystem::create_directory(folder);
    const std::string before = W(u8"[Сохр_Формулы]\nПробег=1,00\n");
    Put(folder / "log.sv", before);
    namespace fs = std::filesystem;
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const bool canWrite = QFile(QString::fromStdString((folder / "probe").string())).open(QIODevice::WriteOnly);
    if (canWrite) {
        fs::permissions(folder, fs::perms::owner_all);
        GTEST_SKIP() << "permissions do not bind this user";
    }
    TValued data{{u8"Пробег", true, 5}};
    const auto error = SaveSums(folder, data.Data, data.State);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, "Unable to write to " + DisplayPath(folder / "log.sv"));
    EXPECT_EQ(Get(folder / "log.sv"), before);
}

TEST(Language, CaptionsFoundInTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto folder = Folder(dir);
    std::filesystem::create_directory(folder / "lang");
    Put(folder / "lang" / "en.ini", "[logger]\nTabSheet1=Graphs\nbutton2 = \"Record log\"\nButton1=\n");

    const TCaptions en = ReadLanguage(folder, "en");
    EXPECT_EQ(en.TabSheet1, "Graphs");
    EXPECT_EQ(en.TabSheet2, std::nullopt);
    EXPECT_EQ(en.TabSheet3, std::nullopt);
    EXPECT_EQ(en.Button1, "");
    EXPECT_EQ(en.Button2, "Record log");

    const TCaptions none = ReadLanguage(folder, "de");
    EXPECT_FALSE(none.TabSheet1 || none.TabSheet2 || none.TabSheet3 || none.Button1 || none.Button2);

    // A Cyrillic language name names a UTF-8 file name on disk.
    Put(folder / "lang" / std::filesystem::path(u8"рус.ini"), W(u8"[Logger]\nTabSheet3=Момент\n"));
    EXPECT_EQ(ReadLanguage(folder, W(u8"рус")).TabSheet3, W(u8"Момент"));
}

namespace {

// log.sv of a program folder with two entries, then a save of a new total.
struct SumsFailureCase {
    std::string before = W(u8"[Сохр_Формулы]\nПробег=1,00\nДругое=7,00\n");
    TValued data;
    SumsFailureCase() { data.Set({{u8"Пробег", true, 1234.5}}); }
};

}  // namespace

TEST_F(SumsTest, ASaveThatFailsAnywhereKeepsTheOldFileWhole)
{
    const auto folder = Folder(dir_);
    const SumsFailureCase c;
    for (const std::int64_t budget : {0, 1, 20, 40}) {
        Put(folder / "log.sv", c.before);
        auto storage = std::make_shared<test::TFailingReplace>();
        storage->Budget = budget;
        const auto error = SaveSums(folder, c.data.Data, c.data.State, storage);
        ASSERT_TRUE(error.has_value()) << budget;
        EXPECT_EQ(*error, "Unable to write to " + DisplayPath(folder / "log.sv"));
        EXPECT_EQ(Get(folder / "log.sv"), c.before) << budget;
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << budget;
    }
    auto syncFails = std::make_shared<test::TFailingReplace>();
    syncFails->SyncFailure = kFileDiskFull;
    EXPECT_TRUE(SaveSums(folder, c.data.Data, c.data.State, syncFails).has_value());
    EXPECT_EQ(Get(folder / "log.sv"), c.before);
}

TEST_F(SumsTest, AFullDiskKeepsTheOldFileWhole)
{
    test::TFullDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const SumsFailureCase c;
    Put(disk.Root() / "log.sv", c.before);
    disk.Fill();
    const auto error = SaveSums(disk.Root(), c.data.Data, c.data.State);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, "Unable to write to " + DisplayPath(disk.Root() / "log.sv"));
    EXPECT_EQ(Get(disk.Root() / "log.sv"), c.before);
    disk.Free();
    EXPECT_EQ(SaveSums(disk.Root(), c.data.Data, c.data.State), std::nullopt);
    EXPECT_EQ(Get(disk.Root() / "log.sv"), W(u8"[Сохр_Формулы]\nПробег=1234,50\nДругое=7,00\n"));
}
