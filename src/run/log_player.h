// Replaying a recorded log: an index of its records, its play timeline, the
// search for a time of day, and the player's clock. No Qt events and no real
// clock: the caller passes steady milliseconds (so a test drives the time)
// and takes the records that are due.
//
// Two timelines, both counted from record 0:
// - the log's own: each record's time of day, with a day added at every
//   midnight the log crosses (a stamp more than 12 h before the previous
//   one). Find searches it.
// - the play timeline (PlayMs): the intervals between records as recorded,
//   except that a step back counts as 0 and an interval longer than 2 s (the
//   ECU stalled, the link was lost) counts as 2 s, marked as a gap.
// A stamp whose bytes are out of range stands for the previous record's time
// (midnight for a first record).
//
// Memory: a log up to MemoryCap() bytes (256 MB by default) is held whole,
// and then the index costs 4 bytes a record (its play time); a longer log
// keeps 8 bytes a record (stamp and play time) and reads its samples from
// the file through a TLogReader when asked.
#pragma once

#include "record/log_format.h"
#include "record/log_reader.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kovra {

// "HH:MM:SS" or "HH:MM:SS.mmm" (one to three digits of a second) as
// milliseconds of the day; nullopt for anything else, with why set when
// given.
std::optional<int> ParseTimeOfDay(std::string_view text, std::string* why = nullptr);

// Steps along a log's records in order, giving each its place on the log's
// own timeline and its interval on the play timeline.
class TLogTimeline {
public:
    static constexpr std::int64_t kMaxIntervalMs = 2000;

    struct TStep {
        std::int64_t TimelineMs = 0;  // on the log's own timeline
        std::int64_t IntervalMs = 0;  // from the previous record at 1x, 0 to kMaxIntervalMs
        bool Gap = false;             // the interval was cut to kMaxIntervalMs
    };
    TStep Step(const TTimeStamp& stamp);

private:
    bool started_ = false;
    std::int64_t day_ = 0;     // midnights crossed so far, in ms
    std::int64_t prevMs_ = 0;  // the previous record's time of day
};

// Where the log's own timeline starts and how far it reaches (the latest
// time on it, which a step back does not lower).
struct TLogSpan {
    std::int64_t FirstMs = 0;
    std::int64_t LastMs = 0;
};

// The moment a time of day stands for on a log's timeline: on the first day
// of the log that has it within the span; a time the log does not cover is
// after its last record or before its first, whichever it is nearer to.
// "end" is LastMs.
std::optional<std::int64_t> TimeOnTimeline(const TLogSpan& span, std::string_view at, std::string* why = nullptr);

// The records from the first at or after `from` to the last at or before
// `to`, found as TLogPlayer::Find finds them but reading the log through
// (twice) instead of keeping an index: for tools that stream logs of any
// length. An empty from or to is the log's start or end. No range, with
// why, for a malformed time, a from after the last record, a range holding
// no record (BadTime for those three), or a log that cannot be read.
struct TFoundRange {
    std::optional<TRecordRange> Range;
    std::string Error;     // when no range
    bool BadTime = false;  // the times were at fault, not the log
};
TFoundRange FindLogRange(const std::filesystem::path& log, std::string_view from, std::string_view to);

class TLogPlayer {
public:
    static constexpr double kMinSpeed = 0.25;
    static constexpr double kMaxSpeed = 64;
    static constexpr std::uint64_t kDefaultMemoryCap = std::uint64_t{256} << 20;

    TLogPlayer();
    ~TLogPlayer();
    TLogPlayer(const TLogPlayer&) = delete;
    TLogPlayer& operator=(const TLogPlayer&) = delete;

    // Logs longer than cap bytes are read from the file as they play. Takes
    // effect at the next Open.
    void SetMemoryCap(std::uint64_t cap) { memoryCap_ = cap; }
    std::uint64_t MemoryCap() const { return memoryCap_; }

    // Reads the log once to index it. False, with Error() (one line naming
    // the file), when it cannot be read, is empty, has samples of another
    // length than expectedSampleLength or holds no whole record; the player
    // is then empty. A cut-short last record is left out (TrailingBytes).
    bool Open(const std::filesystem::path& log, std::size_t expectedSampleLength);
    const std::string& Error() const { return error_; }
    bool IsOpen() const { return records_ > 0; }
    bool InMemory() const { return inMemory_; }

    std::uint64_t Records() const { return records_; }
    std::size_t SampleLength() const { return sampleLength_; }
    std::size_t TrailingBytes() const { return trailing_; }

    TTimeStamp Stamp(std::uint64_t i) const;
    // The record's time of day in ms (TTimeStamp::CycleMs) and as the
    // fraction of a day the live cycle would have been given.
    std::int64_t MsOfDay(std::uint64_t i) const { return Stamp(i).CycleMs(); }
    double TimeOfDay(std::uint64_t i) const { return Stamp(i).CycleTimeOfDay(); }

