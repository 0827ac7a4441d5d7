// A log as a run's source: its records come out as completed cycles, at
// their recorded pace divided by the speed (or as fast as the run takes
// them), stamped with their own times.
//
// The source hands out only what is due, a batch at a time: at full speed
// the next batch is queued once the run has taken the last, so the run never
// falls behind and the event loop turns between batches.
#pragma once

#include "run/log_player.h"
#include "run/sample_source.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

namespace kovra {

class TPlayerSource : public QObject, public TSampleSource {
public:
    // Records queued at a time when playing as fast as possible.
    static constexpr std::uint64_t kBatch = 512;

    explicit TPlayerSource(std::unique_ptr<TLogPlayer> player, QObject* parent = nullptr);
    ~TPlayerSource() override;

    TLogPlayer& Player() { return *player_; }
    const TLogPlayer& Player() const { return *player_; }

    void SetConsumer(QObject* consumer) override { consumer_ = consumer; }
    void Start() override;
    void Stop() override;
    bool Take(TCycleSample& out) override;

    void Play();
    void Pause();
    bool IsPlaying() const { return player_->IsPlaying(); }
    void SetSpeed(double x);
    // The next record to play is i; whatever was queued and not yet taken is
    // dropped.
    void SeekTo(std::uint64_t i);
    // The steady clock the player runs on (ms).
    std::int64_t NowMs() const { return clock_.elapsed(); }

private:
    void Tick();
    void Arm();
    void Queue(std::uint64_t from, std::uint64_t count);

    std::unique_ptr<TLogPlayer> player_;
    QObject* consumer_ = nullptr;
    QTimer timer_;
    QElapsedTimer clock_;
    std::deque<TCycleSample> queue_;
    bool running_ = false;
};

}  // namespace kovra
