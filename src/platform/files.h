// Unbuffered output files for logs and their journals: exclusive creation (a
// name that is taken is never overwritten), whole writes, and a sync that
// reaches the disk (fdatasync / FlushFileBuffers).
//
// Every operation answers with a status numbered the way the logger reports
// file errors to the user (the numbering of the Windows system and of the old
// runtime). POSIX errno values are mapped onto it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kovra {

inline constexpr int kFileOk = 0;
inline constexpr int kFileNotFound = 2;
inline constexpr int kFileInvalidName = 3;  // also a folder on the path that does not exist
inline constexpr int kFileTooManyOpen = 4;
inline constexpr int kFileAccessDenied = 5;
inline constexpr int kFileNotSupported = 50;  // the file system cannot (links on FAT)
inline constexpr int kFileExists = 80;
inline constexpr int kFileDiskFull = 101;
inline constexpr int kFileDeviceError = 1117;  // a low-level I/O failure (EIO)

// The text the user sees for a status: "Disk full", "I/O error 123", ...
// (the runtime's texts of the old program, which users know).
std::string FileStatusText(int status);

// Renames from over to, replacing to in one step, and writes the change
// through to the disk.
int RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

// Gives the file at from a second name to (a hard link), never replacing a
// file there (kFileExists), and writes the new name through to the disk. The
// file may be open. Nothing changes when it fails.
int LinkNew(const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

class TOsFile {
public:
    TOsFile() = default;
    ~TOsFile();  // closes an open file, ignoring errors
    TOsFile(TOsFile&& other) noexcept;
    TOsFile& operator=(TOsFile&& other) noexcept;
    TOsFile(const TOsFile&) = delete;
    TOsFile& operator=(const TOsFile&) = delete;

    // Creates the file for writing; kFileExists when the name is taken.
    int CreateNew(const std::filesystem::path& path) noexcept;
    // Writes all size bytes or fails; a device that takes only part of them is full.
    int Write(const void* data, std::size_t size) noexcept;
    // Pushes what was written down to the storage device.
    int Sync() noexcept;
    int Close() noexcept;
    bool IsOpen() const { return handle_ != kNoHandle; }

private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t handle_ = kNoHandle;
};

}  // namespace kovra
