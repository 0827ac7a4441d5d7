// The formula compiler on any text and names: input is "text\0name\0name...".
// A refused formula is refused cleanly; an accepted one gives, in generated
// code and in the interpreter, the same error or the same value bit for bit,
// and both leave the x87 as they found it: same control word, empty stack,
// no flag that would trap.
#include "fuzz_check.h"

#include "formcomp/extended.h"
#include "formcomp/formula.h"
#include "formcomp/interpreter.h"
#include "formcomp/x87_env.h"

using namespace kovra;

namespace {

#ifdef KOVRA_HAVE_X87_ASM
struct TX87Env {
    std::uint16_t Control, r1, Status, r2, Tag, r3;
    std::uint32_t Ip;
    std::uint16_t Cs, Op;
    std::uint32_t Dp;
    std::uint16_t Ds, r4;
};

TX87Env ReadX87()
{
    TX87Env env{};
    // fnstenv masks every exception once it has stored: the word goes back.
    __asm__ volatile("fnstenv %0\n\t"
                     "fldcw %0"
                     : "+m"(env));
    return env;
}

void CheckX87Clean(std::uint16_t hostControl)
{
    const TX87Env env = ReadX87();
    FUZZ_CHECK(env.Control == hostControl);
    FUZZ_CHECK(env.Tag == 0xFFFF);                // every register empty
    FUZZ_CHECK(((env.Status >> 11) & 7) == 0);    // stack top back at 0
    FUZZ_CHECK((env.Status & x87::kErrorFlags) == 0);
    FUZZ_CHECK((env.Status & ~env.Control & x87::kAllFlags) == 0);
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts = fuzz::Parts(data, size, 6);
    const std::string text = parts[0];
    std::vector<std::string> names;
    for (std::size_t i = 1; i < parts.size(); ++i)
        if (!parts[i].empty())
            names.push_back(parts[i]);

    TFormula f;
    const bool ok = CompileFormula(f, text, names);
    FUZZ_CHECK(ok == f.Accepted);
    FUZZ_CHECK(f.SlotCount() >= names.size());
    if (!ok) {
        FUZZ_CHECK(!f.RefuseReason.empty());
        return 0;
    }
    for (const TOp& op : f.Ops)
        if (op.Code == OpCode::Load)
            FUZZ_CHECK(op.Slot < f.SlotCount());

    // Small halves and whole numbers from the input: values where every
    // function is defined and a few where it is not.
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto b = static_cast<unsigned char>(size ? data[(i * 7) % size] : 0);
        f.SetSlot(i, static_cast<long double>(static_cast<int>(b % 15) - 7) / 2);
    }
    const TEvalResult interp = Interpret(f);
#ifdef KOVRA_HAVE_X87_ASM
    std::uint16_t host;
    __asm__ volatile("fnstcw %0" : "=m"(host));
    CheckX87Clean(host);
#endif
    if (!f.Entry || !InterpreterUsesX87())
        return 0;
    const TEvalResult jit = Evaluate(f);
#ifdef KOVRA_HAVE_X87_ASM
    CheckX87Clean(host);
#endif
    FUZZ_CHECK(jit.Error == interp.Error);
    if (jit.Error == FpError::None)
        FUZZ_CHECK(LongDoubleToExtended(jit.Value) == LongDoubleToExtended(interp.Value));
    return 0;
}
