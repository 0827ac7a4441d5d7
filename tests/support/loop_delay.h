// How long the event loop kept a queued call waiting, as far as the process
// itself is to blame: on a shared machine the wall clock also counts the time
// the scheduler gave the cores to others, the process's CPU time does not.
// A loop that hogs shows in both, so the smaller of the two is what a test of
// the loop's turns can hold against a budget.
#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <ctime>

namespace kovra::test {

class TLoopDelay {
public:
    void Start()
    {
        wall_.start();
        cpu_ = std::clock();
    }
    // Milliseconds since Start.
    double ElapsedMs() const
    {
        const double wallMs = wall_.nsecsElapsed() / 1e6;
        const double cpuMs = double(std::clock() - cpu_) * 1000.0 / CLOCKS_PER_SEC;
        return std::min(wallMs, cpuMs);
    }

private:
    QElapsedTimer wall_;
    std::clock_t cpu_ = 0;
};

}  // namespace kovra::test
