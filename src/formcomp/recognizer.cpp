// Earley recognizer for the formula grammar.
//
// Symbols are integers: a terminal is its byte value (0..255), a nonterminal
// is 256 + its index, so no name byte can ever be taken for a nonterminal.
// An item is (dotted rule, origin); the dotted rules of one rule are numbered
// consecutively, so advancing an item is dr + 1.
//
// Sets are closed with a worklist instead of repeated passes: the grammar has
// no empty right side, so a complete item in set q always started in an
// earlier, already closed set, and one walk over the set (completing and
// predicting as items arrive) reaches the same closure.
//
// Only items that can still take part in a derivation are kept. With b the
// next byte of the text, an item is dead when the symbol after its dot is a
// terminal other than b, or a nonterminal none of whose derivations begins
// with b, or when it is complete and b cannot follow its left side; at the
// end of the text only complete items matter. A dead item can never be
// scanned, nor lead to an item that is, so dropping it leaves the answer as it
// is, and it keeps the sets small: the right-recursive chains of operators
// (x+x+...+x) are completed only where they end, not after every operand.
#include "formcomp/recognizer.h"

#include <array>

#include "formcomp/operators.h"

namespace kovra {

unsigned char LowerCp1251(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF)) return static_cast<unsigned char>(c + 32);
    if (c == 0xA8) return 0xB8;  // Ё -> ё
    return c;
}

std::string PrepareText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (ch == ' ') continue;
        out.push_back(static_cast<char>(LowerCp1251(static_cast<unsigned char>(ch))));
    }
    return out;
}

std::vector<std::string> PrepareNames(const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const std::string& n : names) {
        if (n.empty()) continue;
        std::string low(n);
        for (char& ch : low) ch = static_cast<char>(LowerCp1251(static_cast<unsigned char>(ch)));
        out.push_back(std::move(low));
    }
    return out;
}

namespace {

// Nonterminals by role, in the order of the rule table. From sum to operand
// runs one level per binary operator of the operator table, in table order;
// with the table as it stands:
enum Nt : int {
    Formula,     // formula    = sum | "-" sum
    Sum,         // sum        = difference "+" sum | difference
    Difference,  // difference = product "-" difference | product
    Product,     // product    = quotient "*" product | quotient
    Quotient,    // quotient   = power "/" quotient | power
    Power,       // power      = remainder "^" power | remainder
    Remainder,   // remainder  = operand "mod" remainder | operand
    Operand,     // operand    = function primary | primary    (one rule per function of the table)
    Primary,     // primary    = "(" sum ")" | "(" "-" sum ")" | name | digits | digits "." digits
    Digits,      // digits     = d | d digits                  (for each d from 0 to 9)
    NtCount
};
static_assert(Operand - Sum == static_cast<int>(kBinaryOperators.size()),
              "one grammar level per binary operator of the table: name the new level above");
static_assert(NtCount <= 16, "a closure row keeps its nonterminals in 16 bits");
constexpr int kNtBase = 256;
constexpr int N(Nt n) { return kNtBase + n; }

struct Item {
    std::uint32_t dr;
    std::uint32_t origin;
};

struct ByteSet {
    std::array<std::uint64_t, 4> w{};
    bool Has(unsigned b) const { return (w[b >> 6] >> (b & 63)) & 1u; }
    void Add(unsigned b) { w[b >> 6] |= std::uint64_t{1} << (b & 63); }
    bool Merge(const ByteSet& o)  // true when it grew
    {
        bool grew = false;
        for (int i = 0; i < 4; ++i) {
            const std::uint64_t m = w[i] | o.w[i];
            grew |= m != w[i];
            w[i] = m;
        }
        return grew;
    }
};

struct BaseSets {
    std::array<ByteSet, NtCount> first, follow;
    std::array<bool, NtCount> beginsWithPrimary{};
};

bool TestBit(const std::vector<std::uint64_t>& bits, std::size_t i) { return (bits[i >> 6] >> (i & 63)) & 1u; }
void SetBit(std::vector<std::uint64_t>& bits, std::size_t i) { bits[i >> 6] |= std::uint64_t{1} << (i & 63); }
void ClearBit(std::vector<std::uint64_t>& bits, std::size_t i) { bits[i >> 6] &= ~(std::uint64_t{1} << (i & 63)); }

}  // namespace

struct FormulaGrammar::Impl {
    std::vector<std::string> names;

    // Per dotted rule: the symbol after the dot (-1 when complete), the rule's
    // left side, and for a dot that follows a nonterminal the index of its row
    // in the completion bitset (-1 otherwise). Rule r's dotted rules run from
    // ruleStart[r] to ruleStart[r + 1]; the rules of one nonterminal are
    // consecutive, from ntRules[nt] to ntRules[nt + 1].
    std::vector<std::int32_t> next;
    std::vector<std::uint8_t> lhs;
    std::vector<std::int32_t> compRow;
    int compRows = 0;
    std::vector<std::uint32_t> ruleStart;
    std::array<std::uint32_t, NtCount + 1> ntRules{};

