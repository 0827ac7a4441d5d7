// Compiled formulas: the public face of the formula compiler.
//
// A TFormula holds the machine code made for one formula and the value slots
// that code reads: 80-bit extended floats, 10 bytes apart, variables first
// (slot j is variable j of the name list), then the literals in the order they
// are written. The caller writes the variable slots before each call; literal
// slots are written once, at compilation. A record never moves after it is
// compiled (it is neither copyable nor movable): the code holds its slots'
// address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "formcomp/x87_env.h"

namespace kovra {

// Code buffer: the bytes as emitted, and their copy in executable pages,
// written while writable and then made executable (never both at once).
// Owns those pages.
class CodeSeg {
public:
    CodeSeg() = default;
    ~CodeSeg();
    CodeSeg(const CodeSeg&) = delete;
    CodeSeg& operator=(const CodeSeg&) = delete;

    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    // The emitted bytes, as they are in the executable mapping.
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    void clear();
    void append(std::initializer_list<std::uint8_t> b) { bytes_.insert(bytes_.end(), b); }
    void append(const std::uint8_t* p, std::size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
    // Copies the bytes into executable pages (released by clear() or the
    // destructor); returns their address, or nullptr where code cannot run.
    void* finish();

private:
    std::vector<std::uint8_t> bytes_;
    void* exec_ = nullptr;
    std::size_t execSize_ = 0;
};

// One step of a compiled formula, in postfix order: what the interpreter runs
// and what the generated code was made from, one template per step. Apart
// from Load, each names its row of the operator table (operators.h), in the
// table's order.
enum class OpCode : std::uint8_t {
    Load,  // push slot Slot
    Add, Sub, Mul, Div, Pow, Mod,
    Neg, Sin, Cos, Tg, Ctg, Ln, Lg, Exp, Ind, Abs,
};

struct TOp {
    OpCode Code = OpCode::Load;
    std::uint32_t Slot = 0;  // Load only
};

enum class FpError : std::uint8_t { None, InvalidOperation, DivisionByZero, Overflow };

// The runtime's message for the condition: "Invalid floating point operation",
// "Floating point division by zero", "Floating point overflow".
const char* FpErrorMessage(FpError e);

struct TEvalResult {
    long double Value = 0;
    FpError Error = FpError::None;
};

struct TFormula {
    CodeSeg Code;
    // Entry of the generated code; null when the host cannot run it (the
    // interpreter is used then).
    void* Entry = nullptr;

    TFormula() = default;
    TFormula(const TFormula&) = delete;
    TFormula& operator=(const TFormula&) = delete;

    // Slots as raw 10-byte extended floats, sized to the formula.
    std::size_t SlotCount() const { return slots_.size() / 10; }
    inline void SetSlot(std::size_t i, long double v);  // ignored when i >= SlotCount()
    long double Slot(std::size_t i) const;        // 0 when i >= SlotCount()
    std::uint8_t* SlotBase() { return slots_.data(); }

    // Number of variable slots (the length of the name list given to CompileFormula).
    std::size_t VarSlots = 0;
    bool Accepted = false;
    std::string RefuseReason;          // empty when accepted
    std::vector<std::string> Postfix;  // tokens of an accepted formula
    std::vector<TOp> Ops;              // the same, as steps; empty when refused

    std::vector<std::uint8_t> slots_;
};

// Writes an 80-bit slot. Inline, and on the x87 a store by the x87 itself:
// the generated code's load then takes the value straight from the store,
// where a copy in pieces would stall it on every cycle.
void WriteSlotValue(std::uint8_t* slot, long double v) noexcept;

inline void TFormula::SetSlot(std::size_t i, long double v)
{
    if (i >= SlotCount())
        return;
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && __SIZEOF_LONG_DOUBLE__ >= 10 && \
    !defined(KOVRA_NO_X87)
    struct Ten {
        std::uint8_t b[10];
    };
    __asm__ volatile("fstpt %0" : "=m"(*reinterpret_cast<Ten*>(slots_.data() + 10 * i)) : "t"(v) : "st");
#else
    WriteSlotValue(slots_.data() + 10 * i, v);
#endif
}

// Compiles text (CP1251) over the variable names (CP1251, empty ones included).
// Returns true when code was generated; a refused formula evaluates to 0.
bool CompileFormula(TFormula& f, std::string_view text, const std::vector<std::string>& names);

// Runs the formula: 64-bit precision, round to nearest, whatever the host's
// control word; the x87 is left clean. On an error no value is produced.
inline TEvalResult Evaluate(TFormula& f) noexcept;

// Evaluate's general path: any host control word, leftover flags, errors, and
// hosts where generated code cannot run.
TEvalResult EvaluateSlow(TFormula& f) noexcept;

// A row of evaluations under one x87 environment, with one status read for
// the whole row instead of one per formula: the status read waits for the
// last instruction to finish, which costs more than a short formula itself.
// The values are only good while Ok() holds; once it does not, the caller
// starts again from the same inputs with Evaluate, which names the first
// failing instruction.
class TEvalRow {
public:
    TEvalRow() noexcept;
    ~TEvalRow();
    TEvalRow(const TEvalRow&) = delete;
    TEvalRow& operator=(const TEvalRow&) = delete;

    inline long double Run(TFormula& f) noexcept;
    // No invalid operation, division by zero or overflow since the row began.
    bool Ok() noexcept;

private:
    long double RunWithoutCode(TFormula& f) noexcept;

    std::uint16_t hostCw_;
    bool failed_ = false;
};

#ifdef KOVRA_HAVE_X87_JIT

// The generated code pushes below RSP, so the call steps over the red zone;
// the code leaves its value in ST(0) and changes RAX, RCX and RDX ("^" uses
// RAX and RDX, and saves RBX on the stack).
#define KOVRA_CALL_FORMULA(entry, value)                                                                \
    __asm__ volatile("sub $128, %%rsp\n\t"                                                               \
                     "call *%[e]\n\t"                                                                    \
                     "add $128, %%rsp"                                                                    \
                     : "=t"(value)                                                                        \
                     : [e] "r"(entry)                                                                     \
                     : "rax", "rcx", "rdx", "cc", "memory", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)")

inline TEvalResult Evaluate(TFormula& f) noexcept
{
    // The hot path of every cycle, inline so that the value stays in ST(0):
    // the usual case is a host word that is already the evaluation word and
    // no flag raised, so nothing has to be set, cleared or restored.
    std::uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    if (cw != x87::kEvalControlWord || !f.Entry) [[unlikely]]
        return EvaluateSlow(f);
    long double value;
    std::uint16_t sw;
    KOVRA_CALL_FORMULA(f.Entry, value);
    __asm__ volatile("fnstsw %0" : "=a"(sw));
    if (sw & x87::kErrorFlags) [[unlikely]] {
        // A flag left over from host code lands here too; the slow path finds
        // that nothing failed and gives the value.
        __asm__ volatile("fnclex");
        return EvaluateSlow(f);
    }
    return TEvalResult{value, FpError::None};
}

inline long double TEvalRow::Run(TFormula& f) noexcept
{
    if (!f.Entry) [[unlikely]]
        return RunWithoutCode(f);
    long double value;
    KOVRA_CALL_FORMULA(f.Entry, value);
    return value;
}

#undef KOVRA_CALL_FORMULA

#else

inline TEvalResult Evaluate(TFormula& f) noexcept { return EvaluateSlow(f); }

inline long double TEvalRow::Run(TFormula& f) noexcept { return RunWithoutCode(f); }

#endif

}  // namespace kovra
