// Replacing a file this program owns (log.sv, a settings file written back, a
// CSV) so that a failure never costs what was there: the new contents go to a
// temporary file beside the target, every write and the final flush and sync
// are checked, and only then is the temporary file renamed over the target.
// Any failure removes the temporary file and leaves the target as it was.
//
// Statuses are those of platform/files.h (kFileOk, kFileDiskFull, ...).
#pragma once

#include "platform/files.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kovra {

// Where the bytes go: the operating system's files, or in tests a stand-in
// that fails after N bytes.
class TReplaceStorage {
public:
    virtual ~TReplaceStorage() = default;
    // Creates path for writing; never replaces an existing file.
    virtual int CreateNew(const std::filesystem::path& path) = 0;
    virtual int Write(const void* data, std::size_t size) = 0;
    // Flushes and syncs what was written to the storage device.
    virtual int Sync() = 0;
    virtual int Close() = 0;
    // Renames from over to, replacing to (atomically where the system can).
    virtual int Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    virtual void Remove(const std::filesystem::path& path) = 0;
};

// A new one per call: it holds the one file being written.
std::shared_ptr<TReplaceStorage> OsReplaceStorage();

class TReplaceFile {
public:
    explicit TReplaceFile(std::shared_ptr<TReplaceStorage> storage = OsReplaceStorage());
    ~TReplaceFile();  // without Commit: abandons, the target is untouched
    TReplaceFile(const TReplaceFile&) = delete;
    TReplaceFile& operator=(const TReplaceFile&) = delete;

    // Starts writing the new contents of target (the temporary file is
    // created in target's folder).
    int Open(const std::filesystem::path& target);
    // Appends bytes; after a failure every later call returns that failure.
    int Write(const void* data, std::size_t size);
    int Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Syncs, closes and renames over the target. On failure the temporary
    // file is removed and the target keeps its old contents.
    int Commit();
    // Removes the temporary file; the target is untouched.
    void Abandon();

    std::size_t Written() const { return written_; }
    const std::filesystem::path& Target() const { return target_; }

private:
    std::shared_ptr<TReplaceStorage> storage_;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::size_t written_ = 0;
    int status_ = kFileOk;
    bool open_ = false;
};

// The whole of bytes as the new contents of target; kFileOk or the failure.
int ReplaceFileContents(const std::filesystem::path& target, std::string_view bytes,
                        std::shared_ptr<TReplaceStorage> storage = OsReplaceStorage());

}  // namespace kovra
