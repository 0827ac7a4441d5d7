// The character-class scanner and the operator stack.
#include "formcomp/postfix.h"

#include <cstdint>

#include "formcomp/scanner.h"

namespace kovra {

namespace {

// The words the scanner and the stack know, told apart by length and bytes
// rather than by a string comparison per word (this runs for every token).
enum class Word { None, Function, Sich, Power, Mul, Add, Close, Open, If, Then, Else, Brace };

constexpr std::uint32_t Pack(std::string_view t)
{
    std::uint32_t v = 0;
    for (char c : t) v = (v << 8) | static_cast<unsigned char>(c);
    return v;
}

Word WordOf(std::string_view t)
{
    switch (t.size()) {
    case 1:
        switch (t[0]) {
        case '^': return Word::Power;
        case '*': case '/': return Word::Mul;
        case '+': case '-': return Word::Add;
        case ')': case ']': return Word::Close;
        case '(': case '[': return Word::Open;
        case '{': case '}': return Word::Brace;
        default: return Word::None;
        }
    case 2:
        switch (Pack(t)) {
        case Pack("lg"): case Pack("ln"): case Pack("tg"): return Word::Function;
        case Pack("if"): return Word::If;
        default: return Word::None;
        }
    case 3:
        switch (Pack(t)) {
        case Pack("sin"): case Pack("cos"): case Pack("exp"): case Pack("ctg"): case Pack("ind"): case Pack("abs"):
            return Word::Function;
        case Pack("mod"): return Word::Mul;
        default: return Word::None;
        }
    case 4:
        switch (Pack(t)) {
        case Pack("sich"): return Word::Sich;
        case Pack("then"): return Word::Then;
        case Pack("else"): return Word::Else;
        default: return Word::None;
        }
    default:
        return Word::None;
    }
}

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
    switch (WordOf(token)) {
    case Word::Function: case Word::Sich: kind = TokenKindKind::Function; break;
    case Word::Power: case Word::Mul: case Word::Add: kind = TokenKindKind::Operator; break;
    case Word::If: case Word::Then: case Word::Else: kind = TokenKindKind::Bracket; break;
    default: break;
    }
    if (!token.empty() && (IsOpening(token[0]) || IsClosing(token[0]))) kind = TokenKindKind::Bracket;
    if (ReadsAsNumber(token)) kind = TokenKindKind::Number;
    return kind;
}

int Priority(std::string_view t)
{
    switch (WordOf(t)) {
    case Word::Function: return 5;
    case Word::Power: return 4;
    case Word::Mul: case Word::Sich: return 3;
    case Word::Add: return 2;
    case Word::Close: case Word::Then: case Word::Else: return 1;
    case Word::Open: case Word::If: return 0;
    default: return -1;  // "{" and "}" too
    }
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
    const Word w = WordOf(t);
    return w == Word::Function || w == Word::Sich;
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
