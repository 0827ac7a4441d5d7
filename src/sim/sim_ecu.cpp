#include "sim/sim_ecu.h"

#include "platform/pty.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace kovra {

namespace {

constexpr std::size_t kMaxRecords = 100000;
// A pause this long on the line ends any partial frame.
constexpr auto kFrameGap = std::chrono::milliseconds(100);

// Points link at target, replacing an earlier link but never a real file.
bool PointLink(const std::string& link, const std::string& target, std::string* error)
{
    const QString linkPath = QString::fromLocal8Bit(link.c_str());
    const QFileInfo info(linkPath);
    if (info.isSymLink()) {
        QFile::remove(linkPath);
    } else if (info.exists()) {
        if (error)
            *error = link + " exists and is not a symbolic link";
        return false;
    }
    if (!QFile::link(QString::fromLocal8Bit(target.c_str()), linkPath)) {
        if (error)
            *error = "cannot create the link " + link;
        return false;
    }
    return true;
}

}  // namespace

TEcuSimulator::TEcuSimulator(TEcuSimOptions options)
    : m_Options(std::move(options)), m_Pty(std::make_unique<TPty>()), m_Faults(m_Options.Faults)
{
}

TEcuSimulator::~TEcuSimulator()
{
    Stop();
}

bool TEcuSimulator::Start(std::string* error)
{
    if (m_Thread.joinable())
        return true;
    if (!OpenPort(error))
        return false;
    m_Stop = false;
    m_Start = TClock::now();
    m_Rng.seed(m_Options.Seed);
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void TEcuSimulator::Stop()
{
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    if (!m_Options.LinkPath.empty()) {
        const QString link = QString::fromLocal8Bit(m_Options.LinkPath.c_str());
        if (QFileInfo(link).isSymLink() && QFile::symLinkTarget(link) == QString::fromLocal8Bit(DevicePath().c_str()))
            QFile::remove(link);
    }
    m_Pty->Close();
    m_PortUp = false;
}

bool TEcuSimulator::OpenPort(std::string* error)
{
    if (!m_Pty->Open(error))
        return false;
    if (!m_Options.LinkPath.empty() && !PointLink(m_Options.LinkPath, m_Pty->SlavePath(), error)) {
        m_Pty->Close();
        return false;
    }
    {
        std::lock_guard lock(m_Mutex);
        m_DevicePath = m_Pty->SlavePath();
    }
    m_PortUp = true;
    return true;
}

std::string TEcuSimulator::PortPath() const
{
    return m_Options.LinkPath.empty() ? DevicePath() : m_Options.LinkPath;
}

std::string TEcuSimulator::DevicePath() const
{
    std::lock_guard lock(m_Mutex);
    return m_DevicePath;
}

void TEcuSimulator::SetFaults(const TEcuFaults& faults)
{
    std::lock_guard lock(m_Mutex);
    m_Faults = faults;
}

TEcuFaults TEcuSimulator::Faults() const
{
    std::lock_guard lock(m_Mutex);
    return m_Faults;
}

void TEcuSimulator::Unplug(int milliseconds)
{
    m_UnplugRequest = std::max(milliseconds, 1);
}

void TEcuSimulator::FreezeMemory(const TEcuBytes& memory)
{
    std::lock_guard lock(m_Mutex);
    m_Frozen = memory;
}

std::vector<TEcuSimulator::TFrameRecord> TEcuSimulator::Frames() const
{
    std::lock_guard lock(m_Mutex);
    return m_Frames;
}

void TEcuSimulator::ClearFrames()
{
    std::lock_guard lock(m_Mutex);
    m_Frames.clear();
    m_Turnarounds.clear();
}

std::vector<double> TEcuSimulator::Turnarounds() const
{
    std::lock_guard lock(m_Mutex);
    return m_Turnarounds;
}

void TEcuSimulator::Emit(const std::string& line)
{
    if (m_Sink)
        m_Sink(line);
}

bool TEcuSimulator::SleepUntil(TClock::time_point t)
{
    // In short slices, so that Stop() is never held up by a long delay.
    while (!m_Stop) {
        const auto now = TClock::now();
        if (now >= t)
            return true;
        std::this_thread::sleep_until(std::min(t, now + std::chrono::milliseconds(50)));
    }
    return false;
}

void TEcuSimulator::DoUnplug(int milliseconds)
{
    m_PortUp = false;
    m_Pty->Close();
    m_Unplugs++;
    Emit("unplugged for " + std::to_string(milliseconds) + " ms");
    SleepUntil(TClock::now() + std::chrono::milliseconds(milliseconds));
    while (!m_Stop) {
        std::string error;
        if (OpenPort(&error)) {
            Emit("port " + PortPath() + (m_Options.LinkPath.empty() ? "" : " -> " + DevicePath()));
            return;
        }
        Emit("cannot bring the port back: " + error);
        SleepUntil(TClock::now() + std::chrono::milliseconds(500));
    }
}

void TEcuSimulator::Transmit(const std::vector<std::uint8_t>& bytes, std::size_t tail,
                             TClock::time_point start, int pieces, int gapMs)
{
    if (bytes.empty())
        return;
    // The pieces split the reply; the tail (junk after it) goes out with the last piece.
    const std::size_t body = bytes.size() - std::min(tail, bytes.size());
    const std::size_t count = std::clamp<std::size_t>(pieces < 1 ? 1 : std::size_t(pieces), 1, std::max<std::size_t>(body, 1));
    const std::size_t pieceSize = std::max<std::size_t>((body + count - 1) / count, 1);
    const auto gap = std::chrono::milliseconds(std::max(gapMs, 0));
    const std::chrono::nanoseconds byteTime(
        m_Options.Baud > 0 ? static_cast<std::int64_t>(std::llround(1e10 / m_Options.Baud)) : 0);
    // On a line a byte has arrived once its last bit has: one byte time after it starts.
    auto t = start + byteTime;
    for (std::size_t at = 0; at < bytes.size();) {
        if (at > 0)
            t += gap;
        std::size_t n = std::min(pieceSize, bytes.size() - at);
        if (at + n >= body)
            n = bytes.size() - at;
        if (byteTime.count() == 0) {
            if (!SleepUntil(t) || !m_Pty->Write(bytes.data() + at, n))
                return;
            t = TClock::now();
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                if (!SleepUntil(t) || !m_Pty->Write(bytes.data() + at + i, 1))
                    return;
                t += byteTime;
            }
        }
        at += n;
    }
}

