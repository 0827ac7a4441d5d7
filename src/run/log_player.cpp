#include "run/log_player.h"

#include "config/time_of_day.h"
#include "run/log_export.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

namespace kovra {

namespace {

constexpr std::uint64_t kNone = UINT64_MAX;
// Bytes read from the file at a time when a long log plays from it: a few
// seconds of records, so that a seek costs little.
constexpr std::size_t kStreamBuffer = std::size_t{64} << 10;

std::string DisplayName(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return {reinterpret_cast<const char*>(s.data()), s.size()};
}

void SetWhy(std::string* why, std::string text)
{
    if (why)
        *why = std::move(text);
}

// Two decimal digits at text[at], or -1.
int TwoDigits(std::string_view text, std::size_t at)
{
    if (at + 2 > text.size())
        return -1;
    const char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return -1;
    return (a - '0') * 10 + (b - '0');
}

struct TFound {
    std::uint64_t AtOrAfter = kNone;  // the first record at or after the first moment asked
    std::uint64_t After = kNone;      // the first record after the second
};

// One pass along the log's timeline; next(stamp) hands out the stamps in
// order and answers false at the end.
template <class NextStamp>
TFound ScanTimeline(NextStamp next, std::optional<std::int64_t> atOrAfter, std::optional<std::int64_t> after)
{
    TLogTimeline timeline;
    TFound found;
    TTimeStamp stamp;
    for (std::uint64_t i = 0; next(stamp); ++i) {
        const std::int64_t ms = timeline.Step(stamp).TimelineMs;
        if (atOrAfter && found.AtOrAfter == kNone && ms >= *atOrAfter) {
            found.AtOrAfter = i;
            if (!after)
                break;
        }
        if (after && ms > *after) {
            found.After = i;
            break;
        }
    }
    return found;
}

std::string AfterTheEnd(std::string_view at, const TLogSpan& span)
{
    return std::string(at) + " is after the last record (" + FormatStampTime(span.LastMs % kMsPerDay) + ")";
}

}  // namespace

std::optional<int> ParseTimeOfDay(std::string_view text, std::string* why)
{
    const auto refuse = [&](const char* reason) -> std::optional<int> {
        SetWhy(why, "\"" + std::string(text) + "\" is not a time of day: " + reason);
        return std::nullopt;
    };
    const int h = TwoDigits(text, 0), m = TwoDigits(text, 3), s = TwoDigits(text, 6);
    if (h < 0 || m < 0 || s < 0 || text[2] != ':' || text[5] != ':')
        return refuse("write HH:MM:SS or HH:MM:SS.mmm");
    int ms = 0;
    if (text.size() > 8) {
        const std::string_view frac = text.substr(9);
        if (text[8] != '.' || frac.empty() || frac.size() > 3 ||
            !std::all_of(frac.begin(), frac.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return refuse("write HH:MM:SS or HH:MM:SS.mmm");
        for (std::size_t k = 0; k < 3; ++k)
            ms = ms * 10 + (k < frac.size() ? frac[k] - '0' : 0);
    }
    if (h > 23)
        return refuse("hours run from 00 to 23");
    if (m > 59 || s > 59)
        return refuse("minutes and seconds run from 00 to 59");
    return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

TLogTimeline::TStep TLogTimeline::Step(const TTimeStamp& stamp)
{
    const std::int64_t ms = stamp.Valid() ? stamp.CycleMs() : started_ ? prevMs_ : 0;
    TStep step;
    if (!started_) {
        started_ = true;
        prevMs_ = ms;
        step.TimelineMs = ms;
        return step;
    }
    std::int64_t interval = ms - prevMs_;
    if (interval < -kMsPerDay / 2) {
        day_ += kMsPerDay;
        interval += kMsPerDay;
    } else if (interval < 0) {
        interval = 0;  // the clock was set back a little
    }
    prevMs_ = ms;
    step.TimelineMs = day_ + ms;
    step.Gap = interval > kMaxIntervalMs;
    step.IntervalMs = std::min(interval, kMaxIntervalMs);
    return step;
}

std::optional<std::int64_t> TimeOnTimeline(const TLogSpan& span, std::string_view at, std::string* why)
{
    if (at == "end")
        return span.LastMs;
    const std::optional<int> t = ParseTimeOfDay(at, why);
    if (!t)
        return std::nullopt;
    // The first day of the log on which the time is not before the start.
    const std::int64_t days = *t >= span.FirstMs ? 0 : (span.FirstMs - *t + kMsPerDay - 1) / kMsPerDay;
    const std::int64_t onThatDay = *t + days * kMsPerDay;
    if (onThatDay <= span.LastMs)
        return onThatDay;
    // A time the log does not cover: after its end or before its start,
    // whichever it is nearer to (12:00 is after a log of 10:00 to 11:00, 9:00
    // before it).
    const std::int64_t afterEnd = onThatDay - span.LastMs;
    const std::int64_t beforeStart = span.FirstMs - (onThatDay - kMsPerDay);
    return afterEnd <= beforeStart ? onThatDay : onThatDay - kMsPerDay;
}

TFoundRange FindLogRange(const std::filesystem::path& log, std::string_view from, std::string_view to)
{
    const std::string name = DisplayName(log);
    TLogReader reader;
    const auto fail = [](std::string text, bool badTime = false) {
        TFoundRange r;
        r.Error = std::move(text);
        r.BadTime = badTime;
        return r;
    };
    const auto nextStamp = [&reader](TTimeStamp& stamp) {
        TLogRecord rec;
        if (!reader.Next(rec))
            return false;
        stamp = rec.Stamp;
        return true;
    };
    if (!reader.Open(log))
        return fail("cannot read " + name + ": " + reader.Error());
    if (!reader.HasHeader())
        return fail(name + " is empty: it lacks even its sample length byte");

    TLogSpan span;
    TLogTimeline timeline;
    std::uint64_t records = 0;
    for (TTimeStamp stamp; nextStamp(stamp); ++records) {
        const std::int64_t ms = timeline.Step(stamp).TimelineMs;
        span.FirstMs = records == 0 ? ms : span.FirstMs;
        span.LastMs = records == 0 ? ms : std::max(span.LastMs, ms);
    }
    if (reader.Failed())
        return fail("cannot read " + name + ": " + reader.Error());
    if (records == 0)
        return fail(name + " holds no whole record");

    std::string whyTime;
    std::optional<std::int64_t> fromMs, toMs;
    if (!from.empty() && !(fromMs = TimeOnTimeline(span, from, &whyTime)))
        return fail("--from " + whyTime, true);
    if (!to.empty() && !(toMs = TimeOnTimeline(span, to, &whyTime)))
        return fail("--to " + whyTime, true);
    if (fromMs && *fromMs > span.LastMs)
        return fail("--from " + AfterTheEnd(from, span), true);

    TRecordRange range{0, records};
    const bool fromEnd = from == "end", toEnd = to == "end";
    if ((fromMs && !fromEnd) || (toMs && !toEnd)) {
        if (!reader.SeekRecord(0))
            return fail("cannot read " + name + ": " + reader.Error());
        const TFound f = ScanTimeline(nextStamp, fromEnd ? std::nullopt : fromMs, toEnd ? std::nullopt : toMs);
        if (reader.Failed())
            return fail("cannot read " + name + ": " + reader.Error());
        const std::uint64_t first = fromEnd ? records - 1 : fromMs ? f.AtOrAfter : 0;
        const std::uint64_t end = f.After == kNone ? records : f.After;
        if (first == kNone || first >= end)
            return fail("no record lies from " + std::string(from.empty() ? "the start" : from) + " to " +
                        std::string(to.empty() ? "the end" : to),
                        true);
        range = {first, end - first};
    } else if (fromEnd) {
        range = {records - 1, 1};
    }
    TFoundRange found;
    found.Range = range;
    return found;
}

TLogPlayer::TLogPlayer() = default;
TLogPlayer::~TLogPlayer() = default;

void TLogPlayer::Clear()
{
    error_.clear();
    path_.clear();
    sampleLength_ = recordSize_ = 0;
    records_ = 0;
    trailing_ = 0;
    inMemory_ = false;
    bytes_ = {};
    stamps_ = {};
    reader_.reset();
    blockPlayMs_ = {};
    playOffset_ = {};
    gapBits_ = {};
    gapCount_ = 0;
    span_ = {};
    playing_ = false;
    position_ = 0;
    anchorPlayMs_ = 0;
    anchorPending_ = false;
}

bool TLogPlayer::Fail(std::string why)
{
    Clear();
    error_ = std::move(why);
    return false;
}

bool TLogPlayer::Open(const std::filesystem::path& log, std::size_t expectedSampleLength)
{
    Clear();
    const std::string name = DisplayName(log);
    TLogReader reader;
    if (!reader.Open(log))
        return Fail("cannot read " + name + ": " + reader.Error());
    if (!reader.HasHeader())
        return Fail(name + " is empty: it lacks even its sample length byte; nothing is replayed");
    if (reader.SampleLength() != expectedSampleLength)
        return Fail(name + " has samples of " + std::to_string(reader.SampleLength()) + " bytes; set.ini has " +
                    std::to_string(expectedSampleLength) + ": nothing is replayed");
    sampleLength_ = reader.SampleLength();
    recordSize_ = reader.RecordSize();
    const std::uint64_t total = reader.TotalBytes();
    inMemory_ = total > 0 && total <= memoryCap_;

    try {
        const std::uint64_t expected = total > 0 ? (total - 1) / recordSize_ : 0;
        playOffset_.reserve(expected);
        if (inMemory_)
            bytes_.reserve(expected * recordSize_);
        else
            stamps_.reserve(expected);
        TLogTimeline timeline;
        TLogRecord rec;
        std::int64_t play = 0;
        while (reader.Next(rec)) {
            const std::uint64_t i = rec.Index;
            if (inMemory_) {
                const TTimeStamp& s = rec.Stamp;
                bytes_.insert(bytes_.end(), {s.Hour, s.Minute, s.Second, s.Fifths});
                bytes_.insert(bytes_.end(), rec.Sample.begin(), rec.Sample.end());
            } else {
                stamps_.push_back(rec.Stamp);
            }
            const TLogTimeline::TStep step = timeline.Step(rec.Stamp);
            span_.FirstMs = i == 0 ? step.TimelineMs : span_.FirstMs;
            span_.LastMs = i == 0 ? step.TimelineMs : std::max(span_.LastMs, step.TimelineMs);
            play += step.IntervalMs;
            if ((i & ((std::uint64_t{1} << kBlockBits) - 1)) == 0)
                blockPlayMs_.push_back(play);
            playOffset_.push_back(static_cast<std::uint32_t>(play - blockPlayMs_.back()));
            if ((i >> 6) >= gapBits_.size())
                gapBits_.push_back(0);
            if (step.Gap) {
                gapBits_[i >> 6] |= std::uint64_t{1} << (i & 63);
                ++gapCount_;
            }
        }
    } catch (const std::bad_alloc&) {
        return Fail(name + " is too long to replay in the memory left");
    }
    if (reader.Failed())
        return Fail("cannot read " + name + ": " + reader.Error());
    if (reader.Records() == 0)
        return Fail(name + " holds no whole record: nothing is replayed");
    records_ = reader.Records();
    trailing_ = reader.TrailingBytes();
    if (!inMemory_) {
        reader_ = std::make_unique<TLogReader>(kStreamBuffer);
        if (!reader_->Open(log))
            return Fail("cannot read " + name + ": " + reader_->Error());
    }
    path_ = log;
    return true;
}

TTimeStamp TLogPlayer::Stamp(std::uint64_t i) const
{
    if (i >= records_)
        return {};
    if (!inMemory_)
        return stamps_[i];
    const std::uint8_t* p = bytes_.data() + i * recordSize_;
    return {p[0], p[1], p[2], p[3]};
}

std::span<const std::uint8_t> TLogPlayer::Sample(std::uint64_t i) const
{
    if (i >= records_)
        return {};
    if (inMemory_)
        return {bytes_.data() + i * recordSize_ + kStampSize, sampleLength_};
    if (reader_->Records() != i && !reader_->SeekRecord(i))
        return {};
    TLogRecord rec;
    if (!reader_->Next(rec))
        return {};
    return rec.Sample;
}

std::uint64_t TLogPlayer::ForEachRecord(std::uint64_t from, std::uint64_t to, const TVisit& visit) const
{
    to = std::min(to, records_);
    if (from >= to)
        return 0;
    std::uint64_t done = 0;
    if (inMemory_) {
        for (const std::uint8_t* p = bytes_.data() + from * recordSize_; from + done < to; p += recordSize_) {
            const TTimeStamp stamp{p[0], p[1], p[2], p[3]};
            ++done;
            if (!visit(from + done - 1, stamp.CycleTimeOfDay(), {p + kStampSize, sampleLength_}))
                break;
        }
        return done;
    }
    if (reader_->Records() != from && !reader_->SeekRecord(from))
        return 0;
    TLogRecord rec;
    while (from + done < to && reader_->Next(rec)) {
        ++done;
        if (!visit(rec.Index, rec.Stamp.CycleTimeOfDay(), rec.Sample))
            break;
    }
    return done;
}

std::int64_t TLogPlayer::PlayMs(std::uint64_t i) const
{
    if (records_ == 0)
        return 0;
    i = std::min(i, records_ - 1);
    return blockPlayMs_[i >> kBlockBits] + playOffset_[i];
}

bool TLogPlayer::IsGap(std::uint64_t i) const
{
    return i < records_ && ((gapBits_[i >> 6] >> (i & 63)) & 1) != 0;
}

std::vector<std::uint64_t> TLogPlayer::Gaps(std::size_t max) const
{
    std::vector<std::uint64_t> gaps;
    for (std::size_t w = 0; w < gapBits_.size() && gaps.size() < max; ++w)
        for (std::uint64_t bits = gapBits_[w]; bits != 0 && gaps.size() < max; bits &= bits - 1)
            gaps.push_back(w * 64 + static_cast<std::uint64_t>(std::countr_zero(bits)));
    return gaps;
}

std::optional<std::uint64_t> TLogPlayer::Find(std::string_view at, std::string* why) const
{
    if (records_ == 0) {
        SetWhy(why, "no log is open");
        return std::nullopt;
    }
    if (at == "end")
        return records_ - 1;
    const std::optional<std::int64_t> ms = TimeOnTimeline(span_, at, why);
    if (!ms)
        return std::nullopt;
    if (*ms > span_.LastMs) {
        SetWhy(why, AfterTheEnd(at, span_));
        return std::nullopt;
    }
    std::uint64_t i = 0;
    const TFound f = ScanTimeline(
        [&](TTimeStamp& stamp) { return i < records_ && (stamp = Stamp(i++), true); }, ms, std::nullopt);
    return f.AtOrAfter == kNone ? records_ - 1 : f.AtOrAfter;
}

void TLogPlayer::Tell(std::int64_t nowMs)
{
    lastNowMs_ = nowMs;
    if (anchorPending_) {
        anchorNowMs_ = nowMs;
        anchorPending_ = false;
    }
}

double TLogPlayer::ClockAt(std::int64_t nowMs) const
{
    return anchorPlayMs_ + static_cast<double>(nowMs - anchorNowMs_) * speed_;
}

void TLogPlayer::Anchor(double playMs, std::int64_t nowMs)
{
    anchorPlayMs_ = playMs;
    anchorNowMs_ = nowMs;
    anchorPending_ = false;
}

void TLogPlayer::SetSpeed(double x, std::int64_t nowMs)
{
    if (std::isnan(x))
        return;
    Tell(nowMs);
    if (playing_)
        Anchor(speed_ > 0 ? ClockAt(nowMs) : static_cast<double>(PlayMs(position_)), nowMs);
    speed_ = x == 0 ? 0 : std::clamp(x, kMinSpeed, kMaxSpeed);
}

void TLogPlayer::SetSpeed(double x)
{
    SetSpeed(x, lastNowMs_);
    anchorPending_ = playing_;
}

void TLogPlayer::Play(std::int64_t nowMs)
{
    Tell(nowMs);
    if (playing_ || position_ >= records_)
        return;
    playing_ = true;
    Anchor(anchorPlayMs_, nowMs);
}

void TLogPlayer::Pause(std::int64_t nowMs)
{
    Tell(nowMs);
    if (!playing_)
        return;
    // Where the clock stood, so that a record half-way to its time goes on
    // from there at the next Play.
    anchorPlayMs_ = speed_ > 0 ? ClockAt(nowMs) : static_cast<double>(PlayMs(position_));
    playing_ = false;
}

void TLogPlayer::SeekTo(std::uint64_t i, std::int64_t nowMs)
{
    Tell(nowMs);
    position_ = std::min(i, records_);
    Anchor(static_cast<double>(PlayMs(position_)), nowMs);
    if (position_ >= records_)
        playing_ = false;
}

void TLogPlayer::SeekTo(std::uint64_t i)
{
    SeekTo(i, lastNowMs_);
    anchorPending_ = playing_;
}

std::uint64_t TLogPlayer::TakeDue(std::int64_t nowMs, std::uint64_t max)
{
    Tell(nowMs);
    if (!playing_)
        return 0;
    const std::uint64_t limit = std::min(max, records_ - position_);
    std::uint64_t due = limit;
    if (speed_ > 0) {
        // The play times only grow: the first record not yet due, by halves.
        const double clock = ClockAt(nowMs);
        std::uint64_t lo = 0, hi = limit;
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (static_cast<double>(PlayMs(position_ + mid)) <= clock)
                lo = mid + 1;
            else
                hi = mid;
        }
        due = lo;
    }
    position_ += due;
    if (position_ >= records_) {
        playing_ = false;
        anchorPlayMs_ = static_cast<double>(PlayMs(position_));
    }
    return due;
}

std::int64_t TLogPlayer::MsUntilNext(std::int64_t nowMs)
{
    Tell(nowMs);
    if (!playing_ || position_ >= records_)
        return -1;
    if (speed_ == 0)
        return 0;
    const double next = static_cast<double>(PlayMs(position_));
    const double need = next - ClockAt(nowMs);
    if (need <= 0)
        return 0;
    auto ms = static_cast<std::int64_t>(std::ceil(need / speed_));
    // The same test as TakeDue's, so that the record is due when the timer fires.
    while (ClockAt(nowMs + ms) < next)
        ++ms;
    return ms;
}

}  // namespace kovra
