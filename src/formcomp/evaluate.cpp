// Evaluate: a call into the generated code under a known x87 environment.
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

TEvalResult Evaluate(TFormula& f) noexcept
{
#ifdef KOVRA_HAVE_X87_JIT
    if (f.Entry) {
        std::uint16_t hostCw, sw;
        const std::uint16_t evalCw = x87::kEvalControlWord;
        long double result;
        // This is the hot path of every cycle: the control word is loaded only
        // when the host's differs, and the flags are not cleared beforehand. A
        // flag left over from host code only sends this call down the slow
        // path, where the interpreter finds that nothing failed. The generated
        // code pushes below RSP, so the red zone is stepped over; no memory
        // operand is used while RSP is moved.
        __asm__ volatile("fnstcw %[hostCw]\n\t"
                         "cmpw $0x037F, %[hostCw]\n\t"
                         "je 1f\n\t"
                         "fldcw %[evalCw]\n"
                         "1:\n\t"
                         "sub $128, %%rsp\n\t"
                         "call *%[entry]\n\t"
                         "add $128, %%rsp\n\t"
                         "fnstsw %[sw]\n\t"
                         "fstpt %[result]"
                         : [hostCw] "=&m"(hostCw), [sw] "=m"(sw), [result] "=m"(result)
                         : [evalCw] "m"(evalCw), [entry] "r"(f.Entry)
                         : "rax", "rcx", "rdx", "cc", "memory", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
        if (sw & (x87::kErrorFlags | (~hostCw & x87::kAllFlags))) [[unlikely]] {
            __asm__ volatile("fnclex");
        }
        if (hostCw != x87::kEvalControlWord) [[unlikely]] {
            __asm__ volatile("fldcw %0" : : "m"(hostCw));
        }
        if (!(sw & x87::kErrorFlags)) [[likely]]
            return TEvalResult{result, FpError::None};
        // Same instructions, checked one by one: names the first failure, or
        // finds none when the flags were left over, and then gives the value.
        return Interpret(f);
    }
#endif
    return Interpret(f);
}

}  // namespace kovra
