// CompileFormula: from a formula text to x87 code over the record's slots.
//
// The operations' templates, needs and effects are rows of the operator table
// (operators.h); what is left here is the prologue, the slot loads and the
// walk that puts them together.
#include "formcomp/formula.h"

#include "formcomp/code_arena.h"
#include "formcomp/extended.h"
#include "formcomp/operators.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"
#include "formcomp/x87_env.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kovra {

namespace {

constexpr std::size_t kRegisters = 8;
constexpr std::size_t kMaxSlots = 0x7FFFFFFF / 10;  // the load's displacement is a signed 32-bit value

// The names lowercased, in place (empty names keep their position).
std::vector<std::string> LoweredNames(const std::vector<std::string>& names)
{
    std::vector<std::string> lowered(names);
    for (std::string& n : lowered)
        for (char& c : n)
            c = static_cast<char>(LowerCp1251(static_cast<unsigned char>(c)));
    return lowered;
}

// Position of the last name that equals the token once lowercased (empty
// names count), or -1.
long LastNameSlot(std::string_view token, const std::vector<std::string>& loweredNames)
{
    for (std::size_t i = loweredNames.size(); i-- > 0;)
        if (!loweredNames[i].empty() && loweredNames[i] == token)
            return static_cast<long>(i);
    return -1;
}

void EmitLoad(CodeSeg& code, std::uint32_t slot)
{
    const std::uint32_t d = slot * static_cast<std::uint32_t>(kExtendedSize);
    if (d <= 127) {
        code.append({0xDB, 0x69, static_cast<std::uint8_t>(d)});
    } else {
        code.append({0xDB, 0xA9, static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
                     static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)});
    }
}

bool Refuse(TFormula& f, std::string reason)
{
    f.Accepted = false;
    f.RefuseReason = std::move(reason);
    f.Postfix.clear();
    f.Ops.clear();
    f.slots_.assign(f.VarSlots * kExtendedSize, 0);
    f.Code.clear();
    f.Code.append({0xD9, 0xEE, 0xC3});  // fldz; ret
    f.Entry = f.Code.finish();
    return false;
}

}  // namespace

// ---- CodeSeg ----

CodeSeg::~CodeSeg()
{
    clear();
}

void CodeSeg::clear()
{
    bytes_.clear();
    ReleaseCodeBlock({static_cast<std::uint8_t*>(exec_), execSize_}, true);
    exec_ = nullptr;
    execSize_ = 0;
}

void* CodeSeg::finish()
{
    ReleaseCodeBlock({static_cast<std::uint8_t*>(exec_), execSize_}, true);
    exec_ = nullptr;
    execSize_ = 0;
#ifdef KOVRA_HAVE_X87_JIT
    const CodeBlock block = AcquireCodeBlock(bytes_.size());
    if (!block.Data)
        return nullptr;
    std::memcpy(block.Data, bytes_.data(), bytes_.size());
    if (!SealCodeBlock(block)) {
        ReleaseCodeBlock(block, false);
        return nullptr;
    }
    exec_ = block.Data;
    execSize_ = block.Size;
#endif
    return exec_;
}

// ---- TFormula slots ----

void WriteSlotValue(std::uint8_t* slot, long double v) noexcept
{
    WriteExtended(slot, LongDoubleToExtended(v));
}

long double TFormula::Slot(std::size_t i) const
{
    return i < SlotCount() ? ExtendedToLongDouble(ReadExtended(slots_.data() + kExtendedSize * i)) : 0.0L;
}

const char* FpErrorMessage(FpError e)
{
    switch (e) {
    case FpError::InvalidOperation: return "Invalid floating point operation";
    case FpError::DivisionByZero: return "Floating point division by zero";
    case FpError::Overflow: return "Floating point overflow";
    case FpError::None: break;
    }
    return "";
}

// ---- compilation ----

