#include "run/log_player.h"

#include "config/time_of_day.h"
#include "support/record_test_util.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;

TTimeStamp StampAtMs(std::int64_t ms)
{
    return {static_cast<std::uint8_t>(ms / 3'600'000), static_cast<std::uint8_t>(ms / 60'000 % 60),
            static_cast<std::uint8_t>(ms / 1000 % 60), static_cast<std::uint8_t>(ms % 1000 / 5)};
}

// A log of 2-byte samples {k, k * 3}, one record per time given (ms of the day).
Bytes LogOf(const std::vector<std::int64_t>& ms, std::size_t tail = 0)
{
    Bytes log{2};
    for (std::size_t k = 0; k < ms.size(); ++k) {
        const TTimeStamp s = StampAtMs(ms[k]);
        log.insert(log.end(), {s.Hour, s.Minute, s.Second, s.Fifths, static_cast<std::uint8_t>(k),
                               static_cast<std::uint8_t>(k * 3)});
    }
    log.insert(log.end(), tail, 0xEE);
    return log;
}

// Records every `step` ms from 10:00.
std::vector<std::int64_t> Even(std::size_t n, std::int64_t step)
{
    std::vector<std::int64_t> ms;
    for (std::size_t k = 0; k < n; ++k)
        ms.push_back(36'000'000 + static_cast<std::int64_t>(k) * step);
    return ms;
}

class LogPlayer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::filesystem::path Put(const Bytes& log, const char* name = "run.xlg")
    {
        const std::filesystem::path p = std::filesystem::path(dir.path().toStdString()) / name;
        test::WriteBytes(p, log);
        return p;
    }
    // Opened from the file, held in memory or (cap 0) read from the file.
    void OpenBoth(const Bytes& log, TLogPlayer& memory, TLogPlayer& streamed)
    {
        const auto p = Put(log);
        ASSERT_TRUE(memory.Open(p, 2)) << memory.Error();
        streamed.SetMemoryCap(0);
        ASSERT_TRUE(streamed.Open(p, 2)) << streamed.Error();
        ASSERT_TRUE(memory.InMemory());
        ASSERT_FALSE(streamed.InMemory());
    }
    QTemporaryDir dir;
};

TEST_F(LogPlayer, RefusesWhatItCannotReplayInOneLineNamingTheFile)
{
    TLogPlayer p;
    const auto other = Put({3, 10, 0, 0, 0, 1, 2, 3}, "other.xlg");
    EXPECT_FALSE(p.Open(other, 11));
    EXPECT_EQ(p.Error(), other.string() + " has samples of 3 bytes; set.ini has 11: nothing is replayed");

    struct TCase {
        Bytes Log;
        const char* Says;
    };
    for (const TCase& c : {TCase{{}, "is empty"}, TCase{{2}, "no whole record"}, TCase{{2, 10, 0, 0}, "no whole record"}}) {
        const auto f = Put(c.Log, "bad.xlg");
        EXPECT_FALSE(p.Open(f, 2));
        EXPECT_NE(p.Error().find(f.string()), std::string::npos) << p.Error();
        EXPECT_NE(p.Error().find(c.Says), std::string::npos) << p.Error();
        EXPECT_EQ(p.Error().find('\n'), std::string::npos);
        EXPECT_EQ(p.Records(), 0u);
        EXPECT_FALSE(p.Find("end"));
    }
    EXPECT_FALSE(p.Open(std::filesystem::path(dir.path().toStdString()) / "missing.xlg", 2));
    EXPECT_EQ(p.Error().rfind("cannot read ", 0), 0u) << p.Error();
}

TEST_F(LogPlayer, ACutShortTailIsLeftOutAndBothStoragesHandOutTheSameRecords)
{
    TLogPlayer memory, streamed;
    OpenBoth(LogOf(Even(300, 20), 4), memory, streamed);
    for (TLogPlayer* p : {&memory, &streamed}) {
        EXPECT_EQ(p->Records(), 300u);
        EXPECT_EQ(p->TrailingBytes(), 4u);
        EXPECT_EQ(Bytes(p->Sample(299).begin(), p->Sample(299).end()), (Bytes{43, 129}));
        EXPECT_TRUE(p->Sample(300).empty());
        EXPECT_EQ(Bytes(p->Sample(7).begin(), p->Sample(7).end()), (Bytes{7, 21}));
        EXPECT_EQ(p->MsOfDay(1), 36'000'020);
        EXPECT_EQ(p->TimeOfDay(1), DayFraction(36'000'020));

        std::vector<std::uint64_t> seen;
        bool inOrder = true;
        const std::uint64_t n = p->ForEach(250, 1000, [&](std::uint64_t i, double t, std::span<const std::uint8_t> s) {
            inOrder = inOrder && s.size() == 2 && s[0] == static_cast<std::uint8_t>(i) && t == p->TimeOfDay(i);
            seen.push_back(i);
        });
        EXPECT_EQ(n, 50u);
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(seen.front(), 250u);
        EXPECT_EQ(seen.back(), 299u);
        // A visitor that answers false stops there.
        EXPECT_EQ(p->ForEach(0, 300, [](std::uint64_t i, double, std::span<const std::uint8_t>) { return i < 9; }), 10u);
        EXPECT_EQ(p->ForEach(300, 400, [](std::uint64_t, double, std::span<const std::uint8_t>) {}), 0u);
    }
}

