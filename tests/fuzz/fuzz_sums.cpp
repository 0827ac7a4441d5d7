// The sums file's round trip: input is "log.sv bytes\0" then, per formula,
// "name\0" followed by 8 bytes of its value. The totals saved into any old
// file come back at the next start, entries of other formulas and other
// sections read as before, and restoring never stops at a saved value.
#include "fuzz_check.h"

#include "config/cp1251.h"
#include "config/format.h"
#include "config/ini.h"
#include "config/settings_keys.h"
#include "config/sums.h"

#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <map>
#include <vector>

using namespace kovra;

namespace {

const std::filesystem::path& Folder()
{
    static QTemporaryDir dir;
    static const std::filesystem::path path(dir.path().toStdString());
    return path;
}

std::string Folded(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(FoldCase1251(static_cast<unsigned char>(c)));
    return s;
}

std::string Trimmed(std::string s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && blank(s[b]))
        ++b;
    return s.substr(b);
}

// A name the file can hold as a key of its own (the settings check names the others).
bool Holdable(const std::string& name)
{
    const std::string& section = SettingsKeys().SumsSection;
    TIniFile fresh;
    fresh.Write(section, name, "1");
    return TIniFile(fresh.Bytes()).Read(section, name) == "1";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SetDecimalSeparatorForTesting(',');
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t fileEnd = std::min(all.find('\0'), all.size());
    const std::string oldFile(all.substr(0, fileEnd));

    TAllData saved;
    std::vector<double> savedValues;
    std::size_t pos = fileEnd + 1;
    while (pos < all.size() && saved.Procs.size() < 6) {
        const std::size_t nul = all.find('\0', pos);
        if (nul == std::string_view::npos || nul + 1 + sizeof(double) > all.size())
            break;
        TProc p;
        p.Name = std::string(all.substr(pos, nul - pos));
        double value = 0;
        std::memcpy(&value, all.data() + nul + 1, sizeof(double));
        p.Accumulate = (p.Name.size() % 3) != 0 || p.Name.empty();
        pos = nul + 1 + sizeof(double);
        // A formula's value is always a finite number (an error leaves the old one).
        if (!std::isfinite(value) || p.Name.find_first_of("\r\n") != std::string::npos || !Holdable(p.Name))
            continue;
        saved.Procs.push_back(std::move(p));
        savedValues.push_back(value);
    }
    TRunState savedState(saved);
    savedState.Values = savedValues;

    const std::filesystem::path file = Folder() / kSumsFileName;
    FUZZ_CHECK(!WriteFileBytes(file, oldFile));
    FUZZ_CHECK(!SaveSums(Folder(), saved, savedState));
    const std::string newFile = ReadFileBytes(file).Bytes;
    const TIniFile before(oldFile), after(newFile);
    // A CP1251 file that the saved names turn into valid UTF-8 is read as
    // UTF-8 from then on: the encoding guess's limit, not the round trip's.
    if (before.IsUtf8() != after.IsUtf8())
        return 0;

    TRunState restored(saved);
    FUZZ_CHECK(!RestoreSums(Folder(), saved, restored));

    // The last formula of a name is the one whose total the entry holds.
    std::map<std::string, double> last;
    for (std::size_t i = 0; i < saved.Procs.size(); ++i)
        if (saved.Procs[i].Accumulate)
            last[Folded(Trimmed(saved.Procs[i].Name))] = *ParseReal(FormatSum(savedValues[i], ','), ',');
    for (std::size_t i = 0; i < saved.Procs.size(); ++i)
        if (saved.Procs[i].Accumulate)
            FUZZ_CHECK(restored.Values[i] == last[Folded(Trimmed(saved.Procs[i].Name))]);
        else
            FUZZ_CHECK(restored.Values[i] == 0);

    // Keys the old file held, in the sums section and elsewhere, keep their
    // values unless a saved formula has their name.
    const std::string& section = SettingsKeys().SumsSection;
    std::size_t lineStart = 0;
    for (int lines = 0; lineStart < oldFile.size() && lines < 64; ++lines) {
        std::size_t end = oldFile.find_first_of("\r\n", lineStart);
        if (end == std::string::npos)
            end = oldFile.size();
        const std::string line = oldFile.substr(lineStart, end - lineStart);
        const std::string key = Trimmed(line.substr(0, std::min(line.find('='), line.size())));
        if (!last.count(Folded(key)))
            FUZZ_CHECK(after.Read(section, key) == before.Read(section, key));
        FUZZ_CHECK(after.Read("other", key) == before.Read("other", key));
        lineStart = end + 1;
    }
    return 0;
}
