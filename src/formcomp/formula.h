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
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// Executable code buffer: mapped writable while it is filled, then made
// executable (never both at once). Owns its mapping.
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
    // Copies the bytes into fresh executable memory; returns its address or nullptr.
    void* finish();

private:
    std::vector<std::uint8_t> bytes_;
    void* exec_ = nullptr;
    std::size_t execSize_ = 0;
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
    void SetSlot(std::size_t i, long double v);  // ignored when i >= SlotCount()
    long double Slot(std::size_t i) const;        // 0 when i >= SlotCount()
    std::uint8_t* SlotBase() { return slots_.data(); }

    // Number of variable slots (the length of the name list given to CompileFormula).
    std::size_t VarSlots = 0;
    bool Accepted = false;
    std::string RefuseReason;          // empty when accepted
    std::vector<std::string> Postfix;  // tokens of an accepted formula

    std::vector<std::uint8_t> slots_;
};

// Compiles text (CP1251) over the variable names (CP1251, empty ones included).
// Returns true when code was generated; a refused formula evaluates to 0.
bool CompileFormula(TFormula& f, std::string_view text, const std::vector<std::string>& names);

// Runs the formula: 64-bit precision, round to nearest, whatever the host's
// control word; the x87 is left clean. On an error no value is produced.
TEvalResult Evaluate(TFormula& f) noexcept;

}  // namespace kovra
