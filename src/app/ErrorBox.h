// The application's one error box. A handler that fails reports here; the box
// shows the message with a full stop appended by the runtime's rule, titled
// "KovraLogger". While a box is open no second one opens: a formula that fails
// on every cycle would otherwise stack boxes without end.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kovra {

class ErrorBox {
public:
    // The text the box shows for a message.
    static QString Decorate(const QString& message);
    // Shows the box (modal) unless one is already open; returns whether it was shown.
    static bool Show(QWidget* parent, const QString& message);
    static bool IsOpen();

    // Test seam: when set, Show calls it with the decorated text instead of
    // opening a box (it still counts as open while the hook runs).
    using Hook = std::function<void(const QString& title, const QString& text)>;
    static void SetHook(Hook hook);
};

}  // namespace kovra
