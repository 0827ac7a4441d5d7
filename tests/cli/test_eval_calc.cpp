// kovra calc: the lines it prints and its exit status.
#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#ifdef KOVRA_TOOL

struct ToolRun {
    int Status = -1;
    std::string Output;
};

ToolRun RunCalc(const QStringList& args)
{
    const kovra::test::TToolRun run = kovra::test::RunTool(QStringList{"calc"} + args);
    return {run.Code, run.Out.toStdString()};
}

TEST(CalcCommand, PrintsValueCodeAndPostfix)
{
    const ToolRun r = RunCalc({"--names", "x1,x2", "--values", "1,2.5", "(x1*256+x2)/4"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Output,
              "accepted\n"
              "postfix: x1 256 * x2 + 4 /\n"
              "code: 48 B9 00 00 00 00 00 00 00 00 DB 69 00 DB 69 14 DE C9 DB 69 0A DE C1 DB 69 1E DE F9 C3\n"
              "value: 64.625\n"
              "bits: 40058140000000000000\n");
}

TEST(CalcCommand, RefusedAndFailingFormulasHaveTheirOwnStatus)
{
    const ToolRun refused = RunCalc({"--names", "x", "x+"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Output.rfind("refused: grammar", 0), 0u) << refused.Output;
    EXPECT_NE(refused.Output.find("code: D9 EE C3\n"), std::string::npos);

    const ToolRun failing = RunCalc({"--names", "x", "--values", "0", "1/x"});
    EXPECT_EQ(failing.Status, 2);
    EXPECT_NE(failing.Output.find("error: Floating point division by zero\n"), std::string::npos) << failing.Output;

    const ToolRun interpreted = RunCalc({"--interp", "--names", "x", "--values", "-1", "ln(x)"});
    EXPECT_EQ(interpreted.Status, 2);
    EXPECT_NE(interpreted.Output.find("error: Invalid floating point operation\n"), std::string::npos);
}

#ifndef _WIN32
TEST(CalcCommand, TakesUtf8NamesAsCp1251)
{
    // "Обороты" written in capitals in the formula: matched whatever the case.
    const ToolRun r = RunCalc({"--names", QString::fromUtf8("\xD0\xBE\xD0\xB1\xD0\xBE\xD1\x80\xD0\xBE\xD1\x82\xD1\x8B"),
                               "--values", "3000",
                               QString::fromUtf8("\xD0\x9E\xD0\x91\xD0\x9E\xD0\xA0\xD0\x9E\xD0\xA2\xD0\xAB/2")});
    EXPECT_EQ(r.Status, 0) << r.Output;
    EXPECT_NE(r.Output.find("value: 1500\n"), std::string::npos) << r.Output;
}
#endif

#endif  // KOVRA_TOOL

}  // namespace
