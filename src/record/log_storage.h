// Where logs and journals are written: the operating system's files, or in
// tests a stand-in that fails on demand. Statuses are those of
// platform/files.h (0 success, kFileExists when a name is taken, ...).
#pragma once

#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace kovra {

class TLogOutput {
public:
    virtual ~TLogOutput() = default;
    // All of the bytes or a failure status.
    virtual int Write(const std::uint8_t* data, std::size_t size) = 0;
    virtual int Sync() = 0;
    virtual int Close() = 0;
};

class TLogStorage {
public:
    virtual ~TLogStorage() = default;
    // Creates a file that does not exist yet: never replaces one.
    virtual std::unique_ptr<TLogOutput> CreateNew(const std::filesystem::path& path, int& status) = 0;
    virtual bool Remove(const std::filesystem::path& path) = 0;
    // A second name for a finished file, never replacing one (platform/files.h
    // LinkNew). A storage without links says so; nothing changes then.
    virtual int LinkNew(const std::filesystem::path& /*from*/, const std::filesystem::path& /*to*/)
    {
        return kFileNotSupported;
    }
};

// The real file system.
std::shared_ptr<TLogStorage> OsLogStorage();

}  // namespace kovra
