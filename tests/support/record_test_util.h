// Helpers shared by the tests of the recorder, the cycle, the export and the
// window: settings from a text, file bytes, and a storage that fails on demand.
#pragma once

#include "config/cp1251.h"
#include "config/settings.h"
#include "run/cycle.h"
#include "record/log_storage.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kovra::test {

// Settings from an INI text written in UTF-8 (the file itself is CP1251);
// a cycle made over them compiles their formulas.
inline TSettings CompiledSettings(const std::string& utf8Ini)
{
    return LoadSettingsFromBytes(Utf8ToCp1251(utf8Ini));
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& p)
{
    QFile f(QString::fromStdU16String(p.u16string()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return {b.begin(), b.end()};
}

inline void WriteBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes)
{
    QFile f(QString::fromStdU16String(p.u16string()));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

inline std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir, const std::string& ext)
{
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ext)
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

// Storage over the real file system that fails on demand: writes beyond a
// byte budget (counted over every file), creation of files, syncs.
class TFailingStorage : public TLogStorage {
public:
    std::int64_t WriteBudget = -1;  // bytes that may still be written; -1 no limit
    int WriteFailure = 101;
    int CreateFailure = 0;          // status for every CreateNew, 0 none
    std::string CreateFailureOnly;  // fail only names ending so ("" = all)
    int Syncs = 0;
    int SyncFailure = 0;  // status for every Sync, 0 none
    int Links = 0;

    std::unique_ptr<TLogOutput> CreateNew(const std::filesystem::path& path, int& status) override
    {
        if (CreateFailure && (CreateFailureOnly.empty() || path.string().ends_with(CreateFailureOnly))) {
            status = CreateFailure;
            return nullptr;
        }
        auto inner = OsLogStorage()->CreateNew(path, status);
        if (!inner)
            return nullptr;
        return std::make_unique<TOut>(*this, std::move(inner));
    }
    bool Remove(const std::filesystem::path& path) override { return OsLogStorage()->Remove(path); }
    // A link makes a name like a creation does, and fails like one.
    int LinkNew(const std::filesystem::path& from, const std::filesystem::path& to) override
    {
        ++Links;
        if (CreateFailure && (CreateFailureOnly.empty() || to.string().ends_with(CreateFailureOnly)))
            return CreateFailure;
        return OsLogStorage()->LinkNew(from, to);
    }

private:
    struct TOut : TLogOutput {
        TOut(TFailingStorage& s, std::unique_ptr<TLogOutput> in) : s_(s), in_(std::move(in)) {}
        int Write(const std::uint8_t* data, std::size_t size) override
        {
            if (s_.WriteBudget >= 0 && static_cast<std::int64_t>(size) > s_.WriteBudget) {
                in_->Write(data, static_cast<std::size_t>(s_.WriteBudget));  // the part that fit
                s_.WriteBudget = 0;
                return s_.WriteFailure;
            }
            if (s_.WriteBudget >= 0)
                s_.WriteBudget -= static_cast<std::int64_t>(size);
            return in_->Write(data, size);
        }
        int Sync() override
        {
            ++s_.Syncs;
            return s_.SyncFailure ? s_.SyncFailure : in_->Sync();
        }
        int Close() override { return in_->Close(); }
        TFailingStorage& s_;
        std::unique_ptr<TLogOutput> in_;
    };
};

}  // namespace kovra::test
