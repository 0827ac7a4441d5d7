#include "config/format.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "support/settings_text.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

using namespace kovra;
using kovra::test::W;

namespace {

TSettings Load(std::u8string_view utf8Text)
{
    return LoadSettingsFromBytes(W(utf8Text));
}

bool Reported(const TSettings& s, std::u8string_view key)
{
    const std::string k = W(key);
    return std::any_of(s.Problems.begin(), s.Problems.end(), [&](const TSettingsProblem& p) { return p.Key == k; });
}

}  // namespace

TEST(Settings, MissingFileGivesTheDefaultModel)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TSettings s = LoadSettings(dir.path().toStdString());
    EXPECT_FALSE(s.FileFound);
    EXPECT_TRUE(s.Problems.empty());
    const TAllData& d = s.Data;
    ASSERT_EQ(d.Areas.size(), 1u);
    EXPECT_EQ(d.Areas[0].Address, 0);
    EXPECT_EQ(d.Areas[0].Length, 1);
    EXPECT_EQ(d.SampleLength, 1u);
    ASSERT_EQ(d.Procs.size(), 1u);
    EXPECT_EQ(d.Procs[0].Name, W(u8"Формула0"));
    EXPECT_EQ(s.FormulaTexts, std::vector<std::string>{"0"});
    ASSERT_EQ(d.Procs[0].Vars.size(), 1u);
    EXPECT_EQ(d.Procs[0].Vars[0].Name, W(u8"Переменная0"));
    EXPECT_EQ(d.Procs[0].Vars[0].Kind, 0);
    EXPECT_EQ(d.Procs[0].Vars[0].SampleIndex, 0);
    ASSERT_EQ(s.Loggers.size(), 1u);
    EXPECT_EQ(s.Loggers[0].LabelText, W(u8"датчик0"));
    EXPECT_EQ(s.Loggers[0].TraceColor, 0xFF0000u);
    ASSERT_EQ(d.Gauges.size(), 1u);
    EXPECT_EQ(d.Gauges[0].Name, "NoName");
    EXPECT_FALSE(d.Gauges[0].Inert);
    EXPECT_FALSE(d.ClockVisible);
    EXPECT_EQ(s.Options.PortName, "com1");
    EXPECT_EQ(s.Options.PanelColor, kButtonFace);
    EXPECT_FALSE(d.MomentInert);
    // An empty file is read the same way.
    EXPECT_EQ(kovra::test::Describe(LoadSettingsFromBytes("")), kovra::test::Describe(s));
}

TEST(Settings, FormulaVariablesAndTexts)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_формул=4\n"
                             u8"[формула_0]\nкол-во_перем=0\nформула=\n"
                             u8"[формула_1]\nкол-во_перем=\nназвание=Обороты\nсуммировать=1\n"
                             u8"[ФОРМУЛА_2]\nкол-во_перем=2\nпеременная_0=\nпеременная_1=b\nформула=a+b\n");
    const TAllData& d = s.Data;
    ASSERT_EQ(d.Procs.size(), 4u);
    EXPECT_TRUE(d.Procs[0].Vars.empty());
    EXPECT_TRUE(VariableNames(d.Procs[0]).empty());
    EXPECT_EQ(s.FormulaTexts[0], "");  // present but empty: no default
    EXPECT_EQ(d.Procs[1].VarCount, 1); // empty count: default
    EXPECT_EQ(d.Procs[1].Name, W(u8"Обороты"));
    EXPECT_TRUE(d.Procs[1].Accumulate);
    EXPECT_EQ(s.FormulaTexts[1], "0");
    EXPECT_EQ(VariableNames(d.Procs[2]), (std::vector<std::string>{"", "b"}));
    EXPECT_EQ(s.FormulaTexts[2], "a+b");
    EXPECT_EQ(d.Procs[3].Name, W(u8"Формула3"));
    EXPECT_EQ(d.Procs[3].Vars[0].Name, W(u8"Переменная0"));
}

TEST(Settings, NumberedKeysHaveNoPadding)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=2\n"
                             u8"[области]\nсмещение_01=5\nразмер_01=9\nсмещение_1=7\n");
    ASSERT_EQ(s.Data.Areas.size(), 2u);
    EXPECT_EQ(s.Data.Areas[1].Address, 7);
    EXPECT_EQ(s.Data.Areas[1].Length, 1);
}

