#include "record/log_export.h"

#include "config/cp1251.h"
#include "record/cycle.h"
#include "record/log_format.h"

#include <charconv>
#include <cstdio>

namespace kovra {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

void WriteCsvField(std::ostream& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out << text;
        return;
    }
    out << '"';
    for (char c : text) {
        if (c == '"')
            out << '"';
        out << c;
    }
    out << '"';
}

void WriteNumber(std::ostream& out, double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.write(buf, r.ptr - buf);
}

}  // namespace

std::string FormatStampTime(std::int64_t ms)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3'600'000),
                  static_cast<long long>(ms / 60'000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return buf;
}

TExportReport ExportLogCsv(std::span<const std::uint8_t> log, TSettings& settings, std::ostream& out)
{
    TExportReport rep;
    TAllData& d = settings.Data;
    const TLogShape shape = InspectLog(log);
    if (!shape.HasHeader) {
        rep.Error = "the log is empty: it lacks even its sample length byte";
        return rep;
    }
    if (shape.SampleLength != d.SampleLength) {
        rep.Error = "the log's samples are " + std::to_string(shape.SampleLength) +
                    " bytes long, the settings' " + std::to_string(d.SampleLength);
        return rep;
    }
    rep.Ok = true;
    rep.DroppedBytes = shape.TrailingBytes;
    for (TProc& p : d.Procs)
        p.Value = 0;

    out << "time";
    for (const TProc& p : d.Procs) {
        out << ',';
        WriteCsvField(out, Cp1251ToUtf8(p.Name));
    }
    out << '\n';

    TCycle cycle(d, {});
    for (std::size_t k = 0; k < shape.Records; ++k) {
        const std::uint8_t* rec = log.data() + 1 + k * shape.RecordSize;
        const TTimeStamp stamp{rec[0], rec[1], rec[2], rec[3]};
        std::int64_t ms = stamp.MsOfDay();
        if (!stamp.Valid())
            ++rep.BadStamps;
        else if (ms >= kMsPerDay)
            ms -= kMsPerDay;  // 23:59:59 and 998 ms or more
        const double timeOfDay = static_cast<double>(ms) / kMsPerDay;
        if (k == 0)
            cycle.LastCycleTime = static_cast<float>(timeOfDay);

        const TCycleOutcome o = cycle.LogPrintAt({rec + kStampSize, shape.SampleLength}, 0, timeOfDay);
        out << FormatStampTime(ms);
        for (std::size_t i = 0; i < d.Procs.size(); ++i) {
            out << ',';
            if (o.Ok() || i < o.FailedFormula)
                WriteNumber(out, d.Procs[i].Value);
            else if (i == o.FailedFormula)
                out << o.Message();
        }
        out << '\n';
        if (!o.Ok())
            ++rep.FailedRows;
        ++rep.Records;
    }
    return rep;
}

}  // namespace kovra