    std::array<ByteSet, NtCount> first;   // bytes a derivation of the nonterminal can begin with
    std::array<ByteSet, NtCount> follow;  // bytes that can come right after it

    // Predicting nonterminal nt before byte b brings in the live rules of nt
    // and of everything that prediction reaches in turn: made when first
    // needed, per row nt * 256 + b.
    struct CloRow {
        std::uint32_t off = 0, len = 0;  // in clo
        std::uint16_t mask = 0;          // the nonterminals reached
        bool ready = false;
    };
    mutable std::vector<CloRow> cloRows;
    mutable std::vector<std::uint32_t> clo;
    const CloRow& Closure(std::size_t row) const;

    // Working chart, kept between calls to spare allocations.
    mutable std::vector<Item> items;
    mutable std::vector<std::uint32_t> setBegin;
    mutable std::vector<std::uint64_t> compSeen;  // [row * (n + 1) + origin]
    mutable std::vector<std::uint64_t> doneSeen;  // [nt * (n + 1) + origin]

    void Build(const std::vector<std::string>& nameList);
    void BuildRules(const std::vector<std::string>& nameList);
    void DeriveSets();
    void AddRule(Nt left, std::initializer_list<int> right, std::string_view word = {}, std::initializer_list<int> tail = {});
    bool Run(std::string_view text) const;

    // Whether an item with this dotted rule, in the set before byte b, can
    // still take part in a derivation (b < 0: the end of the text).
    bool Live(std::uint32_t dr, int b) const
    {
        const int s = next[dr];
        if (b < 0) return s < 0;
        if (s < 0) return follow[lhs[dr]].Has(static_cast<unsigned>(b));
        if (s < kNtBase) return s == b;
        return first[s - kNtBase].Has(static_cast<unsigned>(b));
    }
};

// Right side: the symbols of right, then the bytes of word, then tail.
void FormulaGrammar::Impl::AddRule(Nt left, std::initializer_list<int> right, std::string_view word,
                                   std::initializer_list<int> tail)
{
    ruleStart.push_back(static_cast<std::uint32_t>(next.size()));
    int prev = -1;
    auto symbol = [&](int sym) {
        next.push_back(sym);
        lhs.push_back(static_cast<std::uint8_t>(left));
        compRow.push_back(prev >= kNtBase ? compRows++ : -1);
        prev = sym;
    };
    for (int sym : right) symbol(sym);
    for (char c : word) symbol(static_cast<unsigned char>(c));
    for (int sym : tail) symbol(sym);
    next.push_back(-1);
    lhs.push_back(static_cast<std::uint8_t>(left));
    compRow.push_back(prev >= kNtBase ? compRows++ : -1);
}

void FormulaGrammar::Impl::BuildRules(const std::vector<std::string>& nameList)
{
    names = nameList;
    next.clear();
    lhs.clear();
    compRow.clear();
    compRows = 0;
    ruleStart.clear();

    // The rule table, grouped by left side in the order of Nt.
    auto group = [&](Nt nt) { ntRules[nt] = static_cast<std::uint32_t>(ruleStart.size()); };
    group(Formula);
    AddRule(Formula, {N(Sum)});
    AddRule(Formula, {'-', N(Sum)});
    for (std::size_t i = 0; i < kBinaryOperators.size(); ++i) {
        const Nt level = static_cast<Nt>(Sum + static_cast<int>(i));
        const Nt inner = static_cast<Nt>(level + 1);
        group(level);
        AddRule(level, {N(inner)}, kBinaryOperators[i]->Word, {N(level)});
        AddRule(level, {N(inner)});
    }
    group(Operand);
    for (const TOperator* f : kGrammarFunctions) AddRule(Operand, {}, f->Word, {N(Primary)});
    AddRule(Operand, {N(Primary)});
    group(Primary);
    AddRule(Primary, {'(', N(Sum), ')'});
    AddRule(Primary, {'(', '-', N(Sum), ')'});
    for (std::size_t i = 0; i < names.size(); ++i) {
        // A name listed twice would only repeat an item; an empty one is no rule.
        bool skip = names[i].empty();
        for (std::size_t k = 0; k < i && !skip; ++k) skip = names[k] == names[i];
        if (!skip) AddRule(Primary, {}, names[i]);
    }
    AddRule(Primary, {N(Digits)});
    AddRule(Primary, {N(Digits), '.', N(Digits)});
    group(Digits);
    for (int d = '0'; d <= '9'; ++d) {
        AddRule(Digits, {d});
        AddRule(Digits, {d, N(Digits)});
    }
    ntRules[NtCount] = static_cast<std::uint32_t>(ruleStart.size());
    ruleStart.push_back(static_cast<std::uint32_t>(next.size()));
}

