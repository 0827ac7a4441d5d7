#include "record/log_storage.h"

#include "platform/files.h"

#include <system_error>

namespace kovra {

namespace {

class TOsOutput final : public TLogOutput {
public:
    explicit TOsOutput(TOsFile f) : file_(std::move(f)) {}
    int Write(const std::uint8_t* data, std::size_t size) override { return file_.Write(data, size); }
    int Sync() override { return file_.Sync(); }
    int Close() override { return file_.Close(); }

private:
    TOsFile file_;
};

class TOsStorage final : public TLogStorage {
public:
    std::unique_ptr<TLogOutput> CreateNew(const std::filesystem::path& path, int& status) override
    {
        TOsFile f;
        status = f.CreateNew(path);
        if (status != kFileOk)
            return nullptr;
        return std::make_unique<TOsOutput>(std::move(f));
    }

    bool Remove(const std::filesystem::path& path) override
    {
        std::error_code ec;
        return std::filesystem::remove(path, ec);
    }

    int LinkNew(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        return kovra::LinkNew(from, to);
    }
};

}  // namespace

std::shared_ptr<TLogStorage> OsLogStorage()
{
    static const auto storage = std::make_shared<TOsStorage>();
    return storage;
}

}  // namespace kovra
