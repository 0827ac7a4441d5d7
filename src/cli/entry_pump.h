// The tools take the worker's entries the way the window does: on the thread
// that runs the event loop, each time the worker announces that its queue has
// entries, every one of them in order.
#pragma once

#include "link/comm_thread.h"

#include <QObject>

#include <functional>

namespace kovra::cli {

class TEntryPump : public QObject {
public:
    using TTake = std::function<void(const TCycleSample&)>;
    // comm must be configured with this pump as its consumer before it starts.
    TEntryPump(TCommThread& comm, TTake take) : comm_(comm), take_(std::move(take)) {}

    // What is queued now: after the event loop, the entries of the last moment.
    void Drain()
    {
        TCycleSample s;
        while (comm_.TakeSample(s))
            take_(s);
    }

protected:
    bool event(QEvent* e) override
    {
        if (!IsCycleDone(e))
            return QObject::event(e);
        Drain();
        return true;
    }

private:
    TCommThread& comm_;
    TTake take_;
};

}  // namespace kovra::cli
