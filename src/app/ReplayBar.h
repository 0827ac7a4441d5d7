// The transport strip of a replay, in the tab row: play/pause, one record back and forward,
// the speed, a position slider (gaps marked on it), where the replay stands,
// the alarm sound and the way back to live. It only reports what the user
// asks for; the window does it. Its controls never take the keyboard focus,
// so that space and the arrow keys reach the window.
#pragma once

#include <QSlider>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;

namespace kovra {

// A slider with a mark under every record where the recording stalled.
class TGapSlider : public QSlider {
public:
    using QSlider::QSlider;
    void SetGaps(std::vector<std::uint64_t> gaps, std::uint64_t records);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    std::vector<std::uint64_t> gaps_;
    std::uint64_t records_ = 0;
};

class TReplayBar : public QWidget {
    Q_OBJECT
public:
    // The speeds offered; 0 is as fast as possible.
    static const std::vector<double>& Speeds();

    explicit TReplayBar(QWidget* parent = nullptr);

    // A log was opened: its name, records, stalls and what to say about it.
    void SetLog(const QString& name, std::uint64_t records, std::vector<std::uint64_t> gaps,
                const QString& note);
    // Where the replay stands; the slider moves without asking for a seek.
    void SetPosition(std::uint64_t shown, const QString& text);
    void SetPlaying(bool playing);
    void SetSpeed(double speed);
    void SetSound(bool on);

    QToolButton* PlayButton = nullptr;
    QToolButton* BackButton = nullptr;
    QToolButton* ForwardButton = nullptr;
    QComboBox* SpeedBox = nullptr;
    TGapSlider* Position = nullptr;
    QLabel* Where = nullptr;
    QLabel* Note = nullptr;
    QCheckBox* Sound = nullptr;
    QToolButton* LiveButton = nullptr;

    QSize sizeHint() const override;

signals:
    void PlayPause();
    void Step(int delta);
    void SeekTo(qint64 record);
    void SpeedChanged(double speed);
    void SoundChanged(bool on);
    void BackToLive();

private:
    bool updating_ = false;
};

}  // namespace kovra
