// Helpers shared by the link tests: one QCoreApplication, an event pump and a
// consumer that takes the worker's FIFO the way the window does.
#pragma once

#include "link/comm_thread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

namespace kovra::test {

inline QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "link_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() holds or timeoutMs pass; returns done().
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void Pump(int ms)
{
    WaitUntil([] { return false; }, ms);
}

class TSampleSink : public QObject {
public:
    TCommThread* Comm = nullptr;
    std::vector<TCycleSample> Taken;
    int Events = 0;

    std::vector<TCycleSample> Of(TCycleSample::TKind kind) const
    {
        std::vector<TCycleSample> out;
        for (const TCycleSample& s : Taken)
            if (s.Kind == kind)
                out.push_back(s);
        return out;
    }
    std::size_t Count(TCycleSample::TKind kind) const { return Of(kind).size(); }

    // The entries in order, one letter each: C cycle, R re-send, L lost, O open, N notice.
    std::string Trace() const
    {
        std::string out;
        for (const TCycleSample& s : Taken)
            out += "CRLON"[static_cast<int>(s.Kind)];
        return out;
    }

protected:
    bool event(QEvent* e) override
    {
        if (!IsCycleDone(e))
            return QObject::event(e);
        ++Events;
        TCycleSample s;
        while (Comm && Comm->TakeSample(s))
            Taken.push_back(std::move(s));
        return true;
    }
};

}  // namespace kovra::test
