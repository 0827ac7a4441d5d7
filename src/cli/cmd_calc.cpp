// kovra calc [--names x,y] [--values 1,2.5] [--interp] FORMULA: compiles the
// formula as the logger does and shows, one item a line, whether it was
// accepted, its postfix list, its code and its value.
#include "commands.h"

#include "config/cp1251.h"
#include "formcomp/extended.h"
#include "formcomp/formula.h"
#include "formcomp/interpreter.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kovra::cli {

namespace {

struct CalcOptions {
    std::string Formula;
    std::string Names;
    std::string Values;
    bool NamesGiven = false;
    bool Interp = false;
};

// The terminal speaks UTF-8; a Windows command line arrives in the ANSI code
// page already. Bytes that are not UTF-8 are taken as CP1251 as they stand.
std::string ToCp1251(const std::string& arg)
{
    return IsValidUtf8(arg) ? Utf8ToCp1251(arg) : arg;
}

std::vector<std::string> SplitCommas(const std::string& s)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = s.find(',', start);
        parts.push_back(s.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number with a point (optional sign and exponent), inf or nan, or
// 0x followed by the 20 hex digits of the raw 80-bit value.
bool ParseValue(std::string_view text, TExtended& out)
{
    if (text.size() == 22 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint16_t high = 0;
        std::uint64_t low = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0)
                return false;
            if (i < 6)
                high = static_cast<std::uint16_t>((high << 4) | d);
            else
                low = (low << 4) | static_cast<unsigned>(d);
        }
        out = {low, high};
        return true;
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text == "inf")
        out = {0x8000000000000000ull, 0x7FFF};
    else if (text == "nan")
        out = {0xC000000000000000ull, 0x7FFF};
    else if (DecimalToExtended(text, out) != DecimalStatus::Ok)
        return false;
    if (negative)
        out.SignExp |= 0x8000;
    return true;
}

std::string HexBytes(const std::vector<std::uint8_t>& code, bool hideAddress)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < code.size(); ++i) {
        // The slot address changes from run to run.
        const bool address = hideAddress && i >= 2 && i < 10;
        std::snprintf(buf, sizeof buf, "%02X", address ? 0 : code[i]);
        if (i)
            s += ' ';
        s += buf;
    }
    return s;
}

int RunCalc(const CalcOptions& o)
{
    std::vector<std::string> names;
    if (o.NamesGiven)
        for (const std::string& n : SplitCommas(o.Names))
            names.push_back(ToCp1251(n));
    std::vector<TExtended> values;
    if (!o.Values.empty()) {
        for (const std::string& v : SplitCommas(o.Values)) {
            TExtended x;
            if (!ParseValue(v, x))
                throw CLI::ValidationError("--values", "'" + v + "' is not a number (point as the decimal separator)");
            values.push_back(x);
        }
    }
    if (values.size() > names.size())
        throw CLI::ValidationError("--values", "more values than names");

    TFormula f;
    const bool accepted = CompileFormula(f, ToCp1251(o.Formula), names);
    for (std::size_t i = 0; i < values.size(); ++i)
        WriteExtended(f.SlotBase() + kExtendedSize * i, values[i]);

    std::string postfix;
    for (const std::string& t : f.Postfix)
        postfix += (postfix.empty() ? "" : " ") + Cp1251ToUtf8(t);
    std::printf("%s\n", accepted ? "accepted" : ("refused: " + Cp1251ToUtf8(f.RefuseReason)).c_str());
    std::printf("postfix: %s\n", postfix.c_str());
    std::printf("code: %s\n", HexBytes(f.Code.bytes(), accepted).c_str());

    const TEvalResult r = o.Interp ? Interpret(f) : Evaluate(f);
    if (r.Error != FpError::None) {
        std::printf("error: %s\n", FpErrorMessage(r.Error));
        std::fflush(stdout);
        return 2;
    }
    const TExtended bits = LongDoubleToExtended(r.Value);
    char decimal[64];
    std::snprintf(decimal, sizeof decimal, "%.21Lg", r.Value);
    for (char* p = decimal; *p; ++p)  // whatever the C locale says
        if (*p == ',')
            *p = '.';
    std::printf("value: %s\n", decimal);
    std::printf("bits: %04X%016llX\n", bits.SignExp, static_cast<unsigned long long>(bits.Mantissa));
    std::fflush(stdout);
    return accepted ? 0 : 1;
}

}  // namespace

void AddCalcCommand(CLI::App& app)
{
    auto o = std::make_shared<CalcOptions>();
    auto* cmd = app.add_subcommand(
        "calc", "Compile a formula as the logger does; show acceptance, postfix list, code and value.\n"
                "Exit status: 0 a value, 1 refused, 2 evaluation error.");
    cmd->add_option("--names", o->Names, "variable names in variable order, comma separated (empty names count)");
    cmd->add_option("--values", o->Values,
                    "values of the first variables, comma separated, point as the decimal separator; "
                    "inf, nan, or 0x and 20 hex digits for a raw 80-bit value");
    cmd->add_flag("--interp", o->Interp, "evaluate with the interpreter instead of the generated code");
    cmd->add_option("FORMULA", o->Formula, "the formula, as written in the settings")->required();
    cmd->callback([o, cmd] {
        CalcOptions opts = *o;
        opts.NamesGiven = cmd->count("--names") > 0;
        const int rc = RunCalc(opts);
        if (rc != 0)
            ExitWith(rc);
    });
}

}  // namespace kovra::cli
