// Internals shared by the two formula scanners (not part of the compiler's face).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "formcomp/postfix.h"

namespace kovra::scan {

// A token in the order it is handed to the operator stack, with the bytes of
// the prepared text it was cut from ([Begin, End); a "sich" spans its minus).
struct SpannedToken {
    std::string Text;
    TokenKindKind Kind = TokenKindKind::Name;
    std::size_t Begin = 0;
    std::size_t End = 0;
};
using SpannedList = std::vector<SpannedToken>;

bool IsFunctionWord(std::string_view t);  // the table's functions, "sich" included
// Tokens of the character-class scanner; kinds as TokenKind gives them.
SpannedList ScanByClasses(std::string_view prepared);

// Tokens of the reading the grammar matched (preferences in postfix.h); the
// count of readings, capped at 2, goes to *readings when given. Empty when
// there is no reading.
SpannedList ScanByGrammar(std::string_view prepared, const std::vector<std::string>& names, int* readings = nullptr);

// Operator-stack conversion of tokens whose kinds are known.
PostfixList ToPostfixOrder(const SpannedList& infix);

}  // namespace kovra::scan
