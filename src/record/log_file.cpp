#include "record/log_file.h"

#include "platform/files.h"
#include "record/log_format.h"

#include <QLocale>

#include <algorithm>

namespace kovra {

namespace {

// Not allowed in a Windows file name; the slash also ends a POSIX folder name.
bool ForbiddenInName(QChar c)
{
    return c.unicode() < 32 || QStringLiteral("<>:\"/\\|?*").contains(c);
}

constexpr int kMaxSuffix = 9999;

}  // namespace

std::filesystem::path ToPath(const QString& s) { return std::filesystem::path(s.toStdU16String()); }

QString FromPath(const std::filesystem::path& p) { return QString::fromStdU16String(p.u16string()); }

std::filesystem::path LogsFolder(const std::filesystem::path& programFolder)
{
    return programFolder / "logs";
}

QString SystemShortDateFormat() { return QLocale::system().dateFormat(QLocale::ShortFormat); }

QString LogBaseName(const QDateTime& now, const QString& shortDateFormat)
{
    QString date = QLocale::system().toString(now.date(), shortDateFormat);
    for (QChar& c : date)
        if (ForbiddenInName(c))
            c = u'-';
    const QTime t = now.time();
    return date + u'-' + QString::number(t.hour()) + QString::number(t.minute()) +
           QString::number(t.second());
}

TSaveResult SaveLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder,
                        const QString& base, std::span<const std::uint8_t> bytes, int firstSuffix)
{
    return SaveLogFile(
        storage, logsFolder, base, [bytes](TLogOutput& out) { return out.Write(bytes.data(), bytes.size()); },
        firstSuffix);
}

namespace {

// The first of base, base-2, base-3, ... (from firstSuffix on) that claim
// takes: claim answers kFileExists for a name that is taken.
TSaveResult ClaimLogName(const std::filesystem::path& logsFolder, const QString& base, int firstSuffix,
                         const std::function<int(const std::filesystem::path&)>& claim)
{
    TSaveResult r;
    for (int n = std::max(firstSuffix, 1); n <= kMaxSuffix; ++n) {
        const QString name = (n == 1 ? base : base + u'-' + QString::number(n)) + QStringLiteral(".xlg");
        r.Path = logsFolder / ToPath(name);
        r.Status = claim(r.Path);
        if (r.Status != kFileExists)
            break;
    }
    return r;
}

}  // namespace

TSaveResult SaveLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder,
                        const QString& base, const TLogBody& body, int firstSuffix)
{
    std::unique_ptr<TLogOutput> out;
    TSaveResult r = ClaimLogName(logsFolder, base, firstSuffix, [&](const std::filesystem::path& path) {
        int status = kFileOk;
        out = storage.CreateNew(path, status);
        return status;
    });
    if (out && r.Status == kFileOk) {
        r.Status = body(*out);
        // A log that is reported saved must be on the disk: its journal goes next.
        if (r.Status == kFileOk)
            r.Status = out->Sync();
        const int closed = out->Close();
        if (r.Status == kFileOk)
            r.Status = closed;
        if (r.Status != kFileOk)
            storage.Remove(r.Path);  // created by this save (never an older file)
    } else if (r.Status == kFileOk) {
        r.Status = kFileAccessDenied;  // a storage that made nothing without saying why
    }
    if (!r.Ok())
        r.Message = IoErrorMessage(r.Status);
    return r;
}

TSaveResult LinkLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder, const QString& base,
                        const std::filesystem::path& file, int firstSuffix)
{
    TSaveResult r = ClaimLogName(logsFolder, base, firstSuffix,
                                 [&](const std::filesystem::path& path) { return storage.LinkNew(file, path); });
    if (!r.Ok())
        r.Message = IoErrorMessage(r.Status);
    return r;
}

}  // namespace kovra
