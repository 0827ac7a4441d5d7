// The serial worker: one thread that owns the ECU's port and polls the
// configured areas through TPollProtocol, one request per area, endlessly.
//
// Ownership. Everything that touches the port lives on the worker thread: the
// QSerialPort, the reply watchdog Timer1 and the reconnect timer are created
// inside Execute(). Every write to the port (requests after replies, the
// watchdog's re-sends, the first request, wake-up frames) is made by that
// thread, so frames never interleave. Other threads only post to it
// (SendRequest) or stop it (Stop).
//
// Hand-over to the consumer (the window, or a headless tool): the worker
// assembles the sample buffer itself from its own copy of the areas. After the
// last area of a cycle it appends a copy of the whole sample, stamped with its
// arrival time, to a mutex-protected FIFO; re-sends by the watchdog, port
// state changes and notices about the adapter go into the same FIFO as entries
// of their own, so the consumer sees everything in the order it happened. Whenever the FIFO goes from empty
// to non-empty the worker posts one QEvent of type WM_CYCLE_DONE (2024) to the
// consumer. On that event the consumer calls TakeSample() until it returns
// false. The worker never waits for the consumer; a consumer that falls more
// than kMaxQueuedSamples entries behind loses the oldest ones (counted in
// DroppedSamples()), unless it asked the FIFO to keep everything
// (SetKeepAll: a recording consumer, which must see every cycle).
//
// Measurements that are not entries (the counters, the recent turnarounds)
// are read by any thread at any time.
//
// USB adapters: after each open the worker asks the driver for low latency
// and lowers the adapter's latency timer to 1 ms where it may. A timer it may
// not lower costs most of the cycle rate, so the run gets one Notice entry
// with the fix (once per run, however often the port reopens).
//
// Life cycle: construct, Configure(), SetConsumer(), Start(), then
// SendRequest() for the first request; Stop() (also run by the destructor)
// asks the thread to end, closes the port on its own thread and joins it. The
// consumer must outlive Stop().
#pragma once

#include "link/poll_protocol.h"

#include <QDateTime>
#include <QEvent>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kovra {

struct TSettings;

// Posted to the consumer when the worker's FIFO has entries to take.
inline constexpr QEvent::Type WM_CYCLE_DONE = static_cast<QEvent::Type>(2024);

inline constexpr std::size_t kMaxQueuedSamples = 4096;

// How long at least before the earliest moment a reply can be whole the
// worker watches the port again after its quiet wait: more than a sleep
// overshoots on an idle machine, less than a byte's time at 10400 bit/s, so
// that mostly only the reply's last byte is watched.
inline constexpr std::chrono::microseconds kQuietMargin{600};

// For a consumer's event(): whether e is WM_CYCLE_DONE. It passes the gate
// that every event the worker posts passed once built, before the event is
// read, so that a race detector sees the order that Qt's own (uninstrumented)
// queue lock gives.
bool IsCycleDone(const QEvent* e);

struct TCommSettings {
    std::string PortName = "com1";  // "порт", CP1251 as read
    std::vector<TArea> Areas;
    std::size_t SampleLength = 0;
    bool ObdMode = false;                     // 10400 bit/s and wake-up frames
    std::uint8_t PreambleLength = kPreambleOn;  // 5, or 0 when "преамбула" is off
    // "таймаут_отв" in ms; 0 or less leaves the watchdog off, as a timer with
    // such an interval never fires.
    std::int32_t ReplyTimeout = 1000;
    int ReconnectInterval = 1000;  // ms between attempts to open the port
    // Sleep, instead of watching the port, while the reply to a request just
    // sent cannot be whole yet: the driver wakes a watching reader for every
    // byte, so at 9600 bit/s this saves most of the worker's wake-ups. How
    // early a reply can be whole is learnt from the replies watched, and a
    // reply found whole when the sleep ends has the next ones watched again,
    // so a device faster than its line is not held to it. Not for Windows,
    // whose sleeps are 15.6 ms coarse.
#ifdef _WIN32
    bool QuietWhileReplyInFlight = false;
#else
    bool QuietWhileReplyInFlight = true;
#endif
    // Where the adapters' latency timers are found; tests lay out a folder like it.
    std::filesystem::path SysfsRoot = "/sys";
};

// The worker's settings from the loaded settings file.
TCommSettings CommSettingsFrom(const TSettings& settings);

// One entry of the worker's FIFO.
struct TCycleSample {
    enum class TKind : std::uint8_t {
        Cycle,     // a completed cycle; Sample is the whole sample buffer
        Resend,    // the watchdog (or a reopened port) sent Frame again: LastCycleTime := Time
        PortLost,  // the port could not be opened or went away; Text says why
        PortOpen,  // the port is open; Text names the device
        Notice,    // something about the adapter worth telling once; Text says what and the fix
    };
    TKind Kind = TKind::Cycle;
    QDateTime Time;         // local time of arrival (or of the re-send)
    double TimeOfDay = 0;   // the same as a fraction of a day
    std::vector<std::uint8_t> Sample;
    TPollProtocol::TFrameKind Frame = TPollProtocol::TFrameKind::None;  // of a Resend
    QString Text;
    std::uint64_t Record = 0;  // a replayed cycle's record in its log
};

