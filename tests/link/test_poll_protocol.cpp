#include "link/poll_protocol.h"

#include "config/settings.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = TPollProtocol::TFrameKind;

TPollConfig Config(std::vector<TArea> areas, std::uint8_t preamble, bool obd = false)
{
    TPollConfig c;
    std::size_t length = 0;
    for (const TArea& a : areas)
        length = std::max<std::size_t>(length, a.SampleOffset + a.Length);
    c.Areas = std::move(areas);
    c.SampleLength = length;
    c.PreambleLength = preamble;
    c.ObdMode = obd;
    return c;
}

Bytes Counting(std::size_t n, std::uint8_t from = 0)
{
    Bytes b(n);
    std::iota(b.begin(), b.end(), from);
    return b;
}

Bytes Sent(TPollProtocol& p, Kind kind)
{
    const auto frame = p.BeginSend(kind);
    return Bytes(frame.begin(), frame.end());
}

TEST(RequestFrame, KnownFramesAndZeroSum)
{
    struct Case { std::uint8_t address, length; Bytes frame; };
    const Case cases[] = {
        {0x10, 0x08, {0x20, 0x05, 0x10, 0x08, 0xC3}},
        {0x00, 0x00, {0x20, 0x05, 0x00, 0x00, 0xDB}},
        {0xFF, 0xFF, {0x20, 0x05, 0xFF, 0xFF, 0xDD}},
        {0x00, 0x01, {0x20, 0x05, 0x00, 0x01, 0xDA}},
    };
    for (const Case& c : cases) {
        const TRequestFrame f = BuildRequestFrame(c.address, c.length);
        EXPECT_EQ(Bytes(f.begin(), f.end()), c.frame) << int(c.address) << "/" << int(c.length);
    }
    for (int a = 0; a < 256; ++a)
        for (int l = 0; l < 256; ++l) {
            const TRequestFrame f = BuildRequestFrame(std::uint8_t(a), std::uint8_t(l));
            ASSERT_EQ(std::accumulate(f.begin(), f.end(), 0u) % 256, 0u);
        }
}

TEST(WakeUpFrame, LastByteIsTheSumOfTheOthers)
{
    ASSERT_EQ(kWakeUpFrame.size(), 11u);
    EXPECT_EQ(kWakeUpFrame.front(), 0x5A);
    const unsigned sum = std::accumulate(kWakeUpFrame.begin(), kWakeUpFrame.end() - 1, 0u);
    EXPECT_EQ(sum % 256, kWakeUpFrame.back());
}

TEST(LineSettings, SpeedByModeAndFraming)
{
    for (bool obd : {false, true}) {
        const TLineSettings line = LineSettingsFor(obd);
        EXPECT_EQ(line.Baud, obd ? 10400u : 9600u);
        EXPECT_EQ(line.DataBits, 8);
        EXPECT_FALSE(line.Parity);
        EXPECT_EQ(line.StopBits, 1);
    }
}

// A reply fed in pieces is taken exactly when the count reaches P + L + 3,
// and the payload is the L bytes from position P + 2.
TEST(PollProtocol, ReplyCompleteAtThresholdWhateverThePieces)
{
    struct Case { std::uint8_t preamble, length; std::vector<std::size_t> pieces; };
    const Case cases[] = {
        {5, 8, {16}},
        {5, 8, {7, 8, 1}},
        {5, 8, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {0, 8, {11}},
        {0, 8, {2, 8, 1}},
        {5, 1, {8, 1}},
        {0, 1, {3, 1}},
        {5, 255, {100, 100, 63}},
        {0, 255, {258}},
    };
    for (const Case& c : cases) {
        TPollProtocol p(Config({{0x40, 0, c.length}}, c.preamble));
        Sent(p, Kind::Request);
        const std::size_t threshold = c.preamble + c.length + 3u;
        ASSERT_EQ(p.ReplyThreshold(), threshold);
        const Bytes reply = Counting(threshold, 0x30);
        std::size_t at = 0;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const auto step = p.OnBytes(std::span(reply).subspan(at, c.pieces[i]));
            at += c.pieces[i];
            const bool last = i + 1 == c.pieces.size();
            ASSERT_EQ(step.ReplyTaken, last) << "preamble " << int(c.preamble) << " length " << int(c.length) << " piece " << i;
            EXPECT_EQ(step.CycleDone, last);
        }
        const Bytes payload(reply.begin() + c.preamble + 2, reply.begin() + c.preamble + 2 + c.length);
        EXPECT_EQ(p.Sample(), payload);
    }
}

