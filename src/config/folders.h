// Which folders a run uses: the program folder (set.ini, log.sv, logs/) and
// the working folder (back.jpg, alarm.wav, icons/, lang/).
//
// A folder that holds the program beside a set.ini is a portable installation
// (as on Windows, or the demo's staging folder): it keeps the classic layout,
// settings beside the program and pictures in the working folder. An installed
// program cannot write beside /usr/bin, so without a set.ini of its own it uses
// one folder per user (XDG data home, ~/.local/share/kovra), made on first
// start from the example configuration shipped with the package. --folder DIR
// names a folder for both roles, so that a tuner can keep one folder per car.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kovra {

struct TFolders {
    std::filesystem::path Program;
    std::filesystem::path Working;
    enum class TKind { Portable, Explicit, PerUser } Kind = TKind::Portable;
    bool Created = false;  // made now from the example configuration
    std::string Error;     // the folder could not be made; the run goes on with defaults
};

struct TFolderInputs {
    std::filesystem::path ExecutableFolder;
    std::filesystem::path CurrentFolder;
    std::optional<std::filesystem::path> Explicit;  // --folder
    std::filesystem::path UserDataFolder;           // e.g. ~/.local/share/kovra
    std::filesystem::path Example;                  // the shipped example configuration
};

TFolders ChooseFolders(const TFolderInputs& in);

// Where an installed package keeps the example configuration, from the
// executable's folder (<prefix>/bin -> <prefix>/share/kovra/example).
std::filesystem::path InstalledExampleFolder(const std::filesystem::path& executableFolder);

// The per-user folder of this desktop (XDG data home on Linux, the local
// application data folder on Windows), with "kovra" as its last part.
std::filesystem::path UserDataFolder();


}  // namespace kovra
