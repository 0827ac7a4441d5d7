#include "run/player_source.h"

#include <QCoreApplication>
#include <QEvent>

namespace kovra {

TPlayerSource::TPlayerSource(std::unique_ptr<TLogPlayer> player, QObject* parent)
    : QObject(parent), player_(std::move(player))
{
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TPlayerSource::Tick);
}

TPlayerSource::~TPlayerSource() = default;

void TPlayerSource::Start()
{
    running_ = true;
    Arm();
}

void TPlayerSource::Stop()
{
    running_ = false;
    timer_.stop();
}

bool TPlayerSource::Take(TCycleSample& out)
{
    if (queue_.empty())
        return false;
    out = std::move(queue_.front());
    queue_.pop_front();
    if (queue_.empty())
        Arm();
    return true;
}

void TPlayerSource::Play()
{
    player_->Play(NowMs());
    Arm();
}

void TPlayerSource::Pause()
{
    player_->Pause(NowMs());
    timer_.stop();
}

void TPlayerSource::SetSpeed(double x)
{
    player_->SetSpeed(x, NowMs());
    Arm();
}

void TPlayerSource::SeekTo(std::uint64_t i)
{
    queue_.clear();
    player_->SeekTo(i, NowMs());
    Arm();
}

void TPlayerSource::Arm()
{
    if (!running_ || !player_->IsPlaying()) {
        timer_.stop();
        return;
    }
    // Nothing more is queued while the run still has some to take.
    if (!queue_.empty())
        return;
    const std::int64_t wait = player_->MsUntilNext(NowMs());
    if (wait < 0) {
        timer_.stop();
        return;
    }
    timer_.start(static_cast<int>(std::min<std::int64_t>(wait, 1000)));
}

void TPlayerSource::Tick()
{
    if (!running_)
        return;
    const std::uint64_t from = player_->Position();
    const std::uint64_t due = player_->TakeDue(NowMs(), kBatch);
    if (due > 0)
        Queue(from, due);
    else
        Arm();
}

void TPlayerSource::Queue(std::uint64_t from, std::uint64_t count)
{
    const bool wasEmpty = queue_.empty();
    player_->ForEach(from, from + count, [this](std::uint64_t i, double t, std::span<const std::uint8_t> s) {
        TCycleSample e;
        e.Kind = TCycleSample::TKind::Cycle;
        e.TimeOfDay = t;
        e.Record = i;
        e.Sample.assign(s.begin(), s.end());
        queue_.push_back(std::move(e));
    });
    if (wasEmpty && !queue_.empty() && consumer_)
        QCoreApplication::postEvent(consumer_, new QEvent(WM_CYCLE_DONE));
}

}  // namespace kovra
