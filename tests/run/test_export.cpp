#include "run/log_export.h"

#include "run/log_player.h"

#include "support/record_test_util.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::vector<std::string>> Rows(const std::string& csv)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
            cells.push_back(line.substr(start, comma - start));
        cells.push_back(line.substr(start));
        rows.push_back(cells);
    }
    return rows;
}

const char* const kIni = R"([настройки]
кол-во_областей=1
кол-во_формул=5
[области]
смещение_0=16
размер_0=3
[формула_0]
название=rpm
формула=hi*256+lo
кол-во_перем=2
переменная_0=hi
переменная_1=lo
отступ_пер_1=1
[формула_1]
название=dt
формула=dt
переменная_0=dt
вид_0=2
[формула_2]
название=n
формула=1
кол-во_перем=0
суммировать=1
[формула_3]
название=inv
формула=10/a
переменная_0=a
отступ_пер_0=2
[формула_4]
название=Об/мин
формула=a
переменная_0=a
отступ_пер_0=2
)";

TEST(Export, EveryRecordRunsThroughTheFormulasFromZero)
{
    TSettings s = test::CompiledSettings(kIni);
    const Bytes log{3,
                    10, 0, 0, 0,   0x03, 0x52, 5,
                    10, 0, 0, 100, 0x1B, 0x58, 0,
                    10, 0, 1, 0,   0x00, 0x01, 4,
                    10, 0, 1};  // cut short
    std::ostringstream out;
    const TExportReport rep = ExportLogCsv(log, s, out);
    ASSERT_TRUE(rep.Ok) << rep.Error;
    EXPECT_EQ(rep.Records, 3u);
    EXPECT_EQ(rep.DroppedBytes, 3u);
    EXPECT_EQ(rep.FailedRows, 1u);

    const auto rows = Rows(out.str());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "rpm", "dt", "n", "inv", "Об/мин"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"10:00:00.000", "850", "0", "1", "2", "5"}));
    EXPECT_EQ(rows[2][0], "10:00:00.500");
    EXPECT_EQ(rows[2][1], "7000");
    EXPECT_NEAR(std::stod(rows[2][2]), 0.5, 0.003);
    EXPECT_EQ(rows[2][3], "2");
    EXPECT_EQ(rows[2][4], "Floating point division by zero");
    EXPECT_EQ(rows[2][5], "");
    EXPECT_EQ(rows[3][0], "10:00:01.000");
    EXPECT_EQ(rows[3][1], "1");
    // The failed row did not move the previous cycle's time on.
    EXPECT_NEAR(std::stod(rows[3][2]), 1.0, 0.003);
    EXPECT_EQ((std::vector<std::string>(rows[3].begin() + 3, rows[3].end())),
              (std::vector<std::string>{"3", "2.5", "4"}));
}

TEST(Export, ALogOfAnotherSampleLengthOrWithoutItsFirstByteIsRefused)
{
    TSettings s = test::CompiledSettings(kIni);
    const Bytes cases[] = {{}, {4, 1, 2, 3, 4, 5, 6, 7, 8}, {255, 1}};
    for (const Bytes& log : cases) {
        std::ostringstream out;
        const TExportReport rep = ExportLogCsv(log, s, out);
        EXPECT_FALSE(rep.Ok);
        EXPECT_FALSE(rep.Error.empty());
        EXPECT_EQ(out.str(), "");
    }
}

TEST(Export, StampsAreWrittenAsTimesOfDayAndOddNamesAreQuoted)
{
    TSettings s = test::CompiledSettings(
        "[настройки]\nкол-во_формул=1\n[формула_0]\nназвание=a, \"b\"\nформула=1\nкол-во_перем=0\n");
    const Bytes log{1, 23, 59, 59, 200, 0, 0, 0, 0, 7, 0,  12, 59, 59, 3, 0, 30, 0, 0, 0, 0};
    std::ostringstream out;
    const TExportReport rep = ExportLogCsv(log, s, out);
    ASSERT_TRUE(rep.Ok);
    EXPECT_EQ(rep.BadStamps, 1u);
    EXPECT_EQ(out.str(), "time,\"a, \"\"b\"\"\"\n00:00:00.000,1\n00:00:00.035,1\n12:59:59.015,1\n30:00:00.000,1\n");
}

