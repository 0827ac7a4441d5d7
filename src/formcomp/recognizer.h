// Acceptance of a formula by its grammar (an Earley recognizer).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// Formula text as the grammar and the scanner see it: every space (code 32)
// removed, then lowercased with the CP1251 mapping (A-Z, А-Я, Ё).
std::string PrepareText(std::string_view text);
// Variable names lowercased the same way, empty names left out, order kept.
std::vector<std::string> PrepareNames(const std::vector<std::string>& names);
// One CP1251 byte lowercased.
unsigned char LowerCp1251(unsigned char c);

// True when the prepared text derives from the start symbol with these
// (prepared) names.
bool Recognize(std::string_view prepared, const std::vector<std::string>& names);

}  // namespace kovra
