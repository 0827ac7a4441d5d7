// When the serial worker may sleep instead of watching the port after it sent
// a request. A waiting reader is woken by the driver for every byte that
// comes, whatever the read threshold, so watching a reply cross the line at
// 9600 bit/s costs a wake-up per byte; sleeping through the part of the reply
// that cannot be whole yet costs one. How early a reply can be whole is
// learnt from the replies watched: the line's own time for the request and
// the reply, plus what this device (and this machine) add to it or, for a
// device faster than its line, take from it. How long before that the sleep
// must end is learnt from how late the sleeps themselves end, so that a loaded
// machine, which wakes the worker late, has it watch more of each reply
// instead of losing time on it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>

namespace kovra {

class TQuietPlan {
public:
    using TMicros = std::chrono::microseconds;

    // Replies the earliest is taken over: enough that one late stretch does
    // not move it, few enough that a device that slows down is followed.
    static constexpr std::size_t kWindow = 32;
    // Replies watched before the first quiet wait, and again after a reply
    // came earlier than learnt.
    static constexpr int kWatchFirst = 4;
    static constexpr int kWatchAfterEarly = 2;

    explicit TQuietPlan(TMicros minimumMargin) : m_MinimumMargin(minimumMargin) {}

    // How long to sleep after sending a request whose request and reply take
    // `wire` on the line; zero: watch the port at once.
    TMicros QuietFor(TMicros wire) const;
    // How long before the earliest end the sleep ends: at least the minimum
    // and the recent lateness of the sleeps, never more than half the time
    // the reply is expected to take.
    TMicros Margin(TMicros expected) const;

    // A reply watched come in, whole `took` after its request was sent.
    void Seen(TMicros wire, TMicros took);
    // A quiet wait ended `late` after it was meant to; `whole`: the reply
    // was whole already. Whole with the sleep on time means the reply came
    // earlier than learnt, and the next ones are watched to learn how early.
    void Woke(TMicros late, bool whole);
    // Another device, or the same one after a reopen: learn anew.
    void Forget();

private:
    TMicros Earliest(TMicros wire) const;

    TMicros m_MinimumMargin;
    std::array<TMicros, kWindow> m_Lateness{};  // took - wire
    std::size_t m_Count = 0;
    std::size_t m_Next = 0;
    int m_WatchLeft = kWatchFirst;
    TMicros m_SleepLate{0};  // a decaying maximum of the sleeps' lateness
};

}  // namespace kovra
