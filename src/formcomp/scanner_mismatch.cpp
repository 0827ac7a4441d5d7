// Why the character-class scanner reads a formula differently from the grammar.
#include <algorithm>

#include "formcomp/operators.h"
#include "formcomp/postfix.h"
#include "formcomp/scanner.h"

namespace kovra {

namespace {

// A byte as it can be shown in a message: control bytes as \xNN.
std::string Shown(std::string_view s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// What in the name itself makes the scanner cut it otherwise; empty when
// nothing does (then its neighbours are the cause).
std::string NameCause(const std::string& name)
{
    for (char c : name) {
        const CharClassKind k = CharClass(static_cast<unsigned char>(c));
        if (k == CharClassKind::Other)
            return "name " + Shown(name) + " contains '" + Shown(std::string(1, c)) +
                   "', which the scanner skips; taken as the whole name";
        if (k == CharClassKind::Sign || k == CharClassKind::Point)
            return "name " + Shown(name) + " contains '" + std::string(1, c) +
                   "', at which the scanner splits; taken as the whole name";
    }
    for (const TOperator* o : kFunctionWords) {
        const std::string_view w = o->Word;
        if (name == w) return "name " + name + " is the function word " + name + "; taken as the variable";
        if (name.starts_with(w))
            return "name " + name + " begins with the function word " + std::string(w) +
                   ", which the scanner cuts off; taken as the whole name";
    }
    switch (TokenKind(name)) {
    case TokenKindKind::Number: return "name " + name + " reads as a number; taken as the variable";
    case TokenKindKind::Operator: return "name " + name + " is the operator word " + name + "; taken as the variable";
    case TokenKindKind::Bracket: return "name " + name + " reads as the word " + name + "; taken as the variable";
    default: return {};
    }
}

const scan::SpannedToken* CoveringToken(const scan::SpannedList& tokens, std::size_t pos)
{
    for (const scan::SpannedToken& t : tokens)
        if (t.Begin <= pos && pos < t.End) return &t;
    return nullptr;
}

}  // namespace

std::string ExplainScannerMismatch(std::string_view prepared, const std::vector<std::string>& names)
{
    int readings = 0;
    const scan::SpannedList grammar = scan::ScanByGrammar(prepared, names, &readings);
    if (grammar.empty()) return {};
    const scan::SpannedList classes = scan::ScanByClasses(prepared);
    auto sameToken = [](const scan::SpannedToken& a, const scan::SpannedToken& b) {
        return a.Text == b.Text && a.Kind == b.Kind;
    };
    if (std::equal(grammar.begin(), grammar.end(), classes.begin(), classes.end(), sameToken)) return {};

    std::vector<std::string> causes;
    auto add = [&](std::string cause) {
        if (!cause.empty() && std::find(causes.begin(), causes.end(), cause) == causes.end())
            causes.push_back(std::move(cause));
    };
    std::vector<const scan::SpannedToken*> unexplained;
    for (const scan::SpannedToken& g : grammar) {
        const bool matched = std::any_of(classes.begin(), classes.end(), [&](const scan::SpannedToken& c) {
            return sameToken(c, g) && c.Begin == g.Begin && c.End == g.End;
        });
        if (matched) continue;
        std::string cause;
        if (g.Kind == TokenKindKind::Name) {
            cause = NameCause(g.Text);
        } else if (g.Kind == TokenKindKind::Operator && g.Text == "mod") {
            const scan::SpannedToken* c = CoveringToken(classes, g.Begin);
            cause = "'mod' in " + Shown(c ? c->Text : std::string(prepared)) +
                    " stands between letters or digits, which the scanner keeps in one token; taken as the operator mod";
        }
        if (cause.empty())
            unexplained.push_back(&g);
        else
            add(std::move(cause));
    }
    if (causes.empty()) {
        for (const scan::SpannedToken* g : unexplained) {
            const scan::SpannedToken* c = CoveringToken(classes, g->Begin);
            add("the scanner reads " + Shown(c ? c->Text : std::string("nothing")) + " where the formula has " +
                Shown(g->Text));
        }
    }
    if (readings > 1) add("the formula reads in more than one way with these names; a name was preferred, the longest first");
    std::string out;
    for (const std::string& c : causes) {
        if (!out.empty()) out += "; ";
        out += c;
    }
    return out;
}

}  // namespace kovra
