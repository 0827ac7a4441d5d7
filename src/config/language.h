// The language file: ".\lang\" + language name + ".ini" under the working
// folder, section "Logger", which replaces the captions of the tab pages and
// buttons. A missing file or key leaves the built-in caption.
#pragma once

#include "config/ini.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// Captions found in the file (CP1251); nullopt where the file has none.
struct TCaptions {
    std::optional<std::string> TabSheet1;  // built in: "Графики"
    std::optional<std::string> TabSheet2;  // "Приборы"
    std::optional<std::string> TabSheet3;  // "Момент"
    std::optional<std::string> Button1;    // "выход"
    std::optional<std::string> Button2;    // "Запись лога"
    std::optional<std::string> Button3;    // "Открыть лог"
};

// languageName is "язык" of the settings, CP1251. Never fails.
TCaptions ReadLanguage(const std::filesystem::path& workingFolder, std::string_view languageName);
TCaptions ReadLanguageFromBytes(std::string_view bytes);

// The whole language file, for texts beyond the captions; empty when missing.
TIniFile ReadLanguageFile(const std::filesystem::path& workingFolder, std::string_view languageName);

}  // namespace kovra