// The most recent values of a measurement, written by one thread and read by
// any: old values make room for new ones, so it never grows.
class TRecentValues {
public:
    static constexpr std::size_t kDefaultCapacity = 256;
    explicit TRecentValues(std::size_t capacity = kDefaultCapacity);
    void Add(double value);
    std::vector<double> Values() const;  // oldest first

private:
    mutable std::mutex m_Mutex;
    std::vector<double> m_Ring;
    std::size_t m_Capacity;
    std::size_t m_Next = 0;
};

struct TValueSummary {
    std::size_t Count = 0;
    double Median = 0;
    double P90 = 0;
};

// The q-quantile (0..1), linear between the two nearest ranks; 0 for no values.
double Percentile(std::vector<double> values, double q);
TValueSummary Summarize(const std::vector<double>& values);

class TCommThread : public QThread {
    Q_OBJECT
public:
    explicit TCommThread(QObject* parent = nullptr);
    ~TCommThread() override;

    // Before Start() only; later calls are ignored and return false.
    bool Configure(const TCommSettings& settings);
    bool SetConsumer(QObject* consumer);

    void Start() { start(); }

    // Any thread, any time after construction: the worker thread purges the
    // input and writes the request of the area in flight. The first request of
    // a run is sent this way; while the port is closed it is held back and sent
    // as soon as the port opens.
    void SendRequest();

    // Any thread except the worker's own: ends the thread and joins it.
    void Stop();
    bool StopRequested() const { return m_Stop.load(std::memory_order_acquire); }

    // Any thread: the next FIFO entry, oldest first.
    bool TakeSample(TCycleSample& out);
    // Any thread: while on, the FIFO grows without bound instead of dropping.
    void SetKeepAll(bool on) { m_KeepAll.store(on, std::memory_order_relaxed); }

    // Time of day of the last completed cycle or re-send.
    double LastCycleTime() const { return m_LastCycleTime.load(std::memory_order_relaxed); }
    std::uint32_t Baud() const { return LineSettingsFor(m_Settings.ObdMode).Baud; }
    const TCommSettings& Settings() const { return m_Settings; }

    std::uint64_t Cycles() const { return m_Cycles.load(std::memory_order_relaxed); }
    std::uint64_t Resends() const { return m_Resends.load(std::memory_order_relaxed); }
    std::uint64_t Reopens() const { return m_Reopens.load(std::memory_order_relaxed); }
    std::uint64_t DroppedSamples() const { return m_Dropped.load(std::memory_order_relaxed); }
    bool PortIsOpen() const { return m_PortOpen.load(std::memory_order_relaxed); }
    // Times the worker woke for received bytes: about once per reply where the
    // platform can wait for a byte count (Linux), once per byte or so elsewhere.
    std::uint64_t Wakeups() const { return m_Wakeups.load(std::memory_order_relaxed); }
    // Quiet waits after a request, and those that found the reply whole
    // already when they ended (slept too long: the reply came earlier than
    // learnt, or the machine woke the worker late).
    std::uint64_t QuietWaits() const { return m_QuietWaits.load(std::memory_order_relaxed); }
    std::uint64_t QuietOvershoots() const { return m_QuietOvershoots.load(std::memory_order_relaxed); }
    // The host's turnaround in microseconds, from the read that completed a
    // reply to the write of the next request, over the recent replies.
    TValueSummary Turnaround() const { return Summarize(m_Turnarounds.Values()); }

protected:
    void run() override { Execute(); }

private:
    struct TWorker;  // the objects that live on the worker thread
    class TInbox;    // receives SendRequest() on the worker thread

    void Execute();
    // Worker thread only:
    void OpenPort();
    void CheckPortLost(const QString& reason);
    void PortLost(const QString& reason);
    void TuneAdapter();
    void ReadPort();
    void UpdateReadThreshold();
    void TakeReply(bool cycleDone, std::chrono::steady_clock::time_point replyRead);
    bool SendFrame(TPollProtocol::TFrameKind kind);
    void SendRequestNow();
    void SendWakeUp();
    void Timer1Timer();
    void RestartWatchdog();
    void WatchdogTimerFired();
    void QuietUntilReplyCanBeDue(std::chrono::steady_clock::time_point sentAt);
    void Push(TCycleSample&& entry);

    TCommSettings m_Settings;
    QObject* m_Consumer = nullptr;
    std::unique_ptr<TInbox> m_Inbox;  // lives on the worker thread
    TWorker* m_Worker = nullptr;       // worker thread only

    std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_PortOpen{false};
    std::atomic<double> m_LastCycleTime{0};
    std::atomic<std::uint64_t> m_Cycles{0};
    std::atomic<std::uint64_t> m_Resends{0};
    std::atomic<std::uint64_t> m_Reopens{0};
    std::atomic<std::uint64_t> m_Dropped{0};
    std::atomic<std::uint64_t> m_Wakeups{0};
    std::atomic<std::uint64_t> m_QuietWaits{0};
    std::atomic<std::uint64_t> m_QuietOvershoots{0};
    std::atomic<bool> m_KeepAll{false};
    TRecentValues m_Turnarounds;

    std::mutex m_QuietMutex;  // only for m_QuietWake: Stop() ends a quiet wait
    std::condition_variable m_QuietWake;

    std::mutex m_QueueMutex;
    std::deque<TCycleSample> m_Queue;
};

}  // namespace kovra
