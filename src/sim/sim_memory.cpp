#include "sim/sim_memory.h"

#include "config/ini.h"
#include "sim/sim_default_memory.h"  // generated from demo/ecu-memory.ini

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <sstream>

namespace kovra {

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ParseInt(std::string_view s, long& out)
{
    const std::optional<std::int32_t> n = ParseIniInteger(s);
    if (!n)
        return false;
    out = *n;
    return true;
}

bool ParseReal(std::string_view s, double& out)
{
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(out);
}

const std::map<std::string, TEcuBehaviour>& BehaviourNames()
{
    static const std::map<std::string, TEcuBehaviour> names = {
        {"text", TEcuBehaviour::Text},         {"constant", TEcuBehaviour::Constant},
        {"rpm", TEcuBehaviour::Rpm},           {"coolant", TEcuBehaviour::Coolant},
        {"intake_air", TEcuBehaviour::IntakeAir}, {"throttle", TEcuBehaviour::Throttle},
        {"speed", TEcuBehaviour::Speed},       {"injection", TEcuBehaviour::Injection},
        {"battery", TEcuBehaviour::Battery},   {"status", TEcuBehaviour::Status},
        {"torque", TEcuBehaviour::Torque},
    };
    return names;
}

struct TPending {
    TEcuQuantity Quantity;
    int Line = 0;
    bool HasAddress = false;
    bool HasBehaviour = false;
    bool HasSize = false;
};

// Checks a finished section; error names the section's line.
bool Finish(TPending& p, TEcuMemoryLayout& layout, std::string& error)
{
    const auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(p.Line) + ": [" + p.Quantity.Name + "] " + what;
        return false;
    };
    TEcuQuantity& q = p.Quantity;
    if (!p.HasAddress)
        return fail("has no address");
    if (!p.HasBehaviour)
        return fail("has no behaviour");
    if (!p.HasSize && q.Behaviour == TEcuBehaviour::Text)
        q.Size = static_cast<std::uint16_t>(std::max<std::size_t>(q.Text.size(), 1));
    const unsigned maxSize = q.Behaviour == TEcuBehaviour::Text ? 256 : 4;
    if (q.Size < 1 || q.Size > maxSize)
        return fail("size must be 1 to " + std::to_string(maxSize));
    if (q.Address + q.Size > 256)
        return fail("runs past the end of the 256-byte memory");
    if (q.Behaviour == TEcuBehaviour::Text && q.Text.size() > q.Size)
        return fail("text is longer than its size");
    if (q.Scale == 0)
        return fail("scale must not be 0");
    for (const TEcuQuantity& other : layout.Quantities) {
        if (q.Address < other.Address + other.Size && other.Address < q.Address + q.Size)
            return fail("overlaps [" + other.Name + "]");
    }
    layout.Quantities.push_back(q);
    return true;
}

}  // namespace

bool ParseEcuMemoryLayout(std::string_view text, TEcuMemoryLayout& layout, std::string& error)
{
    // Read by the settings file's own INI reader, so that both kinds of file
    // follow one set of rules; what that reader forgives (a repeated key or
    // section, a line that is no key) is refused here, as a layout must say
    // exactly one thing about each byte.
    const TIniFile ini{std::string(text)};
    TEcuMemoryLayout result;
    TPending pending;
    bool inSection = false;
    std::set<std::string> seenSections;
    std::set<std::string> seenKeys;
    for (const TIniFile::TEntry& entry : ini.Entries()) {
        const auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(entry.Line) + ": " + what;
            return false;
        };
        if (entry.IsSection) {
            if (entry.Name.empty())
                return fail("a section name must be written [name]");
            if (inSection && !Finish(pending, result, error))
                return false;
            if (!seenSections.insert(Lower(entry.Name)).second)
                return fail("section [" + entry.Name + "] given twice");
            pending = TPending{};
            pending.Quantity.Name = entry.Name;
            pending.Line = static_cast<int>(entry.Line);
            inSection = true;
            seenKeys.clear();
            continue;
        }
        if (!entry.Name.empty() && entry.Name.front() == '#')
            continue;  // the other comment mark of such files
        if (!entry.Name.empty() && entry.Name.front() == '[')
            return fail("a section name must be written [name]");
        if (!entry.HasValue)
            return fail("expected key = value");
        if (!inSection)
            return fail("a key outside of any section");
        const std::string key = Lower(entry.Name);
        if (!seenKeys.insert(key).second)
            return fail("key '" + key + "' given twice in one section");
        const std::string value = ini.Read(pending.Quantity.Name, key).value_or(std::string());
        TEcuQuantity& q = pending.Quantity;
        long n = 0;
        if (key == "address") {
            if (!ParseInt(value, n) || n < 0 || n > 255)
                return fail("address must be 0 to 255");
            q.Address = static_cast<std::uint8_t>(n);
            pending.HasAddress = true;
        } else if (key == "size") {
            if (!ParseInt(value, n) || n < 1 || n > 256)
                return fail("size must be 1 to 256");
            q.Size = static_cast<std::uint16_t>(n);
            pending.HasSize = true;
        } else if (key == "behaviour" || key == "behavior") {
            const auto it = BehaviourNames().find(Lower(value));
            if (it == BehaviourNames().end())
                return fail("unknown behaviour '" + value + "'");
            q.Behaviour = it->second;
            pending.HasBehaviour = true;
        } else if (key == "scale") {
            if (!ParseReal(value, q.Scale))
                return fail("scale must be a number");
        } else if (key == "offset") {
            if (!ParseReal(value, q.Offset))
                return fail("offset must be a number");
        } else if (key == "value") {
            if (!ParseReal(value, q.Value))
                return fail("value must be a number");
        } else if (key == "text") {
            for (char c : value)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                    return fail("text must be printable ASCII");
            q.Text = value;
        } else {
            return fail("unknown key '" + key + "'");
        }
    }
    if (inSection && !Finish(pending, result, error))
        return false;
    layout = std::move(result);
    return true;
}

