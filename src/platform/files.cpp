#include "platform/files.h"

#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kovra {

#if defined(_WIN32)

namespace {

int StatusOf(DWORD err)
{
    switch (err) {
    case ERROR_SUCCESS: return kFileOk;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return kFileDiskFull;
    default: return static_cast<int>(err);  // already the reported numbering
    }
}

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

int TOsFile::CreateNew(const std::filesystem::path& path) noexcept
{
    Close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return StatusOf(GetLastError());
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return kFileOk;
}

int TOsFile::Write(const void* data, std::size_t size) noexcept
{
    if (!IsOpen())
        return kFileAccessDenied;
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(H(handle_), p, chunk, &written, nullptr))
            return StatusOf(GetLastError());
        if (written == 0)
            return kFileDiskFull;
        p += written;
        size -= written;
    }
    return kFileOk;
}

int TOsFile::Sync() noexcept
{
    if (!IsOpen())
        return kFileAccessDenied;
    return FlushFileBuffers(H(handle_)) ? kFileOk : StatusOf(GetLastError());
}

int RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return kFileOk;
    return StatusOf(GetLastError());
}

int LinkNew(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr))
        return kFileOk;
    const DWORD err = GetLastError();
    return err == ERROR_ALREADY_EXISTS ? kFileExists : StatusOf(err);
}

int TOsFile::Close() noexcept
{
    if (!IsOpen())
        return kFileOk;
    const BOOL ok = CloseHandle(H(handle_));
    handle_ = kNoHandle;
    return ok ? kFileOk : StatusOf(GetLastError());
}

#else

namespace {

int StatusOf(int err)
{
    switch (err) {
    case 0: return kFileOk;
    case ENOENT:
    case ENOTDIR: return kFileInvalidName;  // a folder of the path is missing
    case EMFILE:
    case ENFILE: return kFileTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kFileAccessDenied;
    case EEXIST: return kFileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kFileDiskFull;
    case EINVAL:
    case EILSEQ: return 123;        // the name holds what a file name may not
    case ENAMETOOLONG: return 206;  // the name is too long
    case EIO: return kFileDeviceError;
    default: return err;
    }
}

}  // namespace

int TOsFile::CreateNew(const std::filesystem::path& path) noexcept
{
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return StatusOf(errno);
    handle_ = fd;
    return kFileOk;
}

int TOsFile::Write(const void* data, std::size_t size) noexcept
{
    if (!IsOpen())
        return kFileAccessDenied;
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle_), p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return StatusOf(errno);
        }
        if (n == 0)
            return kFileDiskFull;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return kFileOk;
}

int TOsFile::Sync() noexcept
{
    if (!IsOpen())
        return kFileAccessDenied;
    int r;
    do {
        r = ::fdatasync(static_cast<int>(handle_));
    } while (r < 0 && errno == EINTR);
    return r == 0 ? kFileOk : StatusOf(errno);
}

namespace {

// A new name lives in its folder: sync that too, or a power cut may bring
// back the old file (or none). A folder that cannot be synced changes nothing.
void SyncFolderOf(const std::filesystem::path& name)
{
    const std::filesystem::path folder = name.has_parent_path() ? name.parent_path() : std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

int RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return StatusOf(errno);
    SyncFolderOf(to);
    return kFileOk;
}

int LinkNew(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    if (::link(from.c_str(), to.c_str()) != 0)
        return StatusOf(errno);
    SyncFolderOf(to);
    return kFileOk;
}

int TOsFile::Close() noexcept
{
    if (!IsOpen())
        return kFileOk;
    // The descriptor is gone even when close reports an error: never retry it.
    const int r = ::close(static_cast<int>(handle_));
    handle_ = kNoHandle;
    return r == 0 || errno == EINTR ? kFileOk : StatusOf(errno);
}

#endif

std::string FileStatusText(int status)
{
    switch (status) {
    case kFileNotFound: return "File not found";
    case kFileInvalidName: return "Invalid filename";
    case kFileTooManyOpen: return "Too many open files";
    case kFileAccessDenied: return "File access denied";
    case kFileDiskFull: return "Disk full";
    default: return "I/O error " + std::to_string(status);
    }
}

TOsFile::~TOsFile() { Close(); }

TOsFile::TOsFile(TOsFile&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

TOsFile& TOsFile::operator=(TOsFile&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kNoHandle);
    }
    return *this;
}

}  // namespace kovra
