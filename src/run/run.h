// One run of the logger: the settings, the compiled formulas and what the
// cycles make of them (values, sums, alarms, LastCycleTime), the cycle
// processing, the recorder and one source of samples. The window, kovra
// record, kovra poll and the replay are its consumers: none of them builds a
// run or takes a source's entries itself.
//
// The loop. The source posts WM_CYCLE_DONE to the run when entries wait; the
// run takes them all and handles them oldest first: a cycle goes through
// TCycle::LogPrint (record, formulas, sums, one strip-chart step, alarms, the
// shown display's drawing), a re-send moves LastCycleTime, and every entry is
// then handed to OnEntry. With a budget the run handles entries for at most
// that long and continues on the next turn of the event loop, so that a
// window's input and painting are never starved; without one it handles all.
//
// Falling behind. A run more than kMaxQueuedSamples entries behind handles the
// oldest cycles without drawing the gauges for them (values, sums, strip-chart
// steps, the chart tab's run and the recording stay complete) until it has
// caught up; they are counted in Undrawn() while the gauges are shown. One
// more than kRecordOnlyBacklog behind (cycles come faster than the formulas can be
// worked out) only records the oldest: RecordedOnly(). Either way every cycle
// reaches the recorder, in order, and the budget holds.
//
// Starting again. What the cycles change is the run's state (TRunState), kept
// apart from the settings, which they only read; Restart() gives the run a
// fresh state (values 0, no alarm, the chart tab's run state cleared) and
// drops the pending entries. A replay seeks by doing that and running the cycles up to
// the record sought.
//
// Thread: the one that runs the event loop the run lives in (the window's).
#pragma once

#include "config/model.h"
#include "run/cycle.h"
#include "run/sample_source.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

namespace kovra {

class TRecorder;

class TRun : public QObject {
public:
    static constexpr std::size_t kRecordOnlyBacklog = 4 * kMaxQueuedSamples;

    // settings: loaded; its formulas are compiled here.
    explicit TRun(TSettings settings, QObject* parent = nullptr);
    ~TRun() override;
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;

    TSettings& Settings() { return settings_; }
    const TSettings& Settings() const { return settings_; }
    TAllData& Data() { return settings_.Data; }
    const TAllData& Data() const { return settings_.Data; }
    TCycle& Cycle() { return *cycle_; }
    // What the cycles have made of the settings so far.
    TRunState& State() { return cycle_->State(); }
    const TRunState& State() const { return cycle_->State(); }

    // A recorder saving into programFolder/logs; the cycle appends to it.
    TRecorder& AttachRecorder(const std::filesystem::path& programFolder);
    TRecorder* Recorder() { return recorder_.get(); }
    bool IsRecording() const;

    // What the cycles draw on, and which display is shown (None: nothing is
    // drawn but the strip-chart steps). displays may be null.
    void SetDisplays(TCycleDisplays* displays);
    void SetShownPage(TShownPage page) { page_ = page; }
    TShownPage ShownPage() const { return page_; }
    // Whether a cycle may start the alarm sound.
    void SetSound(bool on) { sound_ = on; }

    // The run's source; the run is its consumer. Replaces (and stops) one
    // set before.
    void SetSource(std::unique_ptr<TSampleSource> source);
    TSampleSource* Source() { return source_.get(); }
    // The serial worker, when the source is the link.
    TCommThread* Link() { return source_ ? source_->Link() : nullptr; }
    void StartSource();
    void StopSource();

    // Time spent handling entries per turn of the event loop; zero: no limit.
    void SetBudget(std::chrono::milliseconds budget) { budget_ = budget; }

    // Every entry after it was handled; for a cycle, its outcome too.
    std::function<void(const TCycleSample&, const TCycleOutcome&)> OnEntry;

    // The loop's one turn (also run by WM_CYCLE_DONE): takes what the source
    // has and handles the queue within the budget.
    void LogPrint();
    // Takes and handles everything, whatever the budget: at the end of a run.
    void Drain();
    // An entry as if the source had queued it.
    void QueueEntry(TCycleSample entry);
    std::size_t PendingEntries() const { return pending_.size(); }
    // Forgets the entries taken from the source and not yet handled (a
    // replay paused mid-batch stops at the record it shows).
    void DropPending()
    {
        pending_.clear();
        recordedAhead_ = 0;
    }
    // Puts every cycle the source has completed and the run not yet handled
    // into the recording now, so that a recording stopped next holds every
    // cycle completed before it; they are handled later without being
    // recorded again. Nothing while not recording.
    void RecordPending();

    // One cycle handled now, outside the queue.
    TCycleOutcome ProcessCycle(std::span<const std::uint8_t> sample, double timeOfDay,
                               const TCycleDrawing& drawing);
    TCycleOutcome ProcessCycle(std::span<const std::uint8_t> sample, double timeOfDay)
    {
        return ProcessCycle(sample, timeOfDay, Drawing());
    }
    // How a cycle draws now: the shown page, charts, sound as set.
    TCycleDrawing Drawing() const { return {page_, true, sound_}; }

    // Back to the run's beginning; LastCycleTime becomes timeOfDay.
    void Restart(double timeOfDay);

    // The sample buffer of the last cycle, area by area.
    const std::vector<std::uint8_t>& Sample() const { return sample_; }
    // Cycles handled (each went through the cycle processing).
    std::uint64_t Processed() const { return processed_; }
    // Cycles handled without being drawn because the run was far behind.
    std::uint64_t Undrawn() const { return undrawn_; }
    // Of those, the cycles only recorded: their values never reached the formulas.
    std::uint64_t RecordedOnly() const { return recordedOnly_; }
    // Cycles that never reached the displays: dropped by the source or undrawn.
    std::uint64_t DroppedFromDisplay() const;

protected:
    bool event(QEvent* e) override;

private:
    void Take();
    void Handle(TCycleSample& entry, const TCycleDrawing& drawing);
    void PostTurn();
    // For the entry just taken off the front: whether RecordPending recorded it.
    bool TakeRecordedAhead()
    {
        if (recordedAhead_ == 0)
            return false;
        --recordedAhead_;
        return true;
    }

    TSettings settings_;
    std::unique_ptr<TRecorder> recorder_;
    std::unique_ptr<TCycle> cycle_;
    std::unique_ptr<TSampleSource> source_;
    std::vector<std::uint8_t> sample_;
    std::deque<TCycleSample> pending_;
    std::chrono::milliseconds budget_{0};
    TShownPage page_ = TShownPage::None;
    bool sound_ = true;
    bool turnPosted_ = false;
    // How many entries at the front of pending_ RecordPending has recorded.
    std::size_t recordedAhead_ = 0;
    // A turn that ran out of budget goes on from a timer rather than a posted
    // event: posted events come before timers (and, in some event loops,
    // before input), so a run that always had one waiting would keep the
    // loop's other work out for as long as entries pile up.
    QTimer resume_;
    std::uint64_t processed_ = 0;
    std::uint64_t undrawn_ = 0;
    std::uint64_t recordedOnly_ = 0;
};

}  // namespace kovra
