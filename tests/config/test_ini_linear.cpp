// The INI reader against the reader it replaced, which looked back through the
// whole file for the ']' of every line that starts with '[' (quadratic on a
// file of such lines). The old reader is kept here word for word, trimmed to
// what reading and writing need, as the reference of the exact behaviour.
#include "config/cp1251.h"
#include "config/ini.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

using namespace kovra;

namespace {

namespace reference {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string Folded(std::string out)
{
    for (char& c : out)
        c = static_cast<char>(FoldCase1251(static_cast<unsigned char>(c)));
    return out;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool HasBom(std::string_view bytes)
{
    return bytes.substr(0, kBom.size()) == kBom;
}

bool LooksUtf8(std::string_view bytes)
{
    if (HasBom(bytes))
        return true;
    bool nonAscii = false;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            nonAscii = true;
            break;
        }
    return nonAscii && IsValidUtf8(bytes);
}

class OldIni {
public:
    explicit OldIni(std::string bytes) : bytes_(std::move(bytes)), utf8_(LooksUtf8(bytes_)) { Parse(); }

    const std::string& Bytes() const { return bytes_; }

    std::optional<std::string> Read(std::string_view section, std::string_view key) const
    {
        const auto s = sections_.find(Folded(std::string(Trim(section))));
        if (s == sections_.end())
            return std::nullopt;
        const auto k = s->second.Keys.find(Folded(std::string(Trim(key))));
        if (k == s->second.Keys.end())
            return std::nullopt;
        const Line& line = lines_[k->second];
        if (!line.HasValue)
            return std::nullopt;
        std::string value = Decode(std::string_view(bytes_).substr(line.ValueBegin, line.ValueEnd - line.ValueBegin));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (value.size() > kIniValueMax)
            value.resize(kIniValueMax);
        return value;
    }

    void Write(std::string_view section, std::string_view key, std::string_view value)
    {
        section = Trim(section);
        key = Trim(key);
        const std::string eol = LineBreak();
        const auto s = sections_.find(Folded(std::string(section)));
        if (s == sections_.end()) {
            std::string add;
            if (!bytes_.empty() && bytes_.back() != '\n' && bytes_.back() != '\r')
                add += eol;
            add += "[" + Encode(section) + "]" + eol + Encode(key) + "=" + Encode(value) + eol;
            bytes_ += add;
        } else if (const auto k = s->second.Keys.find(Folded(std::string(key))); k != s->second.Keys.end()) {
            const Line& line = lines_[k->second];
            if (line.HasValue)
                bytes_.replace(line.ValueBegin, line.ValueEnd - line.ValueBegin, Encode(value));
            else
                bytes_.insert(line.NameEnd, "=" + Encode(value));
        } else {
            const Line& after = lines_[s->second.LastKeyLine];
            const std::string entry = Encode(key) + "=" + Encode(value);
            if (after.Next == after.End)
                bytes_.insert(after.Next, eol + entry);
            else
                bytes_.insert(after.Next, entry + eol);
        }
        Parse();
    }

    std::vector<std::string> SectionNames() const
    {
        std::vector<std::string> names;
        for (const auto& [name, section] : sections_)
            names.push_back(name);
        return names;
    }

    // Every key name stored, folded, with its section.
    std::vector<std::pair<std::string, std::string>> KeyNames() const
    {
        std::vector<std::pair<std::string, std::string>> names;
        for (const auto& [name, section] : sections_)
            for (const auto& [key, line] : section.Keys)
                names.emplace_back(name, key);
        return names;
    }

private:
    struct Line {
        std::size_t Begin = 0, End = 0, Next = 0;
        bool IsKey = false, HasValue = false;
        std::size_t NameEnd = 0, ValueBegin = 0, ValueEnd = 0;
    };
    struct Section {
        std::size_t HeaderLine = 0;
        std::size_t LastKeyLine = 0;
        std::unordered_map<std::string, std::size_t> Keys;
    };

    std::string Decode(std::string_view raw) const { return utf8_ ? Utf8ToCp1251(raw) : std::string(raw); }
    std::string Encode(std::string_view text) const { return utf8_ ? Cp1251ToUtf8(text) : std::string(text); }
    std::string LineBreak() const
    {
        const std::size_t p = bytes_.find_first_of("\r\n");
        if (p == std::string::npos)
            return "\r\n";
        if (bytes_[p] == '\n')
            return "\n";
        return (p + 1 < bytes_.size() && bytes_[p + 1] == '\n') ? "\r\n" : "\r";
    }