TEST(PollProtocol, EightByteAreaWithPreambleTakesPositionsSevenToFourteen)
{
    TPollProtocol p(Config({{0x10, 0, 8}}, 5));
    EXPECT_EQ(Sent(p, Kind::Request), (Bytes{0x20, 0x05, 0x10, 0x08, 0xC3}));
    const Bytes reply = Counting(16, 100);
    EXPECT_FALSE(p.OnBytes(std::span(reply).first(15)).ReplyTaken);
    EXPECT_TRUE(p.OnBytes(std::span(reply).subspan(15)).ReplyTaken);
    EXPECT_EQ(p.Sample(), Counting(8, 107));
}

// Bytes beyond the reply, or more than any reply can hold, are dropped and
// never spill into the sample or past the receive buffer.
TEST(PollProtocol, ExcessBytesAreDropped)
{
    TPollProtocol p(Config({{0, 0, 4}, {4, 4, 4}}, 5));
    Sent(p, Kind::Request);
    Bytes flood(2000, 0xEE);
    const Bytes reply = Counting(12, 1);
    std::copy(reply.begin(), reply.end(), flood.begin());
    EXPECT_TRUE(p.OnBytes(flood).ReplyTaken);
    EXPECT_FALSE(p.OnBytes(flood).ReplyTaken) << "nothing is awaited until the next send";
    EXPECT_EQ(p.Sample(), (Bytes{8, 9, 10, 11, 0, 0, 0, 0}));

    // The next send clears what was received; a flood completes that reply
    // too, with nothing read past the buffer.
    EXPECT_EQ(Sent(p, Kind::Request), (Bytes{0x20, 0x05, 0x04, 0x04, 0xD3}));
    EXPECT_TRUE(p.OnBytes(Bytes(2000, 0xEE)).ReplyTaken);
    EXPECT_EQ(p.Received(), kRxBufferSize);
    EXPECT_EQ(p.Sample(), (Bytes{8, 9, 10, 11, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(PollProtocol, SendDiscardsAPartialReply)
{
    TPollProtocol p(Config({{0, 0, 8}}, 0));
    Sent(p, Kind::Request);
    EXPECT_FALSE(p.OnBytes(Bytes(10, 0xAA)).ReplyTaken);
    Sent(p, Kind::Request);  // a re-send after a time-out
    EXPECT_FALSE(p.OnBytes(Bytes(10, 0xBB)).ReplyTaken);
    EXPECT_TRUE(p.OnBytes(Bytes(1, 0xBB)).ReplyTaken);
    EXPECT_EQ(p.Sample(), Bytes(8, 0xBB));
}

// Areas are polled in order, each payload lands at its offset, the cycle ends
// with the last area only and the next request asks for area 0 again.
TEST(PollProtocol, AreasStepAndCycleEndsAfterTheLast)
{
    TPollProtocol p(Config({{0x10, 0, 2}, {0x80, 2, 3}, {0x00, 5, 1}}, 0));
    const Bytes expectedRequests[] = {
        {0x20, 0x05, 0x10, 0x02, 0xC9},
        {0x20, 0x05, 0x80, 0x03, 0x58},
        {0x20, 0x05, 0x00, 0x01, 0xDA},
    };
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (int area = 0; area < 3; ++area) {
            EXPECT_EQ(p.CurrentArea(), area);
            EXPECT_EQ(Sent(p, Kind::Request), expectedRequests[area]);
            const std::size_t n = p.ReplyThreshold();
            Bytes reply(n, std::uint8_t(cycle * 16 + area));
            const auto step = p.OnBytes(reply);
            EXPECT_TRUE(step.ReplyTaken);
            EXPECT_EQ(step.CycleDone, area == 2) << "cycle " << cycle << " area " << area;
        }
        const auto c = std::uint8_t(cycle * 16);
        EXPECT_EQ(p.Sample(), (Bytes{c, c, std::uint8_t(c + 1), std::uint8_t(c + 1), std::uint8_t(c + 1), std::uint8_t(c + 2)}));
        EXPECT_EQ(p.CurrentArea(), 0);
    }
}

TEST(PollProtocol, OneAreaCompletesACycleWithEveryReply)
{
    TPollProtocol p(Config({{0x20, 0, 1}}, 5));
    for (int i = 0; i < 5; ++i) {
        Sent(p, Kind::Request);
        const auto step = p.OnBytes(Bytes(9, std::uint8_t(i)));
        EXPECT_TRUE(step.ReplyTaken);
        EXPECT_TRUE(step.CycleDone);
    }
}

// An area that the configuration places past the sample is cut, not overrun.
TEST(PollProtocol, AreaOutsideTheSampleIsCut)
{
    TPollConfig c = Config({{0, 0, 4}, {0, 6, 4}}, 0);
    c.SampleLength = 8;
    TPollProtocol p(c);
    for (int i = 0; i < 2; ++i) {
        Sent(p, Kind::Request);
        p.OnBytes(Bytes(7, 0x77));
    }
    EXPECT_EQ(p.Sample(), (Bytes{0x77, 0x77, 0x77, 0x77, 0, 0, 0x77, 0x77}));
}

TEST(PollProtocol, WatchdogResendsTheRequestInFlight)
{
    TPollProtocol p(Config({{0x10, 0, 2}, {0x30, 2, 2}}, 5));
    Sent(p, Kind::Request);
    ASSERT_TRUE(p.OnBytes(Bytes(10, 1)).ReplyTaken);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(p.OnWatchdog(), Kind::Request);
        EXPECT_EQ(Sent(p, Kind::Request), (Bytes{0x20, 0x05, 0x30, 0x02, 0xA9})) << "area 1 stays in flight";
    }
    EXPECT_EQ(p.CurrentArea(), 1);
}

// In OBD mode time-outs alternate request and wake-up frame, starting with
// the request; replies in between do not reset the alternation.
TEST(PollProtocol, ObdWatchdogAlternatesStartingWithTheRequest)
{
    TPollProtocol p(Config({{0x10, 0, 1}}, 0, true));
    EXPECT_EQ(p.Line().Baud, 10400u);
    std::vector<Kind> seen;
    for (int i = 0; i < 3; ++i)
        seen.push_back(p.OnWatchdog());
    Sent(p, Kind::Request);
    EXPECT_TRUE(p.OnBytes(Bytes(4, 0)).ReplyTaken);
    for (int i = 0; i < 3; ++i)
        seen.push_back(p.OnWatchdog());
    EXPECT_EQ(seen, (std::vector<Kind>{Kind::Request, Kind::WakeUp, Kind::Request, Kind::WakeUp,
                                       Kind::Request, Kind::WakeUp}));
    const auto wake = p.BeginSend(Kind::WakeUp);
    EXPECT_EQ(Bytes(wake.begin(), wake.end()), Bytes(kWakeUpFrame.begin(), kWakeUpFrame.end()));
}

// Whatever follows a wake-up frame counts towards the pending request's reply.
TEST(PollProtocol, AnswerToWakeUpCountsTowardsTheReply)
{
    TPollProtocol p(Config({{0x10, 0, 1}}, 0, true));
    p.BeginSend(Kind::WakeUp);
    EXPECT_FALSE(p.OnBytes(Bytes{0x55, 0x08, 0x08}).ReplyTaken);
    EXPECT_TRUE(p.OnBytes(Bytes{0x42}).ReplyTaken);
    EXPECT_EQ(p.Sample(), Bytes{0x08});
}

TEST(PollProtocol, NoAreasMeansNothingToSend)
{
    TPollProtocol p(Config({}, 5));
    EXPECT_TRUE(Sent(p, Kind::Request).empty());
    EXPECT_EQ(p.OnWatchdog(), Kind::None);
    EXPECT_FALSE(p.OnBytes(Bytes(300, 1)).ReplyTaken);
    EXPECT_TRUE(p.Sample().empty());
}

// The settings check and the link agree on the longest area: every length
// the check lets through is received whole, up to the largest a request can
// ask for (255 bytes, preamble on).
TEST(ReceiveBuffer, TheSettingsCheckAsksTheLink)
{
    for (bool preamble : {true, false}) {
        SCOPED_TRACE(preamble ? "preamble on" : "preamble off");
        const std::string ini = std::string("[настройки]\nкол-во_областей=1\nпреамбула=") + (preamble ? "1" : "0")
            + "\n[области]\nсмещение_0=0\nразмер_0=255\n";
        const TSettings settings = LoadSettingsFromBytes(ini);
        ASSERT_EQ(settings.Data.Areas.size(), 1u);
        ASSERT_EQ(settings.Data.Areas[0].Length, 255);
        for (const TSettingsProblem& p : settings.Problems)
            EXPECT_EQ(p.Problem.find("receive buffer"), std::string::npos) << p.Problem;

        TPollConfig config;
        config.Areas = settings.Data.Areas;
        config.SampleLength = settings.Data.SampleLength;
        config.PreambleLength = preamble ? kPreambleOn : 0;
        TPollProtocol p(config);
        std::vector<std::uint8_t> reply(p.ReplyThreshold());
        for (std::size_t i = 0; i < reply.size(); ++i)
            reply[i] = static_cast<std::uint8_t>(i);
        p.BeginSend(TPollProtocol::TFrameKind::Request);
        ASSERT_TRUE(p.OnBytes(reply).ReplyTaken);
        EXPECT_EQ(p.Sample().front(), reply[config.PreambleLength + 2]);
        EXPECT_EQ(p.Sample().back(), reply[config.PreambleLength + 2 + 254]);
    }
}

}  // namespace
}  // namespace kovra
