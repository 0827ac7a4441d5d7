// The simulated ECU's parts without a port: layout file, engine, frames, replies.
#include "sim/sim_memory.h"
#include "sim/sim_responder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;

unsigned Word(const TEcuBytes& m, int at) { return m[at] * 256u + m[at + 1]; }

TEST(EcuMemoryLayout, DefaultIsTheDemoLayoutFile)
{
    std::ifstream in(std::string(KOVRA_SOURCE_DIR) + "/demo/ecu-memory.ini", std::ios::binary);
    ASSERT_TRUE(in);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), std::string(DefaultEcuMemoryLayoutText())) << "rebuild: the compiled-in copy is stale";
    TEcuMemoryLayout layout;
    std::string error;
    ASSERT_TRUE(ParseEcuMemoryLayout(DefaultEcuMemoryLayoutText(), layout, error)) << error;
    EXPECT_EQ(layout.Quantities.size(), 10u);
}

// The demo configuration decodes these bytes; their ranges over a few minutes
// of running are the contract.
TEST(EcuMemoryLayout, DefaultMemoryHoldsARunningEngine)
{
    const TEcuMemoryLayout layout = DefaultEcuMemoryLayout();
    TEcuBytes m;
    RenderEcuMemory(layout, 0, m);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data()), 9), "KOVRA-SIM");
    EXPECT_EQ(m[0x12] - 40, 20) << "cold at start";

    double maxRpm = 0, maxTorque = 0, maxSpeed = 0, maxInjection = 0;
    bool fanSeen = false, lampSeen = false, pullWithoutClosedLoop = false;
    for (double t = 0; t < 400; t += 0.05) {
        RenderEcuMemory(layout, t, m);
        for (int a = 0x09; a < 0x10; ++a)
            ASSERT_EQ(m[a], 0) << a;
        for (int a = 0x1B; a < 0x100; ++a)
            ASSERT_EQ(m[a], 0) << a;
        const TEngineState e = EngineAt(t);
        const bool idle = std::fmod(t, 20) < 9;  // a pull every 20 s, after 9 s of idling
        const double rpm = Word(m, 0x10);
        ASSERT_GE(rpm, 830);
        ASSERT_LE(rpm, 6500);
        if (idle) {
            ASSERT_LE(rpm, 870) << t;
        }
        const int coolant = m[0x12] - 40;
        ASSERT_GE(coolant, 20);
        ASSERT_LE(coolant, 97);
        if (t >= 130) {
            ASSERT_GE(coolant, 88) << t;
        }
        ASSERT_GE(m[0x13] - 40, 25);
        ASSERT_LE(m[0x13] - 40, 45);
        if (idle) {
            ASSERT_GE(m[0x14], 3);
            ASSERT_LE(m[0x14], 6);
        }
        ASSERT_LE(m[0x15], 160);
        const double injection = Word(m, 0x16) / 250.0;
        ASSERT_GE(injection, 2.4);
        ASSERT_LE(injection, 14.1);
        ASSERT_GE(m[0x18], 138);
        ASSERT_LE(m[0x18], 144);
        const std::uint8_t status = m[0x19];
        ASSERT_TRUE(status & 1) << "running";
        ASSERT_EQ(bool(status & 4), e.Coolant > 95) << t;
        if (idle) {
            ASSERT_TRUE(status & 8) << "closed loop at idle, t=" << t;
        }
        pullWithoutClosedLoop |= (rpm > 3000 && !(status & 8));
        fanSeen |= bool(status & 4);
        lampSeen |= bool(status & 2);
        maxRpm = std::max(maxRpm, rpm);
        maxTorque = std::max(maxTorque, m[0x1A] * 2.0);
        maxSpeed = std::max<double>(maxSpeed, m[0x15]);
        maxInjection = std::max(maxInjection, injection);
    }
    EXPECT_GE(maxRpm, 6400);
    EXPECT_GE(maxSpeed, 155);
    EXPECT_GE(maxInjection, 13.5);
    EXPECT_GE(maxTorque, 220);
    EXPECT_LE(maxTorque, 250);
    EXPECT_TRUE(fanSeen);
    EXPECT_TRUE(lampSeen);
    EXPECT_TRUE(pullWithoutClosedLoop);

    // Full throttle near the top of a pull.
    RenderEcuMemory(layout, 16, m);
    EXPECT_EQ(m[0x14], 255);
}

