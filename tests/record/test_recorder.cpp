#include "record/recorder.h"

#include "platform/files.h"
#include "record/log_format.h"
#include "support/record_test_util.h"
#include "support/full_disk.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <map>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const QDateTime kStop(QDate(2026, 12, 7), QTime(14, 5, 37));

double At(int h, int m, int s, int ms) { return (((h * 60 + m) * 60 + s) * 1000.0 + ms) / 86400000.0; }

// A program folder with its logs folder, a fixed clock and date format.
struct RecorderTest : ::testing::Test {
    QTemporaryDir dir;
    fs::path program = dir.path().toStdString();
    fs::path logs = program / "logs";
    std::shared_ptr<test::TFailingStorage> storage = std::make_shared<test::TFailingStorage>();

    void SetUp() override { fs::create_directory(logs); }

    std::unique_ptr<TRecorder> Make(std::size_t n, QDateTime when = kStop, QString format = "dd.MM.yyyy")
    {
        auto r = std::make_unique<TRecorder>(program, n);
        r->SetStorage(storage);
        r->SetNaming({[when] { return when; }, format});
        return r;
    }
};

TEST(LogFormat, StampsCountFifthsOfAMillisecondRoundedAsTheClockWasHeld)
{
    struct {
        double t;
        TTimeStamp expected;
    } const cases[] = {
        {At(0, 0, 0, 998), {0, 0, 0, 200}},
        {At(0, 0, 0, 999), {0, 0, 0, 200}},
        {At(0, 0, 0, 997), {0, 0, 0, 199}},
        {At(0, 0, 0, 3), {0, 0, 0, 1}},
        {At(1, 2, 3, 400), {1, 2, 3, 80}},
        {At(23, 59, 59, 999), {0, 0, 0, 0}},  // single precision rounds it up to midnight
    };
    for (const auto& c : cases) {
        const TTimeStamp s = StampOf(static_cast<float>(c.t));
        EXPECT_EQ((Bytes{s.Hour, s.Minute, s.Second, s.Fifths}),
                  (Bytes{c.expected.Hour, c.expected.Minute, c.expected.Second, c.expected.Fifths}))
            << c.t;
    }
}

