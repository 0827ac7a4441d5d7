// A log of any bytes through the export, against settings of a 3-byte sample
// whose formulas fail on some samples, accumulate and take the elapsed time:
// a log that does not fit is refused with nothing written; one that fits
// gives a header and one row per whole record, the partial rest left out.
#include "fuzz_check.h"

#include "config/cp1251.h"
#include "config/format.h"
#include "config/settings.h"
#include "run/cycle.h"
#include "run/log_export.h"

#include <algorithm>
#include <sstream>

using namespace kovra;

namespace {

constexpr std::size_t kSample = 3;

// Written in UTF-8 and given in CP1251, as set.ini is.
std::string SettingsText()
{
    return "[настройки]\nкол-во_областей=2\nкол-во_формул=4\n"
           "[области]\nразмер_0=2\nразмер_1=1\n"
           "[формула_0]\nкол-во_перем=2\nпеременная_0=a\nпеременная_1=b\nотступ_пер_1=1\nформула=a*256+b\n"
           "[формула_1]\nсуммировать=1\nпеременная_0=t\nвид_0=2\nформула=t\n"
           "[формула_2]\nпеременная_0=x\nобласть_пер_0=1\nформула=100/x\n"
           "[формула_3]\nпеременная_0=r\nвид_0=1\nформула=ln(r)\n";
}

TSettings& Settings()
{
    static TSettings settings = [] {
        SetDecimalSeparatorForTesting(',');
        const std::string text = SettingsText();
        TSettings s = LoadSettingsFromBytes(Utf8ToCp1251(text));
        return s;
    }();
    return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TSettings& settings = Settings();
    FUZZ_CHECK(settings.Data.SampleLength == kSample);
    std::ostringstream out;
    const TExportReport r = ExportLogCsv(std::span<const std::uint8_t>(data, size), settings, out);
    const std::string csv = out.str();
    if (size == 0 || data[0] != kSample) {
        FUZZ_CHECK(!r.Ok && r.Failure == TExportFailure::Log && !r.Error.empty());
        FUZZ_CHECK(csv.empty());
        return 0;
    }
    FUZZ_CHECK(r.Ok && r.Failure == TExportFailure::None);
    const std::size_t record = kStampSize + kSample;
    FUZZ_CHECK(r.Records == (size - 1) / record);
    FUZZ_CHECK(r.DroppedBytes == (size - 1) % record);
    FUZZ_CHECK(r.FailedRows <= r.Records && r.BadStamps <= r.Records);
    FUZZ_CHECK(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')) == r.Records + 1);
    return 0;
}
