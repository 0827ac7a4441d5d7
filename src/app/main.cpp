#include "app/KovraLoggerU.h"
#include "config/folders.h"
#include "config/paths.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <optional>

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
    const QCommandLineOption atOption(
        QStringLiteral("at"), QStringLiteral("Start the replay at the record of TIME (HH:MM:SS[.mmm]) or at the end."),
        QStringLiteral("TIME"));
    const QCommandLineOption speedOption(
        QStringLiteral("speed"), QStringLiteral("Replay at X times the recorded pace (0.25 to 64, or max)."),
        QStringLiteral("X"), QStringLiteral("1"));
    const QCommandLineOption pausedOption(QStringLiteral("paused"), QStringLiteral("Open the log paused."));
    cmd.addOption(atOption);
    cmd.addOption(speedOption);
    cmd.addOption(pausedOption);
    cmd.addPositionalArgument(QStringLiteral("LOG"), QStringLiteral("A log (.xlg) to replay instead of the live link."),
                              QStringLiteral("[LOG]"));
    cmd.process(app);

    // Named from where the program was started, before the working folder changes.
    std::optional<std::filesystem::path> log;
    if (!cmd.positionalArguments().isEmpty())
        log = kovra::PathFromQString(QFileInfo(cmd.positionalArguments().front()).absoluteFilePath());
    kovra::TReplayStart start;
    if (cmd.isSet(atOption))
        start.At = cmd.value(atOption).toStdString();
    start.Paused = cmd.isSet(pausedOption);
    const QString speed = cmd.value(speedOption);
    bool speedOk = true;
    start.Speed = speed == QStringLiteral("max") ? 0 : speed.toDouble(&speedOk);
    if (!speedOk || !(start.Speed == 0 || (start.Speed >= 0.25 && start.Speed <= 64))) {
        std::fprintf(stderr, "kovra-logger: --speed %s: give a number from 0.25 to 64, or max\n",
                     speed.toLocal8Bit().constData());
        return 2;
    }
    if (!log && (cmd.isSet(atOption) || cmd.isSet(pausedOption) || cmd.isSet(speedOption))) {
        std::fprintf(stderr, "kovra-logger: --at, --speed and --paused need a LOG to replay\n");
        return 2;
    }

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
    if (log)
        QTimer::singleShot(0, &form, [&form, &log, &start] { form.OpenLog(*log, start); });
    return app.exec();
}
