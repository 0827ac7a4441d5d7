// Where a run's samples come from: the ECU's link, or a log being replayed.
//
// A source queues entries (completed cycles, re-sends, the port's state) and
// tells its consumer that entries wait by posting WM_CYCLE_DONE to it, once
// each time its queue goes from empty to non-empty; the consumer then takes
// them, oldest first, on its own thread.
#pragma once

#include "link/comm_thread.h"

#include <QObject>

#include <cstdint>
#include <memory>

namespace kovra {

class TSampleSource {
public:
    virtual ~TSampleSource() = default;

    // Before Start: the object that receives WM_CYCLE_DONE.
    virtual void SetConsumer(QObject* consumer) = 0;
    virtual void Start() = 0;
    // Ends the source; entries queued before stay to be taken.
    virtual void Stop() = 0;
    // The next entry, oldest first; false when none waits.
    virtual bool Take(TCycleSample& out) = 0;
    // Completed cycles the source dropped because its consumer fell behind.
    virtual std::uint64_t Dropped() const { return 0; }
    // While on, nothing may be dropped however far behind the consumer is:
    // a recording must see every cycle.
    virtual void SetKeepAll(bool /*on*/) {}
    // The serial worker behind the source, when it is the link.
    virtual TCommThread* Link() { return nullptr; }
};

// The ECU's link: the serial worker's FIFO.
class TLinkSource : public TSampleSource {
public:
    explicit TLinkSource(const TCommSettings& settings) { comm_.Configure(settings); }
    ~TLinkSource() override { comm_.Stop(); }

    void SetConsumer(QObject* consumer) override { comm_.SetConsumer(consumer); }
    void Start() override { comm_.Start(); }
    void Stop() override { comm_.Stop(); }
    bool Take(TCycleSample& out) override { return comm_.TakeSample(out); }
    std::uint64_t Dropped() const override { return comm_.DroppedSamples(); }
    void SetKeepAll(bool on) override { comm_.SetKeepAll(on); }
    TCommThread* Link() override { return &comm_; }

private:
    TCommThread comm_;
};

}  // namespace kovra
