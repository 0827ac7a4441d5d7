// Number texts as the user sees and writes them: the reals of the settings and
// sums files, the values and scale numerals of the displays. The rules are
// those of the Delphi runtime the files were first written with, so that files
// and screens read the same as they always have.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kovra {

// The decimal separator of the user's locale (QLocale::system()), or the one
// set for a test. Read once and cached.
char DecimalSeparator();
// Overrides DecimalSeparator() until reset; sep == 0 resets to the locale's.
void SetDecimalSeparatorForTesting(char sep);

// FloatToStrF(v, ffFixed, precision, digits): v rounded to `precision`
// significant digits or to `digits` decimals, whichever keeps fewer, written
// with exactly `digits` decimals. When more than `precision` digits would stand
// before the separator the general scientific form is used instead
// ("1.234568E7"). Rounding: halves away from zero on the 18-digit decimal form
// of v. Infinities and NaN give "INF", "-INF", "NAN".
// Examples (sep '.'): FormatFixed(1234.567, 7, 2) == "1234.57",
// FormatFixed(-0.004, 7, 2) == "0.00", FormatFixed(12345678, 7, 2) == "1.234568E7".
std::string FormatFixed(double v, int precision, int digits, char sep);
inline std::string FormatFixed(double v, int precision, int digits)
{
    return FormatFixed(v, precision, digits, DecimalSeparator());
}

// FloatToStr(v): the shortest text of v rounded to 15 significant digits,
// trailing zeros dropped, no separator for whole numbers. Scientific
// ("1E20", "5E-6") when more than 15 digits would stand before the separator
// or when the magnitude is below 0.00001 (0.00001 itself is "0.00001").
std::string FormatGeneral(double v, char sep);
inline std::string FormatGeneral(double v) { return FormatGeneral(v, DecimalSeparator()); }

// StrToFloat(text): blanks around the number allowed, optional sign, digits
// with at most one `sep`, optional exponent (E or e, optional sign, digits).
// No thousands separators, no "INF"/"NAN". A value beyond the range of a
// double is not a number (nullopt); one too small for it reads as 0.
std::optional<double> ParseReal(std::string_view text, char sep);
inline std::optional<double> ParseReal(std::string_view text)
{
    return ParseReal(text, DecimalSeparator());
}

}  // namespace kovra
