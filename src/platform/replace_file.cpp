#include "platform/replace_file.h"

#include <atomic>
#include <chrono>
#include <system_error>

namespace kovra {

namespace {

class TOsReplaceStorage final : public TReplaceStorage {
public:
    int CreateNew(const std::filesystem::path& path) override { return file_.CreateNew(path); }
    int Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    int Sync() override { return file_.Sync(); }
    int Close() override { return file_.Close(); }
    int Rename(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return RenameReplacing(from, to);
    }
    void Remove(const std::filesystem::path& path) override
    {
        // The temporary file may carry a read-only target's permissions by
        // now, and Windows does not delete a read-only file.
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
        std::filesystem::remove(path, ec);
    }

private:
    TOsFile file_;
};

// Temporary names must not meet those of another writer of the same target
// (a second instance of the program): a per-process start value and a counter.
std::uint64_t NextTempSerial()
{
    static std::atomic<std::uint64_t> serial{static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count())};
    return serial++;
}

constexpr int kTempAttempts = 100;

}  // namespace

std::shared_ptr<TReplaceStorage> OsReplaceStorage() { return std::make_shared<TOsReplaceStorage>(); }

TReplaceFile::TReplaceFile(std::shared_ptr<TReplaceStorage> storage) : storage_(std::move(storage)) {}

TReplaceFile::~TReplaceFile() { Abandon(); }

int TReplaceFile::Open(const std::filesystem::path& target)
{
    Abandon();
    target_ = target;
    written_ = 0;
    status_ = kFileOk;
    if (!storage_)
        return status_ = kFileAccessDenied;
    int status = kFileExists;
    for (int i = 0; i < kTempAttempts && status == kFileExists; ++i) {
        // Beside the target, so that the rename never crosses file systems.
        std::filesystem::path name = ".";
        name += target.filename();
        name += "." + std::to_string(NextTempSerial() % 1000000000u) + ".tmp";
        temp_ = target.parent_path() / name;
        status = storage_->CreateNew(temp_);
    }
    if (status != kFileOk) {
        temp_.clear();  // not ours: never removed
        return status_ = status;
    }
    open_ = true;
    return kFileOk;
}

int TReplaceFile::Write(const void* data, std::size_t size)
{
    if (status_ != kFileOk)
        return status_;
    if (!open_)
        return status_ = kFileAccessDenied;
    if (size == 0)
        return kFileOk;
    status_ = storage_->Write(data, size);
    if (status_ == kFileOk)
        written_ += size;
    return status_;
}

int TReplaceFile::Commit()
{
    if (status_ == kFileOk && !open_)
        status_ = kFileAccessDenied;
    if (status_ == kFileOk)
        status_ = storage_->Sync();
    if (open_) {
        const int closed = storage_->Close();
        open_ = false;
        if (status_ == kFileOk)
            status_ = closed;
    }
    if (status_ == kFileOk) {
        // Keep the target's permissions: a file the user made read-only for
        // others stays so. Not being able to copy them is no reason to fail.
        std::error_code ec;
        const auto perms = std::filesystem::status(target_, ec).permissions();
        if (!ec && perms != std::filesystem::perms::unknown)
            std::filesystem::permissions(temp_, perms, ec);
        status_ = storage_->Rename(temp_, target_);
    }
    if (status_ != kFileOk) {
        Abandon();
        return status_;
    }
    temp_.clear();
    return kFileOk;
}

void TReplaceFile::Abandon()
{
    if (open_) {
        storage_->Close();
        open_ = false;
    }
    if (!temp_.empty()) {
        storage_->Remove(temp_);
        temp_.clear();
    }
}

int ReplaceFileContents(const std::filesystem::path& target, std::string_view bytes,
                        std::shared_ptr<TReplaceStorage> storage)
{
    TReplaceFile file(std::move(storage));
    if (const int s = file.Open(target); s != kFileOk)
        return s;
    if (const int s = file.Write(bytes); s != kFileOk)
        return s;
    return file.Commit();
}

}  // namespace kovra
