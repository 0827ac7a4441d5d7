#include "record/journal.h"

#include "platform/files.h"
#include "record/recorder.h"
#include "support/record_test_util.h"
#include "support/full_disk.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const QDateTime kRecovery(QDate(2026, 3, 1), QTime(8, 0, 9));

struct JournalTest : ::testing::Test {
    QTemporaryDir dir;
    fs::path program = dir.path().toStdString();
    fs::path logs = program / "logs";
    TLogNaming naming{[] { return kRecovery; }, "dd.MM.yyyy"};

    void SetUp() override { fs::create_directory(logs); }

    // N = 2, then `records` records, then `tail` bytes of a record cut short.
    static Bytes Journal(int records, int tail)
    {
        Bytes b{2};
        for (int k = 0; k < records; ++k)
            b.insert(b.end(), {8, 0, static_cast<std::uint8_t>(k), 10, static_cast<std::uint8_t>(k), 0x77});
        b.insert(b.end(), static_cast<std::size_t>(tail), 0xEE);
        return b;
    }
};

TEST_F(JournalTest, ALeftJournalBecomesALogWithoutItsPartialLastRecord)
{
    const struct {
        int records, tail;
    } cases[] = {{3, 0}, {3, 5}, {0, 0}, {0, 4}};
    for (const auto& c : cases) {
        const fs::path journal = logs / "journal-999999-1.xjr";
        test::WriteBytes(journal, Journal(c.records, c.tail));
        const auto done = RecoverJournals(program, naming);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].Status, 0) << done[0].Message;
        EXPECT_EQ(done[0].Records, static_cast<std::size_t>(c.records));
        EXPECT_EQ(done[0].DroppedBytes, static_cast<std::size_t>(c.tail));
        EXPECT_EQ(test::ReadBytes(done[0].Log), Journal(c.records, 0));
        EXPECT_EQ(done[0].Log, logs / "01.03.2026-809.xlg");
        EXPECT_FALSE(fs::exists(journal));
        fs::remove(done[0].Log);
    }
}

TEST_F(JournalTest, AnEmptyJournalIsOnlyRemovedAndNamesTakenGetASuffix)
{
    test::WriteBytes(logs / "journal-1-1.xjr", {});
    test::WriteBytes(logs / "journal-1-2.xjr", Journal(1, 0));
    test::WriteBytes(logs / "01.03.2026-809.xlg", {7});
    const auto done = RecoverJournals(program, naming);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Log, logs / "01.03.2026-809-2.xlg");
    EXPECT_EQ(test::FilesIn(logs, ".xjr").size(), 0u);
    EXPECT_EQ(test::ReadBytes(logs / "01.03.2026-809.xlg"), Bytes{7});
}

TEST_F(JournalTest, ARecorderThatEndsWhileRecordingLeavesEveryRecordForRecovery)
{
    Bytes recorded;
    {
        TRecorder r(program, 2);
        r.Start();
        for (int i = 0; i < 50; ++i)
            r.Append(0.4f, Bytes{static_cast<std::uint8_t>(i), 1});
        recorded = r.LogBuffer();
        // A running recording is not recovered from under its owner.
        EXPECT_TRUE(RecoverJournals(program, naming).empty());
        EXPECT_EQ(test::FilesIn(logs, ".xjr").size(), 1u);
    }
    const auto done = RecoverJournals(program, naming);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Records, 50u);
    EXPECT_EQ(test::ReadBytes(done[0].Log), recorded);
    EXPECT_TRUE(test::FilesIn(logs, ".xjr").empty());
    EXPECT_TRUE(test::FilesIn(logs, ".lock").empty());
}

TEST_F(JournalTest, AJournalWhoseLogCannotBeWrittenStaysForTheNextStart)
{
    const fs::path journal = logs / "journal-5-5.xjr";
    test::WriteBytes(journal, Journal(2, 0));
    auto storage = std::make_shared<test::TFailingStorage>();
    storage->CreateFailure = kFileDiskFull;
    const auto failed = RecoverJournals(program, naming, storage);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].Message, "Disk full");
    EXPECT_EQ(test::ReadBytes(journal), Journal(2, 0));

    const auto done = RecoverJournals(program, naming);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Status, 0);
    EXPECT_FALSE(fs::exists(journal));
}

TEST_F(JournalTest, NoLogsFolderNothingToRecover)
{
    fs::remove(logs);
    EXPECT_TRUE(RecoverJournals(program, naming).empty());
    EXPECT_FALSE(fs::exists(logs));
}