bool LoadEcuMemoryLayout(const std::string& path, TEcuMemoryLayout& layout, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseEcuMemoryLayout(text.str(), layout, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string_view DefaultEcuMemoryLayoutText()
{
    return kDefaultEcuMemoryLayout;
}

TEcuMemoryLayout DefaultEcuMemoryLayout()
{
    TEcuMemoryLayout layout;
    std::string error;
    ParseEcuMemoryLayout(DefaultEcuMemoryLayoutText(), layout, error);  // checked by the tests
    return layout;
}

namespace {

double SmoothStep(double u)
{
    u = std::clamp(u, 0.0, 1.0);
    return u * u * (3 - 2 * u);
}

double Wave(double seconds, double period, double phase = 0)
{
    return std::sin(2 * std::numbers::pi * seconds / period + phase);
}

constexpr double kIdleRpm = 850;
constexpr double kPeakRpm = 6500;
constexpr double kPullPeriod = 20;  // s, from one pull to the next
constexpr double kIdleSpan = 9;     // s of idling before a pull
constexpr double kRiseSpan = 8;
constexpr double kFallSpan = 3;

}  // namespace

TEngineState EngineAt(double seconds)
{
    const double t = std::max(seconds, 0.0);
    const double phase = std::fmod(t, kPullPeriod);
    const bool rising = phase >= kIdleSpan && phase < kIdleSpan + kRiseSpan;
    const bool falling = phase >= kIdleSpan + kRiseSpan && phase < kIdleSpan + kRiseSpan + kFallSpan;
    double pull = 0;  // 0 at idle, 1 at the top of the pull
    if (rising)
        pull = SmoothStep((phase - kIdleSpan) / kRiseSpan);
    else if (falling)
        pull = 1 - SmoothStep((phase - kIdleSpan - kRiseSpan) / kFallSpan);

    TEngineState e;
    const double jitter = 20 * (0.6 * Wave(t, 1 / 1.3) + 0.4 * Wave(t, 1 / 3.7, 1));
    e.Rpm = kIdleRpm + jitter * (1 - pull) + (kPeakRpm - kIdleRpm) * pull;

    const double idleThrottle = (4.5 + 1.5 * Wave(t, 2)) * 100 / 255;  // bytes 3..6
    e.Throttle = rising ? std::min(100.0, idleThrottle + 100 * (phase - kIdleSpan) / 0.4) : idleThrottle;
    e.Speed = 160 * pull;
    e.Injection = rising ? 2.5 + 11.5 * pull : 2.5 + 0.05 * Wave(t, 1.7);

    if (t < 120)
        e.Coolant = 20 + 72.5 * SmoothStep(t / 120);
    else
        e.Coolant = 92.5 + 4.5 * Wave(t - 120, 70);
    e.IntakeAir = 35 + 8 * Wave(t, 180) + 2 * Wave(t, 47);
    e.Battery = 14.1 + 0.25 * Wave(t, 13) + 0.04 * Wave(t, 1 / 2.1);

    const double shape = (e.Rpm - 4000) / 2200;
    e.Torque = rising ? 20 + 220 * std::exp(-shape * shape) : (falling ? 10 : 20 + 2 * Wave(t, 3));

    e.Status = 0x01;  // running
    if (std::fmod(t, 45) >= 40 && std::fmod(t, 45) < 43)
        e.Status |= 0x02;
    if (e.Coolant > 95)
        e.Status |= 0x04;
    if (!rising && !falling)
        e.Status |= 0x08;
    return e;
}

void RenderEcuMemory(const TEcuMemoryLayout& layout, double seconds, TEcuBytes& memory)
{
    memory.fill(0);
    const TEngineState e = EngineAt(seconds);
    for (const TEcuQuantity& q : layout.Quantities) {
        if (q.Behaviour == TEcuBehaviour::Text) {
            for (std::size_t i = 0; i < q.Text.size() && i < q.Size; ++i)
                memory[q.Address + i] = static_cast<std::uint8_t>(q.Text[i]);
            continue;
        }
        double value = 0;
        switch (q.Behaviour) {
        case TEcuBehaviour::Constant: value = q.Value; break;
        case TEcuBehaviour::Rpm: value = e.Rpm; break;
        case TEcuBehaviour::Coolant: value = e.Coolant; break;
        case TEcuBehaviour::IntakeAir: value = e.IntakeAir; break;
        case TEcuBehaviour::Throttle: value = e.Throttle; break;
        case TEcuBehaviour::Speed: value = e.Speed; break;
        case TEcuBehaviour::Injection: value = e.Injection; break;
        case TEcuBehaviour::Battery: value = e.Battery; break;
        case TEcuBehaviour::Status: value = e.Status; break;
        case TEcuBehaviour::Torque: value = e.Torque; break;
        case TEcuBehaviour::Text: break;
        }
        const double top = std::ldexp(1.0, 8 * q.Size) - 1;
        const double raw = std::clamp(std::nearbyint(value * q.Scale + q.Offset), 0.0, top);
        auto bits = static_cast<std::uint32_t>(raw);
        for (int i = q.Size - 1; i >= 0; --i) {  // big-endian: high byte first
            memory[q.Address + i] = static_cast<std::uint8_t>(bits & 0xFF);
            bits >>= 8;
        }
    }
}

}  // namespace kovra
