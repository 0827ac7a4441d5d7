#include "link/comm_thread.h"

#include "config/model.h"
#include "config/time_of_day.h"
#include "link/port_name.h"
#include "link/quiet_plan.h"
#include "platform/serial_device.h"
#include "platform/serial_tune.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cmath>
#include <mutex>
#include <span>

namespace kovra {

TCommSettings CommSettingsFrom(const TSettings& settings)
{
    TCommSettings s;
    s.PortName = settings.Options.PortName;
    s.Areas = settings.Data.Areas;
    s.SampleLength = settings.Data.SampleLength;
    s.ObdMode = settings.Data.ObdMode;
    s.PreambleLength = settings.Options.Preamble ? kPreambleOn : 0;
    s.ReplyTimeout = settings.Options.ReplyTimeout;
    return s;
}

namespace {

TPollConfig PollConfigOf(const TCommSettings& s)
{
    TPollConfig config;
    config.Areas = s.Areas;
    config.SampleLength = s.SampleLength;
    config.PreambleLength = s.PreambleLength;
    config.ObdMode = s.ObdMode;
    return config;
}

// Posted events cross threads under Qt's own lock, which a race detector
// cannot see when Qt itself is not instrumented. Every event the link posts
// passes this gate once it is built and again before it is freed, and the
// worker's inbox passes it before reading one, so that their order is visible
// to such tools as well. The gate is never contended for long.
void PassGate()
{
    static std::mutex gate;
    std::lock_guard lock(gate);
}

class TLinkEvent final : public QEvent {
public:
    explicit TLinkEvent(Type type) : QEvent(type) {}
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(void* p)
    {
        PassGate();
        ::operator delete(p);
    }
};

QEvent* NewLinkEvent(QEvent::Type type)
{
    QEvent* e = new TLinkEvent(type);
    PassGate();
    return e;
}

}  // namespace

bool IsCycleDone(const QEvent* e)
{
    PassGate();
    return e->type() == WM_CYCLE_DONE;
}

namespace {

// Sent only to the worker's own inbox.
constexpr QEvent::Type kSendRequestEvent = static_cast<QEvent::Type>(QEvent::User + 1);

// Errors the port cannot account for (the device is still there and answers)
// in a row, with no byte read in between, before the port counts as lost
// anyway: a device that fails every read must not be retried without end.
constexpr int kMaxUnconfirmedErrors = 16;

std::intptr_t NativeHandle(const QSerialPort& port)
{
#ifdef _WIN32
    return reinterpret_cast<std::intptr_t>(port.handle());
#else
    return static_cast<std::intptr_t>(port.handle());
#endif
}

// The device node is gone: the adapter was unplugged. (Windows names ports
// without a node in the file system; there the handle alone tells.)
bool DeviceNodeGone(const QString& device)
{
#ifdef _WIN32
    Q_UNUSED(device);
    return false;
#else
    return !QFileInfo::exists(device);
#endif
}

void Stamp(TCycleSample& entry, qint64 msecsSinceEpoch)
{
    entry.Time = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    entry.TimeOfDay = DayFraction(entry.Time.time().msecsSinceStartOfDay());
}

}  // namespace

TRecentValues::TRecentValues(std::size_t capacity) : m_Capacity(std::max<std::size_t>(capacity, 1))
{
    m_Ring.reserve(m_Capacity);
}

void TRecentValues::Add(double value)
{
    std::lock_guard lock(m_Mutex);
    if (m_Ring.size() < m_Capacity) {
        m_Ring.push_back(value);
        return;
    }
    m_Ring[m_Next] = value;
    m_Next = (m_Next + 1) % m_Capacity;
}

std::vector<double> TRecentValues::Values() const
{
    std::lock_guard lock(m_Mutex);
    std::vector<double> out;
    out.reserve(m_Ring.size());
    // Once full, m_Next is the oldest value.
    out.insert(out.end(), m_Ring.begin() + std::ptrdiff_t(m_Next), m_Ring.end());
    out.insert(out.end(), m_Ring.begin(), m_Ring.begin() + std::ptrdiff_t(m_Next));
    return out;
}

double Percentile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double pos = std::clamp(q, 0.0, 1.0) * double(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(pos));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (pos - double(below)) * (values[above] - values[below]);
}

