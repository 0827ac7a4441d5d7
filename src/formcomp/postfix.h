// Cutting a prepared formula into tokens and reordering them to postfix order.
//
// Two scanners live here:
//  - ToPostfix cuts by character classes and knows no names: a name is a run of
//    letters and digits, a function word is cut off as soon as it is spelled.
//  - ToPostfixTokens cuts the text the way the grammar matched it against the
//    variable names, and says the kind of every token. For a formula whose
//    names are ordinary (letters and digits, not beginning with a function
//    word, not reading as a number or a word) and without "mod" written between
//    letters or digits, both give the same tokens. Where they differ, only
//    ToPostfixTokens reads the formula as written; ExplainScannerMismatch says
//    why they differ.
//
// Choosing among readings: with some names a text reads in more than one way
// (names "sinx" and "x" for the text sinx; the name "1" and the literal 1).
// ToPostfixTokens reads from left to right and, wherever an operand begins,
// prefers a configured name to a function word, a number, a bracket or a
// leading minus, and a longer name to a shorter one, as long as the rest of
// the text can still be read by the grammar. Every token of kind Name it
// gives is one of the names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

enum class CharClassKind { Sign, Digit, Letter, Point, Other };
enum class TokenKindKind { Name, Function, Operator, Bracket, Number };

CharClassKind CharClass(unsigned char b);
// By the token's text alone: a token that reads as a decimal number (optional
// sign, digits with an optional point, or a point and digits, then an optional
// exponent) is a Number even when it was meant as a name.
TokenKindKind TokenKind(std::string_view token);
int Priority(std::string_view token);

using TokenList = std::vector<std::string>;

// One step of the operator-stack conversion. A closing bracket that finds the
// stack empty stops there.
void PushToken(const std::string& token, TokenList& output, TokenList& stack);

// Postfix list of a prepared text that Recognize accepted. Any other text
// still gives some list, without fault.
TokenList ToPostfix(std::string_view prepared);

struct PostfixToken {
    std::string Text;
    TokenKindKind Kind = TokenKindKind::Name;

    bool operator==(const PostfixToken&) const = default;
};
using PostfixList = std::vector<PostfixToken>;

// Postfix list of a prepared text over the prepared names (as PrepareNames
// gives them), cut as the grammar matched it. Empty when the grammar does not
// accept the text. The kinds are to be trusted rather than TokenKind of the
// text: a name may be "1", "mod" or "sin". Kinds given: Name (the text is one
// of the names), Number (digits, optionally a point and digits), Function and
// Operator (the words of the operator table, operators.h; "sich" is the unary
// minus).
// Brackets never reach the list.
PostfixList ToPostfixTokens(std::string_view prepared, const std::vector<std::string>& names);

// The texts of ToPostfixTokens. A name that reads as a number or a word loses
// its kind here: use ToPostfixTokens when kinds matter.
TokenList ToPostfixWithNames(std::string_view prepared, const std::vector<std::string>& names);

// Empty when ToPostfix and ToPostfixTokens read the formula alike (or the
// grammar does not accept it). Otherwise one clause per cause, joined by "; ",
// e.g. "name t_1 contains '_', which the scanner skips; taken as the whole name".
std::string ExplainScannerMismatch(std::string_view prepared, const std::vector<std::string>& names);

// True when the grammar matches the text against these names in more than one
// way (the choice above then decided).
bool IsAmbiguous(std::string_view prepared, const std::vector<std::string>& names);

}  // namespace kovra
