// When the serial worker sleeps through a reply on the line: learnt from the
// replies it watched and from how late its own sleeps ended.
#include "link/quiet_plan.h"

#include <gtest/gtest.h>

namespace kovra {
namespace {

using us = std::chrono::microseconds;
constexpr us kMargin{600};

void Learn(TQuietPlan& plan, us wire, us took, int replies)
{
    for (int i = 0; i < replies; ++i)
        plan.Seen(wire, took);
}

// The first replies are watched; then the sleep ends the margin before the
// earliest end seen, scaled to each request's own time on the line.
TEST(QuietPlan, WatchesFirstThenSleepsToJustBeforeTheEarliestEnd)
{
    TQuietPlan plan(kMargin);
    EXPECT_EQ(plan.QuietFor(us(20000)), us::zero());
    Learn(plan, us(20000), us(21500), TQuietPlan::kWatchFirst - 1);
    EXPECT_EQ(plan.QuietFor(us(20000)), us::zero()) << "slept before it had watched enough";
    plan.Seen(us(16000), us(16900));  // this device is 900 us late at best
    EXPECT_EQ(plan.QuietFor(us(20000)), us(20000 + 900) - kMargin);
    EXPECT_EQ(plan.QuietFor(us(10000)), us(10000 + 900) - kMargin);
    EXPECT_EQ(plan.QuietFor(us::zero()), us::zero()) << "a frame without a known reply time";
}

// One early reply holds the plan for a whole window of replies; after that the
// earliest comes from the recent ones only.
TEST(QuietPlan, TheEarliestEndIsTakenOverTheRecentReplies)
{
    TQuietPlan plan(kMargin);
    plan.Seen(us(20000), us(20100));
    Learn(plan, us(20000), us(23000), int(TQuietPlan::kWindow) - 1);
    EXPECT_EQ(plan.QuietFor(us(20000)), us(20100) - kMargin);
    plan.Seen(us(20000), us(23000));
    EXPECT_EQ(plan.QuietFor(us(20000)), us(23000) - kMargin);
}

// A device faster than its line (a pseudo-terminal, a buffering adapter) is
// not held to the line: its replies are whole long before the wire allows.
TEST(QuietPlan, ADeviceFasterThanItsLineIsWatched)
{
    TQuietPlan plan(kMargin);
    Learn(plan, us(20000), us(80), 8);
    EXPECT_EQ(plan.QuietFor(us(20000)), us::zero());
    EXPECT_EQ(plan.QuietFor(us(200000)), us(200000 - 19920) - kMargin);
}

// Woken on time to a whole reply: the reply came earlier than learnt, so the
// next replies are watched and then the plan follows what they showed.
TEST(QuietPlan, AReplyWholeAtAPunctualWakeHasTheNextOnesWatched)
{
    TQuietPlan plan(kMargin);
    Learn(plan, us(20000), us(21000), 8);
    plan.Woke(us(50), true);
    for (int i = 0; i < TQuietPlan::kWatchAfterEarly; ++i) {
        EXPECT_EQ(plan.QuietFor(us(20000)), us::zero()) << "reply " << i;
        plan.Seen(us(20000), us(19000));
    }
    EXPECT_EQ(plan.QuietFor(us(20000)), us(19000) - kMargin);
}

// Woken late (a loaded machine, a coarse timer): the margin grows to the lateness, so
// the next sleeps end early enough, and shrinks back once the load is gone; a
// reply whole after such a late wake is the machine's doing and stops no sleep.
TEST(QuietPlan, LateWakesWidenTheMarginForAWhile)
{
    TQuietPlan plan(kMargin);
    Learn(plan, us(20000), us(21000), 8);
    plan.Woke(us(3000), true);
    EXPECT_EQ(plan.QuietFor(us(20000)), us(21000 - 3000));
    EXPECT_EQ(plan.Margin(us(21000)), us(3000));
    EXPECT_EQ(plan.Margin(us(4000)), us(2000)) << "at most half the reply's expected time";
    for (int i = 0; i < 100; ++i)
        plan.Woke(us(40), false);
    EXPECT_EQ(plan.Margin(us(21000)), kMargin);
    plan.Woke(us(-20), false);  // early wakes count as on time
    EXPECT_EQ(plan.Margin(us(21000)), kMargin);
}

TEST(QuietPlan, ForgetLearnsAnew)
{
    TQuietPlan plan(kMargin);
    Learn(plan, us(20000), us(21000), 8);
    plan.Woke(us(5000), false);
    plan.Forget();
    EXPECT_EQ(plan.QuietFor(us(20000)), us::zero());
    Learn(plan, us(20000), us(30000), TQuietPlan::kWatchFirst);
    EXPECT_EQ(plan.QuietFor(us(20000)), us(30000) - kMargin) << "the old device's replies or load were kept";
}

}  // namespace
}  // namespace kovra
