#include "record/recorder.h"

#include "record/log_format.h"

#include <QElapsedTimer>

#include <algorithm>

namespace kovra {

namespace {

std::function<std::int64_t()> SteadyMs()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

}  // namespace

TRecorder::TRecorder(std::filesystem::path programFolder, std::size_t sampleLength)
    : programFolder_(std::move(programFolder)),
      n_(static_cast<std::uint8_t>(std::min<std::size_t>(sampleLength, 255))),
      storage_(OsLogStorage()),
      monotonic_(SteadyMs()),
      tail_{n_}
{
    journal_ = std::make_unique<TJournal>(storage_, monotonic_);
}

TRecorder::~TRecorder()
{
    // A recording that ends unsaved is recovered from its journal at the
    // next start; what is only in memory goes to a journal of its own first.
    if (recording_ && !kept_)
        KeepUnsaved();
}

void TRecorder::SetStorage(std::shared_ptr<TLogStorage> storage)
{
    storage_ = std::move(storage);
    journal_ = std::make_unique<TJournal>(storage_, monotonic_);
}

void TRecorder::SetNaming(TLogNaming naming) { naming_ = std::move(naming); }

void TRecorder::SetMonotonicClock(std::function<std::int64_t()> ms)
{
    monotonic_ = std::move(ms);
    journal_ = std::make_unique<TJournal>(storage_, monotonic_);
}

void TRecorder::SetJournalFailureHandler(std::function<void(const TJournal&)> handler)
{
    journalFailed_ = std::move(handler);
}

TSaveResult TRecorder::Recording()
{
    if (!recording_) {
        Start();
        return {};
    }
    return StopAndSave();
}

void TRecorder::Start()
{
    if (recording_)
        return;
    tail_.assign(1, n_);
    tailStart_ = 0;
    recording_ = true;
    kept_ = false;
    journal_->SetBackgroundSync(backgroundSync_);
    if (journalEnabled_ && !journal_->Open(LogsFolder(programFolder_), n_) && journalFailed_)
        journalFailed_(*journal_);
}

std::vector<std::uint8_t> TRecorder::LogBuffer() const
{
    std::vector<std::uint8_t> all;
    all.reserve(static_cast<std::size_t>(tailStart_) + tail_.size());
    journal_->ReadBack(tailStart_, [&all](const std::uint8_t* d, std::size_t k) {
        all.insert(all.end(), d, d + k);
        return 0;
    });
    all.insert(all.end(), tail_.begin(), tail_.end());
    return all;
}

TSaveResult TRecorder::StopAndSave(int firstSuffix)
{
    if (!recording_)
        return {};
    const std::filesystem::path logs = LogsFolder(programFolder_);
    const QString base = LogBaseName(naming_.Clock(), naming_.DateFormat);
    TSaveResult r = SaveByLink(logs, base, firstSuffix);
    if (!r.Ok())
        r = SaveLogFile(
            *storage_, logs, base,
            [this](TLogOutput& out) {
                const int s = journal_->ReadBack(
                    tailStart_, [&out](const std::uint8_t* d, std::size_t k) { return out.Write(d, k); });
                return s != 0 ? s : out.Write(tail_.data(), tail_.size());
            },
            firstSuffix);
    if (!r.Ok())
        return r;  // still recording, nothing dropped; the journal goes on too
    recording_ = false;
    tail_.assign(1, n_);
    tail_.shrink_to_fit();
    tailStart_ = 0;
    journal_->Discard();  // a linked log keeps the file under its own name
    return r;
}

TSaveResult TRecorder::SaveByLink(const std::filesystem::path& logs, const QString& base, int firstSuffix)
{
    // A journal that took the whole recording holds the log's very bytes:
    // once synced, its file becomes the log under the log's name, so that
    // stopping costs the same after a minute as after a day's drive.
    TSaveResult r;
    r.Status = kFileNotSupported;
    if (!journal_->Active() || journal_->Written() != tailStart_ + tail_.size())
        return r;
    if ((r.Status = journal_->SyncAll()) != kFileOk) {
        JournalCheck(true);  // said at once, like any failure of the journal
        return r;            // the copy reads back what the journal still holds
    }
    return LinkLogFile(*storage_, logs, base, journal_->Path(), firstSuffix);
}

void TRecorder::Append(float t, std::span<const std::uint8_t> sample)
{
    if (!recording_)
        return;
    const TTimeStamp s = StampOf(t);
    const std::size_t start = tail_.size();
    tail_.insert(tail_.end(), {s.Hour, s.Minute, s.Second, s.Fifths});
    const std::size_t take = std::min<std::size_t>(sample.size(), n_);
    tail_.insert(tail_.end(), sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(take));
    tail_.resize(start + kStampSize + n_, 0);
    const bool wasActive = journal_->Active();
    journal_->Append(std::span<const std::uint8_t>(tail_).subspan(start));
    JournalCheck(wasActive);
}

void TRecorder::Tick()
{
    const bool wasActive = journal_->Active();
    journal_->Tick();
    JournalCheck(wasActive);
}

void TRecorder::JournalCheck(bool wasActive)
{
    if (wasActive && !journal_->Active() && journalFailed_)
        journalFailed_(*journal_);
    TrimSynced();
}

void TRecorder::TrimSynced()
{
    // Only what is on the disk leaves memory: a write the system took may
    // still be lost with a failing sync.
    if (!recording_ || !journal_->Holds() || journal_->Synced() <= tailStart_)
        return;
    const auto drop = static_cast<std::size_t>(journal_->Synced() - tailStart_);
    tail_.erase(tail_.begin(), tail_.begin() + static_cast<std::ptrdiff_t>(std::min(drop, tail_.size())));
    tailStart_ += drop;
}

std::size_t TRecorder::RecordsIn(std::uint64_t bytes) const
{
    return static_cast<std::size_t>(bytes / (kStampSize + n_));
}

TRecorder::TKept TRecorder::KeepUnsaved()
{
    TKept kept;
    if (!recording_)
        return kept;
    kept_ = true;
    // The journal holds the recording up to what it took without an error;
    // only the records after that are in memory alone.
    std::uint64_t inJournal = 0;
    if (journal_->Holds()) {
        inJournal = journal_->Written();
        if (inJournal > 0)
            kept.Places.push_back({journal_->Path(), RecordsIn(inJournal - 1)});
    }
    const std::uint64_t end = tailStart_ + tail_.size();
    if (inJournal < 1)
        inJournal = 1;  // N is not a record
    if (inJournal >= end)
        return kept;
    TJournal rest(storage_, monotonic_);
    const auto from = static_cast<std::size_t>(inJournal - tailStart_);
    const std::size_t records = RecordsIn(end - inJournal);
    if (rest.Open(LogsFolder(programFolder_), n_))
        rest.Append(std::span<const std::uint8_t>(tail_).subspan(from));
    if (!rest.Active()) {
        kept.Lost = records;
        kept.Status = rest.LastError();
        if (rest.Holds())
            rest.Discard();  // its N alone would come back as an empty log
        return kept;
    }
    kept.Places.push_back({rest.Path(), records});
    return kept;  // rest's destructor syncs and keeps the file
}

}  // namespace kovra