    // Record i's sample; valid until the next Sample or ForEach. Empty past
    // the end or when the file can no longer be read.
    std::span<const std::uint8_t> Sample(std::uint64_t i) const;

    // fn(index, timeOfDay, sample) for the records from .. to - 1 (clamped),
    // in order; fn may return false to stop. Returns how many were handed
    // out (fewer when the file shrank since Open).
    template <class Fn>
    std::uint64_t ForEach(std::uint64_t from, std::uint64_t to, Fn&& fn) const
    {
        using TResult = std::invoke_result_t<Fn&, std::uint64_t, double, std::span<const std::uint8_t>>;
        return ForEachRecord(from, to, [&fn](std::uint64_t i, double t, std::span<const std::uint8_t> s) {
            if constexpr (std::is_same_v<TResult, bool>)
                return fn(i, t, s);
            else
                return fn(i, t, s), true;
        });
    }

    // Play timeline, in ms at 1x from record 0.
    std::int64_t PlayMs(std::uint64_t i) const;
    bool IsGap(std::uint64_t i) const;
    std::uint64_t GapCount() const { return gapCount_; }
    // The first `max` records whose interval was cut, for marks on a slider.
    std::vector<std::uint64_t> Gaps(std::size_t max = 65536) const;

    // "end" (the last record), or a time of day (see TimeOnTimeline): the
    // first record at or after it. nullopt with why for a malformed time or
    // a time after the last record.
    std::optional<std::uint64_t> Find(std::string_view at, std::string* why = nullptr) const;
    const TLogSpan& Span() const { return span_; }

    // The clock. Speed x in [kMinSpeed, kMaxSpeed] (clamped), or 0: as fast
    // as possible; a NaN is ignored. Records play at their play intervals
    // divided by the speed, timed from the moment Play was called, the speed
    // changed or a seek landed; every due time is worked out afresh from
    // that moment, so no rounding builds up.
    void SetSpeed(double x, std::int64_t nowMs);
    // Without the time: the clock is held where it stood at the last time
    // told and goes on from the next call that tells the time.
    void SetSpeed(double x);
    double Speed() const { return speed_; }
    // At the end, Play does nothing: seek first.
    void Play(std::int64_t nowMs);
    void Pause(std::int64_t nowMs);
    bool IsPlaying() const { return playing_; }
    // The index of the next record to play (Records() at the end).
    std::uint64_t Position() const { return position_; }
    // Makes i (clamped) the next to play, at once while playing.
    void SeekTo(std::uint64_t i, std::int64_t nowMs);
    // Without the time: the record plays from the next call that tells it.
    void SeekTo(std::uint64_t i);
    // How many records from Position() are due at nowMs, at most max;
    // Position() moves past them. Playing stops by itself at the end.
    std::uint64_t TakeDue(std::int64_t nowMs, std::uint64_t max);
    // Milliseconds until the next record is due (0: now), or -1 when paused
    // or at the end.
    std::int64_t MsUntilNext(std::int64_t nowMs);

private:
    static constexpr unsigned kBlockBits = 12;  // play times: an int64 base per 4096 records

    using TVisit = std::function<bool(std::uint64_t, double, std::span<const std::uint8_t>)>;
    std::uint64_t ForEachRecord(std::uint64_t from, std::uint64_t to, const TVisit& visit) const;
    void Clear();
    bool Fail(std::string why);
    void Tell(std::int64_t nowMs);
    // Where the clock stands on the play timeline at nowMs.
    double ClockAt(std::int64_t nowMs) const;
    void Anchor(double playMs, std::int64_t nowMs);

    std::uint64_t memoryCap_ = kDefaultMemoryCap;
    std::string error_;
    std::filesystem::path path_;
    std::size_t sampleLength_ = 0;
    std::size_t recordSize_ = 0;
    std::uint64_t records_ = 0;
    std::size_t trailing_ = 0;
    bool inMemory_ = false;
    std::vector<std::uint8_t> bytes_;   // the records, when held in memory
    std::vector<TTimeStamp> stamps_;    // otherwise their stamps
    mutable std::unique_ptr<TLogReader> reader_;  // and the file
    std::vector<std::int64_t> blockPlayMs_;
    std::vector<std::uint32_t> playOffset_;  // PlayMs minus its block's base
    std::vector<std::uint64_t> gapBits_;
    std::uint64_t gapCount_ = 0;
    TLogSpan span_;

    double speed_ = 1;
    bool playing_ = false;
    std::uint64_t position_ = 0;
    double anchorPlayMs_ = 0;      // the clock's place on the play timeline ...
    std::int64_t anchorNowMs_ = 0;  // ... at this steady time
    bool anchorPending_ = false;    // anchorNowMs_ is the next time told
    std::int64_t lastNowMs_ = 0;
};

}  // namespace kovra
