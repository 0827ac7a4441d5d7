// The link's state in one line of text, for the tab row of the window: the
// port (open, or why it cannot be opened, with the group to join when access
// is refused), the ECU (answering and how fast, silent and re-sent to, or its
// adapter gone and being reopened), cycles that never reached the screen, the
// link's latest advice and, for a replayed log, its name and position.
//
// No widgets and no clock of its own: it takes the worker's entries as the
// window handles them (a few integer updates per cycle, so a flood costs
// nothing) and is asked for the text with the current time, about twice a
// second.
#pragma once

#include "link/comm_thread.h"
#include "platform/serial_device.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// The texts, with %1 and %2 for numbers and names. Built in: Russian; each can
// be replaced from the language file (section "Logger", key in the comment).
struct TStatusTexts {
    QString PortOpen = QStringLiteral("Порт %1 открыт");                        // StatusPortOpen
    QString PortWaiting = QStringLiteral("Порт %1 открывается");                // StatusPortWaiting
    QString PortMissing = QStringLiteral("Порт %1 не найден, ожидание");        // StatusPortMissing
    QString PortCannotOpen = QStringLiteral("Порт %1 не открывается: %2");      // StatusPortCannotOpen
    QString PortNoAccess =
        QStringLiteral("Нет доступа к порту %1: войдите в группу %2 и перезайдите в систему");  // StatusPortNoAccess
    QString PortGone = QStringLiteral("Адаптер %1 пропал (%2), переподключение");            // StatusPortGone
    QString EcuWaiting = QStringLiteral("ожидание ответа ЭБУ");                 // StatusEcuWaiting
    QString EcuAnswering = QStringLiteral("ЭБУ отвечает: %1 цикл/с");           // StatusEcuAnswering
    QString EcuSilent = QStringLiteral("ЭБУ молчит %1 с, запрос повторяется");  // StatusEcuSilent
    QString Dropped = QStringLiteral("пропущено на экране: %1");                // StatusDropped
    QString Replay = QStringLiteral("лог %1, %2");                              // StatusReplay

    bool operator==(const TStatusTexts&) const = default;
};

// Replaces every text that lookup finds (by its key above, CP1251 text).
using TTextLookup = std::function<std::optional<std::string>(std::string_view key)>;
void ApplyStatusTexts(TStatusTexts& texts, const TTextLookup& lookup);

class TLinkStatus {
public:
    // device: the port as the worker opens it, shown until the worker names it.
    explicit TLinkStatus(QString device = {}, TStatusTexts texts = {});

    // Asked when the port cannot be opened, for the group that owns it; the
    // window gives DeviceAccess, a test its own answer.
    std::function<TDeviceAccess(const QString& device)> Access;

    void Take(const TCycleSample& entry);
    // Advice of the link (a slow latency timer, for instance): the latest is shown.
    void SetNotice(const QString& text) { notice_ = text; }
    // Cycles that were recorded or dropped without being drawn, in all.
    void SetDropped(std::uint64_t count) { dropped_ = count; }
    // For a replay of a log: its name and where in it the replay stands;
    // nullopt for a live link.
    void SetReplay(std::optional<std::pair<QString, QString>> logAndPosition)
    {
        replay_ = std::move(logAndPosition);
    }

    // The line to show at nowMs (milliseconds since the epoch, the clock of
    // the entries' Time). Remembers the cycle count for the rate it shows.
    QString Text(std::int64_t nowMs);

    static inline const QString kSeparator = QStringLiteral("  ·  ");

private:
    enum class TPort : std::uint8_t { Waiting, Open, CannotOpen, Gone };
    struct TMark {
        std::uint64_t Cycles;
        std::int64_t LastCycleMs;
    };

    QString PortText() const;
    QString EcuText(std::int64_t nowMs);

    TStatusTexts texts_;
    QString device_;
    QString reason_;
    TDeviceAccess access_;
    TPort port_ = TPort::Waiting;
    QDateTime openTime_;
    // Since the port last opened.
    std::uint64_t cycles_ = 0;
    QDateTime firstCycle_, lastCycle_;
    QDateTime lastResend_;  // a watchdog re-send after the last cycle
    std::deque<TMark> marks_;  // at each Text(), for the rate over the last seconds
    std::uint64_t dropped_ = 0;
    QString notice_;
    std::optional<std::pair<QString, QString>> replay_;
};

}  // namespace kovra