TEST(Settings, IntegersKeepTheLowBitsOfTheirField)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=257\nкол-во_формул=3\nкол-во_логов=2\nкол-во_приборов=2\n"
                             u8"[области]\nсмещение_0=300\nразмер_0=-1\n"
                             u8"[логер_0]\nформула=7\n"
                             u8"[логер_1]\nформула=2\n"
                             u8"[Прибор_0]\nФормула=65536\nНачУгол=40000\nКонУгол=-45\nРазмер=-1\n"
                             u8"[Прибор_1]\nФормула=65538\n");
    const TAllData& d = s.Data;
    ASSERT_EQ(d.Areas.size(), 1u);
    EXPECT_EQ(d.Areas[0].Address, 44);
    EXPECT_EQ(d.Areas[0].Length, 255);
    EXPECT_EQ(d.SampleLength, 255u);
    EXPECT_EQ(s.Loggers[0].FormulaIndex, 0);  // past the last formula
    EXPECT_EQ(s.Loggers[1].FormulaIndex, 2);
    EXPECT_EQ(d.Gauges[0].FormulaIndex, 0);
    EXPECT_EQ(d.Gauges[0].StartAngle, -25536);
    EXPECT_EQ(d.Gauges[0].EndAngle, -45);
    EXPECT_EQ(d.Gauges[0].Size, 65535);
    EXPECT_EQ(d.Gauges[1].FormulaIndex, 2);  // 65538 keeps 2, which exists
    EXPECT_TRUE(Reported(s, u8"смещение_0"));
    EXPECT_TRUE(Reported(s, u8"формула"));  // the chart's 7
}

TEST(Settings, IntegerSpellings)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=4\n"
                             u8"[области]\nсмещение_0=0x1F\nсмещение_1=$1F\nсмещение_2=0x\nсмещение_3=12abc\n");
    const auto& a = s.Data.Areas;
    EXPECT_EQ(a[0].Address, 31);
    EXPECT_EQ(a[1].Address, 31);
    EXPECT_EQ(a[2].Address, 0);
    EXPECT_EQ(a[3].Address, 0);
    EXPECT_EQ(std::count_if(s.Problems.begin(), s.Problems.end(),
                            [](const TSettingsProblem& p) { return p.Problem == "not an integer"; }),
              2);
}

TEST(Settings, FlagsAreNonZeroIntegers)
{
    EXPECT_TRUE(Load(u8"[настройки]\nна_весь_экран=2\n").Options.FullScreen);
    EXPECT_TRUE(Load(u8"[настройки]\nна_весь_экран=-1\n").Options.FullScreen);
    EXPECT_FALSE(Load(u8"[настройки]\nна_весь_экран=yes\n").Options.FullScreen);
    EXPECT_FALSE(Load(u8"[настройки]\nпреамбула=0\n").Options.Preamble);
    EXPECT_TRUE(Load(u8"[настройки]\nпреамбула=on\n").Options.Preamble);
}

TEST(Settings, RealsUseTheLocaleSeparator)
{
    const std::u8string_view text = u8"[Прибор_0]\nТревогаУровень=12.5\n";
    SetDecimalSeparatorForTesting(',');
    const TSettings comma = Load(text);
    EXPECT_EQ(comma.Data.Gauges[0].AlarmLevel, 10.0);
    EXPECT_TRUE(Reported(comma, u8"ТревогаУровень"));
    EXPECT_EQ(Load(u8"[Прибор_0]\nТревогаУровень=12,5\n").Data.Gauges[0].AlarmLevel, 12.5);
    SetDecimalSeparatorForTesting('.');
    EXPECT_EQ(Load(text).Data.Gauges[0].AlarmLevel, 12.5);
    SetDecimalSeparatorForTesting(0);
}