TValueSummary Summarize(const std::vector<double>& values)
{
    TValueSummary s;
    s.Count = values.size();
    s.Median = Percentile(values, 0.5);
    s.P90 = Percentile(values, 0.9);
    return s;
}

struct TCommThread::TWorker {
    explicit TWorker(const TCommSettings& settings) : Protocol(PollConfigOf(settings)), Quiet(kQuietMargin) {}

    TPollProtocol Protocol;
    QSerialPort Port;
    QTimer Timer1;     // the reply watchdog
    QTimer Reconnect;  // next attempt to open the port
    QString Device;
    bool Open = false;
    bool Configuring = false;      // errors while setting the line up are not failures
    bool LostPending = false;      // a fatal error is being handled
    bool PollingStarted = false;   // a request was asked for: repeat it when the port reopens
    bool FailureReported = false;  // the current outage has been reported once
    bool EverOpened = false;
    bool LatencyNoticeGiven = false;  // once per run, not per reopen
    int UnconfirmedErrors = 0;   // since the last byte read
    int ReadThreshold = 0;       // bytes the port waits for before it wakes us; 0 unknown
    bool ThresholdWorks = true;  // the platform lets us set it
    TSerialReadThreshold Threshold;
    // The watchdog's time-out is due here; Timer1 fires at or before it and
    // is armed again for what is left, so a reply only moves the deadline.
    std::chrono::steady_clock::time_point WatchdogDue{};
    TQuietPlan Quiet;
    // The last frame written: when, and the line's time for it and its reply
    // (zero for a frame whose answer tells nothing of a reply's timing).
    std::chrono::steady_clock::time_point SentAt{};
    std::chrono::microseconds SentWire{0};
    bool WholeAtQuietEnd = false;  // the reply to it was whole when the quiet wait ended
};

class TCommThread::TInbox : public QObject {
public:
    explicit TInbox(TCommThread& comm) : m_Comm(comm) {}

protected:
    bool event(QEvent* e) override
    {
        PassGate();
        if (e->type() != kSendRequestEvent)
            return QObject::event(e);
        m_Comm.SendRequestNow();
        return true;
    }

private:
    TCommThread& m_Comm;
};

TCommThread::TCommThread(QObject* parent) : QThread(parent), m_Inbox(std::make_unique<TInbox>(*this))
{
    // Posted calls wait in the thread's queue until its event loop runs.
    m_Inbox->moveToThread(this);
}

TCommThread::~TCommThread()
{
    Stop();
}

bool TCommThread::Configure(const TCommSettings& settings)
{
    if (isRunning() || isFinished())
        return false;
    m_Settings = settings;
    return true;
}

bool TCommThread::SetConsumer(QObject* consumer)
{
    if (isRunning() || isFinished())
        return false;
    m_Consumer = consumer;
    return true;
}

void TCommThread::SendRequest()
{
    QCoreApplication::postEvent(m_Inbox.get(), NewLinkEvent(kSendRequestEvent));
}

void TCommThread::Stop()
{
    m_Stop.store(true, std::memory_order_release);
    {
        std::lock_guard lock(m_QuietMutex);
    }
    m_QuietWake.notify_all();
    quit();
    if (QThread::currentThread() != this) {
        wait();
        PassGate();  // everything the thread did is now visible here
    }
}

bool TCommThread::TakeSample(TCycleSample& out)
{
    std::lock_guard lock(m_QueueMutex);
    if (m_Queue.empty())
        return false;
    out = std::move(m_Queue.front());
    m_Queue.pop_front();
    return true;
}

void TCommThread::Push(TCycleSample&& entry)
{
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_QueueMutex);
        wasEmpty = m_Queue.empty();
        if (m_Queue.size() >= kMaxQueuedSamples && !m_KeepAll.load(std::memory_order_relaxed)) {
            m_Queue.pop_front();
            m_Dropped.fetch_add(1, std::memory_order_relaxed);
        }
        m_Queue.push_back(std::move(entry));
    }
    if (wasEmpty && m_Consumer)
        QCoreApplication::postEvent(m_Consumer, NewLinkEvent(WM_CYCLE_DONE));
}

