// Puts changed pictures on the screen at most once per screen refresh.
//
// Cycles can complete far faster than a screen can show them, and every
// repaint of a 1900-pixel panel costs milliseconds. The cycle handler draws
// every cycle into its pictures and only asks the pacer to show them; the
// pacer calls update() on every widget asked for since the last refresh, once
// a refresh interval has passed, so a flood of cycles costs one paint per
// refresh whatever its rate. GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

class QWidget;

namespace kovra {

class TScreenPacer : public QObject {
public:
    // The interval defaults to the primary screen's refresh period.
    explicit TScreenPacer(QObject* parent = nullptr);

    // w is updated at the next refresh; asking again before then changes nothing.
    // w must outlive the pacer or be removed with Forget().
    void Request(QWidget* w);
    void Forget(QWidget* w);

    int IntervalMs() const { return interval_; }
    void SetIntervalMs(int ms) { interval_ = ms > 0 ? ms : 1; }
    // How many refreshes have put something on the screen.
    long long Refreshes() const { return refreshes_; }

private:
    void Flush();

    QTimer timer_;
    QElapsedTimer sinceFlush_;
    std::vector<QWidget*> dirty_;
    int interval_ = 16;
    long long refreshes_ = 0;
};

}  // namespace kovra