TEST(LogFormat, NamesAreTheShortDateAndUnpaddedTimeWithUnsafeSeparatorsReplaced)
{
    struct {
        const char* format;
        QTime time;
        const char* expected;
    } const cases[] = {
        {"dd.MM.yyyy", QTime(14, 5, 37), "07.12.2026-14537"},
        {"dd.MM.yyyy", QTime(1, 11, 5), "07.12.2026-1115"},
        {"dd.MM.yyyy", QTime(11, 1, 5), "07.12.2026-1115"},
        {"M/d/yyyy", QTime(0, 0, 0), "12-7-2026-000"},
        {"yyyy\\MM\\dd", QTime(9, 30, 0), "2026-12-07-9300"},
        {"dd:MM|yy", QTime(9, 30, 0), "07-12-26-9300"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogBaseName(QDateTime(QDate(2026, 12, 7), c.time), c.format).toStdString(), c.expected);
}

TEST_F(RecorderTest, ARecordingWithoutCyclesIsOneByte)
{
    auto r = Make(40);
    EXPECT_STREQ(r->Caption(), "Запись лога");
    EXPECT_TRUE(r->Recording().Ok());
    EXPECT_TRUE(r->IsRecording());
    EXPECT_STREQ(r->Caption(), "Записывается лог");
    const TSaveResult saved = r->Recording();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(saved.Path, logs / "07.12.2026-14537.xlg");
    EXPECT_EQ(test::ReadBytes(saved.Path), Bytes{40});
    EXPECT_FALSE(r->IsRecording());
    EXPECT_EQ(r->LogBuffer(), Bytes{40});
}

TEST_F(RecorderTest, RecordsAreTheStampThenTheSampleAndAreOnlyTakenWhileRecording)
{
    auto r = Make(3);
    const Bytes sample{0xAA, 0x00, 0xFF};
    r->Append(static_cast<float>(At(0, 0, 1, 0)), sample);
    EXPECT_EQ(r->LogBuffer(), Bytes{3});
    r->Start();
    r->Append(static_cast<float>(At(1, 2, 3, 400)), sample);
    r->Append(static_cast<float>(At(1, 2, 3, 998)), Bytes{1});  // short: padded
    const Bytes expected{3, 1, 2, 3, 80, 0xAA, 0x00, 0xFF, 1, 2, 3, 200, 1, 0, 0};
    EXPECT_EQ(r->LogBuffer(), expected);
    const TSaveResult saved = r->StopAndSave();
    ASSERT_TRUE(saved.Ok());
    EXPECT_EQ(test::ReadBytes(saved.Path), expected);
}

TEST_F(RecorderTest, ASaveNeverReplacesALogButTakesTheNextFreeName)
{
    test::WriteBytes(logs / "07.12.2026-14537.xlg", Bytes{9, 9});
    auto r = Make(1);
    std::vector<fs::path> saved;
    for (int i = 0; i < 3; ++i) {
        r->Start();
        r->Append(0.1f, Bytes{static_cast<std::uint8_t>(i)});
        const TSaveResult s = r->StopAndSave();
        ASSERT_TRUE(s.Ok()) << s.Message;
        saved.push_back(s.Path);
    }
    EXPECT_EQ(saved, (std::vector<fs::path>{logs / "07.12.2026-14537-2.xlg", logs / "07.12.2026-14537-3.xlg",
                                            logs / "07.12.2026-14537-4.xlg"}));
    EXPECT_EQ(test::ReadBytes(logs / "07.12.2026-14537.xlg"), (Bytes{9, 9}));
    EXPECT_EQ(test::ReadBytes(saved[2]).back(), 2);
}

TEST_F(RecorderTest, ASlashDateIsSavedInTheLogsFolderItself)
{
    auto r = Make(1, kStop, "M/d/yyyy");
    r->Start();
    const TSaveResult s = r->StopAndSave();
    ASSERT_TRUE(s.Ok()) << s.Message;
    EXPECT_EQ(s.Path, logs / "12-7-2026-14537.xlg");
    EXPECT_TRUE(fs::exists(s.Path));
}

TEST_F(RecorderTest, AFailedSaveKeepsRecordingWithEveryRecordAndTheNextToggleRetries)
{
    auto r = Make(2);
    r->SetJournalEnabled(false);
    r->Start();
    for (int i = 0; i < 3; ++i)
        r->Append(0.25f, Bytes{static_cast<std::uint8_t>(i), 7});
    const Bytes recorded = r->LogBuffer();

    storage->WriteBudget = 5;  // the disk fills up part-way
    const TSaveResult failed = r->Recording();
    EXPECT_EQ(failed.Status, kFileDiskFull);
    EXPECT_EQ(failed.Message, "Disk full");
    EXPECT_TRUE(r->IsRecording());
    EXPECT_STREQ(r->Caption(), "Записывается лог");
    EXPECT_EQ(r->LogBuffer(), recorded);
    r->Append(0.26f, Bytes{3, 7});  // recording goes on

    storage->WriteBudget = -1;
    const TSaveResult saved = r->Recording();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    // The short file of the failed save is gone: its name is free again.
    EXPECT_EQ(saved.Path, logs / "07.12.2026-14537.xlg");
    EXPECT_EQ(test::FilesIn(logs, ".xlg"), std::vector<fs::path>{saved.Path});
    const Bytes all = test::ReadBytes(saved.Path);
    EXPECT_EQ(all.size(), 1u + 4 * 6);
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), all.begin()));
}

