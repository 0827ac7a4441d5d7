// The operators and functions of the formula language, one row each.
//
// Every stage reads this table and nothing else about them: the grammar
// builds its function rules and its levels of binary operators from it, the
// scanners their word sets, the operator stack its priorities, the stack
// check the needs and effects, and the code generator the templates; the two
// interpreters reach their steps through it (each step stays beside its
// instructions, in interpreter.cpp). A new operator is its OpCode, one row
// here and its two interpreter steps; a missing step fails the build.
//
// The templates are the 32-bit ones of the original compiler, carried over to
// x86-64 where they must be: "^" adjusts RSP with 64-bit instructions (so two
// of its jumps grow by one), and "tg"/"ctg" test C2 after fptan as "sin" does,
// since an out-of-range fptan pushes nothing and the plain template would then
// pop one register too many.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "formcomp/formula.h"
#include "formcomp/postfix.h"

namespace kovra {

// A template's bytes held in the row itself, so that a row is one literal.
class TTemplate {
public:
    constexpr TTemplate(std::initializer_list<std::uint8_t> bytes)
    {
        for (std::uint8_t b : bytes) bytes_[size_++] = b;  // overflowing the capacity stops the constant evaluation
    }
    constexpr const std::uint8_t* data() const { return bytes_.data(); }
    constexpr std::size_t size() const { return size_; }
    constexpr std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }

private:
    std::array<std::uint8_t, 120> bytes_{};
    std::size_t size_ = 0;
};

struct TOperator {
    std::string_view Word;  // as written in a prepared formula; at most 4 bytes
    OpCode Code;
    // Function: one operand, written after it. Operator: two, written around it.
    TokenKindKind Kind;
    int Arity;
    int Priority;    // on the operator stack; higher binds tighter
    bool InGrammar;  // false for "sich", the unary minus, which only the scanner makes
    int Need;        // x87 registers the template needs beyond the operands on the stack
    TTemplate Template;

    // Change of the stack depth: the operands are popped, one value pushed.
    constexpr int Effect() const { return 1 - Arity; }
};