void TCommThread::Execute()
{
    if (StopRequested())
        return;
    TWorker worker(m_Settings);
    m_Worker = &worker;

    worker.Timer1.setTimerType(Qt::PreciseTimer);
    worker.Timer1.setSingleShot(true);
    worker.Reconnect.setSingleShot(true);
    worker.Reconnect.setInterval(std::max(m_Settings.ReconnectInterval, 1));
    QObject::connect(&worker.Timer1, &QTimer::timeout, &worker.Timer1, [this] { WatchdogTimerFired(); });
    QObject::connect(&worker.Reconnect, &QTimer::timeout, &worker.Reconnect, [this] { OpenPort(); });
    QObject::connect(&worker.Port, &QSerialPort::readyRead, &worker.Port, [this] { ReadPort(); });
    QObject::connect(&worker.Port, &QSerialPort::errorOccurred, &worker.Port,
                     [this](QSerialPort::SerialPortError error) {
        TWorker& w = *m_Worker;
        if (w.Configuring)
            return;
        switch (error) {
        case QSerialPort::NoError:
            return;
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            // Raised only by open(), whose failure OpenPort() handles.
            return;
        case QSerialPort::TimeoutError:
            // Raised only by the blocking waits, which are not used here.
            return;
        case QSerialPort::NotOpenError:
            // An operation raced with a close; the port state is already known.
            return;
        case QSerialPort::UnsupportedOperationError:
            // A line setting the device refuses: it keeps working as it is.
            w.Port.clearError();
            return;
        case QSerialPort::WriteError:
            // A lost frame: the watchdog sends it again after its interval.
            w.Port.clearError();
            return;
        case QSerialPort::ResourceError:  // the device went away (USB unplugged)...
        case QSerialPort::ReadError:      // ...or a hung-up device, or only a read
        case QSerialPort::UnknownError:   // that found the queue just purged
            if (w.Open && !w.LostPending) {
                w.LostPending = true;
                const QString reason = w.Port.errorString();
                // Judged from the event loop, not from inside the port's own notification.
                QMetaObject::invokeMethod(&w.Port, [this, reason] { CheckPortLost(reason); },
                                          Qt::QueuedConnection);
            }
            return;
        }
    });

    OpenPort();
    if (!StopRequested())
        exec();

    worker.Timer1.stop();
    worker.Reconnect.stop();
    if (worker.Port.isOpen())
        worker.Port.close();
    m_PortOpen.store(false, std::memory_order_relaxed);
    m_Worker = nullptr;
    PassGate();
}

void TCommThread::OpenPort()
{
    TWorker& w = *m_Worker;
    if (StopRequested() || w.Open)
        return;
    w.Device = ResolvePortName(m_Settings.PortName);
    w.Port.setPortName(w.Device);
    w.Configuring = true;
    const bool ok = w.Port.open(QIODevice::ReadWrite);
    const QString why = ok ? QString() : w.Port.errorString();
    if (ok) {
        // Only speed and framing change; flow control stays as the port had it.
        const TLineSettings line = w.Protocol.Line();
        w.Port.setBaudRate(static_cast<qint32>(line.Baud));
        w.Port.setDataBits(QSerialPort::Data8);
        w.Port.setParity(QSerialPort::NoParity);
        w.Port.setStopBits(QSerialPort::OneStop);
    }
    w.Port.clearError();
    w.Configuring = false;

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!ok) {
        if (w.Port.isOpen())
            w.Port.close();
        if (!w.FailureReported) {
            w.FailureReported = true;
            TCycleSample note;
            note.Kind = TCycleSample::TKind::PortLost;
            note.Text = QStringLiteral("cannot open %1: %2").arg(w.Device, why);
            Stamp(note, now);
            Push(std::move(note));
        }
        w.Reconnect.start();
        return;
    }

    w.Open = true;
    w.LostPending = false;
    w.FailureReported = false;
    w.UnconfirmedErrors = 0;
    w.ReadThreshold = 0;  // opening put the line into wake-on-any-byte
    w.ThresholdWorks = true;
    w.Threshold.Forget();
    w.Quiet.Forget();
    UpdateReadThreshold();
    m_PortOpen.store(true, std::memory_order_relaxed);
    if (w.EverOpened)
        m_Reopens.fetch_add(1, std::memory_order_relaxed);
    w.EverOpened = true;
    TCycleSample opened;
    opened.Kind = TCycleSample::TKind::PortOpen;
    opened.Text = w.Device;
    Stamp(opened, now);
    Push(std::move(opened));
    TuneAdapter();

    // Polling resumes with the request that was pending when the port went away.
    if (w.PollingStarted && w.Protocol.HasAreas()) {
        SendFrame(TPollProtocol::TFrameKind::Request);
        TCycleSample resend;
        resend.Kind = TCycleSample::TKind::Resend;
        resend.Frame = TPollProtocol::TFrameKind::Request;
        Stamp(resend, now);
        m_LastCycleTime.store(resend.TimeOfDay, std::memory_order_relaxed);
        Push(std::move(resend));
    }
    RestartWatchdog();
}

