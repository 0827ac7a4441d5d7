// The INI reader and writer on any bytes: input is "section\0key\0value\0file".
// Reading never fails; a value written reads back from the written bytes, and
// every other key of the file reads as it did, from bytes that differ from the
// old ones only where the value went.
#include "fuzz_check.h"

#include "config/cp1251.h"
#include "config/ini.h"

#include <algorithm>

using namespace kovra;

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trimmed(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// Names to ask for: what each line holds before its '=' and between brackets.
void Candidates(const std::string& text, std::vector<std::string>& sections, std::vector<std::string>& keys)
{
    std::size_t pos = 0;
    while (pos < text.size() && sections.size() < 48 && keys.size() < 48) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(std::string_view(text).substr(pos, end - pos));
        const std::size_t close = line.rfind(']');
        if (!line.empty() && line[0] == '[' && close != std::string::npos)
            sections.push_back(Trimmed(std::string_view(line).substr(1, close - 1)));
        keys.push_back(Trimmed(std::string_view(line).substr(0, std::min(line.find('='), line.size()))));
        pos = end + 1;
    }
}

// What the reader gives back for a written value: trimmed, unquoted, cut.
std::string AsRead(const std::string& value)
{
    std::string v = Trimmed(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kIniValueMax)
        v.resize(kIniValueMax);
    return v;
}

// A name the syntax can carry: one line, and a key that reads as a key (not a
// comment, not a header, not cut at an '='), a section that closes where it ends.
bool Writable(const std::string& section, const std::string& key, const std::string& value)
{
    const auto oneLine = [](const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; };
    if (!oneLine(section) || !oneLine(key) || !oneLine(value))
        return false;
    const std::string k = Trimmed(key);
    if (!k.empty() && (k[0] == ';' || k[0] == '['))
        return false;
    if (k.find('=') != std::string::npos || section.find(']') != std::string::npos)
        return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> parts = fuzz::Parts(data, size, 4);
    const std::string& section = parts[0];
    const std::string& key = parts[1];
    const std::string& value = parts[2];
    const std::string& text = parts[3];

    TIniFile ini(text);
    std::vector<std::string> sections{section}, keys{key};
    Candidates(text, sections, keys);
    for (const std::string& s : sections)
        for (const std::string& k : keys)
            (void)ini.Read(s, k);
    if (!Writable(section, key, value))
        return 0;

    const std::string before = ini.Bytes();
    const bool existed = ini.Read(section, key).has_value();
    ini.Write(section, key, value);
    const TIniFile reread(ini.Bytes());
    // A CP1251 file whose bytes become valid UTF-8 with the new value is read
    // as UTF-8 from then on; that guess is the encoding rule's, not the writer's.
    if (reread.IsUtf8() != ini.IsUtf8())
        return 0;
    // What the file holds in the encoding it is read in.
    const std::string expected = ini.IsUtf8() ? Utf8ToCp1251(Cp1251ToUtf8(AsRead(value))) : AsRead(value);
    FUZZ_CHECK(reread.Read(section, key) == std::optional<std::string>(expected));

    const TIniFile old(before);
    const auto same = [](const std::string& a, const std::string& b) { return EqualsNoCase1251(Trimmed(a), Trimmed(b)); };
    for (const std::string& s : sections)
        for (const std::string& k : keys)
            if (!(same(s, section) && same(k, key)))
                FUZZ_CHECK(reread.Read(s, k) == old.Read(s, k));

    // The old bytes are all still there around one splice, and only an
    // existing value was replaced.
    const std::string& after = ini.Bytes();
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::size_t removed = before.size() - prefix - suffix;
    FUZZ_CHECK(existed || removed == 0);
    return 0;
}
