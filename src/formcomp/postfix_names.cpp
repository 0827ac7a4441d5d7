// Reading a formula the way the grammar matches it against the variable names.
//
// Over tokens, the grammar is small:
//   formula  = ["-"] expr                        (the minus becomes "sich")
//   expr     = operand {binop operand}           binop: the table's binary operators
//   operand  = [function] primary                function: the table's, but "sich"
//   primary  = name | number | "(" ["-"] expr ")"
//   number   = digits ["." digits]
// (its nesting of operators shapes nothing that is accepted: any sequence of
// binary operators is allowed). Only the cut into tokens can be ambiguous,
// since a name is any byte string. A reading is a walk through the states
// (position, bracket depth, phase), and the preferred reading is the first
// one met by a depth-first search that tries the moves out of each state in
// order of preference. A state from which the end cannot be reached is
// remembered, so no state is searched twice and a formula without overlaps
// is read in one pass. Counting the readings (for the settings check) walks
// all reachable states instead: forwards to reach them, backwards to count.
#include <algorithm>
#include <bit>

#include "formcomp/operators.h"
#include "formcomp/postfix.h"
#include "formcomp/scanner.h"

namespace kovra {

namespace {

enum Phase : std::uint8_t {
    ExprStart,  // an operand, or a leading minus
    Operand,    // a function word, or a primary
    Primary,    // a name, a number or a bracketed expression
    After,      // a binary operator, a closing bracket or the end
};

struct State {
    std::size_t pos;
    std::size_t depth;
    Phase phase;
};

std::uint64_t Key(const State& s)
{
    return (static_cast<std::uint64_t>(s.pos) << 34) | (static_cast<std::uint64_t>(s.depth) << 2) | s.phase;
}

struct Move {
    bool accept = false;  // the end of the text, all brackets closed
    State to{};
    TokenKindKind kind = TokenKindKind::Name;
    std::string_view text;  // the token (a view into the text, or a literal)
    std::size_t begin = 0;
    std::size_t end = 0;
};

class Reader {
public:
    Reader(std::string_view text, const std::vector<std::string>& names) : text_(text)
    {
        for (const std::string& n : names)
            if (!n.empty() && std::find(names_.begin(), names_.end(), n) == names_.end()) names_.push_back(n);
        // Longer names are preferred; equal lengths cannot both match at one place.
        std::stable_sort(names_.begin(), names_.end(),
                         [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    }

    // Calls f for every move out of s, most preferred first; stops when f returns true.
    template <class F>
    void ForEachMove(const State& s, F&& f) const
    {
        const std::size_t n = text_.size();
        const std::size_t p = s.pos;
        auto token = [&](TokenKindKind kind, std::size_t len, Phase phase, std::size_t depth) {
            return f(Move{false, {p + len, depth, phase}, kind, text_.substr(p, len), p, p + len});
        };
        if (s.phase == After) {
            if (p == n) {
                if (s.depth == 0) f(Move{true, s, TokenKindKind::Name, {}, p, p});
                return;
            }
            if (const std::size_t len = BinaryOperatorAt(p); len > 0)
                token(TokenKindKind::Operator, len, Operand, s.depth);
            else if (text_[p] == ')' && s.depth > 0)
                token(TokenKindKind::Bracket, 1, After, s.depth - 1);
            return;
        }
        if (p == n) return;
        for (const std::string& name : names_)
            if (name[0] == text_[p] && text_.substr(p, name.size()) == name &&
                token(TokenKindKind::Name, name.size(), After, s.depth))
                return;
        if (s.phase != Primary) {
            constexpr std::uint32_t kFunctions = RowMask(kGrammarFunctions);
            for (std::uint32_t rows = RowsBeginningWith(text_[p]) & kFunctions; rows != 0; rows &= rows - 1) {
                const std::string_view w = kOperators[std::countr_zero(rows)].Word;
                if (text_.substr(p, w.size()) == w && token(TokenKindKind::Function, w.size(), Primary, s.depth)) return;
            }
        }
        if (const std::size_t len = NumberAt(p); len > 0) {
            if (token(TokenKindKind::Number, len, After, s.depth)) return;
        }
        if (text_[p] == '(' && token(TokenKindKind::Bracket, 1, ExprStart, s.depth + 1)) return;
        if (s.phase == ExprStart && text_[p] == '-')
            f(Move{false, {p + 1, s.depth, Operand}, TokenKindKind::Function, "sich", p, p + 1});
    }

    // Counts the readings from every reachable state (capped at 2); returns
    // the count from the start.
    int Count()
    {
        headAt_.assign(text_.size() + 1, -1);
        Reach({0, 0, ExprStart});
        // Every move consumes at least one byte, so states only lead to later
        // positions: reach forwards, then count backwards.
        for (std::size_t pos = 0; pos <= text_.size(); ++pos) {
            for (std::int32_t i = headAt_[pos]; i >= 0; i = recs_[static_cast<std::size_t>(i)].nextAtPos) {
                const State s = recs_[static_cast<std::size_t>(i)].state;
                ForEachMove(s, [&](const Move& m) {
                    if (!m.accept) Reach(m.to);
                    return false;
                });
            }
        }
        for (std::size_t pos = text_.size() + 1; pos-- > 0;) {
            for (std::int32_t i = headAt_[pos]; i >= 0; i = recs_[static_cast<std::size_t>(i)].nextAtPos) {
                int total = 0;
                ForEachMove(recs_[static_cast<std::size_t>(i)].state, [&](const Move& m) {
                    total += m.accept ? 1 : CountAt(m.to);
                    return total >= 2;
                });
                recs_[static_cast<std::size_t>(i)].count = static_cast<std::uint8_t>(std::min(total, 2));
            }
        }
        return CountAt({0, 0, ExprStart});
    }

    // The preferred reading, searched depth first; empty when there is none.
    scan::SpannedList Search()
    {
        struct Frame {
            State state;
            std::size_t movesBegin, cursor, movesEnd;  // in pool
        };
        std::vector<Move> pool;
        std::vector<Frame> frames;
        pool.reserve(text_.size() + 8);  // about one move per token on a plain formula
        frames.reserve(text_.size() + 2);
        auto open = [&](const State& s) {
            const std::size_t begin = pool.size();
            ForEachMove(s, [&](const Move& m) {
                pool.push_back(m);
                return false;
            });
            frames.push_back({s, begin, begin, pool.size()});
        };
        open({0, 0, ExprStart});
        while (!frames.empty()) {
            Frame& f = frames.back();
            if (f.cursor == f.movesEnd) {
                Reach(f.state);  // a known state is one that leads nowhere
                pool.resize(f.movesBegin);
                frames.pop_back();
                continue;
            }
            const Move m = pool[f.cursor++];
            if (m.accept) {
                scan::SpannedList out;
                out.reserve(frames.size());
                for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
                    const Move& taken = pool[frames[i].cursor - 1];
                    out.push_back({std::string(taken.text), taken.kind, taken.begin, taken.end});
                }
                return out;
            }
            if (!Known(m.to)) open(m.to);
        }
        return {};
    }

    // The preferred reading; Count() must have found one.
    scan::SpannedList Follow() const
    {
        scan::SpannedList out;
        State s{0, 0, ExprStart};
        for (bool done = false; !done;) {
            bool moved = false;
            ForEachMove(s, [&](const Move& m) {
                if (m.accept) {
                    done = moved = true;
                    return true;
                }
                if (CountAt(m.to) == 0) return false;
                out.push_back({std::string(m.text), m.kind, m.begin, m.end});
                s = m.to;
                moved = true;
                return true;
            });
            if (!moved) return {};  // cannot happen when the start has a reading
        }
        return out;
    }

private:
    // Length of the longest binary operator word at p, or 0.
    std::size_t BinaryOperatorAt(std::size_t p) const
    {
        constexpr std::uint32_t kBinary = RowMask(kBinaryOperators);
        std::size_t len = 0;
        for (std::uint32_t rows = RowsBeginningWith(text_[p]) & kBinary; rows != 0; rows &= rows - 1) {
            const std::string_view w = kOperators[std::countr_zero(rows)].Word;
            if (w.size() > len && text_.substr(p, w.size()) == w) len = w.size();
        }
        return len;
    }

    // Length of the number at p: the whole digit run, and a point with the
    // whole following digit run. A shorter number could only be followed by a
    // digit or a point, which nothing after an operand may begin with.
    std::size_t NumberAt(std::size_t p) const
    {
        auto digits = [&](std::size_t i) {
            std::size_t j = i;
            while (j < text_.size() && text_[j] >= '0' && text_[j] <= '9') ++j;
            return j - i;
        };
        const std::size_t whole = digits(p);
        if (whole == 0) return 0;
        if (p + whole < text_.size() && text_[p + whole] == '.') {
            const std::size_t frac = digits(p + whole + 1);
            if (frac > 0) return whole + 1 + frac;
        }
        return whole;
    }

    struct Rec {
        State state;
        std::uint64_t key = 0;
        std::uint8_t count = 0;
        std::int32_t nextAtPos = -1;  // the next state at the same position
    };

    // Index of a state's record (open addressing; slot value 0 is free).
    std::size_t Slot(std::uint64_t key) const
    {
        std::uint64_t x = key;  // splitmix64's finalizer: every key bit reaches the low bits
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        std::size_t h = static_cast<std::size_t>(x ^ (x >> 31)) & (slots_.size() - 1);
        while (slots_[h] != 0 && recs_[slots_[h] - 1].key != key) h = (h + 1) & (slots_.size() - 1);
        return h;
    }

    void Reach(const State& s)
    {
        if ((recs_.size() + 1) * 2 > slots_.size()) {
            slots_.assign(std::max<std::size_t>(64, slots_.size() * 2), 0);
            for (std::size_t i = 0; i < recs_.size(); ++i) slots_[Slot(recs_[i].key)] = static_cast<std::uint32_t>(i + 1);
        }
        const std::uint64_t key = Key(s);
        const std::size_t h = Slot(key);
        if (slots_[h] != 0) return;
        recs_.push_back({s, key, 0, headAt_.empty() ? -1 : headAt_[s.pos]});
        slots_[h] = static_cast<std::uint32_t>(recs_.size());
        if (!headAt_.empty()) headAt_[s.pos] = static_cast<std::int32_t>(recs_.size() - 1);
    }

    int CountAt(const State& s) const
    {
        if (slots_.empty()) return 0;
        const std::size_t h = Slot(Key(s));
        return slots_[h] == 0 ? 0 : recs_[slots_[h] - 1].count;
    }
    bool Known(const State& s) const { return !slots_.empty() && slots_[Slot(Key(s))] != 0; }

    std::string_view text_;
    std::vector<std::string> names_;
    std::vector<Rec> recs_;
    std::vector<std::uint32_t> slots_;
    std::vector<std::int32_t> headAt_;
};

}  // namespace

namespace scan {

SpannedList ScanByGrammar(std::string_view prepared, const std::vector<std::string>& names, int* readings)
{
    Reader reader(prepared, names);
    if (!readings) return reader.Search();
    const int count = reader.Count();
    *readings = count;
    if (count == 0) return {};
    return reader.Follow();
}

PostfixList ToPostfixOrder(const SpannedList& infix)
{
    PostfixList output;
    output.reserve(infix.size());
    std::vector<const SpannedToken*> stack;
    for (const SpannedToken& t : infix) {
        switch (t.Kind) {
        case TokenKindKind::Name:
        case TokenKindKind::Number:
            output.push_back({t.Text, t.Kind});
            break;
        case TokenKindKind::Bracket:
            if (t.Text == "(") {
                stack.push_back(&t);
            } else {
                while (!stack.empty()) {
                    const SpannedToken* e = stack.back();
                    stack.pop_back();
                    if (e->Text == "(") break;
                    output.push_back({e->Text, e->Kind});
                }
            }
            break;
        default: {
            const int p = Priority(t.Text);
            while (!stack.empty() && p <= Priority(stack.back()->Text)) {
                output.push_back({stack.back()->Text, stack.back()->Kind});
                stack.pop_back();
            }
            stack.push_back(&t);
        }
        }
    }
    while (!stack.empty()) {
        if (stack.back()->Kind != TokenKindKind::Bracket) output.push_back({stack.back()->Text, stack.back()->Kind});
        stack.pop_back();
    }
    return output;
}

}  // namespace scan

PostfixList ToPostfixTokens(std::string_view prepared, const std::vector<std::string>& names)
{
    return scan::ToPostfixOrder(scan::ScanByGrammar(prepared, names));
}

TokenList ToPostfixWithNames(std::string_view prepared, const std::vector<std::string>& names)
{
    TokenList out;
    for (PostfixToken& t : ToPostfixTokens(prepared, names)) out.push_back(std::move(t.Text));
    return out;
}

bool IsAmbiguous(std::string_view prepared, const std::vector<std::string>& names)
{
    int readings = 0;
    scan::ScanByGrammar(prepared, names, &readings);
    return readings > 1;
}

}  // namespace kovra