void TCommThread::TuneAdapter()
{
    TWorker& w = *m_Worker;
    // A driver without the flag (a pseudo-terminal, a built-in port) simply
    // keeps its own pace.
    SetLowLatency(NativeHandle(w.Port));
    const QByteArray utf8 = w.Device.toUtf8();
    const std::filesystem::path device(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.constData()), std::size_t(utf8.size())));
    if (LowerLatencyTimer(device, m_Settings.SysfsRoot) != TLatencyTune::NotWritable || w.LatencyNoticeGiven)
        return;
    w.LatencyNoticeGiven = true;
    TCycleSample note;
    note.Kind = TCycleSample::TKind::Notice;
    note.Text = QString::fromStdString(LatencyAdvice(ReadLatencyTimer(device, m_Settings.SysfsRoot)));
    Stamp(note, QDateTime::currentMSecsSinceEpoch());
    Push(std::move(note));
}

void TCommThread::CheckPortLost(const QString& reason)
{
    TWorker& w = *m_Worker;
    w.LostPending = false;
    if (!w.Open)
        return;
    const bool gone = DeviceNodeGone(w.Device) || ProbeSerialPort(NativeHandle(w.Port)) == TSerialHealth::Gone;
    if (gone || ++w.UnconfirmedErrors > kMaxUnconfirmedErrors) {
        PortLost(reason);
        return;
    }
    // The device is there and answers: most often a read found nothing
    // because a purge emptied the queue between the wake-up and the read
    // (noise racing a request). The port stopped watching for input after
    // the error; reading on makes it watch again.
    w.Port.clearError();
    ReadPort();
}

void TCommThread::PortLost(const QString& reason)
{
    TWorker& w = *m_Worker;
    w.LostPending = false;
    if (!w.Open)
        return;
    w.Open = false;
    m_PortOpen.store(false, std::memory_order_relaxed);
    w.Timer1.stop();
    w.Port.close();
    w.FailureReported = true;
    TCycleSample note;
    note.Kind = TCycleSample::TKind::PortLost;
    note.Text = QStringLiteral("%1: %2").arg(w.Device, reason);
    Stamp(note, QDateTime::currentMSecsSinceEpoch());
    Push(std::move(note));
    if (!StopRequested())
        w.Reconnect.start();
}

void TCommThread::ReadPort()
{
    TWorker& w = *m_Worker;
    if (!w.Open || w.LostPending)
        return;
    m_Wakeups.fetch_add(1, std::memory_order_relaxed);
    std::array<std::uint8_t, kRxBufferSize> chunk;
    // Read until a read comes back empty: that empty read is also what makes
    // the port watch for input again after an error had it stop.
    for (;;) {
        const qint64 n = w.Port.read(reinterpret_cast<char*>(chunk.data()), qint64(chunk.size()));
        if (n <= 0)
            break;
        const auto readAt = std::chrono::steady_clock::now();
        w.UnconfirmedErrors = 0;
        const TPollProtocol::TStep step =
            w.Protocol.OnBytes(std::span<const std::uint8_t>(chunk.data(), std::size_t(n)));
        if (step.ReplyTaken) {
            TakeReply(step.CycleDone, readAt);
            return;  // the next request purged whatever followed the reply
        }
    }
    UpdateReadThreshold();
}

