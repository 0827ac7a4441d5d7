#include "app/LinkStatus.h"

#include "config/cp1251.h"

#include <QLocale>
#include <QStringList>

#include <utility>

namespace kovra {

namespace {

// The rate is the cycles of about the last two seconds: steady enough to read,
// quick enough to follow a slower ECU.
constexpr std::int64_t kRateWindowMs = 2000;

std::int64_t Ms(const QDateTime& t, std::int64_t fallback)
{
    return t.isValid() ? t.toMSecsSinceEpoch() : fallback;
}

// The worker says "cannot open DEVICE: WHY" or "DEVICE: WHY"; a device name
// never holds ": ", an error text may, hence the first one.
std::pair<QString, QString> SplitPortText(const QString& text)
{
    static const QString kCannotOpen = QStringLiteral("cannot open ");
    QString rest = text;
    if (rest.startsWith(kCannotOpen))
        rest = rest.mid(kCannotOpen.size());
    const qsizetype colon = rest.indexOf(QStringLiteral(": "));
    if (colon < 0)
        return {{}, text};
    return {rest.left(colon), rest.mid(colon + 2)};
}

}  // namespace

void ApplyStatusTexts(TStatusTexts& texts, const TTextLookup& lookup)
{
    const std::pair<const char*, QString*> keys[] = {
        {"StatusPortOpen", &texts.PortOpen},
        {"StatusPortWaiting", &texts.PortWaiting},
        {"StatusPortMissing", &texts.PortMissing},
        {"StatusPortCannotOpen", &texts.PortCannotOpen},
        {"StatusPortNoAccess", &texts.PortNoAccess},
        {"StatusPortGone", &texts.PortGone},
        {"StatusEcuWaiting", &texts.EcuWaiting},
        {"StatusEcuAnswering", &texts.EcuAnswering},
        {"StatusEcuSilent", &texts.EcuSilent},
        {"StatusDropped", &texts.Dropped},
        {"StatusReplay", &texts.Replay},
    };
    if (!lookup)
        return;
    for (const auto& [key, text] : keys)
        if (std::optional<std::string> found = lookup(key))
            *text = Cp1251ToQString(*found);
}

TLinkStatus::TLinkStatus(QString device, TStatusTexts texts)
    : texts_(std::move(texts)), device_(std::move(device))
{
}

void TLinkStatus::Take(const TCycleSample& entry)
{
    switch (entry.Kind) {
    case TCycleSample::TKind::Cycle:
        // The one path taken per cycle: a count and a time, nothing more.
        if (++cycles_ == 1)
            firstCycle_ = entry.Time;
        lastCycle_ = entry.Time;
        break;
    case TCycleSample::TKind::Resend:
        lastResend_ = entry.Time;
        break;
    case TCycleSample::TKind::PortOpen:
        port_ = TPort::Open;
        if (!entry.Text.isEmpty())
            device_ = entry.Text;
        openTime_ = entry.Time;
        cycles_ = 0;
        firstCycle_ = lastCycle_ = lastResend_ = QDateTime();
        marks_.clear();
        reason_.clear();
        break;
    case TCycleSample::TKind::PortLost: {
        auto [device, reason] = SplitPortText(entry.Text);
        if (!device.isEmpty())
            device_ = device;
        reason_ = reason;
        if (port_ == TPort::Open) {
            port_ = TPort::Gone;
        } else {
            port_ = TPort::CannotOpen;
            access_ = Access ? Access(device_) : TDeviceAccess{true, true, {}};
        }
        break;
    }
    case TCycleSample::TKind::Notice:
        notice_ = entry.Text;
        break;
    }
}

QString TLinkStatus::PortText() const
{
    switch (port_) {
    case TPort::Waiting:
        return texts_.PortWaiting.arg(device_);
    case TPort::Open:
        return texts_.PortOpen.arg(device_);
    case TPort::Gone:
        return texts_.PortGone.arg(device_, reason_);
    case TPort::CannotOpen:
        if (!access_.Exists)
            return texts_.PortMissing.arg(device_);
        if (!access_.CanOpen) {
            // The group of serial devices on most distributions, when the
            // device does not say.
            const QString group = access_.Group.empty() ? QStringLiteral("dialout")
                                                        : QString::fromStdString(access_.Group);
            return texts_.PortNoAccess.arg(device_, group);
        }
        return texts_.PortCannotOpen.arg(device_, reason_);
    }
    return {};
}

QString TLinkStatus::EcuText(std::int64_t nowMs)
{
    const std::int64_t openMs = Ms(openTime_, nowMs);
    const std::int64_t resendMs = lastResend_.isValid() ? lastResend_.toMSecsSinceEpoch() : -1;
    if (cycles_ == 0) {
        // The re-send that goes with a reopened port is stamped with the
        // opening itself: only the watchdog's later ones mean silence.
        if (resendMs > openMs)
            return texts_.EcuSilent.arg((nowMs - openMs) / 1000);
        return texts_.EcuWaiting;
    }
    const std::int64_t lastMs = Ms(lastCycle_, nowMs);
    if (resendMs > lastMs)
        return texts_.EcuSilent.arg((nowMs - lastMs) / 1000);

    if (marks_.empty() || marks_.back().Cycles != cycles_)
        marks_.push_back({cycles_, lastMs});
    // Keep one mark at least a window old as the base of the rate.
    while (marks_.size() > 2 && marks_[1].LastCycleMs <= lastMs - kRateWindowMs)
        marks_.pop_front();
    TMark base = marks_.front();
    if (base.Cycles == cycles_)
        base = {1, Ms(firstCycle_, lastMs)};
    const std::int64_t span = lastMs - base.LastCycleMs;
    QString rate = QStringLiteral("—");
    if (cycles_ > base.Cycles && span > 0)
        rate = QLocale().toString(double(cycles_ - base.Cycles) * 1000.0 / double(span), 'f', 1);
    return texts_.EcuAnswering.arg(rate);
}

QString TLinkStatus::Text(std::int64_t nowMs)
{
    QStringList parts;
    if (replay_) {
        parts << texts_.Replay.arg(replay_->first, replay_->second);
    } else {
        parts << PortText();
        if (port_ == TPort::Open)
            parts << EcuText(nowMs);
    }
    if (dropped_ > 0)
        parts << texts_.Dropped.arg(dropped_);
    if (!notice_.isEmpty())
        parts << notice_;
    return parts.join(kSeparator);
}

}  // namespace kovra
