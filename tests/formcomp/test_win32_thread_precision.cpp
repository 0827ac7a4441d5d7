// A thread that the system starts gets the system's default x87 control word,
// not the one the runtime set in the main thread: on Windows x64 that is
// 53-bit precision (0x027F). (MinGW's runtime resets the word to 64 bits in
// its main thread and in threads of its own pthreads, but not in a thread made
// by CreateThread or _beginthreadex, as a framework's threads are.) Formulas
// evaluated there must still give the 64-bit results, and the thread's own
// word must come back unchanged.
#include "formcomp/formula.h"
#include "formcomp/extended.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kovra {
namespace {

#ifdef KOVRA_HAVE_X87_ASM

std::uint16_t ControlWord()
{
    std::uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

// Runs work on a thread started by the system itself where there is one.
void OnFreshThread(const std::function<void()>& work)
{
#if defined(_WIN32)
    HANDLE h = CreateThread(
        nullptr, 0, [](void* w) -> DWORD { (*static_cast<const std::function<void()>*>(w))(); return 0; },
        const_cast<std::function<void()>*>(&work), 0, nullptr);
    ASSERT_NE(h, nullptr);
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
#else
    std::thread(work).join();
#endif
}

struct ThreadRun {
    std::uint16_t Before = 0, After = 0;
    TExtended Third{}, Mixed{}, RowThird{}, RowMixed{};
};

TEST(ThreadPrecision, AFreshThreadsDefaultWordGivesTheFullPrecisionResults)
{
    TFormula third, mixed;
    ASSERT_TRUE(CompileFormula(third, "x/3", {"x"}));
    ASSERT_TRUE(CompileFormula(mixed, "x^0.5+sin(x)*exp(x/7)", {"x"}));
    third.SetSlot(0, 1);
    mixed.SetSlot(0, 2);
    const TEvalResult refThird = Evaluate(third), refMixed = Evaluate(mixed);
    ASSERT_EQ(refThird.Error, FpError::None);
    ASSERT_EQ(refMixed.Error, FpError::None);

    ThreadRun run;
    OnFreshThread([&] {
        run.Before = ControlWord();
        run.Third = LongDoubleToExtended(Evaluate(third).Value);
        run.Mixed = LongDoubleToExtended(Evaluate(mixed).Value);
        {
            TEvalRow row;
            run.RowThird = LongDoubleToExtended(row.Run(third));
            run.RowMixed = LongDoubleToExtended(row.Run(mixed));
        }
        run.After = ControlWord();
    });

#if defined(_WIN32) && defined(__x86_64__)
    EXPECT_EQ(run.Before & 0x0300, 0x0200) << "not the 53-bit default of Windows x64: the case tests nothing";
#endif
    EXPECT_EQ(run.After, run.Before);
    const TExtended a = LongDoubleToExtended(refThird.Value), b = LongDoubleToExtended(refMixed.Value);
    EXPECT_EQ(run.Third.Mantissa, a.Mantissa);
    EXPECT_EQ(run.Third.SignExp, a.SignExp);
    EXPECT_EQ(run.Mixed.Mantissa, b.Mantissa);
    EXPECT_EQ(run.Mixed.SignExp, b.SignExp);
    EXPECT_EQ(run.RowThird.Mantissa, a.Mantissa);
    EXPECT_EQ(run.RowMixed.Mantissa, b.Mantissa);
    // 1/3 in 64 bits ends in ...AAAB: 53 bits would have rounded it away.
    EXPECT_EQ(a.Mantissa & 0x7FF, 0x2ABu);
}

#endif

}  // namespace
}  // namespace kovra
