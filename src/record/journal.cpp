#include "record/journal.h"

#include "platform/files.h"
#include "record/log_format.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
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

// Hands the first count bytes of a file to sink in pieces, so that a journal
// of a long drive is never read whole into memory.
int ReadFilePrefix(const QString& path, std::uint64_t count,
                   const std::function<int(const std::uint8_t*, std::size_t)>& sink)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.exists() ? kFileAccessDenied : kFileNotFound;
    constexpr std::uint64_t kPiece = 1 << 20;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(count, kPiece)));
    while (count > 0) {
        const auto want = static_cast<qint64>(std::min<std::uint64_t>(count, piece.size()));
        const qint64 got = f.read(reinterpret_cast<char*>(piece.data()), want);
        if (got < 0)
            return kFileDeviceError;
        if (got == 0)
            return kFileDeviceError;  // shorter than what it took: someone cut it
        if (const int s = sink(piece.data(), static_cast<std::size_t>(got)); s != kFileOk)
            return s;
        count -= static_cast<std::uint64_t>(got);
    }
    return kFileOk;
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
    path_.clear();
    lastError_ = 0;
    written_ = synced_ = 0;
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("journal-%1-%2%3")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++serial)
                             .arg(kJournalSuffix);
    path_ = logsFolder / ToPath(name);
    lock_ = MakeLock(FromPath(path_));
    if (!lock_->tryLock(0)) {
        // Held by nobody (the name is new): the lock file itself could not be
        // made. Say why in the words of a file that cannot be written.
        const bool denied = lock_->error() == QLockFile::PermissionError;
        lock_.reset();
        const int status = denied ? kFileAccessDenied : ProbeCreate();
        path_.clear();
        lastError_ = status;
        return false;
    }
    int status = kFileOk;
    out_ = storage_->CreateNew(path_, status);
    if (!out_ || status != kFileOk) {
        out_.reset();
        lock_.reset();
        path_.clear();
        lastError_ = status == kFileOk ? kFileAccessDenied : status;
        return false;
    }
    lastSync_ = now_();
    Append(std::span<const std::uint8_t>(&sampleLength, 1));
    if (!Active()) {
        // Not even N went in: nothing of this recording is in the file.
        Discard();
        return false;
    }
    return true;
}

int TJournal::ProbeCreate()
{
    int status = kFileOk;
    auto probe = storage_->CreateNew(path_, status);
    if (!probe)
        return status == kFileOk ? kFileAccessDenied : status;
    const std::uint8_t byte = 0;
    status = probe->Write(&byte, 1);
    probe->Close();
    storage_->Remove(path_);
    return status == kFileOk ? kFileAccessDenied : status;
}

void TJournal::Append(std::span<const std::uint8_t> bytes)
{
    if (!out_)
        return;
    CollectSync(false);
    if (!out_)
        return;
    const int status = out_->Write(bytes.data(), bytes.size());
    if (status != kFileOk) {
        Fail(status);
        return;
    }
    written_ += bytes.size();
    Tick();
}

void TJournal::Tick()
{
    CollectSync(false);
    if (!out_ || sync_.valid() || synced_ == written_ || now_() - lastSync_ < kSyncIntervalMs)
        return;
    if (background_) {
        // The file takes further writes meanwhile: the sync makes safe at
        // least what was written when it began.
        syncTarget_ = written_;
        lastSync_ = now_();
        sync_ = std::async(std::launch::async, [out = out_.get()] { return out->Sync(); });
        return;
    }
    const int status = out_->Sync();
    if (status != kFileOk) {
        Fail(status);
        return;
    }
    lastSync_ = now_();
    synced_ = written_;
}