TEST(JournalFullDisk, AJournalLeftOnAFullDiskIsNotTakenForARunningOne)
{
    test::TFullDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const fs::path logs = disk.Root() / "logs";
    fs::create_directory(logs);
    const fs::path journal = logs / "journal-999999-1.xjr";
    const Bytes bytes{2, 8, 0, 1, 10, 1, 0x77};
    test::WriteBytes(journal, bytes);
    disk.Fill();  // not even a lock file fits now
    const TLogNaming naming{[] { return kRecovery; }, "dd.MM.yyyy"};
    const auto failed = RecoverJournals(disk.Root(), naming);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].Status, kFileDiskFull);
    EXPECT_EQ(RecoveryText(failed[0]),
              "could not recover " + journal.string() + ": Disk full; kept for the next start");
    EXPECT_EQ(test::ReadBytes(journal), bytes);
    EXPECT_TRUE(test::FilesIn(logs, ".xlg").empty());  // no empty log left behind

    disk.Free();
    const auto done = RecoverJournals(disk.Root(), naming);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Status, 0) << done[0].Message;
    EXPECT_EQ(test::ReadBytes(done[0].Log), bytes);
    EXPECT_FALSE(fs::exists(journal));
}

}  // namespace
}  // namespace kovra

namespace kovra {
namespace {

// Files whose sync waits until the test lets it end, with the outcome it gives.
class TGatedStorage : public TLogStorage {
public:
    struct TGate {
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
        int outcome = kFileOk;
        std::atomic<int> syncs{0};
    };
    std::shared_ptr<TGate> gate = std::make_shared<TGate>();

    std::unique_ptr<TLogOutput> CreateNew(const std::filesystem::path& path, int& status) override
    {
        return std::make_unique<TOutput>(OsLogStorage()->CreateNew(path, status), gate);
    }
    bool Remove(const std::filesystem::path& path) override { return OsLogStorage()->Remove(path); }
    void Release(int outcome)
    {
        {
            std::lock_guard<std::mutex> l(gate->m);
            gate->open = true;
            gate->outcome = outcome;
        }
        gate->cv.notify_all();
    }

private:
    struct TOutput : TLogOutput {
        TOutput(std::unique_ptr<TLogOutput> real, std::shared_ptr<TGate> g) : real_(std::move(real)), gate_(g) {}
        int Write(const std::uint8_t* d, std::size_t n) override { return real_->Write(d, n); }
        int Sync() override
        {
            ++gate_->syncs;
            std::unique_lock<std::mutex> l(gate_->m);
            gate_->cv.wait(l, [this] { return gate_->open; });
            return gate_->outcome != kFileOk ? gate_->outcome : real_->Sync();
        }
        int Close() override { return real_->Close(); }
        std::unique_ptr<TLogOutput> real_;
        std::shared_ptr<TGate> gate_;
    };
};

TEST(JournalBackgroundSync, ASlowSyncHoldsNothingUpAndItsOutcomeComesAtTheNextCall)
{
    for (const int outcome : {kFileOk, kFileDiskFull}) {
        QTemporaryDir dir;
        const std::filesystem::path logs = std::filesystem::path(dir.path().toStdString()) / "logs";
        std::filesystem::create_directory(logs);
        auto storage = std::make_shared<TGatedStorage>();
        std::int64_t now = 0;
        TJournal j(storage, [&now] { return now; });
        j.SetBackgroundSync(true);
        ASSERT_TRUE(j.Open(logs, 2));
        const std::uint8_t record[] = {8, 0, 1, 10, 5, 6};
        j.Append(record);
        now += TJournal::kSyncIntervalMs;
        j.Tick();  // starts the sync, which waits at the gate
        const std::uint64_t target = j.Written();
        // Writes go on meanwhile, and nothing counts as synced yet.
        for (int k = 0; k < 50; ++k)
            j.Append(record);
        EXPECT_EQ(j.Synced(), 0u);
        EXPECT_TRUE(j.Active());
        for (int k = 0; k < 5000 && storage->gate->syncs.load() == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(storage->gate->syncs.load(), 1);
        storage->Release(outcome);
        j.FinishSync();
        if (outcome == kFileOk) {
            EXPECT_EQ(j.Synced(), target);
            EXPECT_TRUE(j.Active());
        } else {
            // As a sync that failed in the caller's own time: the journal stops taking records.
            EXPECT_EQ(j.Synced(), 0u);
            EXPECT_FALSE(j.Active());
            EXPECT_EQ(j.LastError(), kFileDiskFull);
        }
    }
}

}  // namespace
}  // namespace kovra