void TCommThread::UpdateReadThreshold()
{
    TWorker& w = *m_Worker;
    if (!w.Open || !w.ThresholdWorks)
        return;
    // The port wakes us when the rest of the reply is queued, not for every
    // byte of it; bytes beyond the reply come along with it as before.
    const std::size_t needed = w.Protocol.ReplyThreshold();
    const std::size_t received = w.Protocol.Received();
    const int wanted = static_cast<int>(std::clamp<std::size_t>(needed > received ? needed - received : 1, 1, 255));
    if (wanted == w.ReadThreshold)
        return;
    if (w.Threshold.Set(NativeHandle(w.Port), std::size_t(wanted))) {
        w.ReadThreshold = wanted;
        return;
    }
    // Waking on every byte is slower, never wrong.
    w.ThresholdWorks = false;
    SetSerialReadThreshold(NativeHandle(w.Port), 1);
}

void TCommThread::TakeReply(bool cycleDone, std::chrono::steady_clock::time_point replyRead)
{
    TWorker& w = *m_Worker;
    const qint64 arrival = QDateTime::currentMSecsSinceEpoch();
    if (w.SentWire > std::chrono::microseconds::zero() && !w.WholeAtQuietEnd)
        w.Quiet.Seen(w.SentWire, std::chrono::duration_cast<std::chrono::microseconds>(replyRead - w.SentAt));
    RestartWatchdog();
    const bool sent = !StopRequested() && SendFrame(TPollProtocol::TFrameKind::Request);
    const auto sentAt = std::chrono::steady_clock::now();
    if (sent)
        m_Turnarounds.Add(std::chrono::duration<double, std::micro>(sentAt - replyRead).count());
    if (cycleDone) {
        TCycleSample sample;
        sample.Kind = TCycleSample::TKind::Cycle;
        sample.Sample = w.Protocol.Sample();
        Stamp(sample, arrival);
        m_LastCycleTime.store(sample.TimeOfDay, std::memory_order_relaxed);
        m_Cycles.fetch_add(1, std::memory_order_relaxed);
        Push(std::move(sample));
    }
    if (sent)
        QuietUntilReplyCanBeDue(sentAt);
}

void TCommThread::QuietUntilReplyCanBeDue(std::chrono::steady_clock::time_point sentAt)
{
    if (!m_Settings.QuietWhileReplyInFlight)
        return;
    TWorker& w = *m_Worker;
    const auto quiet = w.Quiet.QuietFor(w.SentWire);
    if (quiet <= std::chrono::microseconds::zero())
        return;
    auto until = sentAt + quiet;
    // A stalled ECU gets its re-send on time.
    if (w.Timer1.isActive())
        until = std::min(until, w.WatchdogDue - kQuietMargin);
    if (until <= std::chrono::steady_clock::now())
        return;
    {
        std::unique_lock lock(m_QuietMutex);
        if (m_QuietWake.wait_until(lock, until, [this] { return StopRequested(); }))
            return;
    }
    const auto late = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - until);
    m_QuietWaits.fetch_add(1, std::memory_order_relaxed);
    // Bytes that came during the sleep are still queued for the event loop;
    // a whole reply among them means the sleep was too long.
    const long queued = SerialInputQueued(NativeHandle(w.Port));
    w.WholeAtQuietEnd = queued >= 0 && w.Protocol.Received() + std::size_t(queued) >= w.Protocol.ReplyThreshold();
    w.Quiet.Woke(late, w.WholeAtQuietEnd);
    if (w.WholeAtQuietEnd)
        m_QuietOvershoots.fetch_add(1, std::memory_order_relaxed);
}

void TCommThread::RestartWatchdog()
{
    TWorker& w = *m_Worker;
    if (m_Settings.ReplyTimeout <= 0 || !w.Open) {
        w.Timer1.stop();
        return;
    }
    // The full interval anew, from now. Re-arming a timer for every reply
    // costs more than the reply's own handling; moving the deadline does not.
    w.WatchdogDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_Settings.ReplyTimeout);
    if (!w.Timer1.isActive())
        w.Timer1.start(m_Settings.ReplyTimeout);
}

