// Evaluation's general path, and rows of evaluations under one environment.
//
// The code runs with every exception masked, so a fault leaves a flag instead
// of trapping; when the status shows invalid operation, division by zero or
// overflow, the interpreter runs the same instructions once more, checking
// after each, to name the first that failed. That is the error a trap on the
// unmasked condition would have reported, and no value is given.
#include "formcomp/formula.h"

#include "formcomp/interpreter.h"
#include "formcomp/x87_env.h"

namespace kovra {

TEvalResult EvaluateSlow(TFormula& f) noexcept
{
#ifdef KOVRA_HAVE_X87_JIT
    if (f.Entry) {
        std::uint16_t hostCw, sw;
        const std::uint16_t evalCw = x87::kEvalControlWord;
        long double result;
        // The flags are not cleared beforehand: a flag left over from host
        // code only sends this call on to the interpreter, which finds that
        // nothing failed.
        __asm__ volatile("fnstcw %[hostCw]\n\t"
                         "fldcw %[evalCw]\n\t"
                         "sub $128, %%rsp\n\t"
                         "call *%[entry]\n\t"
                         "add $128, %%rsp\n\t"
                         "fnstsw %[sw]\n\t"
                         "fstpt %[result]"
                         : [hostCw] "=&m"(hostCw), [sw] "=m"(sw), [result] "=m"(result)
                         : [evalCw] "m"(evalCw), [entry] "r"(f.Entry)
                         : "rax", "rcx", "rdx", "cc", "memory", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
        x87::Leave(hostCw);
        if (!(sw & x87::kErrorFlags))
            return TEvalResult{result, FpError::None};
        // Same instructions, checked one by one: names the first failure, or
        // finds none when the flags were left over, and then gives the value.
        return Interpret(f);
    }
#endif
    return Interpret(f);
}

TEvalRow::TEvalRow() noexcept
{
#ifdef KOVRA_HAVE_X87_ASM
    hostCw_ = x87::Enter();
#else
    hostCw_ = 0;
#endif
}

TEvalRow::~TEvalRow()
{
#ifdef KOVRA_HAVE_X87_ASM
    x87::Leave(hostCw_);
#endif
}

bool TEvalRow::Ok() noexcept
{
#ifdef KOVRA_HAVE_X87_ASM
    if (!failed_) {
        std::uint16_t sw;
        __asm__ volatile("fnstsw %0" : "=a"(sw));
        failed_ = (sw & x87::kErrorFlags) != 0;
    }
#endif
    return !failed_;
}

long double TEvalRow::RunWithoutCode(TFormula& f) noexcept
{
    // The interpreter clears the flags when it begins: read them first.
    if (!Ok())
        return 0;
    const TEvalResult r = Interpret(f);
    failed_ = r.Error != FpError::None;
    return r.Value;
}

}  // namespace kovra
