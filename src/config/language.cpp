#include "config/language.h"

#include "config/ini.h"

namespace kovra {

TCaptions ReadLanguageFromBytes(std::string_view bytes)
{
    const TIniFile ini{std::string(bytes)};
    TCaptions c;
    c.TabSheet1 = ini.Read("Logger", "TabSheet1");
    c.TabSheet2 = ini.Read("Logger", "TabSheet2");
    c.TabSheet3 = ini.Read("Logger", "TabSheet3");
    c.Button1 = ini.Read("Logger", "Button1");
    c.Button2 = ini.Read("Logger", "Button2");
    c.Button3 = ini.Read("Logger", "Button3");
    return c;
}

TIniFile ReadLanguageFile(const std::filesystem::path& workingFolder, std::string_view languageName)
{
    std::string fileName(languageName);
    fileName += ".ini";
    // Joined as text, like ".\lang\" + name + ".ini": a name that looks like
    // a root does not escape the folder.
    std::filesystem::path path = workingFolder / "lang";
    path += std::filesystem::path::preferred_separator;
    path += PathFromCp1251(fileName);
    TFileBytes file = ReadFileBytes(path);
    if (file.Status != FileStatus::Read)
        return {};
    return TIniFile{std::move(file.Bytes)};
}

TCaptions ReadLanguage(const std::filesystem::path& workingFolder, std::string_view languageName)
{
    const TIniFile ini = ReadLanguageFile(workingFolder, languageName);
    return ReadLanguageFromBytes(ini.Bytes());
}

}  // namespace kovra
