#include "config/cp1251.h"
#include "config/ini.h"

#include <gtest/gtest.h>

#include <string>

using namespace kovra;

namespace {

// Test texts are written in UTF-8 and handed over in CP1251, as the files are.
std::string W(std::u8string_view s)
{
    return Utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(s.data()), s.size()));
}

}  // namespace

TEST(Cp1251, RoundTripsEveryByteThroughUnicode)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(QStringToCp1251(Cp1251ToQString(all)), all);
    EXPECT_EQ(Cp1251ToQString(W(u8"Ёё Приборы")), QString::fromUtf8("Ёё Приборы"));
    EXPECT_EQ(QStringToCp1251(QString::fromUtf8("a€Ω漢")), "a\x88??");
}

TEST(Cp1251, FoldsCyrillicPairs)
{
    EXPECT_TRUE(EqualsNoCase1251(W(u8"НАСТРОЙКИ"), W(u8"настройки")));
    EXPECT_TRUE(EqualsNoCase1251(W(u8"ЁЖ"), W(u8"ёж")));
    EXPECT_TRUE(EqualsNoCase1251(W(u8"ЇІЄЎҐ"), W(u8"їієўґ")));
    EXPECT_FALSE(EqualsNoCase1251(W(u8"Е"), W(u8"Ё")));
    EXPECT_FALSE(EqualsNoCase1251(W(u8"Х"), "X"));  // Cyrillic Ha is not Latin X
}

TEST(Utf8, ValidityRejectsOverlongsAndSurrogates)
{
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xD0\x90"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xD0"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8(W(u8"Прибор")));        // CP1251 Cyrillic
}

TEST(IniRead, ProfileRules)
{
    const TIniFile ini(W(u8"top=1\r\n"
                         u8"; comment=1\r\n"
                         u8"  [ Настройки ]  trailing\r\n"
                         u8"  Ключ  =  значение с пробелами  \r\n"
                         u8"ключ=второй\r\n"
                         u8";скрыт=1\r\n"
                         u8"  ;тоже=1\r\n"
                         u8"пусто=\r\n"
                         u8"двойные=\"  в кавычках  \"\r\n"
                         u8"одинарные='x'\r\n"
                         u8"разные=\"x'\r\n"
                         u8"одна=\"\r\n"
                         u8"равно=a=b\r\n"
                         u8"голый\r\n"
                         u8"голый=5\r\n"
                         u8"[настройки]\r\n"
                         u8"новый=1\r\n"
                         u8"[другая\r\n"
                         u8"ещё=2\r\n"));
    const std::string s = W(u8"настройки");
    EXPECT_EQ(ini.Read(s, W(u8"КЛЮЧ")), W(u8"значение с пробелами"));  // first key wins
    EXPECT_EQ(ini.Read(W(u8" НАСТРОЙКИ "), W(u8" ключ ")), W(u8"значение с пробелами"));
    EXPECT_EQ(ini.Read(s, W(u8"скрыт")), std::nullopt);
    EXPECT_EQ(ini.Read(s, W(u8"тоже")), std::nullopt);
    EXPECT_EQ(ini.Read(s, W(u8"пусто")), std::string());
    EXPECT_EQ(ini.Read(s, W(u8"двойные")), W(u8"  в кавычках  "));
    EXPECT_EQ(ini.Read(s, W(u8"одинарные")), "x");
    EXPECT_EQ(ini.Read(s, W(u8"разные")), "\"x'");
    EXPECT_EQ(ini.Read(s, W(u8"одна")), "\"");
    EXPECT_EQ(ini.Read(s, W(u8"равно")), "a=b");
    EXPECT_EQ(ini.Read(s, W(u8"голый")), std::nullopt);  // a bare name hides the later key
    EXPECT_EQ(ini.Read(s, W(u8"новый")), std::nullopt);  // second section of the name is not read
    EXPECT_EQ(ini.Read(s, W(u8"ещё")), std::nullopt);     // "[другая" is no header: still section 2
    EXPECT_EQ(ini.Read("", "top"), std::nullopt);
}

TEST(IniRead, LineBreaksOfEveryKind)
{
    for (const char* eol : {"\r\n", "\n", "\r"}) {
        const std::string text = std::string("[a]") + eol + "x=1" + eol + "y=2";
        const TIniFile ini(text);
        EXPECT_EQ(ini.Read("A", "x"), "1") << eol;
        EXPECT_EQ(ini.Read("a", "Y"), "2") << eol;
    }
}

TEST(IniRead, ValueIsCutAt2047Characters)
{
    const std::string longValue(3000, 'v');
    const TIniFile ini("[a]\nk=" + longValue + "\nq=\"" + longValue + "\"\n");
    EXPECT_EQ(ini.Read("a", "k")->size(), 2047u);
    EXPECT_EQ(*ini.Read("a", "q"), std::string(2047, 'v'));
}