TEST_F(RecorderTest, CreationFailuresAreReportedWithTheirTexts)
{
    struct {
        int status;
        const char* text;
    } const cases[] = {
        {2, "File not found"},    {3, "Invalid filename"}, {4, "Too many open files"},
        {5, "File access denied"}, {101, "Disk full"},     {123, "I/O error 123"},
    };
    auto r = Make(1);
    r->Start();
    r->Append(0.5f, Bytes{1});
    for (const auto& c : cases) {
        storage->CreateFailure = c.status;
        const TSaveResult s = r->StopAndSave();
        EXPECT_EQ(s.Message, c.text);
        EXPECT_TRUE(r->IsRecording());
        EXPECT_EQ(r->LogBuffer().size(), 6u);
    }
}

TEST_F(RecorderTest, AMissingLogsFolderIsAnInvalidFileNameAndIsNotCreated)
{
    fs::remove(logs);
    auto r = std::make_unique<TRecorder>(program, 1);
    r->Start();
    r->Append(0.5f, Bytes{1});
    const TSaveResult s = r->StopAndSave();
    EXPECT_EQ(s.Status, kFileInvalidName);
    EXPECT_EQ(s.Message, "Invalid filename");
    EXPECT_FALSE(fs::exists(logs));
    EXPECT_TRUE(r->IsRecording());
    EXPECT_FALSE(r->Journal().Active());
}

