// Processing of one completed sample cycle: from the sample buffer's raw
// bytes to formula values, strip-chart steps, alarm states and a redraw.
//
// The run calls LogPrint once per completed cycle, on the window's thread,
// with the sample buffer and which display is shown. In order:
//   1. one clock reading t, held in single precision;
//   2. the sample record, when the recorder is recording;
//   3. for every formula: its variables into its slots, its evaluation, and
//      its value replaced or accumulated;
//   4. LastCycleTime := t;
//   5. every strip chart gets its formula's value;
//   6. every gauge's alarm (and the alarm sound when asked for);
//   7. DrawPrib when the gauges are shown, DrawMoment when the chart tab is.
// A formula whose evaluation fails ends the cycle there: its value and the
// later formulas keep what they held, LastCycleTime stays, steps 5 to 7 do not
// run, and the failure's message comes back to the caller to show.
#pragma once

#include "config/model.h"
#include "config/run_state.h"
#include "formcomp/formula.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace kovra {

class TRecorder;

// Which display the window shows; each cycle redraws only that one.
enum class TShownPage : int { None = -1, Charts = 0, Gauges = 1, Moment = 2 };

// What a cycle may draw: everything (live), or nothing but its values, when
// the run catches up or seeks and only the last cycles can be seen.
struct TCycleDrawing {
    TShownPage Page = TShownPage::None;
    bool Charts = true;  // a strip-chart step per cycle
    bool Sound = true;   // the alarm sound
    bool Record = true;  // false: the cycle is in the recording already
};

// What a cycle drives on screen; the window implements it.
struct TCycleDisplays {
    virtual ~TCycleDisplays() = default;
    virtual void AddToChart(std::size_t chart, double value) = 0;
    virtual void DrawPrib() = 0;
    virtual void DrawMoment() = 0;
    // Play ".\alarm.wav" without interrupting a sound that is playing.
    virtual void PlayAlarm() = 0;
};

// The time of day now as a fraction of a day (millisecond resolution).
double CurrentTimeOfDay();

struct TCycleOutcome {
    FpError Error = FpError::None;
    std::size_t FailedFormula = 0;  // when Error is not None
    bool Ok() const { return Error == FpError::None; }
    // "Invalid floating point operation", ...; empty when Ok.
    const char* Message() const { return Ok() ? "" : FpErrorMessage(Error); }
};

// Every formula of a settings file compiled, in order: made once, never
// moved (compiled code refers to its own record's address).
class TCompiledFormulas {
public:
    TCompiledFormulas() = default;
    explicit TCompiledFormulas(const TSettings& settings);
    TCompiledFormulas(TCompiledFormulas&&) noexcept;
    TCompiledFormulas& operator=(TCompiledFormulas&&) noexcept;
    ~TCompiledFormulas();

    std::size_t Count() const { return count_; }
    TFormula* Data() { return code_.get(); }
    TFormula& operator[](std::size_t i) { return code_[i]; }

private:
    std::unique_ptr<TFormula[]> code_;
    std::size_t count_ = 0;
};

class TCycle {
public:
    // Compiles the formulas of settings. chartFormulas: the formula of every
    // strip chart, in chart order. settings and displays must outlive the
    // cycle; displays and recorder may be null.
    TCycle(const TSettings& settings, std::vector<std::uint16_t> chartFormulas,
           TCycleDisplays* displays = nullptr, TRecorder* recorder = nullptr);

    // Formula i as compiled (for tests that look into its slots).
    TFormula& Formula(std::size_t i) { return formulas_[i]; }

    // What the cycles have made of the model so far: values, sums, alarms,
    // the chart tab's run. The model itself is only read.
    TRunState& State() { return state_; }
    const TRunState& State() const { return state_; }
    // Back to the beginning of a run: a fresh state, and LastCycleTime
    // becomes timeOfDay.
    void Restart(double timeOfDay);

    // The clock of step 1 (tests set their own).
    void SetClock(std::function<double()> timeOfDay) { clock_ = std::move(timeOfDay); }

    // One cycle timed by the clock, read once here.
    TCycleOutcome LogPrint(std::span<const std::uint8_t> sample, TShownPage page);
    // One cycle timed timeOfDay (fraction of a day; held in single precision
    // like a clock reading): for samples replayed from a log.
    TCycleOutcome LogPrintAt(std::span<const std::uint8_t> sample, TShownPage page, double timeOfDay)
    {
        return LogPrintAt(sample, TCycleDrawing{page}, timeOfDay);
    }
    TCycleOutcome LogPrintAt(std::span<const std::uint8_t> sample, const TCycleDrawing& drawing,
                             double timeOfDay);

    // Another consumer of the steps (a replay draws into its own pictures).
    void SetDisplays(TCycleDisplays* displays) { displays_ = displays; }
    void SetRecorder(TRecorder* recorder) { recorder_ = recorder; }

    // The previous cycle's t, or the watchdog's last re-send, or start-up.
    double LastCycleTime = 0;
    // What the watchdog does on each re-send, and start-up once.
    void TouchLastCycleTime() { LastCycleTime = clock_(); }
    // Step 2 alone: the sample record of a cycle timed timeOfDay, when recording.
    void Record(std::span<const std::uint8_t> sample, double timeOfDay);
    // A reading of the cycle's clock.
    double Now() const { return clock_(); }

private:
    long double VariableValue(const TPerem& v, std::span<const std::uint8_t> sample, float t) const;
    // Step 3 with one error check for all formulas; false (and every value as
    // it was) when something failed, to be found by RunFormulasChecked.
    bool RunFormulasInRow(std::span<const std::uint8_t> sample, float t);
    TCycleOutcome RunFormulasChecked(std::span<const std::uint8_t> sample, float t);
    void SetSlots(TFormula& f, const TProc& p, std::span<const std::uint8_t> sample, float t) const;

    const TAllData& data_;
    TRunState state_;
    TCompiledFormulas formulas_;
    std::vector<std::uint16_t> charts_;
    TCycleDisplays* displays_;
    TRecorder* recorder_;
    std::function<double()> clock_ = CurrentTimeOfDay;
    std::vector<double> valuesBefore_;
};

// The strip charts' formulas of a settings file, in chart order.
std::vector<std::uint16_t> ChartFormulas(const TSettings& settings);


}  // namespace kovra