    void Parse()
    {
        lines_.clear();
        sections_.clear();
        const std::string_view all(bytes_);
        std::size_t pos = (utf8_ && HasBom(all)) ? kBom.size() : 0;
        Section* current = nullptr;
        while (pos < all.size()) {
            Line line;
            line.Begin = pos;
            std::size_t end = all.find_first_of("\r\n", pos);
            if (end == std::string_view::npos)
                end = all.size();
            line.End = end;
            line.Next = end;
            if (end < all.size())
                line.Next = (all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? end + 2 : end + 1;
            pos = line.Next;
            const std::size_t index = lines_.size();

            std::size_t p = line.Begin;
            while (p < end && IsBlank(all[p]))
                ++p;
            if (p == end || all[p] == ';') {
                lines_.push_back(line);
                continue;
            }
            if (all[p] == '[') {
                const std::size_t close = all.substr(0, end).rfind(']');
                if (close != std::string_view::npos && close > p) {
                    const std::string name = Folded(Decode(Trim(all.substr(p + 1, close - p - 1))));
                    auto [it, inserted] = sections_.try_emplace(name);
                    if (inserted) {
                        it->second.HeaderLine = index;
                        it->second.LastKeyLine = index;
                        current = &it->second;
                    } else {
                        current = nullptr;
                    }
                    lines_.push_back(line);
                    continue;
                }
            }
            line.IsKey = true;
            const std::size_t eq = all.substr(0, end).find('=', p);
            std::size_t nameEnd = (eq == std::string_view::npos) ? end : eq;
            while (nameEnd > p && IsBlank(all[nameEnd - 1]))
                --nameEnd;
            line.NameEnd = nameEnd;
            if (eq != std::string_view::npos) {
                line.HasValue = true;
                std::size_t vb = eq + 1, ve = end;
                while (vb < ve && IsBlank(all[vb]))
                    ++vb;
                while (ve > vb && IsBlank(all[ve - 1]))
                    --ve;
                line.ValueBegin = vb;
                line.ValueEnd = ve;
            }
            lines_.push_back(line);
            if (current) {
                current->Keys.try_emplace(Folded(Decode(all.substr(p, nameEnd - p))), index);
                current->LastKeyLine = index;
            }
        }
    }

    std::string bytes_;
    bool utf8_ = false;
    std::vector<Line> lines_;
    std::unordered_map<std::string, Section> sections_;
};

}  // namespace reference

// Texts made of the pieces the syntax cares about, so that headers with and
// without ']', ']' on earlier lines, bare names, comments, quotes, every kind
// of line break and both encodings all occur often.
std::string RandomText(std::mt19937& rng)
{
    static const std::vector<std::string> pieces = {
        "[", "]", "=", ";", " ", "\t", "\r", "\n", "\r\n", "a", "A", "b", "k", "x", "1", "\"", "'",
        "[a]", "[b]\n", "[ A ]", "a=1\n", "k=\n", "\xC0", "\xE0", "\xD0\x90", "\xD0\xB0", "\xFF", "\n[", "]]",
    };
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 60);
    std::string text = rng() % 8 == 0 ? "\xEF\xBB\xBF" : "";
    for (int n = length(rng); n > 0; --n)
        text += pieces[piece(rng)];
    return text;
}

std::vector<std::string> QueryNames()
{
    return {"", "a", "A", "b", "k", "x", "ab", "[a", "a]", "\xC0", "\xE0", " a ", "a=1", ";a", "[a]"};
}

}  // namespace

TEST(IniLinear, ReadsAndWritesExactlyAsTheOldReaderOnRandomTexts)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4000; ++round) {
        const std::string text = RandomText(rng);
        const reference::OldIni old(text);
        TIniFile now(text);

        auto oldSections = old.SectionNames();
        auto newSections = now.SectionNames();
        std::sort(oldSections.begin(), oldSections.end());
        std::sort(newSections.begin(), newSections.end());
        ASSERT_EQ(newSections, oldSections) << testing::PrintToString(text);

        std::vector<std::string> sections = QueryNames();
        sections.insert(sections.end(), oldSections.begin(), oldSections.end());
        std::vector<std::string> keys = QueryNames();
        for (const auto& [section, key] : old.KeyNames())
            keys.push_back(key);
        for (const std::string& s : sections)
            for (const std::string& k : keys)
                ASSERT_EQ(now.Read(s, k), old.Read(s, k)) << testing::PrintToString(text) << " [" << s << "] " << k;

        // A few writes, each compared byte for byte.
        reference::OldIni oldWritten(text);
        for (int w = 0; w < 3; ++w) {
            const std::string& s = sections[rng() % sections.size()];
            const std::string& k = keys[rng() % keys.size()];
            const std::string v = std::to_string(rng() % 100);
            oldWritten.Write(s, k, v);
            now.Write(s, k, v);
            ASSERT_EQ(now.Bytes(), oldWritten.Bytes()) << testing::PrintToString(text) << " [" << s << "] " << k;
        }
    }
}

// The cost of unclosed headers against ordinary lines is measured in
// bench/bench_config.cpp (BM_ParseUnclosedHeaders2MB); here only what they read as.
TEST(IniLinear, UnclosedHeadersReadAsKeyLines)
{
    // Still read as before: an unclosed header is a key line of the section above.
    const TIniFile ini("[s]\n[x\n[y]z=1\n[t\n]=2\n");
    EXPECT_EQ(ini.Read("s", "[x"), std::nullopt);
    EXPECT_EQ(ini.Read("y", "z"), std::nullopt);
    EXPECT_EQ(ini.SectionNames().size(), 2u);
}
