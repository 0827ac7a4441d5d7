// CP1251, the encoding of every text in the settings, sums and language files
// and of every text in the model. Qt and the terminal speak Unicode; these are
// the only crossings.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kovra {

QString Cp1251ToQString(std::string_view text);
// Characters CP1251 cannot hold become '?', as the Windows conversion does.
std::string QStringToCp1251(const QString& text);

std::string Cp1251ToUtf8(std::string_view text);
// Invalid sequences and characters outside CP1251 become '?'.
std::string Utf8ToCp1251(std::string_view text);

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// The lower-case partner of a CP1251 byte (Latin, Cyrillic with Ё/ё, and the
// other Slavic letters of the code page); other bytes map to themselves.
unsigned char FoldCase1251(unsigned char c);
bool EqualsNoCase1251(std::string_view a, std::string_view b);

}  // namespace kovra