TEST(Settings, SampleOffsetsFollowTheAreas)
{
    const TSettings a = Load(u8"[настройки]\nкол-во_областей=3\n[области]\nразмер_0=16\nразмер_1=16\nразмер_2=8\n");
    EXPECT_EQ(a.Data.Areas[1].SampleOffset, 16);
    EXPECT_EQ(a.Data.Areas[2].SampleOffset, 32);
    EXPECT_EQ(a.Data.SampleLength, 40u);
    const TSettings b = Load(u8"[настройки]\nкол-во_областей=2\nпреамбула=0\n[области]\nразмер_0=200\nразмер_1=50\n");
    EXPECT_EQ(b.Data.Areas[0].SampleOffset, 0);
    EXPECT_EQ(b.Data.Areas[1].SampleOffset, 200);
    EXPECT_EQ(b.Data.SampleLength, 250u);
    // The link receives any area of up to 255 bytes in one reply.
    EXPECT_TRUE(b.Problems.empty());
}

TEST(Settings, VariableBytesAndBits)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=2\nкол-во_формул=2\n"
                             u8"[области]\nразмер_0=4\nразмер_1=4\n"
                             u8"[формула_0]\nкол-во_перем=4\n"
                             u8"область_пер_0=1\nотступ_пер_0=3\nбит_0=1\nномер_бита_0=8\n"
                             u8"область_пер_1=0\nотступ_пер_1=5\n"
                             u8"вид_2=1\nномер_формулы_2=1\n"
                             u8"вид_3=2\nобласть_пер_3=9\n");
    const auto& v = s.Data.Procs[0].Vars;
    EXPECT_EQ(v[0].SampleIndex, 7);
    EXPECT_TRUE(v[0].IsBit);
    EXPECT_EQ(v[0].BitNumber, 8);
    EXPECT_EQ(v[1].Kind, 0);
    EXPECT_EQ(v[1].SampleIndex, 5);  // past its own area, inside the sample
    EXPECT_EQ(v[2].Kind, 1);
    EXPECT_EQ(v[3].Kind, 2);  // its area does not matter
    EXPECT_TRUE(s.Problems.empty());
}

TEST(Settings, ItemsOutsideTheModelAreInertAndReported)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=3\nкол-во_формул=1\nкол-во_логов=2\nкол-во_приборов=7\n"
                             u8"Момент_Формула=4\nМомент_Х=1\nМомент_У_макс=0\n"
                             u8"[области]\nразмер_0=50\nразмер_1=76\nразмер_2=200\n"
                             u8"[формула_0]\nкол-во_перем=6\n"
                             u8"область_пер_0=2\n"               // area dropped
                             u8"область_пер_1=1\nотступ_пер_1=76\n"  // byte 126 of a 126-byte sample
                             u8"вид_2=1\nномер_формулы_2=1\n"
                             u8"бит_3=1\nномер_бита_3=9\n"
                             u8"вид_4=7\n"
                             u8"область_пер_5=1\nотступ_пер_5=75\n"
                             u8"[логер_1]\nмакс_знач=0\nмин_знач=0\n"
                             u8"[Прибор_0]\nМаксимум=5\nМинимум=5\n"
                             u8"[Прибор_1]\nВид=1\nГрадацияШк=0\n"
                             u8"[Прибор_2]\nВид=2\nМаксимум=0\n"
                             u8"[Прибор_3]\nВид=2\nГрадацияШк=0\n"
                             u8"[Прибор_4]\nВид=9\nМаксимум=0\n"
                             u8"[Прибор_5]\nВид=3\n");
    const TAllData& d = s.Data;
    EXPECT_EQ(d.AreaCount, 2);
    ASSERT_EQ(d.Areas.size(), 2u);
    EXPECT_EQ(d.SampleLength, 126u);
    const auto& v = d.Procs[0].Vars;
    EXPECT_EQ(v[0].Kind, kInertKind);
    EXPECT_EQ(v[1].Kind, kInertKind);
    EXPECT_EQ(v[2].Kind, kInertKind);
    EXPECT_EQ(v[3].Kind, 0);  // reads 0, harmless
    EXPECT_EQ(v[4].Kind, 7);  // never assigned
    EXPECT_EQ(v[5].Kind, 0);
    EXPECT_EQ(v[5].SampleIndex, 125);
    EXPECT_FALSE(s.Loggers[0].Inert);
    EXPECT_TRUE(s.Loggers[1].Inert);
    EXPECT_TRUE(d.Gauges[0].Inert);
    EXPECT_TRUE(d.Gauges[1].Inert);
    EXPECT_TRUE(d.Gauges[2].Inert);
    EXPECT_FALSE(d.Gauges[3].Inert);  // a readout has no divisions to divide by
    EXPECT_TRUE(d.Gauges[4].Inert);
    EXPECT_FALSE(d.Gauges[5].Inert);
    EXPECT_FALSE(d.Gauges[6].Inert);
    EXPECT_TRUE(d.MomentInert);
    // Every item above but the readout, the kind-9 gauge and the plain ones.
    for (auto key : {u8"размер_2", u8"область_пер_0", u8"отступ_пер_1", u8"номер_формулы_2", u8"номер_бита_3",
                     u8"вид_4", u8"макс_знач", u8"Максимум", u8"ГрадацияШк", u8"Момент_Формула", u8"Момент_У_макс"})
        EXPECT_TRUE(Reported(s, key)) << Cp1251ToUtf8(W(key));
    EXPECT_EQ(s.Problems.size(), 13u);
}

