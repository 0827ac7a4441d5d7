#include "run/run.h"

#include "record/recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <algorithm>

namespace kovra {

TRun::TRun(TSettings settings, QObject* parent) : QObject(parent), settings_(std::move(settings))
{
    cycle_ = std::make_unique<TCycle>(settings_, ChartFormulas(settings_));
    cycle_->TouchLastCycleTime();
    sample_.assign(settings_.Data.SampleLength, 0);
    resume_.setSingleShot(true);
    resume_.setInterval(0);
    resume_.setTimerType(Qt::PreciseTimer);
    connect(&resume_, &QTimer::timeout, this, [this] { LogPrint(); });
}

TRun::~TRun()
{
    // The source may post to the run until it has stopped.
    if (source_)
        source_->Stop();
}

TRecorder& TRun::AttachRecorder(const std::filesystem::path& programFolder)
{
    recorder_ = std::make_unique<TRecorder>(programFolder, settings_.Data.SampleLength);
    cycle_->SetRecorder(recorder_.get());
    return *recorder_;
}

bool TRun::IsRecording() const { return recorder_ && recorder_->IsRecording(); }

void TRun::SetDisplays(TCycleDisplays* displays) { cycle_->SetDisplays(displays); }

void TRun::SetSource(std::unique_ptr<TSampleSource> source)
{
    if (source_)
        source_->Stop();
    source_ = std::move(source);
    if (source_)
        source_->SetConsumer(this);
}

void TRun::StartSource()
{
    if (source_)
        source_->Start();
}

void TRun::StopSource()
{
    if (source_)
        source_->Stop();
}

bool TRun::event(QEvent* e)
{
    if (IsCycleDone(e)) {
        // While a turn waits for its timer, the source's news waits with it.
        if (resume_.isActive())
            turnPosted_ = false;
        else
            LogPrint();
        return true;
    }
    return QObject::event(e);
}

void TRun::PostTurn()
{
    if (turnPosted_ || resume_.isActive())
        return;
    turnPosted_ = true;
    QCoreApplication::postEvent(this, new QEvent(WM_CYCLE_DONE));
}

void TRun::QueueEntry(TCycleSample entry)
{
    pending_.push_back(std::move(entry));
    PostTurn();
}

std::uint64_t TRun::DroppedFromDisplay() const { return undrawn_ + (source_ ? source_->Dropped() : 0); }

void TRun::Take()
{
    if (!source_)
        return;
    // While recording the source keeps every cycle, however far behind the
    // run is: a recording must not lose one to a busy consumer.
    source_->SetKeepAll(IsRecording());
    TCycleSample entry;
    while (source_->Take(entry))
        pending_.push_back(std::move(entry));
}

void TRun::LogPrint()
{
    turnPosted_ = false;
    Take();
    // Hopelessly behind: the oldest cycles are only recorded. Nothing could
    // show them in time any more, and handling them would only push the
    // newer ones further back.
    while (pending_.size() > kRecordOnlyBacklog) {
        TCycleSample entry = std::move(pending_.front());
        pending_.pop_front();
        const bool recorded = TakeRecordedAhead();
        if (entry.Kind == TCycleSample::TKind::Cycle) {
            ++undrawn_;
            ++recordedOnly_;
            if (!recorded)
                cycle_->Record(entry.Sample, entry.TimeOfDay);
            if (OnEntry)
                OnEntry(entry, TCycleOutcome{});
        } else {
            Handle(entry, Drawing());
        }
    }
    // Far behind: the oldest cycles are handled without drawing the gauges,
    // so that the run catches up instead of falling further behind. The strip
    // charts' steps and the chart tab's run cost little, and a run left out
    // there would be missing from its plot for good.
    const bool gaugesShown = page_ == TShownPage::Gauges;
    const TCycleDrawing quiet{gaugesShown ? TShownPage::None : page_, true, false};
    QElapsedTimer spent;
    spent.start();
    while (!pending_.empty()) {
        const bool behind = pending_.size() > kMaxQueuedSamples;
        // Taken off the queue before it is handled: a consumer that opens a
        // box for this entry runs the event loop, which may come back here.
        TCycleSample entry = std::move(pending_.front());
        pending_.pop_front();
        TCycleDrawing drawing = behind ? quiet : Drawing();
        drawing.Record = !TakeRecordedAhead();
        if (behind && gaugesShown && entry.Kind == TCycleSample::TKind::Cycle)
            ++undrawn_;
        Handle(entry, drawing);
        if (budget_.count() > 0 && spent.elapsed() >= budget_.count())
            break;
    }
    if (!pending_.empty())
        resume_.start();
}

void TRun::Drain()
{
    const auto budget = budget_;
    budget_ = std::chrono::milliseconds(0);
    LogPrint();
    budget_ = budget;
}

void TRun::Handle(TCycleSample& entry, const TCycleDrawing& drawing)
{
    TCycleOutcome out;
    switch (entry.Kind) {
    case TCycleSample::TKind::Cycle:
        out = ProcessCycle(entry.Sample, entry.TimeOfDay, drawing);
        break;
    case TCycleSample::TKind::Resend:
        cycle_->LastCycleTime = entry.TimeOfDay;
        break;
    case TCycleSample::TKind::PortLost:
    case TCycleSample::TKind::PortOpen:
    case TCycleSample::TKind::Notice:
        break;
    }
    if (OnEntry)
        OnEntry(entry, out);
}

TCycleOutcome TRun::ProcessCycle(std::span<const std::uint8_t> sample, double timeOfDay,
                                 const TCycleDrawing& drawing)
{
    // The sample buffer keeps its length: a shorter sample leaves the rest of
    // the last cycle's bytes, a longer one is cut.
    const std::size_t n = std::min(sample.size(), sample_.size());
    std::copy_n(sample.begin(), n, sample_.begin());
    ++processed_;
    // Timed when the source completed the cycle, not when its turn came:
    // elapsed times and record stamps stay true in a flood.
    return cycle_->LogPrintAt(sample_, drawing, timeOfDay);
}

void TRun::RecordPending()
{
    if (!IsRecording())
        return;
    Take();
    for (std::size_t i = recordedAhead_; i < pending_.size(); ++i)
        if (pending_[i].Kind == TCycleSample::TKind::Cycle)
            cycle_->Record(pending_[i].Sample, pending_[i].TimeOfDay);
    recordedAhead_ = pending_.size();
}

void TRun::Restart(double timeOfDay)
{
    pending_.clear();
    recordedAhead_ = 0;
    cycle_->Restart(timeOfDay);
    std::fill(sample_.begin(), sample_.end(), 0);
    processed_ = 0;
    undrawn_ = 0;
    recordedOnly_ = 0;
}

}  // namespace kovra
