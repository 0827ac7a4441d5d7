#include "link/quiet_plan.h"

#include <algorithm>

namespace kovra {

TQuietPlan::TMicros TQuietPlan::Earliest(TMicros wire) const
{
    const TMicros lateness = *std::min_element(m_Lateness.begin(), m_Lateness.begin() + std::ptrdiff_t(m_Count));
    return wire + lateness;
}

TQuietPlan::TMicros TQuietPlan::Margin(TMicros expected) const
{
    const TMicros margin = std::max(m_MinimumMargin, m_SleepLate);
    return std::min(margin, std::max(expected, TMicros::zero()) / 2);
}

TQuietPlan::TMicros TQuietPlan::QuietFor(TMicros wire) const
{
    if (m_WatchLeft > 0 || m_Count == 0 || wire <= TMicros::zero())
        return TMicros::zero();
    const TMicros earliest = Earliest(wire);
    // A sleep shorter than the margin itself saves no wake-up worth its cost.
    if (earliest <= 2 * m_MinimumMargin)
        return TMicros::zero();
    return earliest - Margin(earliest);
}

void TQuietPlan::Seen(TMicros wire, TMicros took)
{
    if (wire <= TMicros::zero())
        return;
    m_Lateness[m_Next] = took - wire;
    m_Next = (m_Next + 1) % kWindow;
    m_Count = std::min(m_Count + 1, kWindow);
    if (m_WatchLeft > 0)
        --m_WatchLeft;
}

void TQuietPlan::Woke(TMicros late, bool whole)
{
    const TMicros margin = std::max(m_MinimumMargin, m_SleepLate);
    late = std::max(late, TMicros::zero());
    // Decays by an eighth a wait: a burst of load is forgotten within a few
    // dozen replies once it is over. (A loaded machine is as late to wake a
    // worker that watches the port; only lateness of the sleep itself, such as
    // a coarse timer, needs the margin to follow it all the way.)
    m_SleepLate = std::max(late, m_SleepLate - m_SleepLate / 8);
    if (whole && late < margin)
        m_WatchLeft = std::max(m_WatchLeft, kWatchAfterEarly);
}

void TQuietPlan::Forget()
{
    m_Count = 0;
    m_Next = 0;
    m_WatchLeft = kWatchFirst;
    m_SleepLate = TMicros::zero();
}

}  // namespace kovra
