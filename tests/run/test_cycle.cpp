#include "run/cycle.h"

#include "record/recorder.h"
#include "support/record_test_util.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <string>
#include <vector>

namespace kovra {
namespace {

using test::CompiledSettings;

struct TFakeDisplays : TCycleDisplays {
    std::vector<std::pair<std::size_t, double>> Added;
    int Prib = 0, Moment = 0, Alarms = 0;
    void AddToChart(std::size_t chart, double value) override { Added.emplace_back(chart, value); }
    void DrawPrib() override { ++Prib; }
    void DrawMoment() override { ++Moment; }
    void PlayAlarm() override { ++Alarms; }
};

// "[формула_n]" with the given text and variables ("key=value" lines, UTF-8).
std::string Formula(int n, const std::string& text, const std::vector<std::string>& vars,
                    bool accumulate = false)
{
    std::string s = "[формула_" + std::to_string(n) + "]\nформула=" + text + "\n";
    s += "кол-во_перем=" + std::to_string(vars.size()) + "\n";
    if (accumulate)
        s += "суммировать=1\n";
    for (std::size_t j = 0; j < vars.size(); ++j)
        s += vars[j] + "\n";
    return s;
}

std::string Header(int areaLength, int formulas, int charts = 1, int gauges = 1)
{
    return "[настройки]\nкол-во_областей=1\nкол-во_формул=" + std::to_string(formulas) +
           "\nкол-во_логов=" + std::to_string(charts) + "\nкол-во_приборов=" + std::to_string(gauges) +
           "\n[области]\nразмер_0=" + std::to_string(areaLength) + "\n";
}

// A byte variable named `name` reading sample byte `offset`.
std::vector<std::string> ByteVar(const std::string& name, int offset = 0)
{
    return {"переменная_0=" + name, "отступ_пер_0=" + std::to_string(offset)};
}

TEST(Cycle, BitVariablesTakeOneBitAndNoneOutsideTheByte)
{
    const int bits[] = {1, 2, 8, 0, 9, 33};
    std::string ini = Header(1, 6);
    for (int i = 0; i < 6; ++i)
        ini += Formula(i, "b", {"переменная_0=b", "бит_0=1", "номер_бита_0=" + std::to_string(bits[i])});
    TSettings s = CompiledSettings(ini);
    TCycle cycle(s, {});

    struct {
        std::uint8_t byte;
        double expected[6];
    } const cases[] = {
        {0x81, {1, 0, 1, 0, 0, 0}},
        {0x7E, {0, 1, 0, 0, 0, 0}},
        {0xFF, {1, 1, 1, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const std::uint8_t sample[] = {c.byte};
        ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(cycle.State().Values[i], c.expected[i]) << "byte " << int(c.byte) << " bit " << bits[i];
    }
}

TEST(Cycle, BytesAreUnsignedAndAFormulaWithoutVariablesStillRuns)
{
    TSettings s = CompiledSettings(Header(2, 2) + Formula(0, "a", ByteVar("a", 1)) + Formula(1, "2+3", {}));
    TCycle cycle(s, {});
    const std::uint8_t sample[] = {0, 200};
    ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[0], 200);
    EXPECT_EQ(cycle.State().Values[1], 5);
}

TEST(Cycle, FormulaValuesComeFromThisCycleForEarlierFormulasAndTheLastForLaterOnes)
{
    std::string ini = Header(1, 5);
    ini += Formula(0, "a", ByteVar("a"));
    ini += Formula(1, "p", {"переменная_0=p", "вид_0=1", "номер_формулы_0=0"});  // earlier
    ini += Formula(2, "q", {"переменная_0=q", "вид_0=1", "номер_формулы_0=3"});  // later
    ini += Formula(3, "a*10", ByteVar("a"));
    ini += Formula(4, "a", ByteVar("a"), /*accumulate=*/true);
    TSettings s = CompiledSettings(ini);
    TCycle cycle(s, {});

    const std::uint8_t first[] = {5};
    ASSERT_TRUE(cycle.LogPrint(first, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[1], 5);
    EXPECT_EQ(cycle.State().Values[2], 0);
    EXPECT_EQ(cycle.State().Values[4], 5);

    const std::uint8_t second[] = {7};
    ASSERT_TRUE(cycle.LogPrint(second, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[1], 7);
    EXPECT_EQ(cycle.State().Values[2], 50);
    EXPECT_EQ(cycle.State().Values[3], 70);
    EXPECT_EQ(cycle.State().Values[4], 12);
}

TEST(Cycle, SlotsOfOtherKindsKeepWhatTheyHeld)
{
    TSettings s = CompiledSettings(Header(1, 1) + Formula(0, "k", {"переменная_0=k", "вид_0=7"}));
    TCycle cycle(s, {});
    cycle.Formula(0).SetSlot(0, 42);
    const std::uint8_t sample[] = {9};
    ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[0], 42);
}

TEST(Cycle, ElapsedTimeRunsOnAcrossMidnightAndFromTheLastCycle)
{
    TSettings s = CompiledSettings(Header(1, 1) + Formula(0, "dt", {"переменная_0=dt", "вид_0=2"}));
    TCycle cycle(s, {});
    const std::uint8_t sample[] = {0};
    const double second = 1.0 / 86400;

    struct {
        double last, now, expected, tolerance;
    } const cases[] = {
        {0.5, 0.5 + 2 * second, 2.0, 0.006},                  // noon: t is quantised to ~5 ms
        {1.0 - 0.5 * second, 0.5 * second, 1.0, 0.001},      // across midnight
        {0.25, 0.25 + 0.1 * second, 0.1, 0.003},
    };
    for (const auto& c : cases) {
        cycle.LastCycleTime = c.last;
        cycle.SetClock([&] { return c.now; });
        ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
        EXPECT_NEAR(cycle.State().Values[0], c.expected, c.tolerance) << c.last;
        EXPECT_EQ(cycle.LastCycleTime, static_cast<double>(static_cast<float>(c.now)));
    }

    // A re-send's exact time just after the single-precision t of a cycle:
    // a few milliseconds negative, not a day.
    const double resend = static_cast<double>(static_cast<float>(0.7)) + 1e-9;
    cycle.LastCycleTime = resend;
    cycle.SetClock([&] { return resend; });
    ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
    EXPECT_LT(cycle.State().Values[0], 0);
    EXPECT_GT(cycle.State().Values[0], -0.01);
}

TEST(Cycle, AlarmsHoldAboveOrAtAndBelowTheLevelAndAskForTheSoundEachCycle)
{
    TSettings s = CompiledSettings(Header(1, 1) + Formula(0, "a", ByteVar("a")));
    TPribor& g = s.Data.Gauges.at(0);
    TFakeDisplays screen;
    TCycle cycle(s, {}, &screen);

    struct {
        bool enabled, below, sound;
        std::uint8_t value;
        bool active;
    } const cases[] = {
        {true, false, true, 10, false},  // equal: an above-alarm does not hold
        {true, false, true, 11, true},
        {true, true, true, 10, true},    // equal: a below-alarm holds
        {true, true, true, 9, true},
        {true, true, true, 11, false},
        {true, false, false, 11, true},  // holds, silently
        {false, false, true, 11, false},
    };
    for (const auto& c : cases) {
        g.AlarmEnabled = c.enabled;
        g.AlarmBelow = c.below;
        g.AlarmSound = c.sound;
        g.AlarmLevel = 10;
        cycle.State().AlarmActive[0] = !c.active;
        screen.Alarms = 0;
        const std::uint8_t sample[] = {c.value};
        ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
        ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
        EXPECT_EQ(cycle.State().Alarm(0), c.active) << int(c.value) << " below " << c.below;
        EXPECT_EQ(screen.Alarms, c.active && c.sound ? 2 : 0) << int(c.value) << " below " << c.below;
    }
}

TEST(Cycle, ChartsGetTheirFormulasValueAndOnlyTheShownPageIsDrawn)
{
    TSettings s = CompiledSettings(Header(1, 2, 2) + Formula(0, "a", ByteVar("a")) + Formula(1, "a*2", ByteVar("a")) +
                                   "[логер_0]\nформула=1\n[логер_1]\nформула=0\n");
    TFakeDisplays screen;
    TCycle cycle(s, ChartFormulas(s), &screen);
    const std::uint8_t sample[] = {4};
    for (int page : {0, 1, 2}) {
        screen = {};
        ASSERT_TRUE(cycle.LogPrint(sample, static_cast<TShownPage>(page)).Ok());
        EXPECT_EQ(screen.Added, (std::vector<std::pair<std::size_t, double>>{{0, 8}, {1, 4}}));
        EXPECT_EQ(screen.Prib, page == 1 ? 1 : 0);
        EXPECT_EQ(screen.Moment, page == 2 ? 1 : 0);
    }
}

TEST(Cycle, AFailingFormulaEndsTheCycleThereAfterTheRecordIsTaken)
{
    std::string ini = Header(2, 3);
    ini += Formula(0, "a", ByteVar("a"));
    ini += Formula(1, "a/z", {"переменная_0=a", "переменная_1=z", "отступ_пер_1=1"});
    ini += Formula(2, "a+1", ByteVar("a"));
    ini += "[логер_0]\nформула=0\n[Прибор_0]\nТревога=1\n";
    TSettings s = CompiledSettings(ini);
    TFakeDisplays screen;
    QTemporaryDir dir;
    TRecorder recorder(dir.path().toStdString(), s.Data.SampleLength);
    recorder.SetJournalEnabled(false);
    TCycle cycle(s, ChartFormulas(s), &screen, &recorder);
    cycle.LastCycleTime = 0.25;
    cycle.SetClock([] { return 0.5; });

    const std::uint8_t good[] = {20, 4};
    ASSERT_TRUE(cycle.LogPrint(good, TShownPage::Gauges).Ok());
    EXPECT_EQ(cycle.State().Values[1], 5);
    recorder.Start();
    screen = {};
    cycle.LastCycleTime = 0.25;

    const std::uint8_t zero[] = {30, 0};
    const TCycleOutcome o = cycle.LogPrint(zero, TShownPage::Gauges);
    EXPECT_EQ(o.Error, FpError::DivisionByZero);
    EXPECT_EQ(o.FailedFormula, 1u);
    EXPECT_STREQ(o.Message(), "Floating point division by zero");
    EXPECT_EQ(cycle.State().Values[0], 30);  // before the failure: this cycle's
    EXPECT_EQ(cycle.State().Values[1], 5);   // the failing one keeps its value
    EXPECT_EQ(cycle.State().Values[2], 21);  // after it: not evaluated
    EXPECT_EQ(cycle.LastCycleTime, 0.25);
    EXPECT_TRUE(screen.Added.empty());
    EXPECT_EQ(screen.Prib, 0);
    EXPECT_EQ(recorder.LogBuffer().size(), 1u + 4 + 2);

    // The next cycle runs from the start again.
    ASSERT_TRUE(cycle.LogPrint(good, TShownPage::Gauges).Ok());
    EXPECT_EQ(cycle.State().Values[2], 21);
    EXPECT_EQ(screen.Prib, 1);
}

// Every formula runs before the status is read; what a failure leaves behind
// must still come out as if the cycle had stopped at the first failure.
TEST(Cycle, AFailureIsFoundWhenItsValueIsFiniteAndSumsAreTakenOnce)
{
    std::string ini = Header(2, 5);
    ini += Formula(0, "a", ByteVar("a"), true);
    ini += Formula(1, "1/(a/z)", {"переменная_0=a", "переменная_1=z", "отступ_пер_1=1"});
    ini += Formula(2, "a+", ByteVar("a"));  // refused: evaluates to 0 without code
    ini += Formula(3, "s+1", {"переменная_0=s", "вид_0=1", "номер_формулы_0=0"}, true);
    ini += Formula(4, "exp(a*4)", ByteVar("a"));
    TSettings s = CompiledSettings(ini);
    TCycle cycle(s, {});

    const std::uint8_t good[] = {10, 2};
    ASSERT_TRUE(cycle.LogPrint(good, TShownPage::Charts).Ok());
    const std::vector<double> first = {10, 0.2, 0, 11, std::exp(40.0L)};
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_DOUBLE_EQ(cycle.State().Values[i], first[i]) << i;

    // 1/(250/0) is 0, a finite value; and e^1000 overflows a double later on.
    const std::uint8_t bad[] = {250, 0};
    const TCycleOutcome o = cycle.LogPrint(bad, TShownPage::Charts);
    EXPECT_EQ(o.Error, FpError::DivisionByZero);
    EXPECT_EQ(o.FailedFormula, 1u);
    EXPECT_EQ(cycle.State().Values[0], 260);  // summed once
    for (std::size_t i = 1; i < first.size(); ++i)
        EXPECT_DOUBLE_EQ(cycle.State().Values[i], first[i]) << i;

    ASSERT_TRUE(cycle.LogPrint(good, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[0], 270);
    EXPECT_EQ(cycle.State().Values[3], 11 + 271);
}

TEST(Cycle, AValueBeyondTheRangeOfADoubleIsAnOverflow)
{
    TSettings s = CompiledSettings(Header(1, 1) + Formula(0, "exp(a*4)", ByteVar("a")));
    TCycle cycle(s, {});
    const std::uint8_t small[] = {1};
    ASSERT_TRUE(cycle.LogPrint(small, TShownPage::Charts).Ok());
    const double before = cycle.State().Values[0];
    const std::uint8_t huge[] = {250};  // e^1000: an extended, not a double
    const TCycleOutcome o = cycle.LogPrint(huge, TShownPage::Charts);
    EXPECT_EQ(o.Error, FpError::Overflow);
    EXPECT_EQ(cycle.State().Values[0], before);
}

TEST(Cycle, ASampleShorterThanTheModelReadsZeros)
{
    TSettings s = CompiledSettings(Header(2, 1) + Formula(0, "a+1", ByteVar("a", 1)));
    TCycle cycle(s, {});
    const std::uint8_t shortSample[] = {7};
    ASSERT_TRUE(cycle.LogPrint(std::span<const std::uint8_t>(shortSample, 1), TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values[0], 1);
}

TEST(Cycle, AStateThatDoesNotFitTheModelIsFittedBeforeTheCycleWritesIt)
{
    TSettings s = CompiledSettings(Header(1, 2) + Formula(0, "a", ByteVar("a")) + Formula(1, "1", {}, true));
    TCycle cycle(s, {});
    cycle.State() = TRunState();
    const std::uint8_t sample[] = {42};
    ASSERT_TRUE(cycle.LogPrint(sample, TShownPage::Charts).Ok());
    EXPECT_EQ(cycle.State().Values, (std::vector<double>{42, 1}));
    EXPECT_EQ(cycle.State().AlarmActive.size(), s.Data.Gauges.size());
    EXPECT_EQ(s.Data.Gauges.size(), 1u);
}

}  // namespace
}  // namespace kovra
