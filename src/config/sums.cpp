#include "config/sums.h"

#include "config/format.h"
#include "config/ini.h"
#include "config/settings_keys.h"
#include "platform/replace_file.h"

namespace kovra {

std::string FormatSum(double value, char sep)
{
    return FormatFixed(value, 7, 2, sep);
}

std::optional<std::string> RestoreSumsFromBytes(std::string_view bytes, const TAllData& data, TRunState& state)
{
    const TIniFile ini{std::string(bytes)};
    const std::string& section = SettingsKeys().SumsSection;
    const char sep = DecimalSeparator();
    state.Values.resize(data.Procs.size(), 0.0);
    for (std::size_t i = 0; i < data.Procs.size(); ++i) {
        const TProc& p = data.Procs[i];
        if (!p.Accumulate)
            continue;
        const std::string text = ini.Read(section, p.Name).value_or("0");
        const auto v = ParseReal(text, sep);
        if (!v)
            return "'" + text + "' is not a valid floating point value";
        state.Values[i] = *v;
    }
    return std::nullopt;
}

std::optional<std::string> RestoreSums(const std::filesystem::path& programFolder, const TAllData& data,
                                       TRunState& state)
{
    // A file that cannot be read is no file, as for the Windows profile reader.
    const TFileBytes file = ReadFileBytes(programFolder / kSumsFileName);
    return RestoreSumsFromBytes(file.Status == FileStatus::Read ? std::string_view(file.Bytes) : std::string_view(),
                                data, state);
}

std::optional<std::string> SaveSums(const std::filesystem::path& programFolder, const TAllData& data,
                                    const TRunState& state)
{
    return SaveSums(programFolder, data, state, OsReplaceStorage());
}

std::optional<std::string> SaveSums(const std::filesystem::path& programFolder, const TAllData& data,
                                    const TRunState& state, std::shared_ptr<TReplaceStorage> storage)
{
    const std::filesystem::path path = programFolder / kSumsFileName;
    const std::string failure = "Unable to write to " + DisplayPath(path);
    TFileBytes file = ReadFileBytes(path);
    if (file.Status == FileStatus::Unreadable)
        return failure;  // rewriting it blind would lose its other entries
    bool any = false;
    for (const TProc& p : data.Procs)
        any = any || p.Accumulate;
    if (!any)
        return std::nullopt;  // nothing to write: the file is not touched

    TIniFile ini(std::move(file.Bytes));
    const std::string& section = SettingsKeys().SumsSection;
    const char sep = DecimalSeparator();
    for (std::size_t i = 0; i < data.Procs.size(); ++i)
        if (data.Procs[i].Accumulate)
            ini.Write(section, data.Procs[i].Name, FormatSum(state.ValueOf(i), sep));
    if (WriteFileBytes(path, ini.Bytes(), std::move(storage)))
        return failure;
    return std::nullopt;
}

}  // namespace kovra