void TCommThread::WatchdogTimerFired()
{
    TWorker& w = *m_Worker;
    if (m_Settings.ReplyTimeout <= 0 || !w.Open)
        return;
    const auto interval = std::chrono::milliseconds(m_Settings.ReplyTimeout);
    auto now = std::chrono::steady_clock::now();
    if (now < w.WatchdogDue) {
        // A reply moved the deadline since the timer was armed.
        w.Timer1.start(int(std::chrono::ceil<std::chrono::milliseconds>(w.WatchdogDue - now).count()));
        return;
    }
    Timer1Timer();
    if (!w.Open || StopRequested())
        return;
    // Once per interval while the stall lasts, in step as a periodic timer.
    w.WatchdogDue += interval;
    now = std::chrono::steady_clock::now();
    if (w.WatchdogDue <= now)
        w.WatchdogDue = now + interval;
    w.Timer1.start(int(std::chrono::ceil<std::chrono::milliseconds>(w.WatchdogDue - now).count()));
}

bool TCommThread::SendFrame(TPollProtocol::TFrameKind kind)
{
    TWorker& w = *m_Worker;
    if (!w.Open || w.LostPending)
        return false;
    w.Port.clear(QSerialPort::Input);
    const std::span<const std::uint8_t> frame = w.Protocol.BeginSend(kind);
    UpdateReadThreshold();  // before the write: the reply may come at once
    if (frame.empty())
        return false;
    // What comes after a wake-up frame tells nothing of a reply's timing.
    w.SentWire = kind == TPollProtocol::TFrameKind::Request
        ? std::chrono::microseconds(std::int64_t(AreaWireBytes(w.Protocol.RequestLength(), w.Protocol.PreambleLength()))
                                    * 10'000'000 / w.Protocol.Line().Baud)
        : std::chrono::microseconds::zero();
    w.SentAt = std::chrono::steady_clock::now();
    w.WholeAtQuietEnd = false;
    // Straight to the driver where it takes the frame whole and nothing of an
    // earlier frame still waits in the port's buffer: the port's own write
    // path arms a write notification and wakes the event loop twice for it.
    std::size_t taken = 0;
    if (w.Port.bytesToWrite() == 0) {
        const std::ptrdiff_t n = WriteSerialNow(NativeHandle(w.Port), frame);
        if (n > 0)
            taken = std::size_t(n);
        if (taken == frame.size())
            return true;
    }
    // The rest (or all of it, where the platform wants that, or to have the
    // port report the error) through the port.
    const std::span<const std::uint8_t> rest = frame.subspan(taken);
    const bool written = w.Port.write(reinterpret_cast<const char*>(rest.data()), qint64(rest.size())) > 0;
#ifndef _WIN32
    // Hands the frame to the driver now instead of on the next pass of the
    // event loop. (On Windows flush() waits until the bytes have left, which
    // flow control could stretch without end; there the loop writes it.)
    w.Port.flush();
#endif
    return written;
}

void TCommThread::SendRequestNow()
{
    if (!m_Worker || StopRequested())
        return;
    m_Worker->PollingStarted = true;
    SendFrame(TPollProtocol::TFrameKind::Request);
}

void TCommThread::SendWakeUp()
{
    SendFrame(TPollProtocol::TFrameKind::WakeUp);
}

void TCommThread::Timer1Timer()
{
    TWorker& w = *m_Worker;
    if (StopRequested())
        return;
    const TPollProtocol::TFrameKind kind = w.Protocol.OnWatchdog();
    if (kind == TPollProtocol::TFrameKind::None)
        return;
    w.PollingStarted = true;
    if (kind == TPollProtocol::TFrameKind::WakeUp)
        SendWakeUp();
    else
        SendFrame(kind);
    TCycleSample note;
    note.Kind = TCycleSample::TKind::Resend;
    note.Frame = kind;
    Stamp(note, QDateTime::currentMSecsSinceEpoch());
    m_LastCycleTime.store(note.TimeOfDay, std::memory_order_relaxed);
    m_Resends.fetch_add(1, std::memory_order_relaxed);
    Push(std::move(note));
}

}  // namespace kovra