TEST_F(LogPlayer, ThePlayTimelineMendsMidnightCapsStallsAndIgnoresStepsBack)
{
    const std::int64_t end = kMsPerDay;
    TLogPlayer memory, streamed;
    OpenBoth(LogOf({end - 1000, end - 5, 495, 490, 600, 10'600, 10'700}), memory, streamed);
    for (TLogPlayer* p : {&memory, &streamed}) {
        const std::vector<std::int64_t> play{0, 995, 1495, 1495, 1605, 3605, 3705};
        for (std::uint64_t i = 0; i < play.size(); ++i)
            EXPECT_EQ(p->PlayMs(i), play[i]) << i;
        EXPECT_EQ(p->GapCount(), 1u);
        EXPECT_TRUE(p->IsGap(5));
        EXPECT_FALSE(p->IsGap(6));
        EXPECT_EQ(p->Gaps(), (std::vector<std::uint64_t>{5}));
        EXPECT_EQ(p->Span().FirstMs, end - 1000);
        EXPECT_EQ(p->Span().LastMs, end + 10'700);
    }

    // A stamp of a full day is midnight, as the export and the live cycle
    // have it; bytes out of range stand for the previous record's time.
    Bytes log{1, 23, 59, 59, 200, 0, 25, 0, 0, 0, 1, 0, 0, 1, 0, 2};
    TLogPlayer p;
    ASSERT_TRUE(p.Open(Put(log), 1)) << p.Error();
    EXPECT_EQ(p.MsOfDay(0), 0);
    EXPECT_EQ(p.TimeOfDay(0), 0.0);
    EXPECT_EQ(p.PlayMs(1), 0);
    EXPECT_EQ(p.PlayMs(2), 1000);
}

TEST_F(LogPlayer, FindsTheFirstRecordAtOrAfterATimeOnTheLogsOwnDays)
{
    const std::int64_t end = kMsPerDay;
    TLogPlayer p;
    ASSERT_TRUE(p.Open(Put(LogOf({end - 2000, end - 1000, 500, 1500, 2500})), 2));
    struct TCase {
        const char* At;
        std::optional<std::uint64_t> Record;
    };
    for (const TCase& c : {TCase{"23:59:59", 1}, TCase{"23:59:58.000", 0}, TCase{"23:59:58.5", 1},
                           TCase{"00:00:00.500", 2}, TCase{"00:00:00", 2}, TCase{"00:00:01.001", 3}, TCase{"00:00:01.501", 4},
                           TCase{"end", 4}, TCase{"23:00:00", 0},  // before the first record
                           TCase{"00:00:02.501", std::nullopt},     // after the last
                           TCase{"24:00:00", std::nullopt}, TCase{"1:00:00", std::nullopt},
                           TCase{"00:60:00", std::nullopt}, TCase{"00:00:00.1234", std::nullopt},
                           TCase{"00:00:00.", std::nullopt}, TCase{"", std::nullopt},
                           TCase{"ab:cd:ef", std::nullopt}}) {
        SCOPED_TRACE(c.At);
        std::string why;
        EXPECT_EQ(p.Find(c.At, &why), c.Record);
        EXPECT_EQ(why.empty(), c.Record.has_value()) << why;
    }
    std::string why;
    p.Find("00:00:03", &why);
    EXPECT_EQ(why, "00:00:03 is after the last record (00:00:02.500)");
    EXPECT_EQ(ParseTimeOfDay("13:05:07.25"), 47'107'250);
}

// Ten records 100 ms apart from 10:00.
class LogPlayerClock : public LogPlayer {
protected:
    void SetUp() override
    {
        LogPlayer::SetUp();
        ASSERT_TRUE(p.Open(Put(LogOf(Even(10, 100))), 2));
    }
    TLogPlayer p;
};

TEST_F(LogPlayerClock, RecordsFallDueAtTheirIntervalsDividedByTheSpeed)
{
    for (double speed : {1.0, 4.0, 0.25}) {
        SCOPED_TRACE(speed);
        p.SeekTo(0, 0);
        p.SetSpeed(speed, 0);
        p.Play(5000);
        EXPECT_EQ(p.TakeDue(5000, 100), 1u) << "the first record at once";
        const auto step = static_cast<std::int64_t>(100 / speed);
        EXPECT_EQ(p.MsUntilNext(5000), step);
        EXPECT_EQ(p.TakeDue(5000 + step - 1, 100), 0u);
        EXPECT_EQ(p.TakeDue(5000 + step, 100), 1u);
        EXPECT_EQ(p.TakeDue(5000 + 4 * step + step / 2, 100), 3u);
        EXPECT_EQ(p.Position(), 5u);
        EXPECT_EQ(p.TakeDue(5000 + 9 * step, 2), 2u) << "no more than asked";
        EXPECT_EQ(p.TakeDue(5000 + 9 * step, 100), 3u) << "the rest of what is due";
        EXPECT_FALSE(p.IsPlaying()) << "stopped by itself at the end";
        EXPECT_EQ(p.MsUntilNext(99'999), -1);
        p.Play(99'999);
        EXPECT_FALSE(p.IsPlaying());
    }
    p.SeekTo(0, 0);
    p.SetSpeed(0, 0);
    p.Play(0);
    EXPECT_EQ(p.MsUntilNext(0), 0);
    EXPECT_EQ(p.TakeDue(0, 4), 4u);
    EXPECT_EQ(p.TakeDue(0, 100), 6u);
    EXPECT_FALSE(p.IsPlaying());
    p.SetSpeed(1000, 0);
    EXPECT_EQ(p.Speed(), TLogPlayer::kMaxSpeed);
    p.SetSpeed(0.01, 0);
    EXPECT_EQ(p.Speed(), TLogPlayer::kMinSpeed);
}

TEST_F(LogPlayerClock, PauseSpeedChangeAndSeekGoOnFromWhereTheClockStood)
{
    p.Play(1000);
    EXPECT_EQ(p.TakeDue(1000, 100), 1u);
    p.Pause(1060);  // 60 ms into the 100 before record 1
    EXPECT_EQ(p.TakeDue(5000, 100), 0u);
    EXPECT_EQ(p.MsUntilNext(5000), -1);
    p.Play(9000);
    EXPECT_EQ(p.MsUntilNext(9000), 40);
    EXPECT_EQ(p.TakeDue(9039, 100), 0u);
    EXPECT_EQ(p.TakeDue(9040, 100), 1u);

    // Half-way to record 2 the speed doubles: 50 ms are left at 1x, 25 at 2x.
    p.SetSpeed(2, 9090);
    EXPECT_EQ(p.MsUntilNext(9090), 25);
    EXPECT_EQ(p.TakeDue(9114, 100), 0u);
    EXPECT_EQ(p.TakeDue(9115, 100), 1u);
    EXPECT_EQ(p.TakeDue(9165, 100), 1u);

    // A seek plays its record at once, then goes on at the intervals.
    p.SeekTo(7, 9170);
    EXPECT_EQ(p.Position(), 7u);
    EXPECT_EQ(p.TakeDue(9170, 100), 1u);
    EXPECT_EQ(p.MsUntilNext(9170), 50);
    // Without the time, from the next call that tells it.
    p.SeekTo(2);
    EXPECT_EQ(p.TakeDue(20'000, 100), 1u);
    EXPECT_EQ(p.TakeDue(20'049, 100), 0u);
    EXPECT_EQ(p.TakeDue(20'050, 100), 1u);
    p.SeekTo(1'000'000, 20'050);
    EXPECT_EQ(p.Position(), 10u);
    EXPECT_FALSE(p.IsPlaying());
}

TEST_F(LogPlayer, TheClockDoesNotDriftOverALongReplay)
{
    // 35 ms apart at 3x: the due times fall a third of a millisecond off the
    // grid; a clock that added up rounded steps would drift.
    TLogPlayer p;
    ASSERT_TRUE(p.Open(Put(LogOf(Even(30'000, 35))), 2));
    p.SetSpeed(3, 0);
    p.Play(0);
    std::uint64_t taken = 0;
    for (std::int64_t now = 0; now <= 360'000; now += 13) {
        taken += p.TakeDue(now, 1'000'000);
        ASSERT_EQ(taken, std::min<std::uint64_t>(30'000, static_cast<std::uint64_t>(now * 3 / 35) + 1)) << now;
    }
}

}  // namespace
}  // namespace kovra
