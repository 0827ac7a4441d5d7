#include "link/port_name.h"

#include "config/cp1251.h"

#include <QFileInfo>

namespace kovra {

QString PortNameText(const std::string& name)
{
    return Cp1251ToQString(name);
}

namespace {

// The N of "comN", or 0 when the name is not of that form.
int ComNumber(const QString& name)
{
    if (name.size() < 4 || !name.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
        return 0;
    for (QChar c : name.mid(3))
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    return ok && n >= 1 ? n : 0;
}

}  // namespace

QString ResolvePortName(const std::string& name)
{
    const QString text = PortNameText(name).trimmed();
    const int com = ComNumber(text);
#ifdef _WIN32
    if (com > 0)
        return QStringLiteral("COM%1").arg(com);
    return text;
#else
    QString path;
    if (com > 0)
        path = QStringLiteral("/dev/ttyS%1").arg(com - 1);
    else if (text.contains(QLatin1Char('/')))
        path = text;
    else
        path = QStringLiteral("/dev/") + text;
    const QFileInfo info(path);
    const QString device = info.canonicalFilePath();
    return device.isEmpty() ? info.absoluteFilePath() : device;
#endif
}

}  // namespace kovra
