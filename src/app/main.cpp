#include "app/KovraLoggerU.h"
#include "config/folders.h"
#include "config/paths.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KovraLogger"));

    QCommandLineParser cmd;
    cmd.setApplicationDescription(QStringLiteral("Kovra Logger: ECU data logger and live dashboard"));
    cmd.addHelpOption();
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral("Use DIR for set.ini, log.sv, logs/ and the pictures, sounds and language files."),
        QStringLiteral("DIR"));
    cmd.addOption(folderOption);
    cmd.process(app);

    kovra::TFolderInputs in;
    in.ExecutableFolder = kovra::PathFromQString(QCoreApplication::applicationDirPath());
    in.CurrentFolder = kovra::PathFromQString(QDir::currentPath());
    if (cmd.isSet(folderOption))
        in.Explicit = kovra::PathFromQString(cmd.value(folderOption));
    in.UserDataFolder = kovra::UserDataFolder();
    in.Example = kovra::InstalledExampleFolder(in.ExecutableFolder);
    const kovra::TFolders folders = kovra::ChooseFolders(in);
    if (!folders.Error.empty())
        std::fprintf(stderr, "kovra-logger: %s\n", folders.Error.c_str());
    // The pictures, sounds and language files are named relative to the
    // working folder.
    QDir::setCurrent(kovra::PathToQString(folders.Working));

    kovra::TForm1 form(folders.Program, folders.Working);
    form.show();
    return app.exec();
}