void FormulaGrammar::Impl::Build(const std::vector<std::string>& nameList)
{
    BuildRules(nameList);

    // FIRST and FOLLOW: the rules without names are the same for every
    // list, so their sets are worked out once. A name rule holds no
    // nonterminal, so it changes no FOLLOW set, and it adds its first byte to
    // FIRST of primary and of every nonterminal whose derivations can begin with it.
    static const BaseSets base = [] {
        Impl fixed;
        fixed.BuildRules({});
        fixed.DeriveSets();
        BaseSets sets;
        sets.first = fixed.first;
        sets.follow = fixed.follow;
        const std::size_t ruleCount = fixed.ruleStart.size() - 1;
        for (int nt = 0; nt < NtCount; ++nt) {
            // Left corners of nt, by walking first symbols.
            unsigned reached = 1u << nt;
            for (bool grew = true; grew;) {
                grew = false;
                for (std::size_t r = 0; r < ruleCount; ++r) {
                    const int left = fixed.lhs[fixed.ruleStart[r]];
                    const int head = fixed.next[fixed.ruleStart[r]];
                    if ((reached & (1u << left)) && head >= kNtBase && !(reached & (1u << (head - kNtBase)))) {
                        reached |= 1u << (head - kNtBase);
                        grew = true;
                    }
                }
            }
            sets.beginsWithPrimary[nt] = (reached >> Primary) & 1u;
        }
        return sets;
    }();
    first = base.first;
    follow = base.follow;
    ByteSet nameFirst;
    for (const std::string& name : names)
        if (!name.empty()) nameFirst.Add(static_cast<unsigned char>(name[0]));
    for (int nt = 0; nt < NtCount; ++nt)
        if (base.beginsWithPrimary[nt]) first[nt].Merge(nameFirst);

    cloRows.assign(static_cast<std::size_t>(NtCount) * 256, CloRow{});
    clo.clear();
}

// FIRST and FOLLOW of the rules as built, by fixpoint; no right side is empty.
void FormulaGrammar::Impl::DeriveSets()
{
    // FIRST from the innermost nonterminal out, so that one pass nearly settles it.
    first = {};
    auto firstOf = [&](int sym) {
        ByteSet b;
        if (sym >= kNtBase)
            b = first[sym - kNtBase];
        else
            b.Add(static_cast<unsigned>(sym));
        return b;
    };
    const std::size_t ruleCount = ruleStart.size() - 1;
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t r = ruleCount; r-- > 0;) grew |= first[lhs[ruleStart[r]]].Merge(firstOf(next[ruleStart[r]]));
    }
    // FOLLOW, from the start symbol in.
    follow = {};
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t r = 0; r < ruleCount; ++r) {
            const int left = lhs[ruleStart[r]];
            for (std::uint32_t dr = ruleStart[r]; next[dr] >= 0; ++dr) {
                if (next[dr] < kNtBase) continue;
                ByteSet& f = follow[next[dr] - kNtBase];
                grew |= next[dr + 1] >= 0 ? f.Merge(firstOf(next[dr + 1])) : f.Merge(follow[left]);
            }
        }
    }

}

const FormulaGrammar::Impl::CloRow& FormulaGrammar::Impl::Closure(std::size_t row) const
{
    CloRow& r = cloRows[row];
    if (r.ready) return r;
    // The nonterminals a prediction reaches, in the order reached.
    const int nt = static_cast<int>(row / 256);
    const std::size_t b = row % 256;
    r.off = static_cast<std::uint32_t>(clo.size());
    std::array<int, NtCount> queue{};
    std::size_t queued = 0;
    queue[queued++] = nt;
    unsigned mask = 1u << nt;
    for (std::size_t qi = 0; qi < queued; ++qi) {
        for (std::uint32_t rule = ntRules[queue[qi]]; rule < ntRules[queue[qi] + 1]; ++rule) {
            const std::uint32_t dr = ruleStart[rule];
            if (!Live(dr, static_cast<int>(b))) continue;
            clo.push_back(dr);
            const int s = next[dr];
            if (s >= kNtBase && !(mask & (1u << (s - kNtBase)))) {
                mask |= 1u << (s - kNtBase);
                queue[queued++] = s - kNtBase;
            }
        }
    }
    r.len = static_cast<std::uint32_t>(clo.size()) - r.off;
    r.mask = static_cast<std::uint16_t>(mask);
    r.ready = true;
    return r;
}

