#include "record/journal.h"

#include "platform/files.h"
#include "record/log_format.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>

#include <atomic>

namespace kovra {

namespace {

const QString kJournalSuffix = QStringLiteral(".xjr");
const QString kLockSuffix = QStringLiteral(".lock");

std::unique_ptr<QLockFile> MakeLock(const QString& journal)
{
    auto lock = std::make_unique<QLockFile>(journal + kLockSuffix);
    // Only a dead owner makes a lock stale: a recording may run for days.
    lock->setStaleLockTime(0);
    return lock;
}

}  // namespace

TJournal::TJournal(std::shared_ptr<TLogStorage> storage, std::function<std::int64_t()> monotonicMs)
    : storage_(std::move(storage)), now_(std::move(monotonicMs))
{
}

TJournal::~TJournal() { CloseKeeping(); }

bool TJournal::Open(const std::filesystem::path& logsFolder, std::uint8_t sampleLength)
{
    CloseKeeping();
    lastError_ = 0;
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("journal-%1-%2%3")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++serial)
                             .arg(kJournalSuffix);
    path_ = logsFolder / ToPath(name);
    lock_ = MakeLock(FromPath(path_));
    if (!lock_->tryLock(0)) {
        lock_.reset();
        Fail(kFileAccessDenied);
        return false;
    }
    int status = kFileOk;
    out_ = storage_->CreateNew(path_, status);
    if (!out_ || status != kFileOk) {
        out_.reset();
        Fail(status == kFileOk ? kFileAccessDenied : status);
        return false;
    }
    lastSync_ = now_();
    Append(std::span<const std::uint8_t>(&sampleLength, 1));
    return Active();
}

void TJournal::Append(std::span<const std::uint8_t> bytes)
{
    if (!out_)
        return;
    const int status = out_->Write(bytes.data(), bytes.size());
    if (status != kFileOk) {
        Fail(status);
        return;
    }
    unsynced_ = true;
    Tick();
}

void TJournal::Tick()
{
    if (!out_ || !unsynced_ || now_() - lastSync_ < kSyncIntervalMs)
        return;
    const int status = out_->Sync();
    if (status != kFileOk) {
        Fail(status);
        return;
    }
    lastSync_ = now_();
    unsynced_ = false;
}

void TJournal::Discard()
{
    if (out_)
        out_->Close();
    out_.reset();
    if (!path_.empty())
        storage_->Remove(path_);
    path_.clear();
    lock_.reset();  // unlocks and removes the lock file
    unsynced_ = false;
}

void TJournal::Fail(int status)
{
    lastError_ = status;
    CloseKeeping();
}

void TJournal::CloseKeeping()
{
    if (out_) {
        out_->Sync();
        out_->Close();
    }
    out_.reset();
    lock_.reset();
    unsynced_ = false;
}

std::vector<TRecoveredJournal> RecoverJournals(const std::filesystem::path& programFolder,
                                               const TLogNaming& naming,
                                               std::shared_ptr<TLogStorage> storage)
{
    std::vector<TRecoveredJournal> done;
    const std::filesystem::path logs = LogsFolder(programFolder);
    QDir dir(FromPath(logs));
    if (!dir.exists())
        return done;
    const QStringList journals =
        dir.entryList({u'*' + kJournalSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : journals) {
        const QString full = dir.filePath(name);
        auto lock = MakeLock(full);
        if (!lock->tryLock(0))
            continue;  // its recording is still running
        if (!QFile::exists(full))
            continue;  // another start recovered it meanwhile
        TRecoveredJournal r;
        r.Journal = ToPath(full);
        QFile f(full);
        if (!f.open(QIODevice::ReadOnly)) {
            r.Status = kFileAccessDenied;
            r.Message = IoErrorMessage(r.Status);
            done.push_back(std::move(r));
            continue;
        }
        const QByteArray bytes = f.readAll();
        f.close();
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        const TLogShape shape = InspectLog({data, static_cast<std::size_t>(bytes.size())});
        if (!shape.HasHeader) {
            storage->Remove(r.Journal);  // crashed before its first byte: nothing to keep
            continue;
        }
        r.Records = shape.Records;
        r.DroppedBytes = shape.TrailingBytes;
        const std::size_t keep = 1 + shape.Records * shape.RecordSize;
        const TSaveResult saved =
            SaveLogFile(*storage, logs, LogBaseName(naming.Clock(), naming.DateFormat), {data, keep});
        r.Status = saved.Status;
        r.Message = saved.Message;
        if (saved.Ok()) {
            r.Log = saved.Path;
            storage->Remove(r.Journal);
        }
        done.push_back(std::move(r));
    }
    // Locks whose journal is gone (a crash between the two) are only clutter.
    for (const QString& name : dir.entryList({u'*' + kJournalSuffix + kLockSuffix}, QDir::Files)) {
        const QString journal = dir.filePath(name.chopped(kLockSuffix.size()));
        if (!QFile::exists(journal)) {
            QLockFile stale(dir.filePath(name));
            stale.setStaleLockTime(0);
            if (stale.tryLock(0))
                stale.unlock();
        }
    }
    return done;
}

}  // namespace kovra
