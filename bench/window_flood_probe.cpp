// End-to-end probe of the window under the largest configuration against an
// ECU that answers at once: the logger's own window (TForm1) runs in this
// process on the display it is given, recording from start-up, for a while;
// then the probe clicks the graphs tab and the chart tab and presses "r" the
// way input arrives (queued behind whatever the window has to do) and waits
// for each to show on screen. It prints one line of key=value figures.
//
// Built by scripts/measure-window-flood.sh against any build of the logger
// (it uses only what every build of the window offers), so that two builds
// can be compared in one run.
//
//   window_flood_probe PORT SECONDS
#include "gauge_settings_text.h"
#include "app/KovraLoggerU.h"
#include "config/cp1251.h"
#include "link/comm_thread.h"
#include "record/recorder.h"
#if __has_include("run/run.h")
#include "run/run.h"
#define KOVRA_PROBE_HAS_RUN 1
#endif

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace kovra;

constexpr int kAreas = 3, kAreaLength = 76;

// 3 areas of 76 bytes, 255 formulas of 100 to 200 characters, 32 strip charts
// and 64 gauges, recording on from start-up, the window filling a 1918-pixel
// screen (a 1900-pixel panel).
std::string LargestSettings(const std::string& port)
{
    std::string s = "[настройки]\nпорт=" + port +
                    "\nкол-во_областей=3\nкол-во_формул=255\nкол-во_логов=32\nкол-во_приборов=64\n"
                    "авто_старт_логов=1\nтаймаут_отв=1000\n[области]\n";
    for (int i = 0; i < kAreas; ++i)
        s += "смещение_" + std::to_string(i) + "=" + std::to_string(i * 80) + "\nразмер_" + std::to_string(i) +
             "=" + std::to_string(kAreaLength) + "\n";
    const char* terms[] = {"(a*256+b)/4", "sin(c)*2", "ln(a+1)", "abs(c-b)/8", "(b+1)*(a+2)/16",
                           "sin(a/7)*(b+3)", "abs(a-b)*0.25"};
    for (int n = 0; n < 255; ++n) {
        std::string f;
        const std::size_t want = 100 + static_cast<std::size_t>(n * 37 % 100);
        for (int t = n; f.size() < want; ++t)
            f += (f.empty() ? "" : (t % 2 ? "+" : "-")) + std::string(terms[t % 7]);
        s += "[формула_" + std::to_string(n) + "]\nкол-во_перем=3\n"
             "переменная_0=a\nобласть_пер_0=" + std::to_string(n % kAreas) + "\nотступ_пер_0=" +
             std::to_string(n % kAreaLength) + "\n"
             "переменная_1=b\nобласть_пер_1=" + std::to_string((n + 1) % kAreas) + "\nотступ_пер_1=" +
             std::to_string((n * 7) % kAreaLength) + "\n"
             "переменная_2=c\nвид_2=1\nномер_формулы_2=" + std::to_string(n ? n - 1 : 0) + "\n"
             "формула=" + f + "\n";
    }
    for (int k = 0; k < 32; ++k)
        s += "[логер_" + std::to_string(k) + "]\nвысота=150\nформула=" + std::to_string(k * 7) + "\nмакс_знач=20000\n";
    s += bench::GaugeSections();
    return Utf8ToCp1251(s);
}

// Paint events reaching a widget inside `page`, counted from when it is armed.
struct PaintWatch : QObject {
    QWidget* page = nullptr;
    bool armed = false, painted = false;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (armed && e->type() == QEvent::Paint && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (w == page || page->isAncestorOf(w))
                painted = true;
        }
        return false;
    }
};

// Waits, turning the event loop, until done() holds; the milliseconds it took, or -1.
template <class F> double WaitFor(F done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return t.nsecsElapsed() / 1e6;
}

// Times every event the window's thread handles, so that a stall is named by
// the event and the object that took the time.
class TTimedApp : public QApplication {
public:
    using QApplication::QApplication;
    struct TLong {
        double Ms = 0;
        int Type = 0;
        std::string Receiver;
    };
    std::vector<TLong> longest;  // the five longest, longest first

