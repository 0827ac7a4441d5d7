#include "run/log_export.h"

#include "config/cp1251.h"
#include "config/time_of_day.h"
#include "run/run.h"
#include "record/log_format.h"

#include <charconv>

namespace kovra {

namespace {

// CSV text is handed on in pieces of about this size: large enough that the
// writes cost nothing, small enough to keep the memory flat.
constexpr std::size_t kPieceSize = std::size_t{256} << 10;
// Progress is told every so many records (a clock read per record would cost
// more than the record).
constexpr std::uint64_t kProgressEvery = 8192;

void AppendCsvField(std::string& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void AppendNumber(std::string& out, double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// At least two digits, as "%02lld" writes them.
void AppendPadded(std::string& out, std::int64_t v, int width)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (auto n = r.ptr - buf; n < width; ++n)
        out += '0';
    out.append(buf, r.ptr);
}

void AppendStamp(std::string& out, std::int64_t ms)
{
    AppendPadded(out, ms / 3'600'000, 2);
    out += ':';
    AppendPadded(out, ms / 60'000 % 60, 2);
    out += ':';
    AppendPadded(out, ms / 1000 % 60, 2);
    out += '.';
    AppendPadded(out, ms % 1000, 3);
}

}  // namespace

std::string FormatStampTime(std::int64_t ms)
{
    std::string s;
    AppendStamp(s, ms);
    return s;
}

TExportReport ExportLogCsv(TLogReader& log, const TSettings& settings, const TCsvWriter& write,
                           const TExportProgress& progress, const TRecordRange& range)
{
    TExportReport rep;
    const TAllData& d = settings.Data;
    if (!log.HasHeader()) {
        rep.Failure = TExportFailure::Log;
        rep.Error = "the log is empty: it lacks even its sample length byte";
        return rep;
    }
    if (log.SampleLength() != d.SampleLength) {
        rep.Failure = TExportFailure::Log;
        rep.Error = "the log's samples are " + std::to_string(log.SampleLength()) + " bytes long, the settings' " +
                    std::to_string(d.SampleLength);
        return rep;
    }
    if ((range.First > 0 || log.Records() > 0) && !log.SeekRecord(range.First)) {
        rep.Failure = TExportFailure::Read;
        rep.Error = log.Error();
        return rep;
    }

    std::string out;
    out.reserve(kPieceSize + 4096);
    const auto handOn = [&]() -> bool {
        const int status = write(out);
        out.clear();
        if (status == kFileOk)
            return true;
        rep.Failure = TExportFailure::Write;
        rep.WriteStatus = status;
        rep.Error = IoErrorMessage(status);
        return false;
    };

    out += "time";
    for (const TProc& p : d.Procs) {
        out += ',';
        AppendCsvField(out, Cp1251ToUtf8(p.Name));
    }
    out += '\n';

    // A run of its own, without displays or recorder, fed the log's records
    // one by one as they are read.
    TRun run(settings);
    const TCycleDrawing drawing{TShownPage::Charts};
    TLogRecord rec;
    while (rep.Records < range.Count && log.Next(rec)) {
        if (!rec.Stamp.Valid())
            ++rep.BadStamps;
        const std::int64_t ms = rec.Stamp.CycleMs();
        const double timeOfDay = DayFraction(ms);
        // The run begins at the first record written, as if the log began there.
        if (rep.Records == 0)
            run.Restart(static_cast<float>(timeOfDay));

        const TCycleOutcome o = run.ProcessCycle(rec.Sample, timeOfDay, drawing);
        const TRunState& state = run.State();
        AppendStamp(out, ms);
        for (std::size_t i = 0; i < d.Procs.size(); ++i) {
            out += ',';
            if (o.Ok() || i < o.FailedFormula)
                AppendNumber(out, state.Values[i]);
            else if (i == o.FailedFormula)
                out += o.Message();
        }
        out += '\n';
        if (!o.Ok())
            ++rep.FailedRows;
        ++rep.Records;
        if (out.size() >= kPieceSize && !handOn())
            return rep;
        if (progress && rep.Records % kProgressEvery == 0)
            progress(log.BytesDone(), log.TotalBytes());
    }
    if (log.Failed()) {
        rep.Failure = TExportFailure::Read;
        rep.Error = log.Error();
        return rep;
    }
    if (!handOn())
        return rep;
    rep.DroppedBytes = log.TrailingBytes();
    if (progress)
        progress(log.BytesDone(), log.TotalBytes());
    rep.Ok = true;
    return rep;
}

TExportReport ExportLogCsv(std::span<const std::uint8_t> log, const TSettings& settings, std::ostream& out)
{
    TLogReader reader;
    reader.OpenBytes(log);
    return ExportLogCsv(reader, settings, [&out](std::string_view text) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        return out ? kFileOk : kFileDeviceError;
    });
}

TExportReport ExportLogCsvFile(TLogReader& log, const TSettings& settings, const std::filesystem::path& csv,
                               std::shared_ptr<TReplaceStorage> storage, const TExportProgress& progress,
                               const TRecordRange& range)
{
    TReplaceFile file(std::move(storage));
    bool open = false;
    // Opened at the first piece, once the log has been found to fit: a log
    // that is refused leaves no temporary file behind.
    const TCsvWriter write = [&](std::string_view text) {
        if (!open) {
            if (const int status = file.Open(csv); status != kFileOk)
                return status;
            open = true;
        }
        return file.Write(text);
    };
    TExportReport rep = ExportLogCsv(log, settings, write, progress, range);
    if (!rep.Ok) {
        file.Abandon();
        return rep;
    }
    if (const int status = file.Commit(); status != kFileOk) {
        rep.Ok = false;
        rep.Failure = TExportFailure::Write;
        rep.WriteStatus = status;
        rep.Error = IoErrorMessage(status);
    }
    return rep;
}

}  // namespace kovra
