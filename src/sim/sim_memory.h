// The simulated ECU's memory: 256 bytes holding a running engine. A layout
// file says where each quantity lies, how its value is encoded and which
// behaviour over time it follows.
//
// Layout file (INI, ASCII, read by the same rules as the settings file): one
// section per quantity, named freely and once; ';' or '#' starts a comment
// line; a key is given at most once. Keys of a section:
//   address    first byte, 0..255 (decimal, or hexadecimal after 0x or $)
//   size       bytes, big-endian: 1..4 (a text: 1..256); address + size <= 256
//   behaviour  rpm | coolant | intake_air | throttle | speed | injection |
//              battery | status | torque | constant | text
//   scale      raw = round(value * scale + offset), clamped to what the bytes
//   offset     can hold (defaults 1 and 0)
//   value      the value of a constant
//   text       the ASCII text of a text, padded with zero bytes
// Bytes no quantity covers read 0. Quantities may not overlap.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

enum class TEcuBehaviour : std::uint8_t {
    Text,
    Constant,
    Rpm,        // engine speed, 1/min
    Coolant,    // coolant temperature, degC
    IntakeAir,  // intake air temperature, degC
    Throttle,   // throttle opening, %
    Speed,      // vehicle speed, km/h
    Injection,  // injection time, ms
    Battery,    // battery voltage, V
    Status,     // bit field, see TEngineState::Status
    Torque,     // engine torque, N*m
};

struct TEcuQuantity {
    std::string Name;
    std::uint8_t Address = 0;
    std::uint16_t Size = 1;
    TEcuBehaviour Behaviour = TEcuBehaviour::Constant;
    double Scale = 1;
    double Offset = 0;
    double Value = 0;  // constant
    std::string Text;  // text
};

struct TEcuMemoryLayout {
    std::vector<TEcuQuantity> Quantities;
};

// Parses a layout file's text. On failure returns false and error names the
// line and what is wrong with it.
bool ParseEcuMemoryLayout(std::string_view text, TEcuMemoryLayout& layout, std::string& error);
bool LoadEcuMemoryLayout(const std::string& path, TEcuMemoryLayout& layout, std::string& error);

// The layout used when none is given (the demo's ecu-memory.ini).
std::string_view DefaultEcuMemoryLayoutText();
TEcuMemoryLayout DefaultEcuMemoryLayout();

// The engine at a moment, seconds after the simulator started: idling at about
// 850/min, with a full-throttle pull every 20 s (8 s up to about 6500/min, 3 s
// back down), warming up over the first two minutes.
struct TEngineState {
    double Rpm = 0;
    double Coolant = 0;
    double IntakeAir = 0;
    double Throttle = 0;  // %
    double Speed = 0;
    double Injection = 0;  // ms
    double Battery = 0;    // V
    double Torque = 0;     // N*m
    // bit 0 engine running, bit 1 check-engine lamp, bit 2 cooling fan,
    // bit 3 closed-loop lambda
    std::uint8_t Status = 0;
};

TEngineState EngineAt(double seconds);

using TEcuBytes = std::array<std::uint8_t, 256>;

// Fills memory with the layout's quantities at the given moment.
void RenderEcuMemory(const TEcuMemoryLayout& layout, double seconds, TEcuBytes& memory);

}  // namespace kovra