bool CompileFormula(TFormula& f, std::string_view text, const std::vector<std::string>& names)
{
    f.Entry = nullptr;
    f.VarSlots = names.size();

    const std::string prepared = PrepareText(text);
    const std::vector<std::string> preparedNames = PrepareNames(names);
    if (!Recognize(prepared, preparedNames))
        return Refuse(f, "grammar: not a formula over the given names");
    const PostfixList postfix = ToPostfixTokens(prepared, preparedNames);
    if (postfix.empty())
        return Refuse(f, "grammar: the text cannot be cut into tokens");

    // Steps, literal values and the stack check in one walk.
    const std::vector<std::string> loweredNames = LoweredNames(names);
    std::vector<TOp> ops;
    std::vector<TExtended> literals;
    std::vector<std::string> tokens;
    std::size_t depth = 0, need = 0;
    for (const PostfixToken& t : postfix) {
        TOp op;
        int ownNeed = 1, effect = 1;
        switch (t.Kind) {
        case TokenKindKind::Name: {
            const long slot = LastNameSlot(t.Text, loweredNames);
            if (slot < 0)
                return Refuse(f, "name: '" + t.Text + "' is none of the variables");
            op.Slot = static_cast<std::uint32_t>(slot);
            break;
        }
        case TokenKindKind::Number: {
            TExtended value;
            const DecimalStatus status = DecimalToExtended(t.Text, value);
            if (status != DecimalStatus::Ok)
                return Refuse(f, status == DecimalStatus::Overflow
                                     ? "number: " + t.Text + " is beyond the extended range"
                                     : "number: " + t.Text + " is not a decimal number");
            op.Slot = static_cast<std::uint32_t>(names.size() + literals.size());
            literals.push_back(value);
            break;
        }
        case TokenKindKind::Bracket:
            continue;  // no code
        case TokenKindKind::Function:
        case TokenKindKind::Operator: {
            const TOperator* o = FindOperator(t.Text);
            if (!o)
                return Refuse(f, "grammar: unknown operation '" + t.Text + "'");
            op.Code = o->Code;
            ownNeed = o->Need;
            effect = o->Effect();
            if (depth < static_cast<std::size_t>(o->Arity))
                return Refuse(f, "grammar: '" + t.Text + "' lacks an operand");
            break;
        }
        }
        need = std::max(need, depth + static_cast<std::size_t>(ownNeed));
        if (need > kRegisters)
            return Refuse(f, "stack depth: needs more than " + std::to_string(kRegisters) + " x87 registers");
        depth = static_cast<std::size_t>(static_cast<long>(depth) + effect);
        ops.push_back(op);
        tokens.push_back(t.Text);
    }
    if (depth != 1)
        return Refuse(f, "grammar: the operations leave " + std::to_string(depth) + " values");
    if (names.size() + literals.size() > kMaxSlots)
        return Refuse(f, "slots: more variables and literals than a 32-bit displacement reaches");

    // The slot table is sized once, here: the code holds its address.
    f.slots_.assign((names.size() + literals.size()) * kExtendedSize, 0);
    for (std::size_t i = 0; i < literals.size(); ++i)
        WriteExtended(f.slots_.data() + kExtendedSize * (names.size() + i), literals[i]);

    CodeSeg& code = f.Code;
    code.clear();
    const auto base = reinterpret_cast<std::uintptr_t>(f.slots_.data());
    code.append({0x48, 0xB9});  // mov rcx, imm64
    for (int i = 0; i < 8; ++i)
        code.append({static_cast<std::uint8_t>(static_cast<std::uint64_t>(base) >> (8 * i))});
    for (const TOp& op : ops) {
        if (op.Code == OpCode::Load)
            EmitLoad(code, op.Slot);
        else
            code.append(OperatorOf(op.Code).Template.data(), OperatorOf(op.Code).Template.size());
    }
    code.append({0xC3});  // ret

    f.Accepted = true;
    f.RefuseReason.clear();
    f.Postfix = std::move(tokens);
    f.Ops = std::move(ops);
    f.Entry = code.finish();  // only once the last byte is in place
    return true;
}

}  // namespace kovra