    bool notify(QObject* o, QEvent* e) override
    {
        const int type = e->type();
        // Other threads' events (the serial worker's loop) are not the
        // window's; nested handlers (a paint inside a resize) count in their
        // outer one.
        if (QThread::currentThread() != thread())
            return QApplication::notify(o, e);
        if (depth_++ > 0) {
            const bool r = QApplication::notify(o, e);
            --depth_;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const bool r = QApplication::notify(o, e);
        --depth_;
        const double ms = t.nsecsElapsed() / 1e6;
        if (longest.size() < 5 || ms > longest.back().Ms) {
            TLong l{ms, type, o->metaObject()->className()};
            longest.insert(std::upper_bound(longest.begin(), longest.end(), l,
                                            [](const TLong& a, const TLong& b) { return a.Ms > b.Ms; }),
                           l);
            if (longest.size() > 5)
                longest.pop_back();
        }
        return r;
    }

private:
    int depth_ = 0;
};

// Records of the running recording; builds without the count read the whole
// log back (which the key's time then includes).
template <class R> std::uint64_t RecordsOf(const R& recorder)
{
    if constexpr (requires { recorder.Records(); })
        return recorder.Records();
    else
        return (recorder.LogBuffer().size() - 1) / (recorder.SampleLength() + 4);
}

void PostClick(QWidget* w, QPoint at)
{
    const QPointF local(at), global(w->mapToGlobal(at));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                                   Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                                   Qt::NoButton, Qt::NoModifier));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_flood_probe PORT SECONDS\n");
        return 2;
    }
    TTimedApp app(argc, argv);
    const std::string port = argv[1];
    const double seconds = std::atof(argv[2]);
    QTemporaryDir program, working;
    QDir(program.path()).mkpath("logs");
    std::ofstream(program.filePath("set.ini").toStdString(), std::ios::binary) << LargestSettings(port);

    auto form = std::make_unique<TForm1>(program.path().toStdString(), working.path().toStdString());
    form->resize(1918, 1040);
    form->show();
    form->activateWindow();

    // How late a 20 ms timer fires while the cycles come: the event loop's turn.
    std::vector<double> late;
    QElapsedTimer tick;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        if (tick.isValid())
            late.push_back(std::max(0.0, tick.nsecsElapsed() / 1e6 - 20));
        tick.restart();
    });
    beat.start(20);

    QElapsedTimer run;
    run.start();
    WaitFor([&] { return run.elapsed() >= seconds * 1000; }, int(seconds * 1000) + 1000);
    beat.stop();
    const double runSeconds = run.nsecsElapsed() / 1e9;

    TCommThread* comm = kovra::CommThread;
    PaintWatch watch;
    app.installEventFilter(&watch);
    QTabBar* bar = form->PageControl1->tabBar();
    double clickGraphs = -1, clickChart = -1, keyR = -1;
    std::uint64_t workerCycles = 0, records = 0;
    std::uint64_t processed = 0, undrawn = 0;  // drawn in full, and not drawn, when "r" was handled
    std::uint64_t recordedOnly = 0;            // of those not drawn, only recorded (no formulas)
    double keyAt = 0;  // seconds from the start to when "r" was handled
    {
        watch.page = form->TabSheet1;
        watch.painted = false;
        watch.armed = true;
        PostClick(bar, bar->tabRect(0).center());
        clickGraphs = WaitFor([&] { return form->PageControl1->currentIndex() == 0 && watch.painted; }, 120000);
    }
    {
        watch.page = form->TabSheet3;
        watch.painted = false;
        PostClick(bar, bar->tabRect(2).center());
        clickChart = WaitFor([&] { return form->PageControl1->currentIndex() == 2 && watch.painted; }, 120000);
    }
    {
        // "r" ends the recording: the log is written and the button says so.
        watch.page = form->Button2;
        watch.painted = false;
        const QString before = form->Button2->text();
        QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, "r"));
        QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyRelease, Qt::Key_R, Qt::NoModifier, "r"));
        // The records the recording holds when the key is handled.
        struct KeySpy : QObject {
            TForm1* f = nullptr;
            TCommThread* c = nullptr;
            std::uint64_t* cycles = nullptr;
            std::uint64_t* recs = nullptr;
            QElapsedTimer* clock = nullptr;
            double* at = nullptr;
            std::uint64_t* processed = nullptr;
            std::uint64_t* undrawn = nullptr;
            std::uint64_t* recordedOnly = nullptr;
            bool eventFilter(QObject* o, QEvent* e) override
            {
                if (o == f && e->type() == QEvent::KeyPress && f->IsRecording()) {
                    *cycles = c ? c->Cycles() : 0;
                    *at = clock->nsecsElapsed() / 1e9;
                    *recs = RecordsOf(*f->Recorder());
                    *processed = f->ProcessedCycles();
                    *undrawn = f->DroppedFromDisplay();
#ifdef KOVRA_PROBE_HAS_RUN
                    *recordedOnly = f->Run().RecordedOnly();
#endif
                }
                return false;
            }
        } spy;
        spy.f = form.get();
        spy.c = comm;
        spy.cycles = &workerCycles;
        spy.recs = &records;
        spy.clock = &run;
        spy.at = &keyAt;
        spy.processed = &processed;
        spy.undrawn = &undrawn;
        spy.recordedOnly = &recordedOnly;
        form->installEventFilter(&spy);
        keyR = WaitFor([&] { return form->Button2->text() != before && watch.painted; }, 120000);
        form->removeEventFilter(&spy);
    }
    std::sort(late.begin(), late.end());
    auto pct = [&](double p) { return late.empty() ? 0.0 : late[std::size_t(p * (late.size() - 1))]; };
    const std::uint64_t dropped = comm ? comm->DroppedSamples() : 0;
    if (keyAt <= 0)
        keyAt = run.nsecsElapsed() / 1e9;
    std::printf("seconds=%.1f until_r=%.1f worker_cycles_per_s=%.0f recorded_cycles_per_s=%.0f worker_cycles=%llu "
                "recorded=%llu fifo_dropped=%llu tab_graphs_ms=%.1f tab_chart_ms=%.1f key_r_ms=%.1f "
                "timer_late_p50_ms=%.1f timer_late_p99_ms=%.1f timer_late_max_ms=%.1f processed_per_s=%.0f "
                "undrawn=%llu worked_out_per_s=%.0f",
                runSeconds, keyAt, workerCycles / keyAt, records / keyAt,
                static_cast<unsigned long long>(workerCycles), static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(dropped), clickGraphs, clickChart, keyR, pct(0.5), pct(0.99),
                late.empty() ? 0.0 : late.back(), processed / keyAt, static_cast<unsigned long long>(undrawn),
                // Every cycle whose formulas, sums and strip-chart steps were worked out.
                double(records - recordedOnly) / keyAt);
    std::string longest;
    for (const auto& l : app.longest)
        longest += (longest.empty() ? "" : ",") + std::to_string(int(l.Ms)) + "ms:" + std::to_string(l.Type) +
                   ":" + l.Receiver;
    std::printf(" longest_events=%s\n", longest.c_str());
    std::fflush(stdout);
    // The worker ends with the window; nothing is saved.
    std::_Exit(0);
}
