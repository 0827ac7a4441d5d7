// Names of accumulating formulas that the sums file cannot give back: the
// check must name exactly those whose total is lost between two runs.
#include "config/format.h"
#include "config/ini.h"
#include "config/settings.h"
#include "config/settings_keys.h"
#include "config/sums.h"
#include "support/settings_text.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kovra;
using kovra::test::W;

namespace {

std::string Settings(const std::vector<std::string>& names)
{
    const auto& k = SettingsKeys();
    std::string s = "[" + k.General + "]\n" + k.FormulaCount + "=" + std::to_string(names.size()) + "\n";
    for (std::size_t n = 0; n < names.size(); ++n)
        s += "[" + NumberedName(k.FormulaSection, n) + "]\n" + k.FormulaName + "=" + names[n] + "\n" + k.Accumulate +
             "=1\n" + k.FormulaText + "=1\n";
    return s;
}

// Whether the total of the formula of this name survives a close and a start.
bool SurvivesRestart(const std::string& name)
{
    QTemporaryDir dir;
    EXPECT_TRUE(dir.isValid());
    const std::filesystem::path folder(dir.path().toStdString());
    TAllData data;
    data.Procs.assign(1, TProc{});
    data.Procs[0].Name = name;
    data.Procs[0].Accumulate = true;
    TRunState saved(data);
    saved.Values[0] = 12.5;
    EXPECT_EQ(SaveSums(folder, data, saved), std::nullopt);
    TRunState restored(data);
    return !RestoreSums(folder, data, restored) && restored.Values[0] == 12.5;
}

class SumsNames : public ::testing::Test {
protected:
    void SetUp() override { SetDecimalSeparatorForTesting(','); }
    void TearDown() override { SetDecimalSeparatorForTesting(0); }
};

}  // namespace

TEST_F(SumsNames, TheCheckNamesExactlyTheTotalsLostOnRestart)
{
    // Written with the value in quotes ("[1] fuel" etc.), every one of these
    // reaches the loader whole; only the sums file takes some apart.
    const std::vector<std::string> names = {
        "fuel", "[1] fuel", "; fuel", "fuel=total", "  ;x", "[fuel", "fuel]", "[a]", "a ; b", "x=",
        W(u8"Расход"), W(u8"[Л] расход"), "'q'", "\"", "", "=",
    };
    std::vector<std::string> quoted;
    for (const std::string& n : names)
        quoted.push_back("\"" + n + "\"");
    const TSettings s = LoadSettingsFromBytes(Settings(quoted));
    ASSERT_EQ(s.Data.Procs.size(), names.size());
    const std::string& nameKey = SettingsKeys().FormulaName;
    for (std::size_t n = 0; n < names.size(); ++n) {
        ASSERT_EQ(s.Data.Procs[n].Name, names[n]);
        const std::string section = NumberedName(SettingsKeys().FormulaSection, n);
        const bool reported = std::any_of(s.Problems.begin(), s.Problems.end(), [&](const TSettingsProblem& p) {
            return p.Section == section && p.Key == nameKey;
        });
        EXPECT_EQ(reported, !SurvivesRestart(names[n])) << "'" << names[n] << "'";
    }
}

TEST_F(SumsNames, EachReasonSaysWhatTheFileMakesOfTheName)
{
    const TSettings s = LoadSettingsFromBytes(Settings({"\"[1] fuel\"", "\"; fuel\"", "fuel=total", "ok"}));
    ASSERT_EQ(s.Problems.size(), 3u);
    EXPECT_NE(s.Problems[0].Problem.find("opens a section"), std::string::npos) << s.Problems[0].Problem;
    EXPECT_NE(s.Problems[1].Problem.find("comment"), std::string::npos) << s.Problems[1].Problem;
    EXPECT_NE(s.Problems[2].Problem.find("'='"), std::string::npos) << s.Problems[2].Problem;
    EXPECT_EQ(s.Problems[2].Value, "fuel=total");
    for (const TSettingsProblem& p : s.Problems)
        EXPECT_NE(p.Action.find("starts from 0"), std::string::npos);

    // A formula that does not accumulate keeps no total: any name will do.
    const TSettings plain = LoadSettingsFromBytes(W(u8"[формула_0]\nназвание=\"[1] fuel\"\n"));
    EXPECT_TRUE(plain.Problems.empty());
}