TEST(Settings, ZeroCountsGiveEmptyArrays)
{
    const TSettings s = Load(u8"[настройки]\nкол-во_областей=0\nкол-во_формул=256\nкол-во_логов=0\nкол-во_приборов=0\n"
                             u8"Момент_Х=0\n");
    const TAllData& d = s.Data;
    EXPECT_TRUE(d.Areas.empty());
    EXPECT_EQ(d.SampleLength, 0u);
    EXPECT_TRUE(d.Procs.empty());
    EXPECT_TRUE(s.FormulaTexts.empty());
    EXPECT_TRUE(s.Loggers.empty());
    EXPECT_TRUE(d.Gauges.empty());
    EXPECT_EQ(TRunState(d).ValueOf(0), 0.0);
    EXPECT_FALSE(d.HasFormula(0));
    EXPECT_TRUE(d.MomentInert);
    EXPECT_TRUE(Reported(s, u8"кол-во_областей"));
    EXPECT_TRUE(Reported(s, u8"кол-во_формул"));
}

TEST(Settings, MomentScaleComesFromItsChart)
{
    const TSettings ok = Load(u8"[настройки]\nкол-во_логов=2\nМомент_Х=1\n[логер_1]\nмакс_знач=8000\n");
    EXPECT_FALSE(ok.Data.MomentInert);
    const TSettings zero = Load(u8"[настройки]\nкол-во_логов=2\nМомент_Х=1\n[логер_1]\nмакс_знач=0\nмин_знач=-5\n");
    EXPECT_TRUE(zero.Data.MomentInert);
    EXPECT_FALSE(zero.Loggers[1].Inert);
}

TEST(Settings, Utf8CopyReadsToTheSameModel)
{
    const std::string cp = W(u8"[НАСТРОЙКИ]\nкол-во_формул=2\nпорт=com3\nкол-во_приборов=1\n"
                             u8"[формула_0]\nназвание=Скорость\nкол-во_перем=1\nпеременная_0=скор\nформула=скор*1,5\n"
                             u8"[формула_1]\nназвание=Пробег\nсуммировать=1\n"
                             u8"[логер_0]\nназвание=Обороты «ДВС»\nформула=1\n"
                             u8"[Прибор_0]\nНазвание=Ёмкость бака\nХ=100\nУ=120\n[Часы]\nОтображать=1\nЦвет=$00FF00\n");
    const TSettings a = LoadSettingsFromBytes(cp);
    const TSettings b = LoadSettingsFromBytes(Cp1251ToUtf8(cp));
    const TSettings c = LoadSettingsFromBytes("\xEF\xBB\xBF" + Cp1251ToUtf8(cp));
    EXPECT_EQ(a.Data.Gauges[0].Name, W(u8"Ёмкость бака"));
    EXPECT_EQ(a.Data.Gauges[0].X, 100);
    EXPECT_EQ(a.Data.ClockColor, 0x00FF00u);
    EXPECT_EQ(kovra::test::Describe(a), kovra::test::Describe(b));
    EXPECT_EQ(kovra::test::Describe(a), kovra::test::Describe(c));
}

TEST(Settings, UnreadableFileTakesTheDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("set.ini"));  // a folder where the file should be
    const TSettings s = LoadSettings(dir.path().toStdString());
    EXPECT_FALSE(s.FileFound);
    ASSERT_EQ(s.Problems.size(), 1u);
    EXPECT_EQ(s.Data.Procs.size(), 1u);
}
