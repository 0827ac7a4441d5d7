// Acceptance of a formula by its grammar (an Earley recognizer).
//
// The grammar has one rule per variable name, so it depends on the name list;
// FormulaGrammar holds it built once, and Recognize(text, names) keeps the last
// one per thread, so compiling the formulas of one settings file rebuilds it
// only when the list changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

// Formula text as the grammar and the scanner see it: every space (code 32)
// removed, then lowercased with the CP1251 mapping (A-Z, А-Я, Ё).
std::string PrepareText(std::string_view text);
// Variable names lowercased the same way, empty names left out, order kept.
// Spaces stay: a name holding a space can never match a prepared text.
std::vector<std::string> PrepareNames(const std::vector<std::string>& names);
// One CP1251 byte lowercased.
unsigned char LowerCp1251(unsigned char c);

// True when the prepared text derives from the start symbol with these
// (prepared) names. Every byte of the text and of the names is a terminal;
// empty names are ignored (they are never given a rule).
bool Recognize(std::string_view prepared, const std::vector<std::string>& names);

// The grammar for one name list, built once and asked many times.
class FormulaGrammar {
public:
    explicit FormulaGrammar(const std::vector<std::string>& names);
    ~FormulaGrammar();
    FormulaGrammar(const FormulaGrammar&) = delete;
    FormulaGrammar& operator=(const FormulaGrammar&) = delete;

    // The names it was built for, as given.
    const std::vector<std::string>& Names() const;
    // Same answer as Recognize(prepared, Names()). Not reentrant: one thread
    // at a time per object (it keeps its working chart between calls).
    bool Recognize(std::string_view prepared) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kovra
