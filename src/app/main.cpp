#include "app/KovraLoggerU.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KovraLogger"));
    const std::filesystem::path programFolder = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path workingFolder = QDir::currentPath().toStdString();
    kovra::TForm1 form(programFolder, workingFolder);
    form.show();
    return app.exec();
}
