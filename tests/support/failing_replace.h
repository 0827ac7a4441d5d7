// A stand-in for the checked replace that fails on demand, over the real files.
#pragma once

#include "platform/replace_file.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace kovra::test {

// The real files, failing where a test says: after a byte budget, or at the
// sync, the close or the rename.
class TFailingReplace : public TReplaceStorage {
public:
    std::int64_t Budget = -1;
    int SyncFailure = 0, CloseFailure = 0, RenameFailure = 0;

    int CreateNew(const std::filesystem::path& p) override { return os_->CreateNew(p); }
    int Write(const void* data, std::size_t size) override
    {
        if (Budget >= 0 && static_cast<std::int64_t>(size) > Budget) {
            os_->Write(data, static_cast<std::size_t>(Budget));  // the part that fit
            Budget = 0;
            return kFileDiskFull;
        }
        if (Budget >= 0)
            Budget -= static_cast<std::int64_t>(size);
        return os_->Write(data, size);
    }
    int Sync() override { return SyncFailure ? SyncFailure : os_->Sync(); }
    int Close() override
    {
        const int s = os_->Close();
        return CloseFailure ? CloseFailure : s;
    }
    int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return RenameFailure ? RenameFailure : os_->Rename(from, to);
    }
    void Remove(const std::filesystem::path& p) override { os_->Remove(p); }

private:
    std::shared_ptr<TReplaceStorage> os_ = OsReplaceStorage();
};

}  // namespace kovra::test
