// What the cycles of a run change, apart from the configured model that
// set.ini describes and that stays as it was read. A run begins with a fresh
// state sized from its model: every value 0, no alarm, no run on the chart
// tab; starting it again from its beginning is assigning such a state.
//
// The run owns it and its cycles write it; the sums file fills and saves its
// values, and the displays read values and alarms from it (the chart tab also
// keeps its run in it). None of them writes to the model.
#pragma once

#include "config/model.h"

#include <cstddef>
#include <vector>

namespace kovra {

// The chart tab's run, carried from one point to the next.
struct TMomentState {
    double MomentPeak = 0;      // the largest Y of the current run's drawn points
    double MomentPrevX = 0;     // X at the previous point
    bool MomentRestart = false; // X is at or below an eighth of its full scale

    bool operator==(const TMomentState&) const = default;
};

struct TRunState {
    std::vector<double> Values;     // one per formula, in configured order
    std::vector<bool> AlarmActive;  // one per gauge: its alarm held in the last cycle
    TMomentState Moment;

    TRunState() = default;
    // The state a run of data begins with.
    explicit TRunState(const TAllData& data) : Values(data.Procs.size(), 0.0), AlarmActive(data.Gauges.size(), false) {}

    // The current value of formula i, or 0 when there is no such formula.
    double ValueOf(std::size_t i) const { return i < Values.size() ? Values[i] : 0.0; }
    // Whether gauge i's alarm holds; false for a gauge there is not.
    bool Alarm(std::size_t i) const { return i < AlarmActive.size() && AlarmActive[i]; }

    bool operator==(const TRunState&) const = default;
};

}  // namespace kovra
