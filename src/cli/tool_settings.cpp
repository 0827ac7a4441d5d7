#include "tool_settings.h"

#include "config/cp1251.h"
#include "config/ini.h"
#include "config/settings.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kovra::cli {

std::optional<TSettings> LoadToolSettings(const char* tool, const std::string& folder, const char* doing)
{
    const std::filesystem::path dir(folder);
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(dir, ec);
    if (!std::filesystem::exists(st)) {
        std::fprintf(stderr, "%s: the settings folder %s does not exist\n", tool, folder.c_str());
        return std::nullopt;
    }
    if (!std::filesystem::is_directory(st)) {
        std::fprintf(stderr, "%s: the settings folder %s is a file, not a folder\n", tool, folder.c_str());
        return std::nullopt;
    }
    const TFileBytes file = ReadFileBytes(dir / kSettingsFileName);
    switch (file.Status) {
    case FileStatus::Read:
        return LoadSettingsFromBytes(file.Bytes);
    case FileStatus::Unreadable:
        std::fprintf(stderr, "%s: %s\n", tool, Cp1251ToUtf8(file.Error).c_str());
        return std::nullopt;
    case FileStatus::Missing:
        break;
    }
    std::fprintf(stderr, "%s: no %s in %s, %s with the defaults\n", tool, kSettingsFileName, folder.c_str(), doing);
    return LoadSettings(dir);
}

}  // namespace kovra::cli
