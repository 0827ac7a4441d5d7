#include "config/paths.h"

#include "config/cp1251.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <system_error>

namespace kovra {

std::filesystem::path PathFromQString(const QString& text)
{
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

QString PathToQString(const std::filesystem::path& path)
{
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

std::filesystem::path PathFromCp1251(std::string_view text) { return PathFromQString(Cp1251ToQString(text)); }

std::string DisplayPath(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec)
        full = path;
    return QStringToCp1251(QDir::toNativeSeparators(PathToQString(full.lexically_normal())));
}

}  // namespace kovra