// Logs of every kind of record, made the same way on every run: time stamps
// that cross midnight and now and then fall out of range, a divisor byte
// that is sometimes 0, and a cut-short tail when asked.
const char* const kWideIni = R"([настройки]
кол-во_областей=2
кол-во_формул=8
[области]
смещение_0=0
размер_0=6
смещение_1=32
размер_1=3
[формула_0]
название=rpm
формула=(hi*256+lo)/4
кол-во_перем=2
переменная_0=hi
переменная_1=lo
отступ_пер_1=1
[формула_1]
название=dt
формула=dt
переменная_0=dt
вид_0=2
[формула_2]
название=n
формула=1
кол-во_перем=0
суммировать=1
[формула_3]
название=km
формула=v*dt/3600
кол-во_перем=2
переменная_0=v
отступ_пер_0=2
переменная_1=dt
вид_1=1
номер_формулы_1=1
суммировать=1
[формула_4]
название=inv
формула=100/b
переменная_0=b
область_пер_0=1
[формула_5]
название=bit3
формула=f
переменная_0=f
отступ_пер_0=3
бит_0=1
номер_бита_0=3
[формула_6]
название=prev
формула=p+1
переменная_0=p
вид_0=1
номер_формулы_0=7
[формула_7]
название=t, "°F"
формула=t*9/5+32
переменная_0=t
область_пер_0=1
отступ_пер_0=2
)";

struct TLogRecipe {
    const char* Name;
    std::size_t Records;
    std::int64_t StartMs;
    std::size_t Tail;  // bytes of a cut-short last record
};

Bytes MakeLog(const TLogRecipe& r, std::size_t sampleLength)
{
    std::uint64_t seed = 0x9E3779B97F4A7C15ull ^ r.Records;
    const auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(seed >> 33);
    };
    Bytes log{static_cast<std::uint8_t>(sampleLength)};
    std::int64_t ms = r.StartMs;
    for (std::size_t k = 0; k < r.Records; ++k) {
        ms = (ms + 20 + next() % 280) % 86'400'000;
        TTimeStamp st = StampOf(static_cast<float>(static_cast<double>(ms) / 86'400'000));
        if (next() % 5000 == 0)
            st.Hour = 25;
        if (next() % 7000 == 0)
            st.Fifths = 230;
        log.insert(log.end(), {st.Hour, st.Minute, st.Second, st.Fifths});
        for (std::size_t i = 0; i < sampleLength; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(next());
            if (i == 6 && b % 50 == 0)
                b = 0;  // inv's divisor
            log.push_back(b);
        }
    }
    for (std::size_t i = 0; i < r.Tail; ++i)
        log.push_back(static_cast<std::uint8_t>(next()));
    return log;
}

std::uint64_t Fnv1a(std::string_view bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 0x100000001b3ull;
    return h;
}

std::string FileText(const std::filesystem::path& p)
{
    const Bytes b = test::ReadBytes(p);
    return {b.begin(), b.end()};
}