void TEcuSimulator::Answer(const TEcuFrame& frame, TClock::time_point firstByte,
                           const TEcuFaults& faults)
{
    std::mt19937& rng = m_Rng;
    TEcuBytes memory{};
    {
        std::lock_guard lock(m_Mutex);
        if (m_Frozen) {
            memory = *m_Frozen;
        } else {
            const double seconds = std::chrono::duration<double>(TClock::now() - m_Start).count();
            RenderEcuMemory(m_Options.Layout, seconds, memory);
        }
    }
    std::vector<std::uint8_t> reply;
    if (faults.GarbageRate > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < faults.GarbageRate) {
        const int n = std::uniform_int_distribution<int>(1, std::max(faults.GarbageMax, 1))(rng);
        reply.resize(static_cast<std::size_t>(n));
        for (auto& b : reply)
            b = static_cast<std::uint8_t>(rng());
    } else {
        reply = BuildEcuReply(frame, memory, faults.Preamble);
    }
    const std::size_t extra = static_cast<std::size_t>(std::max(faults.ExtraBytes, 0));
    for (std::size_t i = 0; i < extra; ++i)
        reply.push_back(static_cast<std::uint8_t>(rng()));

    // The request itself needed its time on the wire before the ECU could answer.
    auto start = firstByte + std::chrono::milliseconds(std::max(faults.DelayMs, 0));
    if (m_Options.Baud > 0)
        start += std::chrono::nanoseconds(
            static_cast<std::int64_t>(std::llround(1e10 * kRequestFrameLength / m_Options.Baud)));
    Transmit(reply, extra, start, faults.Pieces, faults.PieceGapMs);
    m_Replies++;
    if (faults.BurstBytes > 0 && !m_Stop) {
        // As fast as the port takes it, whatever the line speed: a burst is
        // what a line that picks up interference delivers.
        std::vector<std::uint8_t> burst(static_cast<std::size_t>(faults.BurstBytes));
        for (auto& b : burst)
            b = static_cast<std::uint8_t>(rng());
        m_Pty->Write(burst.data(), burst.size(), 2000);
    }
}

