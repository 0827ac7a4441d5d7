#include "run/cycle.h"

#include "config/settings.h"
#include "config/time_of_day.h"
#include "record/recorder.h"

#include <QTime>

#include <cmath>

namespace kovra {

double CurrentTimeOfDay() { return TimeOfDayNow(); }

TCompiledFormulas::TCompiledFormulas(const TSettings& settings)
    : code_(std::make_unique<TFormula[]>(settings.Data.Procs.size())), count_(settings.Data.Procs.size())
{
    const TAllData& d = settings.Data;
    for (std::size_t i = 0; i < d.Procs.size(); ++i) {
        const std::string text = i < settings.FormulaTexts.size() ? settings.FormulaTexts[i] : "0";
        CompileFormula(code_[i], text, VariableNames(d.Procs[i]));
    }
}

TCompiledFormulas::TCompiledFormulas(TCompiledFormulas&&) noexcept = default;
TCompiledFormulas& TCompiledFormulas::operator=(TCompiledFormulas&&) noexcept = default;
TCompiledFormulas::~TCompiledFormulas() = default;

TCycle::TCycle(const TSettings& settings, std::vector<std::uint16_t> chartFormulas, TCycleDisplays* displays,
               TRecorder* recorder)
    : data_(settings.Data), state_(settings.Data), formulas_(settings), charts_(std::move(chartFormulas)),
      displays_(displays), recorder_(recorder)
{
}

void TCycle::Restart(double timeOfDay)
{
    state_ = TRunState(data_);
    LastCycleTime = timeOfDay;
}

long double TCycle::VariableValue(const TPerem& v, std::span<const std::uint8_t> sample, float t) const
{
    switch (v.Kind) {
    case 0: {
        const std::uint8_t byte = v.SampleIndex < sample.size() ? sample[v.SampleIndex] : 0;
        if (!v.IsBit)
            return byte;
        // Bit 1 is the least significant; 0 and numbers past 8 name no bit of a byte.
        if (v.BitNumber < 1 || v.BitNumber > 8)
            return 0;
        return (byte >> (v.BitNumber - 1)) & 1;
    }
    case 1:
        return state_.ValueOf(v.FormulaIndex);
    case 2: {
        long double days = static_cast<long double>(t) - static_cast<long double>(LastCycleTime);
        // The clock restarts at midnight. Only a wrap is mended: the few
        // milliseconds by which the single-precision t can fall behind a
        // re-send's exact time stay as they are.
        if (days < -0.5L)
            days += 1.0L;
        return days * 86400.0L;
    }
    default:
        return 0;  // never called: such slots are not written
    }
}

void TCycle::SetSlots(TFormula& f, const TProc& p, std::span<const std::uint8_t> sample, float t) const
{
    for (std::size_t j = 0; j < p.Vars.size(); ++j) {
        const TPerem& v = p.Vars[j];
        if (v.Kind <= 2)
            f.SetSlot(j, VariableValue(v, sample, t));
    }
}

// The value replaced or accumulated; false, and nothing stored, when it lies
// beyond a double's range: storing it would itself be an overflow.
static bool StoreValue(const TProc& p, double& value, long double r)
{
    const long double sum = p.Accumulate ? static_cast<long double>(value) + r : r;
    const double stored = static_cast<double>(sum);
    if (std::isinf(stored))
        return false;
    value = stored;
    return true;
}

// Formulas fail rarely, and reading the x87 status after each one would wait
// for it to finish before the next could start. So the row runs them all and
// reads the status once; only when something failed are the values put back
// and the formulas run again, one checked evaluation at a time, which gives
// exactly the sequential outcome: the values before the failing formula
// updated, the rest as they were.
bool TCycle::RunFormulasInRow(std::span<const std::uint8_t> sample, float t)
{
    const std::vector<TProc>& procs = data_.Procs;
    std::vector<double>& values = state_.Values;
    valuesBefore_ = values;

    TFormula* compiled = formulas_.Data();
    bool ok = true;
    {
        TEvalRow row;
        for (std::size_t i = 0; i < procs.size(); ++i) {
            const TProc& p = procs[i];
            long double r = 0;
            if (compiled) {
                SetSlots(compiled[i], p, sample, t);
                r = row.Run(compiled[i]);
            }
            if (!StoreValue(p, values[i], r)) {
                ok = false;
                break;
            }
        }
        ok = row.Ok() && ok;
    }
    if (!ok)
        values = valuesBefore_;
    return ok;
}

TCycleOutcome TCycle::RunFormulasChecked(std::span<const std::uint8_t> sample, float t)
{
    // Only for its environment: the inputs (elapsed time) are then worked out
    // at the same precision as in the row, whatever the host's control word.
    const TEvalRow environment;
    TFormula* compiled = formulas_.Data();
    for (std::size_t i = 0; i < data_.Procs.size(); ++i) {
        const TProc& p = data_.Procs[i];
        long double r = 0;
        if (compiled) {
            TFormula& f = compiled[i];
            SetSlots(f, p, sample, t);
            const TEvalResult e = Evaluate(f);
            if (e.Error != FpError::None)
                return {e.Error, i};
            r = e.Value;
        }
        if (!StoreValue(p, state_.Values[i], r))
            return {FpError::Overflow, i};
    }
    return {};
}

void TCycle::Record(std::span<const std::uint8_t> sample, double timeOfDay)
{
    if (recorder_ && recorder_->IsRecording())
        recorder_->Append(static_cast<float>(timeOfDay), sample);
}

TCycleOutcome TCycle::LogPrint(std::span<const std::uint8_t> sample, TShownPage page)
{
    return LogPrintAt(sample, TCycleDrawing{page}, clock_());
}

TCycleOutcome TCycle::LogPrintAt(std::span<const std::uint8_t> sample, const TCycleDrawing& drawing,
                                 double timeOfDay)
{
    const float t = static_cast<float>(timeOfDay);

    Record(sample, t);

    // The state is the run's to replace; one that does not fit the model
    // (assigned empty, or made before the model grew) is fitted, never
    // indexed past its end.
    if (state_.Values.size() != data_.Procs.size())
        state_.Values.resize(data_.Procs.size(), 0.0);
    if (state_.AlarmActive.size() != data_.Gauges.size())
        state_.AlarmActive.resize(data_.Gauges.size(), false);

    if (!RunFormulasInRow(sample, t)) {
        const TCycleOutcome failed = RunFormulasChecked(sample, t);
        if (!failed.Ok())
            return failed;
    }

    LastCycleTime = t;

    if (displays_ && drawing.Charts)
        for (std::size_t k = 0; k < charts_.size(); ++k)
            displays_->AddToChart(k, state_.ValueOf(charts_[k]));

    for (std::size_t i = 0; i < data_.Gauges.size(); ++i) {
        const TPribor& g = data_.Gauges[i];
        state_.AlarmActive[i] = false;
        if (!g.AlarmEnabled)
            continue;
        const bool above = state_.ValueOf(g.FormulaIndex) > g.AlarmLevel;
        if (above != g.AlarmBelow) {
            if (g.AlarmSound && drawing.Sound && displays_)
                displays_->PlayAlarm();
            state_.AlarmActive[i] = true;
        }
    }

    if (displays_) {
        if (drawing.Page == TShownPage::Gauges)
            displays_->DrawPrib();
        else if (drawing.Page == TShownPage::Moment)
            displays_->DrawMoment();
    }
    return {};
}

std::vector<std::uint16_t> ChartFormulas(const TSettings& settings)
{
    std::vector<std::uint16_t> charts;
    charts.reserve(settings.Loggers.size());
    for (const TLogSettings& l : settings.Loggers)
        charts.push_back(l.FormulaIndex);
    return charts;
}


}  // namespace kovra