// The CSV of each log as the export wrote it when it still read the whole log
// into memory (length and FNV-1a hash of the text).
struct TGolden {
    TLogRecipe Log;
    std::size_t CsvSize;
    std::uint64_t CsvHash;
};
const TGolden kGolden[] = {
    {{"short", 3, 36'000'000, 5}, 286, 0x314b70e1abcdb46full},
    {{"midnight", 100'000, 86'340'000, 7}, 9505529, 0xcc8bc8da0d48999eull},
    {{"whole", 20'000, 36'000'000, 0}, 1890749, 0x33033c815005d6deull},
    {{"header only", 0, 0, 0}, 44, 0x9005a7736fb3017full},
};

TEST(ExportStream, ReadsAnyLogRecordByRecordAsTheWholeLogInMemoryGave)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = dir.path().toStdString();
    for (const TGolden& g : kGolden) {
        SCOPED_TRACE(g.Log.Name);
        TSettings s = test::CompiledSettings(kWideIni);
        const Bytes log = MakeLog(g.Log, s.Data.SampleLength);
        const std::filesystem::path logFile = folder / "in.xlg";
        test::WriteBytes(logFile, log);

        std::ostringstream memory;
        const TExportReport whole = ExportLogCsv(log, s, memory);
        ASSERT_TRUE(whole.Ok) << whole.Error;
        EXPECT_EQ(whole.Records, g.Log.Records);
        EXPECT_EQ(whole.DroppedBytes, g.Log.Tail);
        EXPECT_EQ(memory.str().size(), g.CsvSize);
        EXPECT_EQ(Fnv1a(memory.str()), g.CsvHash);

        // Buffers smaller than a record, of odd sizes and the default: records
        // cut by a refill must come out whole.
        for (std::size_t buffer : {std::size_t{1}, std::size_t{29}, std::size_t{4096}, TLogReader::kDefaultBufferSize}) {
            SCOPED_TRACE(buffer);
            TSettings again = test::CompiledSettings(kWideIni);
            TLogReader reader(buffer);
            ASSERT_TRUE(reader.Open(logFile)) << reader.Error();
            const std::filesystem::path csv = folder / "out.csv";
            const TExportReport rep = ExportLogCsvFile(reader, again, csv);
            ASSERT_TRUE(rep.Ok) << rep.Error;
            EXPECT_EQ(rep.Records, whole.Records);
            EXPECT_EQ(rep.DroppedBytes, g.Log.Tail);
            EXPECT_EQ(rep.FailedRows, whole.FailedRows);
            EXPECT_EQ(rep.BadStamps, whole.BadStamps);
            EXPECT_TRUE(FileText(csv) == memory.str());
        }
    }
}

TEST(ExportStream, TheTextLeavesInBoundedPiecesWhateverTheLogsLength)
{
    TSettings s = test::CompiledSettings(kWideIni);
    const Bytes log = MakeLog({"long", 200'000, 0, 0}, s.Data.SampleLength);
    TLogReader reader;
    reader.OpenBytes(log);
    std::size_t total = 0, largest = 0, pieces = 0;
    std::uint64_t lastDone = 0;
    bool progressInOrder = true;
    const TExportReport rep = ExportLogCsv(
        reader, s,
        [&](std::string_view text) {
            total += text.size();
            largest = std::max(largest, text.size());
            ++pieces;
            return kFileOk;
        },
        [&](std::uint64_t done, std::uint64_t all) {
            progressInOrder = progressInOrder && done >= lastDone && done <= all && all == log.size();
            lastDone = done;
        });
    ASSERT_TRUE(rep.Ok);
    EXPECT_GT(total, std::size_t{16} << 20);
    EXPECT_LT(largest, std::size_t{1} << 20);
    EXPECT_GT(pieces, 16u);
    EXPECT_TRUE(progressInOrder);
    EXPECT_EQ(lastDone, log.size());
}

TEST(LogReader, HandsOutWholeRecordsAndReportsACutShortTail)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = dir.path().toStdString();
    const Bytes log{2, 1, 2, 3, 4, 0xA0, 0xA1, 5, 6, 7, 8, 0xB0, 0xB1, 9, 10, 11};
    test::WriteBytes(folder / "a.xlg", log);
    TLogReader r(5);
    ASSERT_TRUE(r.Open(folder / "a.xlg"));
    EXPECT_EQ(r.SampleLength(), 2u);
    EXPECT_EQ(r.TotalBytes(), log.size());
    TLogRecord rec;
    ASSERT_TRUE(r.Next(rec));
    EXPECT_EQ(rec.Index, 0u);
    EXPECT_EQ(rec.Stamp.Fifths, 4);
    EXPECT_EQ(Bytes(rec.Sample.begin(), rec.Sample.end()), (Bytes{0xA0, 0xA1}));
    ASSERT_TRUE(r.Next(rec));
    EXPECT_EQ(rec.Index, 1u);
    EXPECT_EQ(rec.Stamp.Hour, 5);
    EXPECT_EQ(Bytes(rec.Sample.begin(), rec.Sample.end()), (Bytes{0xB0, 0xB1}));
    EXPECT_FALSE(r.Next(rec));
    EXPECT_FALSE(r.Next(rec));  // the end stays the end
    EXPECT_FALSE(r.Failed());
    EXPECT_EQ(r.TrailingBytes(), 3u);
    EXPECT_EQ(r.Records(), 2u);

    test::WriteBytes(folder / "empty.xlg", {});
    ASSERT_TRUE(r.Open(folder / "empty.xlg"));
    EXPECT_FALSE(r.HasHeader());
    EXPECT_FALSE(r.Next(rec));

    // What cannot be read says why, and hands out nothing.
    for (const std::filesystem::path& bad : {folder, folder / "missing.xlg", folder / "a.xlg" / "x.xlg"}) {
        SCOPED_TRACE(bad.string());
        EXPECT_FALSE(r.Open(bad));
        EXPECT_FALSE(r.Error().empty());
        EXPECT_FALSE(r.Next(rec));
    }
    EXPECT_FALSE(r.Open(folder));
    EXPECT_NE(r.Error().find("folder"), std::string::npos);
}

// Storage over the real file system whose writes fail past a byte budget, or
// whose sync or rename fails.
class TFailingReplace : public TReplaceStorage {
public:
    std::int64_t Budget = -1;
    int SyncFailure = kFileOk;
    int RenameFailure = kFileOk;

    int CreateNew(const std::filesystem::path& p) override { return os_->CreateNew(p); }
    int Write(const void* data, std::size_t size) override
    {
        if (Budget >= 0 && static_cast<std::int64_t>(size) > Budget) {
            os_->Write(data, static_cast<std::size_t>(Budget));
            Budget = 0;
            return kFileDiskFull;
        }
        if (Budget >= 0)
            Budget -= static_cast<std::int64_t>(size);
        return os_->Write(data, size);
    }
    int Sync() override { return SyncFailure != kFileOk ? SyncFailure : os_->Sync(); }
    int Close() override { return os_->Close(); }
    int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return RenameFailure != kFileOk ? RenameFailure : os_->Rename(from, to);
    }
    void Remove(const std::filesystem::path& p) override { os_->Remove(p); }

private:
    std::shared_ptr<TReplaceStorage> os_ = OsReplaceStorage();
};

TEST(ExportStream, AFailedExportLeavesAnExistingCsvAsItWas)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = dir.path().toStdString();
    const std::filesystem::path csv = folder / "out.csv";
    const std::string before = "time,old\n10:00:00.000,1\n";
    test::WriteBytes(csv, Bytes(before.begin(), before.end()));
    TSettings probe = test::CompiledSettings(kWideIni);
    const Bytes log = MakeLog({"big", 50'000, 0, 0}, probe.Data.SampleLength);

    struct TCase {
        const char* What;
        std::int64_t Budget;
        int Sync;
        int Rename;
    };
    for (const TCase& c : {TCase{"disk full at once", 0, kFileOk, kFileOk},
                           TCase{"disk full part way", 600'000, kFileOk, kFileOk},
                           TCase{"sync fails", -1, kFileDeviceError, kFileOk},
                           TCase{"rename refused", -1, kFileOk, kFileAccessDenied}}) {
        SCOPED_TRACE(c.What);
        auto storage = std::make_shared<TFailingReplace>();
        storage->Budget = c.Budget;
        storage->SyncFailure = c.Sync;
        storage->RenameFailure = c.Rename;
        TSettings s = test::CompiledSettings(kWideIni);
        TLogReader reader;
        reader.OpenBytes(log);
        const TExportReport rep = ExportLogCsvFile(reader, s, csv, storage);
        EXPECT_FALSE(rep.Ok);
        EXPECT_EQ(rep.Failure, TExportFailure::Write);
        EXPECT_NE(rep.WriteStatus, kFileOk);
        EXPECT_FALSE(rep.Error.empty());
        EXPECT_EQ(FileText(csv), before);
        EXPECT_EQ(test::FilesIn(folder, ".tmp").size(), 0u) << "the temporary file is removed";
    }

    // A log the settings do not fit never reaches the file either.
    TSettings s = test::CompiledSettings(kIni);
    TLogReader reader;
    reader.OpenBytes(log);
    const TExportReport rep = ExportLogCsvFile(reader, s, csv);
    EXPECT_EQ(rep.Failure, TExportFailure::Log);
    EXPECT_EQ(FileText(csv), before);
    EXPECT_EQ(test::FilesIn(folder, ".tmp").size(), 0u);
}

TEST(ExportRange, APartOfALogStartsFromZeroAtItsFirstRecord)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path logFile = std::filesystem::path(dir.path().toStdString()) / "in.xlg";
    // Five records half a second apart from 10:00, the third failing at inv.
    const Bytes log{3,
                    10, 0, 0, 0,   0, 1, 5,
                    10, 0, 0, 100, 0, 2, 5,
                    10, 0, 1, 0,   0, 3, 0,
                    10, 0, 1, 100, 0, 4, 4,
                    10, 0, 2, 0,   0, 5, 2,
                    10, 0};
    test::WriteBytes(logFile, log);

    const TFoundRange found = FindLogRange(logFile, "10:00:00.300", "10:00:01.500");
    ASSERT_TRUE(found.Range) << found.Error;
    EXPECT_EQ(found.Range->First, 1u);
    EXPECT_EQ(found.Range->Count, 3u);

    TSettings s = test::CompiledSettings(kIni);
    TLogReader reader(7);
    ASSERT_TRUE(reader.Open(logFile));
    std::string csv;
    const TExportReport rep = ExportLogCsv(
        reader, s, [&](std::string_view t) { return csv.append(t), kFileOk; }, {}, *found.Range);
    ASSERT_TRUE(rep.Ok) << rep.Error;
    EXPECT_EQ(rep.Records, 3u);
    EXPECT_EQ(rep.DroppedBytes, 0u) << "the cut-short tail was not reached";
    const auto rows = Rows(csv);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"10:00:00.500", "2", "0", "1", "2", "5"}));
    EXPECT_EQ(rows[2][0], "10:00:01.000");
    EXPECT_EQ(rows[2][4], "Floating point division by zero");
    EXPECT_EQ(rows[3][0], "10:00:01.500");
    EXPECT_EQ(rows[3][3], "3");

    // To the end of the log: the tail is told of; the last record alone.
    for (const auto& [from, to, first, count] :
         {std::tuple{"10:00:01.500", "", 3u, 2u}, std::tuple{"end", "", 4u, 1u}, std::tuple{"", "10:00:00", 0u, 1u},
          std::tuple{"09:00:00", "end", 0u, 5u}, std::tuple{"10:00:00.001", "12:00:00", 1u, 4u}}) {
        SCOPED_TRACE(std::string(from) + " " + to);
        const TFoundRange r = FindLogRange(logFile, from, to);
        ASSERT_TRUE(r.Range) << r.Error;
        EXPECT_EQ(r.Range->First, first);
        EXPECT_EQ(r.Range->Count, count);
    }
    TSettings again = test::CompiledSettings(kIni);
    ASSERT_TRUE(reader.Open(logFile));
    const TExportReport tail = ExportLogCsv(
        reader, again, [](std::string_view) { return kFileOk; }, {}, TRecordRange{3, 100});
    EXPECT_EQ(tail.Records, 2u);
    EXPECT_EQ(tail.DroppedBytes, 2u);

    // What holds no record, or is no time, is the times' fault.
    for (const auto& [from, to, says] :
         {std::tuple{"10:00:02.001", "", "after the last record"}, std::tuple{"10:00:01.200", "10:00:01.100", "no record"},
          std::tuple{"", "09:00:00", "no record"}, std::tuple{"10:0:00", "", "--from \"10:0:00\" is not a time of day"},
          std::tuple{"", "10:00:61", "--to"}}) {
        SCOPED_TRACE(std::string(from) + " " + to);
        const TFoundRange r = FindLogRange(logFile, from, to);
        EXPECT_FALSE(r.Range);
        EXPECT_TRUE(r.BadTime);
        EXPECT_NE(r.Error.find(says), std::string::npos) << r.Error;
    }
    const TFoundRange missing = FindLogRange(logFile.parent_path() / "missing.xlg", "10:00:00", "");
    EXPECT_FALSE(missing.Range);
    EXPECT_FALSE(missing.BadTime);
}

TEST(ExportRange, ARangeAgreesWithThePlayersFindAcrossMidnight)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path logFile = std::filesystem::path(dir.path().toStdString()) / "in.xlg";
    TSettings s = test::CompiledSettings(kWideIni);
    test::WriteBytes(logFile, MakeLog({"midnight", 2000, 86'340'000, 3}, s.Data.SampleLength));
    TLogPlayer player;
    ASSERT_TRUE(player.Open(logFile, s.Data.SampleLength)) << player.Error();
    for (const char* at : {"23:59:30", "00:00:00", "00:01:00.250", "23:00:00"}) {
        SCOPED_TRACE(at);
        const TFoundRange r = FindLogRange(logFile, at, "");
        ASSERT_TRUE(r.Range) << r.Error;
        EXPECT_EQ(player.Find(at), r.Range->First);
        EXPECT_EQ(r.Range->First + r.Range->Count, player.Records());
    }
}

}  // namespace
}  // namespace kovra
