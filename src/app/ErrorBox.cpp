#include "app/ErrorBox.h"

#include <QMessageBox>

namespace kovra {
namespace {
bool g_open = false;
ErrorBox::Hook g_hook;
}  // namespace

QString ErrorBox::Decorate(const QString& message)
{
    // The runtime appends a full stop when the last character sorts after it,
    // so "...value" gains one and "...error." or "(5)" keep theirs.
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

bool ErrorBox::Show(QWidget* parent, const QString& message)
{
    if (g_open)
        return false;
    g_open = true;
    const QString title = QStringLiteral("KovraLogger");
    const QString text = Decorate(message);
    if (g_hook) {
        g_hook(title, text);
    } else {
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
        box.exec();
    }
    g_open = false;
    return true;
}

bool ErrorBox::IsOpen() { return g_open; }

void ErrorBox::SetHook(Hook hook) { g_hook = std::move(hook); }

}  // namespace kovra
