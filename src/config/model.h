// The configured model: what set.ini describes, in the records the rest of the
// program shares. Texts are CP1251 bytes as read from the file (names, captions,
// formula texts); the window converts them for display. It is read once and
// not changed by the cycles: what they change is a run's state (run_state.h).
//
// Invariants the loader guarantees, so that no consumer ever indexes outside an
// array (the check command reports every item that was made inert to get there):
//  - Areas.size() == AreaCount, Procs.size() == FormulaCount,
//    Gauges.size() == GaugeCount, Vars.size() == VarCount; any count may be 0.
//  - SampleLength <= 255 and every area lies inside it.
//  - A kind-0 variable's SampleIndex is inside the sample buffer, and a kind-1
//    variable's FormulaIndex is below FormulaCount; a variable that cannot meet
//    that is given kInertKind and is never assigned (its slot keeps 0).
//  - Indexes that may still point past their array (a chart's or gauge's formula
//    when there are no formulas, MomentFormula, MomentChart) are read through
//    the accessors below, which give 0 / "absent".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kovra {


// 0x00BBGGRR; 0xFF0000xx names a system colour by its index xx.
using TColor = std::uint32_t;
inline constexpr TColor kButtonFace = 0xFF00000F;

// A variable kind the cycle never assigns.
inline constexpr std::uint8_t kInertKind = 255;

struct TArea {
    std::uint8_t Address = 0;
    std::uint8_t SampleOffset = 0;
    std::uint8_t Length = 1;

    bool operator==(const TArea&) const = default;
};

struct TPerem {
    std::string Name;
    std::uint8_t Kind = 0;
    std::uint8_t SampleIndex = 0;
    bool IsBit = false;
    std::uint8_t AreaIndex = 0;
    std::uint8_t BitNumber = 1;
    std::uint8_t FormulaIndex = 0;

    bool operator==(const TPerem&) const = default;
};

struct TProc {
    std::string Name;
    bool Accumulate = false;
    std::uint8_t VarCount = 1;
    std::vector<TPerem> Vars;

    bool operator==(const TProc&) const = default;
};

struct TPribor {
    std::string Name = "NoName";
    std::uint8_t Kind = 0;
    std::uint16_t FormulaIndex = 0;
    std::uint16_t Size = 50;
    std::uint16_t X = 50;
    std::uint16_t Y = 50;
    std::int32_t Maximum = 50;
    std::int32_t Minimum = 0;
    std::uint16_t ScaleDivisions = 50;
    std::uint16_t LabelDigits = 50;
    std::int16_t StartAngle = 50;
    std::int16_t EndAngle = 50;
    bool Horizontal = false;
    bool Reverse = false;
    TColor ScaleColor = 50;
    TColor NeedleColor = 50;
    TColor TextColor = 50;
    bool AlarmEnabled = false;
    bool AlarmBelow = false;
    double AlarmLevel = 10.0;
    bool AlarmSound = false;
    // A gauge without a scale (Maximum == Minimum, or a dial or bar with no
    // divisions) would divide by zero on every frame; it is drawn as nothing.
    bool Inert = false;

    bool operator==(const TPribor&) const = default;
};

struct TAllData {
    std::uint8_t AreaCount = 1;
    std::vector<TArea> Areas;
    std::uint8_t FormulaCount = 1;
    std::vector<TProc> Procs;
    std::uint8_t LoggerCount = 1;
    std::uint8_t GaugeCount = 1;
    std::vector<TPribor> Gauges;
    std::uint16_t ClockSize = 50;
    std::uint16_t ClockX = 50;
    std::uint16_t ClockY = 50;
    TColor ClockColor = 50;
    bool ClockVisible = false;
    std::uint8_t MomentFormula = 0;
    std::uint8_t MomentChart = 0;
    std::int32_t MomentYMax = 100;
    bool ObdMode = false;
    // The chart tab has no scale (its X chart is missing or has "макс_знач" 0,
    // or "Момент_У_макс" is 0): nothing is drawn on it.
    bool MomentInert = false;

    // Sum of the area lengths: the sample buffer's and the log record's length.
    std::size_t SampleLength = 1;

    bool HasFormula(std::size_t i) const { return i < Procs.size(); }

    bool operator==(const TAllData&) const = default;
};

// One strip chart's settings ("логер_" + k).
struct TLogSettings {
    std::int32_t Height = 150;
    std::uint16_t FormulaIndex = 0;
    std::string LabelText;
    std::int32_t MaxValue = 100;
    std::int32_t MinValue = 0;
    TColor TraceColor = 0xFF0000;
    // "макс_знач" == "мин_знач": no scale; the chart only scrolls.
    bool Inert = false;
};

// Settings applied once at start-up and not kept in the model.
struct TWindowOptions {
    bool FullScreen = false;
    TColor PanelColor = kButtonFace;
    std::int32_t ReplyTimeout = 1000;
    TColor ChartTextColor = 255;
    std::int32_t ChartTextHeight = 10;
    bool DoubleBuffered = true;
    std::string PortName = "com1";
    bool Preamble = true;
    bool AutoStartLog = false;
    std::string Language = "ru";
};

// One value the loader found outside the model's limits, and what it did about it.
struct TSettingsProblem {
    std::string Section;  // CP1251, as the names are in the file
    std::string Key;
    std::string Value;
    std::string Problem;  // English, for the check command
    std::string Action;
};

struct TSettings {
    TAllData Data;
    std::vector<std::string> FormulaTexts;  // "формула" of each formula, in order
    std::vector<TLogSettings> Loggers;      // one per strip chart
    TWindowOptions Options;
    std::vector<TSettingsProblem> Problems;
    bool FileFound = false;
};

}  // namespace kovra