TEST(IniRead, Utf8FilesReadAsTheirCp1251Twin)
{
    const std::string cp = W(u8"[Прибор_0]\r\nНазвание=Обороты ДВС\r\nВид=1\r\n");
    const std::string utf8 = Cp1251ToUtf8(cp);
    const std::string bom = "\xEF\xBB\xBF" + utf8;
    for (const std::string& bytes : {cp, utf8, bom}) {
        const TIniFile ini(bytes);
        EXPECT_EQ(ini.Read(W(u8"прибор_0"), W(u8"название")), W(u8"Обороты ДВС"));
        EXPECT_EQ(ini.Read(W(u8"ПРИБОР_0"), W(u8"ВИД")), "1");
    }
    EXPECT_FALSE(TIniFile(cp).IsUtf8());
    EXPECT_TRUE(TIniFile(utf8).IsUtf8());
    EXPECT_TRUE(TIniFile("\xEF\xBB\xBF[a]\nk=1\n").IsUtf8());
    EXPECT_EQ(TIniFile("\xEF\xBB\xBF[a]\nk=1\n").Read("a", "k"), "1");
    EXPECT_FALSE(TIniFile("[a]\nk=1\n").IsUtf8());
}

TEST(IniInteger, ReadIntegerRules)
{
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"0", 0},
        {"300", 300},
        {"-1", -1},
        {"+7", 7},
        {"  12", 12},  // leading blanks are skipped
        {"12 ", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"yes", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"$1F", 31},
        {"$1f", 31},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0x", std::nullopt},
        {"0x-5", std::nullopt},
        {"$", std::nullopt},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"0xFF00000F", static_cast<std::int32_t>(0xFF00000Fu)},
        {"$100000000", std::nullopt},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1.5", std::nullopt},
        {"x1F", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseIniInteger(c.text), c.value) << c.text;
}

TEST(IniWrite, ReplacesInPlaceAndKeepsEveryOtherByte)
{
    const std::string before = W(u8"; totals\r\n[Сохр_Формулы]\r\n  Пробег =  12,50 ; not a comment\r\n"
                                 u8"Расход=1,00\r\n\r\n[другое]\r\nx = 1\r\n");
    TIniFile ini(before);
    ini.Write(W(u8"сохр_формулы"), W(u8"Расход"), "3,25");
    EXPECT_EQ(ini.Bytes(), W(u8"; totals\r\n[Сохр_Формулы]\r\n  Пробег =  12,50 ; not a comment\r\n"
                            u8"Расход=3,25\r\n\r\n[другое]\r\nx = 1\r\n"));
    ini.Write(W(u8"Сохр_Формулы"), W(u8"пробег"), "0,00");
    EXPECT_EQ(*ini.Read(W(u8"Сохр_Формулы"), W(u8"Пробег")), "0,00");
    EXPECT_NE(ini.Bytes().find(W(u8"  Пробег =  0,00\r\n")), std::string::npos);
}

TEST(IniWrite, AddsKeysAfterTheLastKeyAndSectionsAtTheEnd)
{
    TIniFile ini("[a]\nx=1\n\n; about b\n[b]\ny=2");
    ini.Write("A", "z", "3");
    ini.Write("b", "w", "4");  // the last line has no break
    ini.Write("c", "v", "5");
    EXPECT_EQ(ini.Bytes(), "[a]\nx=1\nz=3\n\n; about b\n[b]\ny=2\nw=4\n[c]\nv=5\n");
    TIniFile empty;
    empty.Write("s", "k", "v");
    EXPECT_EQ(empty.Bytes(), "[s]\r\nk=v\r\n");
    TIniFile header("[s]\n");
    header.Write("s", "k", "v");
    EXPECT_EQ(header.Bytes(), "[s]\nk=v\n");
    TIniFile bare("[s]\nk \nk=2\n");
    bare.Write("s", "k", "1");
    EXPECT_EQ(bare.Bytes(), "[s]\nk=1 \nk=2\n");
    EXPECT_EQ(bare.Read("s", "k"), "1");
}

TEST(IniWrite, KeepsTheFilesEncoding)
{
    const std::string utf8 = Cp1251ToUtf8(W(u8"[Сохр_Формулы]\nСумма=1,00\n"));
    TIniFile ini(utf8);
    ini.Write(W(u8"Сохр_Формулы"), W(u8"Пробег"), "2,00");
    EXPECT_EQ(ini.Bytes(), Cp1251ToUtf8(W(u8"[Сохр_Формулы]\nСумма=1,00\nПробег=2,00\n")));
    EXPECT_TRUE(IsValidUtf8(ini.Bytes()));
}
