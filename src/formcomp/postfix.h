// Cutting a prepared formula into tokens and reordering them to postfix order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

enum class CharClassKind { Sign, Digit, Letter, Point, Other };
enum class TokenKindKind { Name, Function, Operator, Bracket, Number };

CharClassKind CharClass(unsigned char b);
TokenKindKind TokenKind(std::string_view token);
int Priority(std::string_view token);

using TokenList = std::vector<std::string>;

// One step of the operator-stack conversion.
void PushToken(const std::string& token, TokenList& output, TokenList& stack);

// Postfix list of a prepared text that Recognize accepted.
TokenList ToPostfix(std::string_view prepared);

// As ToPostfix, but a configured name is always one token, so that the scanner
// cuts the text as the grammar matched it. Gives exactly ToPostfix's tokens for
// formulas whose names are ordinary (letters and digits, not beginning with a
// function word, not reading as a number or an operator word).
TokenList ToPostfixWithNames(std::string_view prepared, const std::vector<std::string>& names);

}  // namespace kovra