// The binary operators in the order the grammar nests them, outermost first
// (the order shapes acceptance only, never evaluation); then the functions.
// clang-format off
inline constexpr TOperator kOperators[] = {
    {"+",   OpCode::Add, TokenKindKind::Operator, 2, 2, true, 0, {0xDE, 0xC1}},  // faddp
    {"-",   OpCode::Sub, TokenKindKind::Operator, 2, 2, true, 0, {0xDE, 0xE9}},  // fsubp
    {"*",   OpCode::Mul, TokenKindKind::Operator, 2, 3, true, 0, {0xDE, 0xC9}},  // fmulp
    {"/",   OpCode::Div, TokenKindKind::Operator, 2, 3, true, 0, {0xDE, 0xF9}},  // fdivp
    {"^",   OpCode::Pow, TokenKindKind::Operator, 2, 4, true, 2, {
        // a == 0: b > 0 gives a, otherwise the general path (which faults)
        0xD9, 0xC9, 0xD9, 0xE4, 0x9B, 0xDF, 0xE0, 0x9E, 0xD9, 0xC9, 0x75, 0x0E, 0xD9, 0xEE, 0xD8, 0xD9,
        0x9B, 0xDF, 0xE0, 0x9E, 0x73, 0x10, 0xDD, 0xD8, 0xEB, 0x5B,
        // integral b takes the integer path
        0xD9, 0xC0, 0xD9, 0xFC, 0xD8, 0xD9, 0x9B, 0xDF, 0xE0, 0x9E, 0x74, 0x1A,
        // general path: 2^(b log2 a)
        0xD9, 0xC9, 0xD9, 0xF1, 0xD9, 0xC0, 0xD9, 0xFC, 0xD9, 0xC9, 0xD8, 0xE1, 0xD9, 0xF0, 0xD9, 0xE8,
        0xDE, 0xC1, 0xD9, 0xFD, 0xD9, 0xC9, 0xDD, 0xD8, 0xEB, 0x35,
        // integer path: push rbx; sub rsp,8; fistp dword [rsp]; fwait; pop rax
        0x53, 0x48, 0x83, 0xEC, 0x08, 0xDB, 0x1C, 0x24, 0x9B, 0x58,
        // square and multiply over |n|, 1/r for n < 0; pop rbx; fwait
        0x89, 0xC3, 0x99, 0xD9, 0xE8, 0x31, 0xD0, 0x29, 0xD0, 0x74, 0x1B, 0xD9, 0xC9, 0xEB, 0x02, 0xD8,
        0xC8, 0xD1, 0xE8, 0x73, 0xFA, 0xDC, 0xC9, 0x75, 0xF6, 0xDD, 0xD8, 0x83, 0xFB, 0x00, 0x7D, 0x0A,
        0xD9, 0xE8, 0xDE, 0xF1, 0xEB, 0x04, 0xD9, 0xC9, 0xDD, 0xD8, 0x5B, 0x9B}},
    // fxch; fprem; fxch; ffree st(0); fincstp
    {"mod", OpCode::Mod, TokenKindKind::Operator, 2, 3, true, 0, {0xD9, 0xC9, 0xD9, 0xF8, 0xD9, 0xC9, 0xDD, 0xC0, 0xD9, 0xF7}},
    {"sich", OpCode::Neg, TokenKindKind::Function, 1, 3, false, 0, {0xD9, 0xE0}},  // fchs
    // fsin / fcos; fnstsw ax; sahf; jnp in_range; fstp st(0); fldz
    {"sin", OpCode::Sin, TokenKindKind::Function, 1, 5, true, 0, {0xD9, 0xFE, 0xDF, 0xE0, 0x9E, 0x7B, 0x04, 0xDD, 0xD8, 0xD9, 0xEE}},
    {"cos", OpCode::Cos, TokenKindKind::Function, 1, 5, true, 0, {0xD9, 0xFF, 0xDF, 0xE0, 0x9E, 0x7B, 0x04, 0xDD, 0xD8, 0xD9, 0xEE}},
    // fptan; fnstsw ax; sahf; jnp in_range; fstp st(0); fldz; jmp done;
    // in_range: fstp st(0) (tg) or fdivrp st(1),st (ctg); done: fwait
    {"tg",  OpCode::Tg,  TokenKindKind::Function, 1, 5, true, 1, {0xD9, 0xF2, 0xDF, 0xE0, 0x9E, 0x7B, 0x06, 0xDD, 0xD8, 0xD9, 0xEE,
                                                                  0xEB, 0x02, 0xDD, 0xD8, 0x9B}},
    {"ctg", OpCode::Ctg, TokenKindKind::Function, 1, 5, true, 1, {0xD9, 0xF2, 0xDF, 0xE0, 0x9E, 0x7B, 0x06, 0xDD, 0xD8, 0xD9, 0xEE,
                                                                  0xEB, 0x02, 0xDE, 0xF1, 0x9B}},
    // fldln2 / fldlg2; fxch; fyl2x
    {"ln",  OpCode::Ln,  TokenKindKind::Function, 1, 5, true, 1, {0xD9, 0xED, 0xD9, 0xC9, 0xD9, 0xF1}},
    {"lg",  OpCode::Lg,  TokenKindKind::Function, 1, 5, true, 1, {0xD9, 0xEC, 0xD9, 0xC9, 0xD9, 0xF1}},
    // fldl2e; fmulp; fld st(0); frndint; fxch; fsub st,st(1); f2xm1; fld1; faddp; fscale; fstp st(1)
    {"exp", OpCode::Exp, TokenKindKind::Function, 1, 5, true, 2, {0xD9, 0xEA, 0xDE, 0xC9, 0xD9, 0xC0, 0xD9, 0xFC, 0xD9, 0xC9, 0xD8,
                                                                  0xE1, 0xD9, 0xF0, 0xD9, 0xE8, 0xDE, 0xC1, 0xD9, 0xFD, 0xDD, 0xD9}},
    // fldz; fcompp; fwait; fnstsw ax; sahf; ja zero; fld1; jmp done; zero: fldz
    {"ind", OpCode::Ind, TokenKindKind::Function, 1, 5, true, 1, {0xD9, 0xEE, 0xDE, 0xD9, 0x9B, 0xDF, 0xE0, 0x9E, 0x77, 0x04, 0xD9,
                                                                  0xE8, 0xEB, 0x02, 0xD9, 0xEE}},
    {"abs", OpCode::Abs, TokenKindKind::Function, 1, 5, true, 0, {0xD9, 0xE1}},  // fabs
};
// clang-format on

inline constexpr std::size_t kOperatorCount = std::size(kOperators);

// A word of at most four bytes packed with its length: one integer compare
// per row instead of a string comparison (the scanners ask for every token).
constexpr std::uint64_t PackWord(std::string_view w)
{
    std::uint64_t v = w.size();
    for (char c : w) v = (v << 8) | static_cast<unsigned char>(c);
    return v;
}

