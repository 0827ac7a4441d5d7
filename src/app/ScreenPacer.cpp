#include "app/ScreenPacer.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kovra {

TScreenPacer::TScreenPacer(QObject* parent) : QObject(parent)
{
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const qreal hz = s->refreshRate();
        // A screen that reports nonsense keeps the 60 Hz default.
        if (hz >= 10 && hz <= 1000)
            interval_ = std::max(1, static_cast<int>(std::floor(1000.0 / hz)));
    }
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Flush(); });
    sinceFlush_.start();
}

TScreenPacer::TDirty& TScreenPacer::Dirty(QWidget* w)
{
    for (TDirty& d : dirty_)
        if (d.W == w)
            return d;
    dirty_.push_back({w, false, QRegion()});
    if (!timer_.isActive()) {
        const qint64 wait = interval_ - sinceFlush_.elapsed();
        timer_.start(static_cast<int>(std::clamp<qint64>(wait, 0, interval_)));
    }
    return dirty_.back();
}

const std::function<QRegion()>* TScreenPacer::ComposeOf(const QWidget* w) const
{
    for (const TCompose& c : compose_)
        if (c.W == w)
            return &c.Compose;
    return nullptr;
}

void TScreenPacer::Request(QWidget* w)
{
    if (!w)
        return;
    TDirty& d = Dirty(w);
    if (!ComposeOf(w))
        d.Whole = true;
}

void TScreenPacer::Request(QWidget* w, const QRegion& changed)
{
    if (!w)
        return;
    TDirty& d = Dirty(w);
    if (!d.Whole)
        d.Changed += changed;
}

void TScreenPacer::SetCompose(QWidget* w, std::function<QRegion()> compose)
{
    compose_.erase(std::remove_if(compose_.begin(), compose_.end(), [w](const TCompose& c) { return c.W == w; }),
                   compose_.end());
    if (w && compose)
        compose_.push_back({w, std::move(compose)});
}

void TScreenPacer::Forget(QWidget* w)
{
    dirty_.erase(std::remove_if(dirty_.begin(), dirty_.end(), [w](const TDirty& d) { return d.W == w; }),
                 dirty_.end());
    SetCompose(w, {});
}

void TScreenPacer::Flush()
{
    sinceFlush_.restart();
    if (dirty_.empty())
        return;
    ++refreshes_;
    // Taken first: a compose step may ask for the next refresh.
    std::vector<TDirty> now;
    now.swap(dirty_);
    // update(), not repaint(): Qt merges these into one paint of the window
    // at its next turn, after the input that is waiting.
    for (TDirty& d : now) {
        if (const std::function<QRegion()>* compose = ComposeOf(d.W))
            d.Changed += (*compose)();
        if (d.Whole)
            d.W->update();
        else if (!d.Changed.isEmpty())
            d.W->update(d.Changed);
    }
}

}  // namespace kovra
