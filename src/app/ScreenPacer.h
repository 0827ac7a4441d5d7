// Puts changed pictures on the screen at most once per screen refresh.
//
// Cycles can complete far faster than a screen can show them, and every
// repaint of a 1900-pixel panel costs milliseconds. The cycle handler draws
// every cycle into its pictures and only asks the pacer to show them; the
// pacer calls update() on every widget asked for since the last refresh, once
// a refresh interval has passed, so a flood of cycles costs one paint per
// refresh whatever its rate. GUI thread only.
//
// Only what changed is repainted when the widget says what that is: a region
// with the request, or a compose step the pacer runs at the refresh (a
// picture brought up to date once per refresh, not once per cycle) that
// returns the region it changed.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRegion>
#include <QTimer>

#include <functional>
#include <vector>

class QWidget;

namespace kovra {

class TScreenPacer : public QObject {
public:
    // The interval defaults to the primary screen's refresh period.
    explicit TScreenPacer(QObject* parent = nullptr);

    // w is updated at the next refresh; asking again before then changes
    // nothing. Without a region the whole of w is repainted, unless w has a
    // compose step: then what that returns. w must outlive the pacer or be
    // removed with Forget().
    void Request(QWidget* w);
    // Only `changed` (in w's coordinates) is repainted, with whatever else
    // is asked for w before the refresh.
    void Request(QWidget* w, const QRegion& changed);
    // Run at each refresh that w was asked for, before w is repainted; what
    // it returns is repainted (nothing when empty). Replaces w's step; an
    // empty function removes it.
    void SetCompose(QWidget* w, std::function<QRegion()> compose);
    void Forget(QWidget* w);

    int IntervalMs() const { return interval_; }
    void SetIntervalMs(int ms) { interval_ = ms > 0 ? ms : 1; }
    // How many refreshes have put something on the screen.
    long long Refreshes() const { return refreshes_; }

private:
    struct TDirty {
        QWidget* W;
        bool Whole;
        QRegion Changed;
    };
    struct TCompose {
        QWidget* W;
        std::function<QRegion()> Compose;
    };
    void Flush();
    TDirty& Dirty(QWidget* w);
    const std::function<QRegion()>* ComposeOf(const QWidget* w) const;

    QTimer timer_;
    QElapsedTimer sinceFlush_;
    std::vector<TDirty> dirty_;
    std::vector<TCompose> compose_;
    int interval_ = 16;
    long long refreshes_ = 0;
};

}  // namespace kovra
