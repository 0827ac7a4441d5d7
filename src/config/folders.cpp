#include "config/folders.h"

#include "config/paths.h"

#include <QStandardPaths>
#include <QString>

#include <system_error>

namespace kovra {

namespace fs = std::filesystem;

namespace {

bool HasSettings(const fs::path& folder)
{
    std::error_code ec;
    return fs::is_regular_file(folder / "set.ini", ec);
}

bool IsEmptyOrMissing(const fs::path& folder)
{
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return true;
    return fs::is_directory(folder, ec) && fs::is_empty(folder, ec);
}

// Copies the example into folder without replacing anything already there.
std::string Seed(const fs::path& folder, const fs::path& example, bool& created)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return "cannot create " + folder.string() + ": " + ec.message();
    if (!example.empty() && fs::is_directory(example, ec)) {
        fs::copy(example, folder, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
        if (ec)
            return "cannot copy the example into " + folder.string() + ": " + ec.message();
    }
    fs::create_directories(folder / "logs", ec);
    created = true;
    return {};
}

}  // namespace

TFolders ChooseFolders(const TFolderInputs& in)
{
    TFolders f;
    if (in.Explicit) {
        f.Kind = TFolders::TKind::Explicit;
        f.Program = f.Working = fs::absolute(*in.Explicit);
        if (IsEmptyOrMissing(f.Program))
            f.Error = Seed(f.Program, in.Example, f.Created);
        return f;
    }
    if (HasSettings(in.ExecutableFolder)) {
        f.Kind = TFolders::TKind::Portable;
        f.Program = in.ExecutableFolder;
        f.Working = in.CurrentFolder;
        return f;
    }
    f.Kind = TFolders::TKind::PerUser;
    f.Program = f.Working = in.UserDataFolder;
    if (!HasSettings(f.Program))
        f.Error = Seed(f.Program, in.Example, f.Created);
    return f;
}

fs::path InstalledExampleFolder(const fs::path& executableFolder)
{
    return executableFolder.parent_path() / "share" / "kovra" / "example";
}

fs::path UserDataFolder()
{
    // GenericDataLocation is $XDG_DATA_HOME (~/.local/share) on Linux and
    // %LOCALAPPDATA% on Windows.
    return PathFromQString(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) / "kovra";
}

}  // namespace kovra