TEST_F(RecorderTest, AReadOnlyLogsFolderIsAccessDenied)
{
    fs::permissions(logs, fs::perms::owner_read | fs::perms::owner_exec);
    if (QFile probe(QString::fromStdString((logs / "probe").string())); probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        fs::permissions(logs, fs::perms::owner_all);
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    auto r = std::make_unique<TRecorder>(program, 1);
    r->SetNaming({[] { return kStop; }, "dd.MM.yyyy"});
    r->Start();
    r->Append(0.5f, Bytes{1});
    const TSaveResult s = r->StopAndSave();
    EXPECT_EQ(s.Message, "File access denied");
    EXPECT_EQ(r->LogBuffer().size(), 6u);
    fs::permissions(logs, fs::perms::owner_all);
    EXPECT_TRUE(r->StopAndSave().Ok());
}

TEST_F(RecorderTest, TheJournalMirrorsTheRecordingAndGoesWithASuccessfulSave)
{
    auto r = Make(2);
    r->Start();
    ASSERT_TRUE(r->Journal().Active());
    const fs::path journal = r->Journal().Path();
    EXPECT_EQ(journal.parent_path(), logs);
    for (int i = 0; i < 4; ++i) {
        r->Append(0.3f + i * 1e-6f, Bytes{static_cast<std::uint8_t>(i), 0x55});
        EXPECT_EQ(test::ReadBytes(journal), r->LogBuffer());
    }
    storage->CreateFailure = 5;
    storage->CreateFailureOnly = ".xlg";
    ASSERT_FALSE(r->StopAndSave().Ok());
    EXPECT_EQ(test::ReadBytes(journal), r->LogBuffer());  // kept while the save fails
    storage->CreateFailure = 0;
    ASSERT_TRUE(r->StopAndSave().Ok());
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(test::FilesIn(logs, ".lock").size(), 0u);
    EXPECT_EQ(test::FilesIn(logs, ".xlg").size(), 1u);
}

TEST_F(RecorderTest, TheJournalIsSyncedEveryFewSecondsWhileRecordsCome)
{
    std::int64_t now = 0;
    auto r = Make(1);
    r->SetMonotonicClock([&] { return now; });
    r->Start();
    for (std::int64_t at : {0, 500, 1500, 1999}) {
        now = at;
        r->Append(0.5f, Bytes{1});
    }
    EXPECT_EQ(storage->Syncs, 0);
    now = 2000;
    r->Append(0.5f, Bytes{2});
    EXPECT_EQ(storage->Syncs, 1);
    now = 3000;
    r->Append(0.5f, Bytes{3});
    now = 4500;
    r->Tick();  // the cycles stopped: the timer syncs what came
    EXPECT_EQ(storage->Syncs, 2);
    now = 9000;
    r->Tick();  // nothing new
    EXPECT_EQ(storage->Syncs, 2);
}

TEST_F(RecorderTest, AJournalThatCannotBeWrittenLeavesRecordingAsItWas)
{
    storage->CreateFailure = kFileDiskFull;
    storage->CreateFailureOnly = ".xjr";
    auto r = Make(1);
    r->Start();
    EXPECT_FALSE(r->Journal().Active());
    EXPECT_EQ(r->Journal().LastError(), kFileDiskFull);
    r->Append(0.5f, Bytes{4});
    const TSaveResult s = r->StopAndSave();
    ASSERT_TRUE(s.Ok()) << s.Message;
    EXPECT_EQ(test::ReadBytes(s.Path), (Bytes{1, 12, 0, 0, 0, 4}));
}

TEST_F(RecorderTest, MemoryHoldsOnlyWhatTheJournalHasNotSyncedAndTheSaveHasEverything)
{
    std::int64_t now = 0;
    auto r = Make(200);
    r->SetMonotonicClock([&] { return now; });
    r->Start();
    const Bytes sample(200, 0x5A);
    std::size_t most = 0;
    constexpr int kCycles = 190 * 60;  // a minute at the fastest link
    for (int i = 0; i < kCycles; ++i) {
        now = i * 1000 / 190;
        r->Append(0.5f, sample);
        most = std::max(most, r->BufferedBytes());
    }
    const std::size_t record = 4 + 200;
    // At most the records of one sync interval, and a little over.
    EXPECT_LE(most, (190 * TJournal::kSyncIntervalMs / 1000 + 2) * record);
    EXPECT_EQ(r->LogBuffer().size(), 1 + kCycles * record);
    const TSaveResult s = r->StopAndSave();
    ASSERT_TRUE(s.Ok()) << s.Message;
    const Bytes saved = test::ReadBytes(s.Path);
    ASSERT_EQ(saved.size(), 1 + kCycles * record);
    EXPECT_EQ(saved[0], 200);
    EXPECT_TRUE(std::all_of(saved.begin() + 5, saved.begin() + 5 + 200, [](auto b) { return b == 0x5A; }));
    EXPECT_EQ(r->BufferedBytes(), 1u);
}

TEST_F(RecorderTest, AJournalThatFailsMidwayIsReportedOnceAndTheRestStaysInMemory)
{
    std::int64_t now = 0;
    auto r = Make(1);
    r->SetMonotonicClock([&] { return now; });
    std::vector<int> reported;
    r->SetJournalFailureHandler([&](const TJournal& j) { reported.push_back(j.LastError()); });
    r->Start();
    Bytes expected{1};
    auto append = [&](std::uint8_t v) {
        r->Append(0.5f, Bytes{v});
        expected.insert(expected.end(), {12, 0, 0, 0, v});
    };
    for (std::uint8_t v = 0; v < 10; ++v) {
        now += 1000;
        append(v);  // synced every other record: memory is trimmed
    }
    storage->WriteBudget = 7;  // one record, then part of the next
    for (std::uint8_t v = 10; v < 40; ++v)
        append(v);
    EXPECT_EQ(reported, std::vector<int>{kFileDiskFull});
    EXPECT_TRUE(r->Journal().Holds());
    EXPECT_FALSE(r->Journal().Active());
    EXPECT_EQ(r->LogBuffer(), expected);

    const TSaveResult failed = r->StopAndSave();  // the disk is still full
    EXPECT_EQ(failed.Message, "Disk full");
    EXPECT_TRUE(test::FilesIn(logs, ".xlg").empty());  // no short log left behind
    storage->WriteBudget = -1;
    const TSaveResult saved = r->StopAndSave();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(test::ReadBytes(saved.Path), expected);
    EXPECT_TRUE(test::FilesIn(logs, ".xjr").empty());
    EXPECT_EQ(reported.size(), 1u);
}

TEST_F(RecorderTest, AnUnsavedRecordingIsKeptWholeForTheNextStart)
{
    Bytes expected{1};
    std::vector<fs::path> keptPlaces;
    {
        auto r = Make(1);
        r->Start();
        for (std::uint8_t v = 0; v < 6; ++v) {
            if (v == 3)
                storage->WriteBudget = 2;  // the journal stops in the fourth record
            r->Append(0.5f, Bytes{v});
            expected.insert(expected.end(), {12, 0, 0, 0, v});
        }
        ASSERT_FALSE(r->StopAndSave().Ok());
        ASSERT_FALSE(r->StopAndSave(2).Ok());
        storage->WriteBudget = -1;  // a little space came back for the keeping
        const TRecorder::TKept kept = r->KeepUnsaved();
        ASSERT_EQ(kept.Places.size(), 2u);
        EXPECT_EQ(kept.Places[0].Journal, r->Journal().Path());
        EXPECT_EQ(kept.Places[0].Records, 3u);
        EXPECT_EQ(kept.Places[1].Records, 3u);
        EXPECT_EQ(kept.Lost, 0u);
        for (const auto& place : kept.Places)
            keptPlaces.push_back(place.Journal);
    }
    TLogNaming naming{[] { return kStop; }, "dd.MM.yyyy"};
    std::map<fs::path, fs::path> logOf;
    for (const TRecoveredJournal& j : RecoverJournals(program, naming)) {
        ASSERT_EQ(j.Status, 0) << j.Message;
        logOf[j.Journal] = j.Log;
    }
    Bytes recovered{1};
    for (const auto& place : keptPlaces) {
        const Bytes log = test::ReadBytes(logOf[place]);
        ASSERT_FALSE(log.empty()) << place;
        recovered.insert(recovered.end(), log.begin() + 1, log.end());
    }
    EXPECT_EQ(recovered, expected);
    EXPECT_TRUE(test::FilesIn(logs, ".xjr").empty());
}

TEST_F(RecorderTest, AFullDiskLosesNothingAndLeavesNoEmptyLog)
{
    test::TFullDisk disk(256);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const fs::path root = disk.Root();
    fs::create_directory(root / "logs");
    disk.Fill(32 * 1024);
    TRecorder r(root, 200);
    r.SetNaming({[] { return kStop; }, "dd.MM.yyyy"});
    int reported = 0;
    r.SetJournalFailureHandler([&](const TJournal&) { ++reported; });
    r.Start();
    ASSERT_TRUE(r.Journal().Active());
    const std::size_t records = 200;  // 40 KB: more than is left
    for (std::size_t i = 0; i < records; ++i)
        r.Append(0.5f, Bytes(200, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(reported, 1);
    EXPECT_FALSE(r.Journal().Active());
    const TSaveResult failed = r.StopAndSave();
    EXPECT_EQ(failed.Message, "Disk full");
    EXPECT_TRUE(r.IsRecording());
    EXPECT_TRUE(test::FilesIn(root / "logs", ".xlg").empty());

    // Space again: the retry has every record.
    disk.Free();
    const fs::path journal = r.Journal().Path();
    const Bytes all = r.LogBuffer();
    ASSERT_EQ(all.size(), 1 + records * 204);
    const TSaveResult saved = r.StopAndSave();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(test::ReadBytes(saved.Path), all);
    EXPECT_EQ(test::ReadBytes(saved.Path)[1 + 199 * 204 + 4], 199);
    EXPECT_FALSE(fs::exists(journal));
}

TEST_F(RecorderTest, AWholeJournalBecomesTheLogWithoutAByteWrittenAndATakenNameStillGetsASuffix)
{
    auto r = Make(1);
    Bytes expected{1};
    auto record = [&](std::uint8_t v) {
        r->Append(0.5f, Bytes{v});
        expected.insert(expected.end(), {12, 0, 0, 0, v});
    };
    r->Start();
    for (std::uint8_t v = 0; v < 5; ++v)
        record(v);
    EXPECT_EQ(r->Records(), 5u);
    test::WriteBytes(logs / "07.12.2026-14537.xlg", Bytes{9});
    storage->WriteBudget = 0;  // not one byte more fits: a copy would fail
    const TSaveResult saved = r->StopAndSave();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(saved.Path, logs / "07.12.2026-14537-2.xlg");
    EXPECT_EQ(test::ReadBytes(saved.Path), expected);
    EXPECT_EQ(test::ReadBytes(logs / "07.12.2026-14537.xlg"), Bytes{9});
    EXPECT_TRUE(test::FilesIn(logs, ".xjr").empty());
    EXPECT_TRUE(test::FilesIn(logs, ".lock").empty());
    EXPECT_FALSE(r->IsRecording());
    EXPECT_EQ(r->Records(), 0u);

    // A link the storage refuses is no failure: the log is copied instead.
    storage->WriteBudget = -1;
    r->Start();
    expected.assign(1, 1);
    record(7);
    storage->CreateFailure = kFileAccessDenied;
    storage->CreateFailureOnly = "-3.xlg";
    const TSaveResult copied = r->StopAndSave(3);
    EXPECT_EQ(copied.Message, "File access denied");
    EXPECT_TRUE(r->IsRecording());
    storage->CreateFailure = 0;
    storage->Links = 0;
    storage->CreateFailureOnly.clear();
    ASSERT_TRUE(r->StopAndSave(3).Ok());
    EXPECT_EQ(storage->Links, 1);
    EXPECT_EQ(test::ReadBytes(logs / "07.12.2026-14537-3.xlg"), expected);
}

TEST_F(RecorderTest, AJournalThatCannotBeSyncedAtTheStopIsReportedAndNoRecordIsLost)
{
    auto r = Make(1);
    std::vector<int> reported;
    r->SetJournalFailureHandler([&](const TJournal& j) { reported.push_back(j.LastError()); });
    r->Start();
    for (std::uint8_t v = 0; v < 4; ++v)
        r->Append(0.5f, Bytes{v});
    const Bytes all = r->LogBuffer();
    storage->SyncFailure = kFileDeviceError;  // neither the journal nor a copy reaches the disk
    const TSaveResult failed = r->StopAndSave();
    EXPECT_EQ(failed.Status, kFileDeviceError);
    EXPECT_EQ(reported, std::vector<int>{kFileDeviceError});
    EXPECT_TRUE(r->IsRecording());
    EXPECT_TRUE(test::FilesIn(logs, ".xlg").empty());
    EXPECT_EQ(r->LogBuffer(), all);
    storage->SyncFailure = 0;
    const TSaveResult saved = r->StopAndSave();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(test::ReadBytes(saved.Path), all);
    EXPECT_EQ(reported.size(), 1u);
}

TEST_F(RecorderTest, AStopOnADiskFilledAfterTheJournalTookEveryRecordSavesThemAll)
{
    test::TFullDisk disk(256);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const fs::path root = disk.Root();
    fs::create_directory(root / "logs");
    TRecorder r(root, 200);
    r.SetNaming({[] { return kStop; }, "dd.MM.yyyy"});
    r.Start();
    for (std::size_t i = 0; i < 100; ++i)
        r.Append(0.5f, Bytes(200, static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(r.Journal().Active());
    const Bytes all = r.LogBuffer();
    disk.Fill();  // a copy of 20 KB could not be written now
    const TSaveResult saved = r.StopAndSave();
    ASSERT_TRUE(saved.Ok()) << saved.Message;
    EXPECT_EQ(test::ReadBytes(saved.Path), all);
    EXPECT_TRUE(test::FilesIn(root / "logs", ".xjr").empty());
}

}  // namespace
}  // namespace kovra
