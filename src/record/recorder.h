// The log recorder: the recording toggle, the recording buffer and the save.
//
// Idle: IsRecording() false, LogBuffer() holds the sample length N only.
// Recording: one record per completed cycle is appended (Append, called by
// the cycle), and mirrored into the journal (record/journal.h).
// The toggle while recording saves the buffer as a new log; on success the
// recorder is idle again with the buffer reset and the journal removed; on
// failure it stays recording with every record kept, and the next toggle
// tries again under a new name.
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

    bool IsRecording() const { return recording_; }
    const std::vector<std::uint8_t>& LogBuffer() const { return buffer_; }
    const char* Caption() const { return recording_ ? kCaptionRecording : kCaptionIdle; }

    // The toggle: Start when idle (always succeeds), StopAndSave when recording.
    TSaveResult Recording();
    void Start();
    TSaveResult StopAndSave();

    // One sample record of a cycle timed t: the stamp of t, then N sample
    // bytes (a shorter sample is padded with zeros, a longer one cut).
    // Ignored while idle.
    void Append(float t, std::span<const std::uint8_t> sample);

    // Lets the journal sync when cycles have stopped coming; about once a second.
    void Tick();

    const TJournal& Journal() const { return *journal_; }
    std::uint8_t SampleLength() const { return n_; }

private:
    std::filesystem::path programFolder_;
    std::uint8_t n_;
    std::shared_ptr<TLogStorage> storage_;
    TLogNaming naming_;
    std::function<std::int64_t()> monotonic_;
    std::unique_ptr<TJournal> journal_;
    bool journalEnabled_ = true;
    bool recording_ = false;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace kovra
