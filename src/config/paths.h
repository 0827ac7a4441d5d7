// Paths and their texts in one place. A path meets text four ways: Qt's
// strings (the executable's folder, command-line arguments, file dialogs),
// CP1251 text from the settings files, the text shown to the user, and file
// names handed to Qt's file classes. Windows wants UTF-16 for all of them and
// Linux the system's file name bytes; building a path from UTF-8 bytes on
// Windows breaks a folder with Cyrillic letters.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class QString;

namespace kovra {

std::filesystem::path PathFromQString(const QString& text);
QString PathToQString(const std::filesystem::path& path);

// A file name built from CP1251 text (a caption, a language name).
std::filesystem::path PathFromCp1251(std::string_view text);

// The path as the user reads it (native separators, absolute), CP1251.
std::string DisplayPath(const std::filesystem::path& path);

}  // namespace kovra