void TJournal::CollectSync(bool wait)
{
    if (!sync_.valid())
        return;
    if (!wait && sync_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    const int status = sync_.get();
    if (status != kFileOk) {
        Fail(status);
        return;
    }
    synced_ = std::max(synced_, syncTarget_);
}

void TJournal::FinishSync() { CollectSync(true); }

int TJournal::SyncAll()
{
    CollectSync(true);
    if (!out_)
        return lastError_ ? lastError_ : kFileAccessDenied;
    if (synced_ == written_)
        return kFileOk;
    const int status = out_->Sync();
    if (status != kFileOk) {
        Fail(status);
        return status;
    }
    lastSync_ = now_();
    synced_ = written_;
    return kFileOk;
}

void TJournal::Discard()
{
    CollectSync(true);
    if (out_)
        out_->Close();
    out_.reset();
    if (!path_.empty())
        storage_->Remove(path_);
    path_.clear();
    lock_.reset();  // unlocks and removes the lock file
    written_ = synced_ = 0;
}

void TJournal::Fail(int status)
{
    // A sync in flight must not outlive the file it syncs.
    if (sync_.valid())
        sync_.wait();
    // The file stays the recording's (and locked): what it took is read back
    // at the save. It takes nothing more, so that a record cut short by the
    // failure stays its last bytes and recovery drops it.
    lastError_ = status;
    if (out_)
        out_->Close();
    out_.reset();
}

void TJournal::CloseKeeping()
{
    CollectSync(true);
    if (out_) {
        out_->Sync();
        out_->Close();
    }
    out_.reset();
    lock_.reset();
}

int TJournal::ReadBack(std::uint64_t count,
                       const std::function<int(const std::uint8_t*, std::size_t)>& sink) const
{
    if (count == 0)
        return kFileOk;
    if (path_.empty())
        return kFileNotFound;
    return ReadFilePrefix(FromPath(path_), count, sink);
}

std::string JournalFailureText(const TJournal& journal)
{
    std::string where = journal.Holds() ? " " + FromPath(journal.Path()).toStdString() : std::string();
    return "cannot write the journal" + where + ": " + IoErrorMessage(journal.LastError()) +
           "; the recording goes on in memory";
}

std::string RecoveryText(const TRecoveredJournal& r)
{
    const std::string journal = FromPath(r.Journal.lexically_normal()).toStdString();
    if (r.Status != 0)
        return "could not recover " + journal + ": " + r.Message + "; kept for the next start";
    return "recovered " + std::to_string(r.Records) + " records of an unsaved recording into " +
           FromPath(r.Log.lexically_normal()).toStdString() +
           (r.DroppedBytes ? " (its cut-short last record left out)" : "");
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
        if (!lock->tryLock(0)) {
            // Only a live owner keeps a lock (a dead one's is taken away as
            // stale). Any other failure is a lock file that could not be made
            // (a full disk): with none standing, the owner is gone.
            if (lock->error() == QLockFile::LockFailedError || QFileInfo::exists(full + kLockSuffix))
                continue;  // its recording is still running
        }
        if (!QFile::exists(full))
            continue;  // another start recovered it meanwhile
        TRecoveredJournal r;
        r.Journal = ToPath(full);
        std::uint8_t n = 0;
        qint64 size = 0;
        {
            QFile f(full);
            if (!f.open(QIODevice::ReadOnly)) {
                r.Status = kFileAccessDenied;
                r.Message = IoErrorMessage(r.Status);
                done.push_back(std::move(r));
                continue;
            }
            size = f.size();
            if (size > 0 && f.read(reinterpret_cast<char*>(&n), 1) != 1) {
                r.Status = kFileDeviceError;
                r.Message = IoErrorMessage(r.Status);
                done.push_back(std::move(r));
                continue;
            }
        }
        if (size <= 0) {
            storage->Remove(r.Journal);  // crashed before its first byte: nothing to keep
            continue;
        }
        const std::uint64_t recordSize = kStampSize + n;
        const std::uint64_t body = static_cast<std::uint64_t>(size) - 1;
        r.Records = static_cast<std::size_t>(body / recordSize);
        r.DroppedBytes = static_cast<std::size_t>(body % recordSize);
        const std::uint64_t keep = 1 + r.Records * recordSize;
        const TSaveResult saved = SaveLogFile(
            *storage, logs, LogBaseName(naming.Clock(), naming.DateFormat), [&](TLogOutput& out) {
                return ReadFilePrefix(full, keep, [&out](const std::uint8_t* d, std::size_t k) {
                    return out.Write(d, k);
                });
            });
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