namespace detail {
constexpr bool TableIsConsistent()
{
    for (std::size_t i = 0; i < kOperatorCount; ++i) {
        const TOperator& o = kOperators[i];
        // OperatorOf indexes the table by OpCode.
        if (static_cast<std::size_t>(o.Code) != i + 1) return false;
        if (o.Word.empty() || o.Word.size() > 4) return false;
        if ((o.Kind == TokenKindKind::Function) != (o.Arity == 1)) return false;
        if (o.Kind != TokenKindKind::Function && (o.Kind != TokenKindKind::Operator || o.Arity != 2)) return false;
        if (o.Template.size() == 0) return false;
        for (std::size_t k = 0; k < i; ++k)
            if (kOperators[k].Word == o.Word) return false;
    }
    return true;
}

inline constexpr auto kPackedWords = [] {
    std::array<std::uint64_t, kOperatorCount> packed{};
    for (std::size_t i = 0; i < kOperatorCount; ++i) packed[i] = PackWord(kOperators[i].Word);
    return packed;
}();

// Per first byte, the rows whose word begins with it: most tokens are names,
// and a name's first byte usually begins no word at all.
static_assert(kOperatorCount <= 32, "the rows of one first byte are a 32-bit mask");
inline constexpr auto kRowsByFirstByte = [] {
    std::array<std::uint32_t, 256> rows{};
    for (std::size_t i = 0; i < kOperatorCount; ++i)
        rows[static_cast<unsigned char>(kOperators[i].Word[0])] |= std::uint32_t{1} << i;
    return rows;
}();
}  // namespace detail

static_assert(detail::TableIsConsistent(),
              "each row: its OpCode in table order, a word of 1 to 4 bytes used once, a function of one operand or "
              "an operator of two, and a template");

namespace detail {
template <bool (*Keep)(const TOperator&)>
constexpr auto RowsWhere()
{
    constexpr std::size_t n = [] {
        std::size_t count = 0;
        for (const TOperator& o : kOperators) count += Keep(o) ? 1 : 0;
        return count;
    }();
    std::array<const TOperator*, n> rows{};
    std::size_t k = 0;
    for (const TOperator& o : kOperators)
        if (Keep(o)) rows[k++] = &o;
    return rows;
}
constexpr bool IsBinaryRow(const TOperator& o) { return o.Kind == TokenKindKind::Operator; }
constexpr bool IsFunctionRow(const TOperator& o) { return o.Kind == TokenKindKind::Function; }
constexpr bool IsGrammarFunctionRow(const TOperator& o) { return IsFunctionRow(o) && o.InGrammar; }
}  // namespace detail

// The rows of one sort, in table order: the binary operators (the grammar's
// levels, outermost first), the function words the scanner cuts off ("sich"
// included), and the functions a formula may name.
inline constexpr auto kBinaryOperators = detail::RowsWhere<detail::IsBinaryRow>();
inline constexpr auto kFunctionWords = detail::RowsWhere<detail::IsFunctionRow>();
inline constexpr auto kGrammarFunctions = detail::RowsWhere<detail::IsGrammarFunctionRow>();

// The rows of one sort as a mask over the table (bit i for row i), and the
// rows whose word begins with byte b: a scanner asks which words may start
// at a position without comparing every one.
template <std::size_t N>
constexpr std::uint32_t RowMask(const std::array<const TOperator*, N>& rows)
{
    std::uint32_t mask = 0;
    for (const TOperator* o : rows) mask |= std::uint32_t{1} << (o - kOperators);
    return mask;
}
constexpr std::uint32_t RowsBeginningWith(char b) { return detail::kRowsByFirstByte[static_cast<unsigned char>(b)]; }

// The row of a word, or null.
constexpr const TOperator* FindOperator(std::string_view word)
{
    if (word.empty() || word.size() > 4) return nullptr;
    std::uint32_t rows = detail::kRowsByFirstByte[static_cast<unsigned char>(word[0])];
    if (rows == 0) return nullptr;
    const std::uint64_t key = PackWord(word);
    for (; rows != 0; rows &= rows - 1) {
        const int i = std::countr_zero(rows);
        if (detail::kPackedWords[i] == key) return &kOperators[i];
    }
    return nullptr;
}

// The row of an OpCode other than Load.
constexpr const TOperator& OperatorOf(OpCode code) { return kOperators[static_cast<std::size_t>(code) - 1]; }

constexpr std::size_t IndexOf(OpCode code) { return static_cast<std::size_t>(code) - 1; }

}  // namespace kovra