TEST(EcuMemoryLayout, EncodingOfOwnLayouts)
{
    const char* text =
        "; a comment\n"
        "[word]\naddress = 0x40\nsize = 2\nbehaviour = constant\nvalue = 1000.4\n"
        "[scaled]\naddress=66\nsize=1\nbehaviour=constant\nvalue=-20\noffset=40\n"
        "[clamped]\naddress=0x43\nbehaviour=constant\nvalue=300\n"
        "[negative]\naddress=0x44\nbehaviour=constant\nvalue=-5\n"
        "[wide]\naddress=0xFC\nsize=4\nbehaviour=constant\nvalue=16909060\n"
        "[name]\naddress=0x80\nbehaviour=text\ntext=ABC\n"
        "# the other comment mark\n[dollar]\r\n  address = $50\r\nbehaviour = constant\r\nvalue=7\r\n";
    TEcuMemoryLayout layout;
    std::string error;
    ASSERT_TRUE(ParseEcuMemoryLayout(text, layout, error)) << error;
    TEcuBytes m;
    RenderEcuMemory(layout, 5, m);
    EXPECT_EQ(Word(m, 0x40), 1000u);
    EXPECT_EQ(m[0x42], 20);
    EXPECT_EQ(m[0x43], 255);
    EXPECT_EQ(m[0x44], 0);
    EXPECT_EQ((Bytes{m[0xFC], m[0xFD], m[0xFE], m[0xFF]}), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ((Bytes{m[0x80], m[0x81], m[0x82], m[0x83]}), (Bytes{'A', 'B', 'C', 0}));
    EXPECT_EQ(m[0x50], 7) << "a layout reads like the settings file: $ hex, CR LF, blanks";
}

TEST(EcuMemoryLayout, BadFilesAreRefusedWithTheLine)
{
    struct Case { const char* text; const char* error; };
    const Case cases[] = {
        {"[a]\nsize=1\nbehaviour=rpm\n", "line 1: [a] has no address"},
        {"[a]\naddress=1\n", "has no behaviour"},
        {"[a]\naddress=256\nbehaviour=rpm\n", "line 2: address must be 0 to 255"},
        {"[a]\naddress=0x\nbehaviour=rpm\n", "line 2: address"},
        {"[a]\naddress=1\nsize=5\nbehaviour=rpm\n", "size must be 1 to 4"},
        {"[a]\naddress=1\nsize=0\nbehaviour=rpm\n", "line 3: size must be 1 to 256"},
        {"[a]\naddress=0xFF\nsize=2\nbehaviour=rpm\n", "runs past the end"},
        {"[a]\naddress=1\nbehaviour=boost\n", "unknown behaviour 'boost'"},
        {"[a]\naddress=1\nbehaviour=rpm\nscale=0\n", "scale must not be 0"},
        {"[a]\naddress=1\nbehaviour=rpm\nscale=fast\n", "line 4: scale must be a number"},
        {"[a]\naddress=1\nbehaviour=rpm\naddress=2\n", "line 4: key 'address' given twice"},
        {"[a]\naddress=1\nbehaviour=rpm\ncolour=red\n", "unknown key 'colour'"},
        {"address=1\n", "line 1: a key outside of any section"},
        {"[a]\naddress 1\n", "line 2: expected key = value"},
        {"[a\n", "line 1: a section name"},
        {"[a]\naddress=0x10\nsize=2\nbehaviour=rpm\n[b]\naddress=0x11\nbehaviour=speed\n",
         "[b] overlaps [a]"},
        {"[t]\naddress=0\nsize=2\nbehaviour=text\ntext=ABC\n", "text is longer than its size"},
        {"[t]\naddress=0\nbehaviour=text\ntext=\x01\n", "printable ASCII"},
        // The settings reader would read only the first of these: refused, not half read.
        {"[a]\naddress=1\nbehaviour=rpm\n[A]\naddress=9\nbehaviour=speed\n", "line 4: section [A] given twice"},
        {"[]\naddress=1\n", "line 1: a section name"},
    };
    for (const Case& c : cases) {
        TEcuMemoryLayout layout;
        layout.Quantities.resize(1);
        std::string error;
        EXPECT_FALSE(ParseEcuMemoryLayout(c.text, layout, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
        EXPECT_EQ(layout.Quantities.size(), 1u) << "left as it was";
    }
}

TEST(EcuFrameReader, FindsFramesInNoiseAndPieces)
{
    struct Case { std::vector<Bytes> pieces; std::vector<TEcuFrame::TKind> kinds; };
    using K = TEcuFrame::TKind;
    const Bytes req = {0x20, 0x05, 0x10, 0x08, 0xC3};
    const Bytes bad = {0x20, 0x05, 0x10, 0x08, 0xC4};
    const Bytes wake(kWakeUpFrame.begin(), kWakeUpFrame.end());
    const Case cases[] = {
        {{req}, {K::Request}},
        {{bad}, {}},
        {{{0x20, 0x05}, {0x10}, {0x08, 0xC3}}, {K::Request}},
        {{{0x00, 0x20, 0x20, 0xFF}, req}, {K::Request}},
        {{bad, req}, {K::Request}},
        {{wake, req}, {K::WakeUp, K::Request}},
        {{{0x5A, 0xC3, 0x17}, {0xE8, 0x94, 0x2B, 0xD0, 0x6F, 0xB1, 0x3E, 0x09}}, {K::WakeUp}},
        {{{0x5A, 0xC3, 0x00}, req}, {K::Request}},
        {{req, req, req}, {K::Request, K::Request, K::Request}},
    };
    for (const Case& c : cases) {
        TEcuFrameReader reader;
        std::vector<K> kinds;
        for (const Bytes& piece : c.pieces)
            for (const TEcuFrame& f : reader.Feed(piece)) {
                kinds.push_back(f.Kind);
                if (f.Kind == K::Request) {
                    EXPECT_EQ(f.Address, 0x10);
                    EXPECT_EQ(f.Length, 0x08);
                }
            }
        EXPECT_EQ(kinds, c.kinds) << "case with " << c.pieces.size() << " pieces";
    }
}

TEST(EcuReply, LayoutWithAndWithoutPreamble)
{
    TEcuBytes m{};
    for (int i = 0; i < 256; ++i)
        m[i] = std::uint8_t(i);
    const TEcuFrame request{TEcuFrame::TKind::Request, 0xFE, 3};
    const Bytes with = BuildEcuReply(request, m, true);
    EXPECT_EQ(with, (Bytes{0x20, 0x05, 0xFE, 0x03, 0xDA, kReplyStatus, 3, 0xFE, 0xFF, 0x00, 0x20}));
    const Bytes without = BuildEcuReply(request, m, false);
    EXPECT_EQ(without, Bytes(with.begin() + 5, with.end()));
    EXPECT_EQ(BuildEcuReply({TEcuFrame::TKind::Request, 0, 0}, m, false).size(), 3u);
}

}  // namespace
}  // namespace kovra