void TEcuSimulator::Run()
{
    TEcuFrameReader reader;
    auto lastInput = m_Start;
    auto lastRelease = m_Start;
    auto replyEnd = m_Start;
    bool awaitingRequest = false;
    bool session = false;
    auto sessionUntil = m_Start;
    auto nextUnplug = m_Start + std::chrono::milliseconds(m_Options.UnplugPeriodMs);
    std::array<std::uint8_t, 1024> buffer;

    while (!m_Stop) {
        int unplug = m_UnplugRequest.exchange(0);
        if (unplug == 0 && m_Options.UnplugPeriodMs > 0 && m_Options.UnplugLengthMs > 0
            && TClock::now() >= nextUnplug) {
            unplug = m_Options.UnplugLengthMs;
            nextUnplug += std::chrono::milliseconds(m_Options.UnplugPeriodMs);
        }
        if (unplug > 0) {
            DoUnplug(unplug);
            reader.Reset();
            awaitingRequest = false;
            session = false;
            continue;
        }

        const long n = m_Pty->Read(buffer.data(), buffer.size(), 20);
        const auto now = TClock::now();
        if (n < 0) {
            SleepUntil(now + std::chrono::milliseconds(20));
            continue;
        }
        if (n == 0) {
            // A client that died with the port open leaves it locked for everyone else.
            if (now - lastRelease > std::chrono::milliseconds(500) && now - lastInput > std::chrono::milliseconds(500)) {
                m_Pty->ReleaseExclusive();
                lastRelease = now;
            }
            continue;
        }
        if (now - lastInput > kFrameGap)
            reader.Reset();
        lastInput = now;
        if (awaitingRequest) {
            awaitingRequest = false;
            const double us = std::chrono::duration<double, std::micro>(now - replyEnd).count();
            std::lock_guard lock(m_Mutex);
            if (m_Turnarounds.size() < kMaxRecords)
                m_Turnarounds.push_back(us);
        }

        const std::vector<TEcuFrame> frames =
            reader.Feed(std::span<const std::uint8_t>(buffer.data(), std::size_t(n)));
        const TEcuFaults faults = Faults();
        bool silent = faults.Silent;
        if (m_Options.SilencePeriodMs > 0 && m_Options.SilenceLengthMs > 0) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_Start).count();
            silent = silent || elapsed % m_Options.SilencePeriodMs >= m_Options.SilencePeriodMs - m_Options.SilenceLengthMs;
        }
        for (const TEcuFrame& frame : frames) {
            bool answer = !silent;
            if (frame.Kind == TEcuFrame::TKind::Request && faults.NeedWakeUp)
                answer = answer && session && now < sessionUntil;
            {
                std::lock_guard lock(m_Mutex);
                if (m_Frames.size() < kMaxRecords)
                    m_Frames.push_back({frame, now, answer});
            }
            if (!answer)
                continue;
            if (frame.Kind == TEcuFrame::TKind::WakeUp) {
                session = true;
                sessionUntil = now + std::chrono::milliseconds(faults.SessionMs);
                m_Pty->Write(kWakeUpAnswer, sizeof kWakeUpAnswer);
                continue;
            }
            sessionUntil = now + std::chrono::milliseconds(faults.SessionMs);
            Answer(frame, now, faults);
            replyEnd = TClock::now();
            awaitingRequest = true;
        }
    }
}

}  // namespace kovra
