// Evaluation of a compiled formula's steps without generated code.
//
// Interpret runs the steps with the very x87 instructions of the generated
// templates, one small assembly block per instruction, and reads the status
// word after each: its values are bit for bit those of the generated code, and
// on an error it names the first instruction that failed. Evaluate uses it to
// name the error when the generated code reports one, and instead of the code
// where the host cannot run it.
#pragma once

#include "formcomp/formula.h"

namespace kovra {

// True when Interpret runs x87 instructions; otherwise it is InterpretPortable.
bool InterpreterUsesX87() noexcept;

// Runs f.Ops over f's slots: 64-bit precision, round to nearest, whatever the
// host's control word (restored on return). A refused or never compiled
// formula gives 0.
TEvalResult Interpret(const TFormula& f) noexcept;

// The same steps in plain long double arithmetic with the same error rules,
// for hosts without an x87: the results may differ in the last bits where the
// host's long double is not the 80-bit format or its library functions are
// rounded differently.
TEvalResult InterpretPortable(const TFormula& f) noexcept;

}  // namespace kovra
