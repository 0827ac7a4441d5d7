// The character-class scanner and the operator stack.
#include "formcomp/postfix.h"

#include <cstdint>

#include "formcomp/operators.h"
#include "formcomp/scanner.h"

namespace kovra {

namespace {

// The bracket words, the operator stack's other priorities: 1 for those that
// close, 0 for those that open, -1 for every other token ("{" and "}" too).
int BracketPriority(std::string_view t)
{
    if (t.size() > 4) return -1;
    switch (PackWord(t)) {
    case PackWord(")"): case PackWord("]"): case PackWord("then"): case PackWord("else"): return 1;
    case PackWord("("): case PackWord("["): case PackWord("if"): return 0;
    default: return -1;
    }
}

bool IsBracketWord(std::string_view t) { return t == "if" || t == "then" || t == "else"; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-] (digits [. digits*] | . digits) [e [+-] digits], the whole token.
bool ReadsAsNumber(std::string_view t)
{
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t mantissaDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++mantissaDigits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == t.size();
}

bool IsOpening(char c) { return c == '(' || c == '[' || c == '{'; }
bool IsClosing(char c) { return c == ')' || c == ']' || c == '}'; }

}  // namespace

CharClassKind CharClass(unsigned char b)
{
    switch (b) {
    case '(': case ')': case '*': case '+': case '-': case '/':
    case '[': case ']': case '^': case '{': case '}':
        return CharClassKind::Sign;
    case '.': case ',':
        return CharClassKind::Point;
    default:
        break;
    }
    if (b >= '0' && b <= '9') return CharClassKind::Digit;
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b >= 0xC0) return CharClassKind::Letter;
    return CharClassKind::Other;
}

TokenKindKind TokenKind(std::string_view token)
{
    TokenKindKind kind = TokenKindKind::Name;
    if (const TOperator* o = FindOperator(token))
        kind = o->Kind;
    else if (IsBracketWord(token))
        kind = TokenKindKind::Bracket;
    if (!token.empty() && (IsOpening(token[0]) || IsClosing(token[0]))) kind = TokenKindKind::Bracket;
    if (ReadsAsNumber(token)) kind = TokenKindKind::Number;
    return kind;
}

int Priority(std::string_view t)
{
    const TOperator* o = FindOperator(t);
    return o ? o->Priority : BracketPriority(t);
}

void PushToken(const std::string& token, TokenList& output, TokenList& stack)
{
    const TokenKindKind kind = TokenKind(token);
    if (kind == TokenKindKind::Name || kind == TokenKindKind::Number) {
        output.push_back(token);
        return;
    }
    const int p = Priority(token);
    if (IsClosing(token[0])) {
        // An unbalanced closing bracket (only a name with brackets in it can
        // bring one) empties the stack and stops instead of popping nothing.
        while (!stack.empty()) {
            std::string e = std::move(stack.back());
            stack.pop_back();
            if (p > Priority(e)) return;
            output.push_back(std::move(e));
        }
        return;
    }
    if (IsOpening(token[0])) {
        stack.push_back(token);
        return;
    }
    while (!stack.empty() && p <= Priority(stack.back())) {
        output.push_back(std::move(stack.back()));
        stack.pop_back();
    }
    stack.push_back(token);
}

namespace {

// Calls emit(token, begin, end) for each token, in the order the operator
// stack takes them.
template <class Emit>
void ScanClasses(std::string_view text, Emit&& emit)
{
    std::string cur;
    std::size_t curBegin = 0;
    CharClassKind prev = CharClassKind::Other;
    bool expectOperand = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char b = text[i];
        const CharClassKind k = CharClass(static_cast<unsigned char>(b));
        if (k == CharClassKind::Other) continue;
        if (cur.empty()) {
            prev = k;
            if (k != CharClassKind::Sign) {
                cur.assign(1, b);
                curBegin = i;
                continue;
            }
            if (expectOperand && b == '-') {
                emit("sich", i, i + 1);
            } else {
                emit(std::string(1, b), i, i + 1);
                expectOperand = IsOpening(b);
            }
            continue;
        }
        if (k == CharClassKind::Sign) {
            emit(std::move(cur), curBegin, i);
            emit(std::string(1, b), i, i + 1);
            cur.clear();
            expectOperand = IsOpening(b);
            prev = CharClassKind::Sign;
            continue;
        }
        expectOperand = false;
        const bool letterDigit = (k == CharClassKind::Letter && prev == CharClassKind::Digit) ||
                                 (k == CharClassKind::Digit && prev == CharClassKind::Letter);
        const bool digitPoint = (k == CharClassKind::Point && prev == CharClassKind::Digit) ||
                                (k == CharClassKind::Digit && prev == CharClassKind::Point);
        if (k == prev || letterDigit) {
            cur.push_back(b);
            if (scan::IsFunctionWord(cur)) {
                emit(std::move(cur), curBegin, i + 1);
                cur.clear();
            }
        } else if (digitPoint) {
            cur.push_back(b);
        } else {
            emit(std::move(cur), curBegin, i);
            cur.assign(1, b);
            curBegin = i;
        }
        prev = k;
    }
    if (!cur.empty()) emit(std::move(cur), curBegin, text.size());
}

}  // namespace

namespace scan {

bool IsFunctionWord(std::string_view t)
{
    const TOperator* o = FindOperator(t);
    return o && o->Kind == TokenKindKind::Function;
}

SpannedList ScanByClasses(std::string_view text)
{
    SpannedList out;
    ScanClasses(text, [&](std::string t, std::size_t begin, std::size_t end) {
        const TokenKindKind kind = TokenKind(t);
        out.push_back({std::move(t), kind, begin, end});
    });
    return out;
}

}  // namespace scan

TokenList ToPostfix(std::string_view prepared)
{
    TokenList output;
    TokenList stack;
    ScanClasses(prepared, [&](const std::string& t, std::size_t, std::size_t) { PushToken(t, output, stack); });
    while (!stack.empty()) {
        output.push_back(std::move(stack.back()));
        stack.pop_back();
    }
    return output;
}

}  // namespace kovra
