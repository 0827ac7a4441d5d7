// The recording journal: a copy of the recording on disk while it runs, so
// that a crash, a kill or a power cut loses at most the last seconds.
//
// The journal holds the same bytes as the log it shadows (N, then the
// records), in "logs/journal-<pid>-<n>.xjr", locked by a QLockFile beside it
// for as long as its recording runs. Every record is written to it as it
// comes (so it is in the system's hands at once) and the file is synced to
// the disk at most kSyncIntervalMs after a record. A successful save removes
// the journal. A journal that cannot be written only stops journalling: the
// recording itself goes on in memory as before.
//
// At the next start RecoverJournals turns every journal whose owner is gone
// into a log of the usual name and format, dropping a partial last record.
#pragma once

#include "record/log_file.h"
#include "record/log_storage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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
    void Append(std::span<const std::uint8_t> bytes);
    // Syncs what was written when the interval is up; call it about once a second.
    void Tick();
    // The recording was saved: remove the journal.
    void Discard();

    bool Active() const { return out_ != nullptr; }
    const std::filesystem::path& Path() const { return path_; }
    // The status of the last failure (platform/files.h numbering), 0 if none.
    int LastError() const { return lastError_; }

private:
    void Fail(int status);
    void CloseKeeping();

    std::shared_ptr<TLogStorage> storage_;
    std::function<std::int64_t()> now_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<TLogOutput> out_;
    std::filesystem::path path_;
    std::int64_t lastSync_ = 0;
    bool unsynced_ = false;
    int lastError_ = 0;
};

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
// log cannot be written stays for the next attempt.
std::vector<TRecoveredJournal> RecoverJournals(const std::filesystem::path& programFolder,
                                               const TLogNaming& naming = {},
                                               std::shared_ptr<TLogStorage> storage = OsLogStorage());

}  // namespace kovra
