// The log recorder: the recording toggle, the recording buffer and the save.
//
// Idle: IsRecording() false, LogBuffer() holds the sample length N only.
// Recording: one record per completed cycle is appended (Append, called by
// the cycle), and written to the journal (record/journal.h).
// The toggle while recording saves the recording as a new log (the journal's
// own file under the log's name when the journal holds all of it, else a
// copy); on success the
// recorder is idle again with the buffer reset and the journal removed; on
// failure it stays recording with every record kept, and the next toggle
// tries again under a new name.
//
// Memory: the journal holds the recording's bytes, so memory holds only the
// records the journal has not yet synced to the disk (a few seconds' worth);
// a save that copies reads the journal back and adds them. Once the journal
// cannot be written (or when there is none), every later record stays in
// memory.
//
// The window owns one TRecorder for the run and shows Caption() on its
// recording button after each toggle.
#pragma once

#include "record/journal.h"
#include "record/log_file.h"
#include "record/log_storage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace kovra {

class TRecorder {
public:
    // The recording button's captions (UTF-8).
    static constexpr const char* kCaptionRecording = "Записывается лог";
    static constexpr const char* kCaptionIdle = "Запись лога";

    // sampleLength: the sample buffer's length N (at most 255).
    TRecorder(std::filesystem::path programFolder, std::size_t sampleLength);
    ~TRecorder();  // a running recording's journal stays for recovery
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Seams for tests and tools. Set them before the first Start.
    void SetStorage(std::shared_ptr<TLogStorage> storage);
    void SetNaming(TLogNaming naming);
    void SetMonotonicClock(std::function<std::int64_t()> ms);
    void SetJournalEnabled(bool on) { journalEnabled_ = on; }
    // The journal syncs on a thread of its own (see TJournal): for a window,
    // which must not wait for the disk mid-cycle.
    void SetBackgroundSync(bool on) { backgroundSync_ = on; }

    // Called once each time the journal cannot be written (at the start or
    // later), from inside Start or Append: a window must show its box later.
    void SetJournalFailureHandler(std::function<void(const TJournal&)> handler);

    bool IsRecording() const { return recording_; }
    // The whole recording as the log would hold it (read back from the
    // journal for the part that is only there).
    std::vector<std::uint8_t> LogBuffer() const;
    // Records of the running recording so far (0 when idle).
    std::size_t Records() const { return recording_ ? RecordsIn(tailStart_ + tail_.size() - 1) : 0; }
    // Bytes of the recording held in memory.
    std::size_t BufferedBytes() const { return tail_.size(); }
    const char* Caption() const { return recording_ ? kCaptionRecording : kCaptionIdle; }

    // The toggle: Start when idle (always succeeds), StopAndSave when recording.
    TSaveResult Recording();
    void Start();
    // firstSuffix above 1 starts the log's name at that suffix ("-2"), for a
    // retry that must not take the name of the attempt before.
    TSaveResult StopAndSave(int firstSuffix = 1);

    // Where a recording that could not be saved is kept when its owner ends.
    struct TKept {
        struct TPlace {
            std::filesystem::path Journal;
            std::size_t Records = 0;
        };
        std::vector<TPlace> Places;  // each becomes a log at the next start
        std::size_t Lost = 0;        // records no file would take
        int Status = 0;              // why they were lost
    };
    // Puts the records that are only in memory into a second journal, so
    // that the next start recovers the whole recording. The destructor does
    // it too for a recording still running.
    TKept KeepUnsaved();

    // One sample record of a cycle timed t: the stamp of t, then N sample
    // bytes (a shorter sample is padded with zeros, a longer one cut).
    // Ignored while idle.
    void Append(float t, std::span<const std::uint8_t> sample);

    // Lets the journal sync when cycles have stopped coming; about once a second.
    void Tick();

    const TJournal& Journal() const { return *journal_; }
    std::uint8_t SampleLength() const { return n_; }

private:
    TSaveResult SaveByLink(const std::filesystem::path& logs, const QString& base, int firstSuffix);
    void JournalCheck(bool wasActive);
    void TrimSynced();
    std::size_t RecordsIn(std::uint64_t bytes) const;

    std::filesystem::path programFolder_;
    std::uint8_t n_;
    std::shared_ptr<TLogStorage> storage_;
    TLogNaming naming_;
    std::function<std::int64_t()> monotonic_;
    std::unique_ptr<TJournal> journal_;
    bool journalEnabled_ = true;
    bool backgroundSync_ = false;
    std::function<void(const TJournal&)> journalFailed_;
    bool recording_ = false;
    bool kept_ = false;
    // The recording from byte tailStart_ on; the bytes before it are synced
    // in the journal.
    std::vector<std::uint8_t> tail_;
    std::uint64_t tailStart_ = 0;
};

}  // namespace kovra
