#include "app/ReplayBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QToolButton>

namespace kovra {

void TGapSlider::SetGaps(std::vector<std::uint64_t> gaps, std::uint64_t records)
{
    gaps_ = std::move(gaps);
    records_ = records;
    update();
}

void TGapSlider::paintEvent(QPaintEvent* e)
{
    QSlider::paintEvent(e);
    if (gaps_.empty() || records_ < 2)
        return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    // The handle's centre runs from half a handle in to half a handle short.
    const double left = groove.left() + handle.width() / 2.0;
    const double span = std::max(1.0, groove.width() - double(handle.width()));
    QPainter p(this);
    p.setPen(QColor(200, 0, 0));
    for (std::uint64_t g : gaps_) {
        const int x = static_cast<int>(left + span * double(g) / double(records_ - 1));
        p.drawLine(x, height() - 4, x, height() - 1);
    }
}

const std::vector<double>& TReplayBar::Speeds()
{
    static const std::vector<double> speeds = {0.25, 0.5, 1, 2, 4, 8, 16, 32, 64, 0};
    return speeds;
}

TReplayBar::TReplayBar(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    auto button = [this, row](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(true);
        b->setFixedHeight(16);
        row->addWidget(b);
        return b;
    };
    BackButton = button(QStringLiteral("◀"), QStringLiteral("На запись назад (←)"));
    PlayButton = button(QStringLiteral("Пуск"), QStringLiteral("Пуск и пауза (пробел)"));
    ForwardButton = button(QStringLiteral("▶"), QStringLiteral("На запись вперёд (→)"));
    BackButton->setObjectName(QStringLiteral("ReplayBack"));
    PlayButton->setObjectName(QStringLiteral("ReplayPlay"));
    ForwardButton->setObjectName(QStringLiteral("ReplayForward"));

    SpeedBox = new QComboBox(this);
    SpeedBox->setObjectName(QStringLiteral("ReplaySpeed"));
    SpeedBox->setFocusPolicy(Qt::NoFocus);
    SpeedBox->setFixedHeight(16);
    SpeedBox->setFixedWidth(48);
    for (double s : Speeds())
        SpeedBox->addItem(s == 0 ? QStringLiteral("макс.") : QStringLiteral("%1x").arg(s), s);
    row->addWidget(SpeedBox);

    Position = new TGapSlider(Qt::Horizontal, this);
    Position->setObjectName(QStringLiteral("ReplayPosition"));
    Position->setFocusPolicy(Qt::NoFocus);
    Position->setTracking(true);
    Position->setFixedHeight(16);
    Position->setMinimumWidth(40);
    row->addWidget(Position, 1);

    Where = new QLabel(this);
    Where->setObjectName(QStringLiteral("ReplayWhere"));
    row->addWidget(Where);
    Note = new QLabel(this);
    Note->setObjectName(QStringLiteral("ReplayNote"));
    Note->setStyleSheet(QStringLiteral("color: #a00000"));
    row->addWidget(Note);

    Sound = new QCheckBox(QStringLiteral("♪"), this);
    Sound->setToolTip(QStringLiteral("Звук тревоги"));
    Sound->setObjectName(QStringLiteral("ReplaySound"));
    Sound->setFocusPolicy(Qt::NoFocus);
    row->addWidget(Sound);
    LiveButton = button(QStringLiteral("Живые"), QStringLiteral("Закрыть лог, к живым данным"));
    LiveButton->setObjectName(QStringLiteral("ReplayLive"));

    connect(PlayButton, &QToolButton::clicked, this, &TReplayBar::PlayPause);
    connect(BackButton, &QToolButton::clicked, this, [this] { emit Step(-1); });
    connect(ForwardButton, &QToolButton::clicked, this, [this] { emit Step(1); });
    connect(LiveButton, &QToolButton::clicked, this, &TReplayBar::BackToLive);
    connect(Sound, &QCheckBox::toggled, this, [this](bool on) {
        if (!updating_)
            emit SoundChanged(on);
    });
    connect(SpeedBox, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!updating_ && i >= 0)
            emit SpeedChanged(SpeedBox->itemData(i).toDouble());
    });
    // A drag seeks where it is let go; a click or a page step at once.
    connect(Position, &QSlider::valueChanged, this, [this](int v) {
        if (!updating_ && !Position->isSliderDown())
            emit SeekTo(v);
    });
    connect(Position, &QSlider::sliderReleased, this, [this] {
        if (!updating_)
            emit SeekTo(Position->value());
    });
}

QSize TReplayBar::sizeHint() const { return {QWidget::sizeHint().width(), 16}; }

void TReplayBar::SetLog(const QString& name, std::uint64_t records, std::vector<std::uint64_t> gaps,
                        const QString& note)
{
    updating_ = true;
    setToolTip(name);
    const int last = static_cast<int>(std::min<std::uint64_t>(records ? records - 1 : 0, INT32_MAX));
    Position->setRange(0, last);
    Position->setPageStep(std::max(1, last / 20));
    Position->SetGaps(std::move(gaps), records);
    Note->setText(note);
    Note->setVisible(!note.isEmpty());
    updating_ = false;
}

void TReplayBar::SetPosition(std::uint64_t shown, const QString& text)
{
    Where->setText(text);
    if (Position->isSliderDown())
        return;
    updating_ = true;
    Position->setValue(static_cast<int>(std::min<std::uint64_t>(shown, INT32_MAX)));
    updating_ = false;
}

void TReplayBar::SetPlaying(bool playing) { PlayButton->setText(playing ? QStringLiteral("Пауза") : QStringLiteral("Пуск")); }

void TReplayBar::SetSpeed(double speed)
{
    updating_ = true;
    const auto& speeds = Speeds();
    for (std::size_t i = 0; i < speeds.size(); ++i)
        if (speeds[i] == speed)
            SpeedBox->setCurrentIndex(static_cast<int>(i));
    updating_ = false;
}

void TReplayBar::SetSound(bool on)
{
    updating_ = true;
    Sound->setChecked(on);
    updating_ = false;
}

}  // namespace kovra
