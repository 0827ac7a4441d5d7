// Naming and writing of log files under the program's "logs" folder.
//
// A log is named by the moment it is saved: the date in the system's short
// date format, "-", then hour, minute and second without leading zeros, then
// ".xlg" (07.12.2026-14537.xlg). Characters of the date that a file name may
// not hold on any of our systems (slash, backslash, colon, ...) become "-",
// so that a date such as 12/7/2026 never turns into folders. A save never
// replaces a file: when the name is taken, "-2", "-3", ... go before ".xlg".
#pragma once

#include "record/log_storage.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

namespace kovra {

// The logs folder of a program folder. It is never created by the logger.
std::filesystem::path LogsFolder(const std::filesystem::path& programFolder);

// The system's short date format, as the log names use it.
QString SystemShortDateFormat();

// The clock and date format a name is made from; tests set their own.
struct TLogNaming {
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };
    QString DateFormat = SystemShortDateFormat();
};

// The name without folder, suffix and extension, e.g. "07.12.2026-14537".
// Date, hour, minute and second come from the one reading `now`, so that a
// save just before midnight cannot mix two days.
QString LogBaseName(const QDateTime& now, const QString& shortDateFormat);

struct TSaveResult {
    int Status = 0;               // platform/files.h numbering; 0 on success
    std::string Message;          // the user's text for Status; empty on success
    std::filesystem::path Path;   // the file written (or the one that failed)
    bool Ok() const { return Status == 0; }
};

// Writes bytes as a new log in logsFolder under base (plus a suffix when
// taken, or from firstSuffix on when above 1): create, write, sync, close,
// each checked. A file this save created is removed again when any of them
// fails: a short log would pass for a whole one.
TSaveResult SaveLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder,
                        const QString& base, std::span<const std::uint8_t> bytes, int firstSuffix = 1);

// The same with the contents written by body into the new file (a status,
// 0 when every byte went in).
using TLogBody = std::function<int(TLogOutput& out)>;
TSaveResult SaveLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder,
                        const QString& base, const TLogBody& body, int firstSuffix = 1);

// Gives file, which already holds a whole log's bytes on the disk, the name
// SaveLogFile would give a new log, without copying a byte. Nothing changes
// when it fails (a file system without links, a name it cannot make).
TSaveResult LinkLogFile(TLogStorage& storage, const std::filesystem::path& logsFolder, const QString& base,
                        const std::filesystem::path& file, int firstSuffix = 1);

// A QString path as the file system wants it.
std::filesystem::path ToPath(const QString& s);
QString FromPath(const std::filesystem::path& p);

}  // namespace kovra
