#include "record/log_export.h"

#include "record_test_util.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kovra {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::vector<std::string>> Rows(const std::string& csv)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
            cells.push_back(line.substr(start, comma - start));
        cells.push_back(line.substr(start));
        rows.push_back(cells);
    }
    return rows;
}

const char* const kIni = R"([настройки]
кол-во_областей=1
кол-во_формул=5
[области]
смещение_0=16
размер_0=3
[формула_0]
название=rpm
формула=hi*256+lo
кол-во_перем=2
переменная_0=hi
переменная_1=lo
отступ_пер_1=1
[формула_1]
название=dt
формула=dt
переменная_0=dt
вид_0=2
[формула_2]
название=n
формула=1
кол-во_перем=0
суммировать=1
[формула_3]
название=inv
формула=10/a
переменная_0=a
отступ_пер_0=2
[формула_4]
название=Об/мин
формула=a
переменная_0=a
отступ_пер_0=2
)";

TEST(Export, EveryRecordRunsThroughTheFormulasFromZero)
{
    TSettings s = test::CompiledSettings(kIni);
    s.Data.Procs[2].Value = 1000;  // a restored sum does not count here
    const Bytes log{3,
                    10, 0, 0, 0,   0x03, 0x52, 5,
                    10, 0, 0, 100, 0x1B, 0x58, 0,
                    10, 0, 1, 0,   0x00, 0x01, 4,
                    10, 0, 1};  // cut short
    std::ostringstream out;
    const TExportReport rep = ExportLogCsv(log, s, out);
    ASSERT_TRUE(rep.Ok) << rep.Error;
    EXPECT_EQ(rep.Records, 3u);
    EXPECT_EQ(rep.DroppedBytes, 3u);
    EXPECT_EQ(rep.FailedRows, 1u);

    const auto rows = Rows(out.str());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "rpm", "dt", "n", "inv", "Об/мин"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"10:00:00.000", "850", "0", "1", "2", "5"}));
    EXPECT_EQ(rows[2][0], "10:00:00.500");
    EXPECT_EQ(rows[2][1], "7000");
    EXPECT_NEAR(std::stod(rows[2][2]), 0.5, 0.003);
    EXPECT_EQ(rows[2][3], "2");
    EXPECT_EQ(rows[2][4], "Floating point division by zero");
    EXPECT_EQ(rows[2][5], "");
    EXPECT_EQ(rows[3][0], "10:00:01.000");
    EXPECT_EQ(rows[3][1], "1");
    // The failed row did not move the previous cycle's time on.
    EXPECT_NEAR(std::stod(rows[3][2]), 1.0, 0.003);
    EXPECT_EQ((std::vector<std::string>(rows[3].begin() + 3, rows[3].end())),
              (std::vector<std::string>{"3", "2.5", "4"}));
}

TEST(Export, ALogOfAnotherSampleLengthOrWithoutItsFirstByteIsRefused)
{
    TSettings s = test::CompiledSettings(kIni);
    const Bytes cases[] = {{}, {4, 1, 2, 3, 4, 5, 6, 7, 8}, {255, 1}};
    for (const Bytes& log : cases) {
        std::ostringstream out;
        const TExportReport rep = ExportLogCsv(log, s, out);
        EXPECT_FALSE(rep.Ok);
        EXPECT_FALSE(rep.Error.empty());
        EXPECT_EQ(out.str(), "");
    }
}

TEST(Export, StampsAreWrittenAsTimesOfDayAndOddNamesAreQuoted)
{
    TSettings s = test::CompiledSettings(
        "[настройки]\nкол-во_формул=1\n[формула_0]\nназвание=a, \"b\"\nформула=1\nкол-во_перем=0\n");
    const Bytes log{1, 23, 59, 59, 200, 0, 0, 0, 0, 7, 0,  12, 59, 59, 3, 0, 30, 0, 0, 0, 0};
    std::ostringstream out;
    const TExportReport rep = ExportLogCsv(log, s, out);
    ASSERT_TRUE(rep.Ok);
    EXPECT_EQ(rep.BadStamps, 1u);
    EXPECT_EQ(out.str(), "time,\"a, \"\"b\"\"\"\n00:00:00.000,1\n00:00:00.035,1\n12:59:59.015,1\n30:00:00.000,1\n");
}

}  // namespace
}  // namespace kovra
