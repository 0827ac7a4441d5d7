// The recording journal: a copy of the recording on disk while it runs, so
// that a crash, a kill or a power cut loses at most the last seconds, and so
// that the recorder need not hold the whole recording in memory.
//
// The journal holds the same bytes as the log it shadows (N, then the
// records), in "logs/journal-<pid>-<n>.xjr", locked by a QLockFile beside it
// for as long as its recording runs. Every record is written to it as it
// comes (so it is in the system's hands at once) and the file is synced to
// the disk at most kSyncIntervalMs after a record. A successful save removes
// the journal.
//
// A journal that cannot be written stops taking records but stays (locked)
// part of its recording: what it took before the failure is still read back
// at the save; the recorder keeps every later record in memory.
//
// At the next start RecoverJournals turns every journal whose owner is gone
// into a log of the usual name and format, dropping a partial last record.
#pragma once

#include "record/log_file.h"
#include "record/log_storage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QLockFile;

namespace kovra {

class TJournal {
public:
    static constexpr std::int64_t kSyncIntervalMs = 2000;

    // monotonicMs: a steady clock in milliseconds (tests pass their own).
    TJournal(std::shared_ptr<TLogStorage> storage, std::function<std::int64_t()> monotonicMs);
    ~TJournal();  // closes and keeps the file: it is recovered at the next start
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Starts a journal holding the byte N. False when it cannot (no logs
    // folder, a full disk, ...): the journal is then inactive.
    bool Open(const std::filesystem::path& logsFolder, std::uint8_t sampleLength);
    // Writes bytes (whole records) or, once a write has failed, nothing more.
    void Append(std::span<const std::uint8_t> bytes);
    // Syncs what was written when the interval is up; call it about once a second.
    void Tick();
    // The sync runs on a thread of its own, so that a slow disk never holds
    // up the caller; its outcome is taken at the next Append or Tick (a
    // failure is reported then). Off: the caller waits for every sync.
    void SetBackgroundSync(bool on) { background_ = on; }
    // Waits for a sync in flight and takes its outcome.
    void FinishSync();
    // Waits for a sync in flight, then syncs the rest: 0 when every byte
    // written is on the disk, else the failure (the journal stops then).
    int SyncAll();
    // The recording was saved: remove the journal.
    void Discard();

    // Still taking records.
    bool Active() const { return out_ != nullptr; }
    // A file that belongs to the running recording (taking records or not).
    bool Holds() const { return !path_.empty(); }
    const std::filesystem::path& Path() const { return path_; }
    // Bytes the file took without an error (N and whole records).
    std::uint64_t Written() const { return written_; }
    // Bytes known to be on the disk: a prefix of Written.
    std::uint64_t Synced() const { return synced_; }
    // The status of the last failure (platform/files.h numbering), 0 if none.
    int LastError() const { return lastError_; }

    // Hands the first count bytes of the file to sink, in pieces; 0, the
    // sink's failure, or the status of a file that cannot give them.
    int ReadBack(std::uint64_t count, const std::function<int(const std::uint8_t*, std::size_t)>& sink) const;

private:
    void Fail(int status);
    // Takes the outcome of a background sync that has finished (wait: until it has).
    void CollectSync(bool wait);
    void CloseKeeping();
    int ProbeCreate();

    std::shared_ptr<TLogStorage> storage_;
    std::function<std::int64_t()> now_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<TLogOutput> out_;
    std::filesystem::path path_;
    std::int64_t lastSync_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t synced_ = 0;
    int lastError_ = 0;
    bool background_ = false;
    std::future<int> sync_;        // a background sync in flight
    std::uint64_t syncTarget_ = 0;  // what it makes safe
};

// One line for the user about a journal that could not be written:
// "cannot write the journal <path>: Disk full; the recording goes on in memory".
std::string JournalFailureText(const TJournal& journal);

struct TRecoveredJournal {
    std::filesystem::path Journal;
    std::filesystem::path Log;     // the log written, when Status is 0
    std::size_t Records = 0;
    std::size_t DroppedBytes = 0;  // a partial last record
    int Status = 0;
    std::string Message;           // why the journal was kept, when Status is not 0
};

// Turns journals left behind by a run that did not save into logs (named by
// the time of recovery) and removes them. Journals still locked by a running
// logger are left alone; an empty journal is only removed. A journal whose
// log cannot be written stays for the next attempt. A full disk that keeps
// the lock file from being made does not make a journal look running: only a
// lock file that a live owner holds does.
std::vector<TRecoveredJournal> RecoverJournals(const std::filesystem::path& programFolder,
                                               const TLogNaming& naming = {},
                                               std::shared_ptr<TLogStorage> storage = OsLogStorage());

// The user's line about one recovery (UTF-8): "recovered 12 records of an
// unsaved recording into <log>" or "could not recover <journal>: Disk full;
// kept for the next start".
std::string RecoveryText(const TRecoveredJournal& r);

}  // namespace kovra
