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

void TScreenPacer::Request(QWidget* w)
{
    if (!w)
        return;
    if (std::find(dirty_.begin(), dirty_.end(), w) == dirty_.end())
        dirty_.push_back(w);
    if (timer_.isActive())
        return;
    const qint64 wait = interval_ - sinceFlush_.elapsed();
    timer_.start(static_cast<int>(std::clamp<qint64>(wait, 0, interval_)));
}

void TScreenPacer::Forget(QWidget* w)
{
    dirty_.erase(std::remove(dirty_.begin(), dirty_.end(), w), dirty_.end());
}

void TScreenPacer::Flush()
{
    sinceFlush_.restart();
    if (dirty_.empty())
        return;
    ++refreshes_;
    // update(), not repaint(): Qt merges these into one paint of the window
    // at its next turn, after the input that is waiting.
    for (QWidget* w : dirty_)
        w->update();
    dirty_.clear();
}

}  // namespace kovra
