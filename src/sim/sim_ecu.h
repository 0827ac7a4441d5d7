// A simulated ECU on a pseudo-terminal: answers every request frame from its
// 256-byte memory, optionally paced at a line speed, with switchable faults
// (silence, replies in pieces, garbage, extra bytes, bursts of noise, wake-up
// sessions, a port that goes away and comes back). Runs on a thread of its own, so tests can
// drive the serial worker against it in-process.
#pragma once

#include "sim/sim_memory.h"
#include "sim/sim_responder.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kovra {

class TPty;

struct TEcuFaults {
    bool Preamble = true;     // replies begin with the 5-byte echo of the request
    int DelayMs = 0;          // answer delay after a request
    int Pieces = 1;           // a reply is written in this many pieces...
    int PieceGapMs = 3;       // ...with this pause between them
    int ExtraBytes = 0;       // junk written together with the end of each reply
    int BurstBytes = 0;       // noise written in one go right after each reply
    double GarbageRate = 0;   // share of replies (0..1) replaced by random bytes
    int GarbageMax = 600;     // longest garbage reply
    bool Silent = false;      // no answers at all
    bool NeedWakeUp = false;  // answer only within a session opened by a wake-up frame
    int SessionMs = 3000;     // a session ends after this long without an answered request
};

struct TEcuSimOptions {
    std::string LinkPath;  // a symbolic link to the port, re-pointed after each unplug
    TEcuMemoryLayout Layout = DefaultEcuMemoryLayout();
    std::uint32_t Baud = 0;  // paces the output at 10 bits a byte; 0 writes at once
    TEcuFaults Faults;
    int SilencePeriodMs = 0;  // every period, stay silent for the length
    int SilenceLengthMs = 0;
    int UnplugPeriodMs = 0;  // every period, drop the port for the length
    int UnplugLengthMs = 0;
    std::uint32_t Seed = 1;
};

class TEcuSimulator {
public:
    using TClock = std::chrono::steady_clock;

    struct TFrameRecord {
        TEcuFrame Frame;
        TClock::time_point Time;  // when its bytes were read
        bool Answered = false;
    };

    explicit TEcuSimulator(TEcuSimOptions options);
    ~TEcuSimulator();
    TEcuSimulator(const TEcuSimulator&) = delete;
    TEcuSimulator& operator=(const TEcuSimulator&) = delete;

    // Called from the simulator's thread with one line per event (port
    // opened, dropped, restored); set before Start().
    void SetEventSink(std::function<void(const std::string&)> sink) { m_Sink = std::move(sink); }

    bool Start(std::string* error = nullptr);
    void Stop();

    // What a logger should open: the link when there is one, else the device.
    std::string PortPath() const;
    std::string DevicePath() const;

    void SetFaults(const TEcuFaults& faults);
    TEcuFaults Faults() const;
    // Drops the port for the given time, then brings a new one up at the link.
    void Unplug(int milliseconds);
    // Serves this memory from now on instead of the running engine.
    void FreezeMemory(const TEcuBytes& memory);

    std::vector<TFrameRecord> Frames() const;
    void ClearFrames();
    std::uint64_t Replies() const { return m_Replies.load(); }
    std::uint64_t Unplugs() const { return m_Unplugs.load(); }
    bool PortUp() const { return m_PortUp.load(); }
    // Microseconds from the last byte of a reply written to the first byte of
    // the next request read.
    std::vector<double> Turnarounds() const;

private:
    void Run();
    bool OpenPort(std::string* error);
    void DoUnplug(int milliseconds);
    void Answer(const TEcuFrame& frame, TClock::time_point firstByte, const TEcuFaults& faults);
    void Transmit(const std::vector<std::uint8_t>& bytes, std::size_t tail, TClock::time_point start,
                  int pieces, int gapMs);
    bool SleepUntil(TClock::time_point t);
    void Emit(const std::string& line);

    TEcuSimOptions m_Options;
    std::unique_ptr<TPty> m_Pty;
    std::thread m_Thread;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_UnplugRequest{0};
    std::atomic<std::uint64_t> m_Replies{0};
    std::atomic<std::uint64_t> m_Unplugs{0};
    std::atomic<bool> m_PortUp{false};
    std::function<void(const std::string&)> m_Sink;
    TClock::time_point m_Start;
    std::mt19937 m_Rng;  // the simulator's thread only

    mutable std::mutex m_Mutex;  // guards what follows
    TEcuFaults m_Faults;
    std::optional<TEcuBytes> m_Frozen;
    std::string m_DevicePath;
    std::vector<TFrameRecord> m_Frames;
    std::vector<double> m_Turnarounds;
};

}  // namespace kovra