bool FormulaGrammar::Impl::Run(std::string_view text) const
{
    const std::size_t n = text.size();
    if (n == 0) return false;  // set 0 holds predictions only, none complete
    const std::size_t width = n + 1;
    auto byteAt = [&](std::size_t i) { return i < n ? static_cast<int>(static_cast<unsigned char>(text[i])) : -1; };

    items.clear();
    setBegin.assign(1, 0);
    compSeen.assign((static_cast<std::size_t>(compRows) * width + 63) / 64, 0);
    doneSeen.assign((static_cast<std::size_t>(NtCount) * width + 63) / 64, 0);

    unsigned predicted = 0;  // nonterminals predicted in the current set
    auto predict = [&](int nt, std::size_t q, int b) {
        if (predicted & (1u << nt)) return;
        const std::size_t row = static_cast<std::size_t>(nt) * 256 + static_cast<unsigned>(b);
        const auto origin = static_cast<std::uint32_t>(q);
        const CloRow& c = Closure(row);
        if ((c.mask & predicted) == 0) {
            // Nothing it reaches has been predicted here yet: take the whole closure at once.
            predicted |= c.mask;
            for (std::uint32_t k = c.off; k < c.off + c.len; ++k) items.push_back({clo[k], origin});
        } else {
            predicted |= 1u << nt;
            for (std::uint32_t rule = ntRules[nt]; rule < ntRules[nt + 1]; ++rule)
                if (Live(ruleStart[rule], b)) items.push_back({ruleStart[rule], origin});
        }
    };

    for (std::size_t q = 0; q <= n; ++q) {
        const std::size_t begin = items.size();
        const int b = byteAt(q);
        predicted = 0;
        if (q == 0) {
            predict(Formula, 0, b);
        } else {
            // Scan: advance over c(q) every item of set q-1 waiting on it.
            const int c = byteAt(q - 1);
            for (std::size_t i = setBegin[q - 1]; i < begin; ++i)
                if (next[items[i].dr] == c && Live(items[i].dr + 1, b)) items.push_back({items[i].dr + 1, items[i].origin});
        }
        for (std::size_t i = begin; i < items.size(); ++i) {
            const Item it = items[i];
            const int s = next[it.dr];
            if (s < 0) {
                const int a = lhs[it.dr];
                const std::size_t doneBit = static_cast<std::size_t>(a) * width + it.origin;
                if (TestBit(doneSeen, doneBit)) continue;
                SetBit(doneSeen, doneBit);
                const int want = kNtBase + a;
                for (std::uint32_t k = setBegin[it.origin]; k < setBegin[it.origin + 1]; ++k) {
                    if (next[items[k].dr] != want) continue;
                    const Item adv{items[k].dr + 1, items[k].origin};
                    if (!Live(adv.dr, b)) continue;
                    const std::size_t bit = static_cast<std::size_t>(compRow[adv.dr]) * width + adv.origin;
                    if (TestBit(compSeen, bit)) continue;
                    SetBit(compSeen, bit);
                    items.push_back(adv);
                }
            } else if (s >= kNtBase) {
                predict(s - kNtBase, q, b);  // live items wait on a nonterminal only before a byte
            }
        }
        const std::size_t end = items.size();
        if (end == begin) return false;  // every later set stays empty
        setBegin.push_back(static_cast<std::uint32_t>(end));
        if (q == n) break;

        // Reset this set's marks for the next one.
        for (std::size_t i = begin; i < end; ++i) {
            const Item it = items[i];
            if (next[it.dr] < 0) ClearBit(doneSeen, static_cast<std::size_t>(lhs[it.dr]) * width + it.origin);
            if (compRow[it.dr] >= 0) ClearBit(compSeen, static_cast<std::size_t>(compRow[it.dr]) * width + it.origin);
        }
    }

    for (std::size_t i = setBegin[n]; i < setBegin[n + 1]; ++i)
        if (next[items[i].dr] < 0 && items[i].origin == 0) return true;
    return false;
}

FormulaGrammar::FormulaGrammar(const std::vector<std::string>& names) : impl_(std::make_unique<Impl>())
{
    impl_->Build(names);
}

FormulaGrammar::~FormulaGrammar() = default;

const std::vector<std::string>& FormulaGrammar::Names() const { return impl_->names; }

bool FormulaGrammar::Recognize(std::string_view prepared) const { return impl_->Run(prepared); }

bool Recognize(std::string_view prepared, const std::vector<std::string>& names)
{
    // Formulas are compiled one after another, and those of one settings file
    // often share their variable names: keep the last grammar.
    thread_local std::unique_ptr<FormulaGrammar> cached;
    if (!cached || cached->Names() != names) cached = std::make_unique<FormulaGrammar>(names);
    return cached->Recognize(prepared);
}

}  // namespace kovra
