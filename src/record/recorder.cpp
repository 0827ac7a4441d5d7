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
      buffer_{n_}
{
    journal_ = std::make_unique<TJournal>(storage_, monotonic_);
}

TRecorder::~TRecorder() = default;

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
    buffer_.assign(1, n_);
    recording_ = true;
    if (journalEnabled_)
        journal_->Open(LogsFolder(programFolder_), n_);
}

TSaveResult TRecorder::StopAndSave()
{
    if (!recording_)
        return {};
    TSaveResult r = SaveLogFile(*storage_, LogsFolder(programFolder_),
                                LogBaseName(naming_.Clock(), naming_.DateFormat), buffer_);
    if (!r.Ok())
        return r;  // still recording, nothing dropped; the journal goes on too
    recording_ = false;
    buffer_.assign(1, n_);
    journal_->Discard();
    return r;
}

void TRecorder::Append(float t, std::span<const std::uint8_t> sample)
{
    if (!recording_)
        return;
    const TTimeStamp s = StampOf(t);
    const std::size_t start = buffer_.size();
    buffer_.insert(buffer_.end(), {s.Hour, s.Minute, s.Second, s.Fifths});
    const std::size_t take = std::min<std::size_t>(sample.size(), n_);
    buffer_.insert(buffer_.end(), sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(take));
    buffer_.resize(start + kStampSize + n_, 0);
    journal_->Append(std::span<const std::uint8_t>(buffer_).subspan(start));
}

void TRecorder::Tick() { journal_->Tick(); }

}  // namespace kovra
