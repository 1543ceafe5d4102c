// The debugger's expression language, as conditions, log messages and the
// evaluate request use it: one table of texts and the values they give on a
// known machine, one of texts that must be refused.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "cpu/cpu.h"
#include "debug_info.h"
#include "expr.h"

namespace {

struct Machine {
    CPU cpu{};
    std::array<uint8_t, 65536> memory{};
    DebugInfo info;

    Machine() {
        cpu.cells[0] = 0x12;
        cpu.cells[2] = 0xA0;
        cpu.cells[3] = 0x01;
        cpu.cells[17] = 0x77;
        cpu.cells[FLAGS] = FLAG_C;
        CPU_set_pair(&cpu, PAIR_PC, 0x0123);
        CPU_set_pair(&cpu, PAIR_SP, 0xFFF0);
        memory[0xA001] = 0xBE;
        memory[0xA002] = 0xEF;
        std::string error;
        EXPECT_TRUE(DebugInfo_parse("lumacor-dbg 1\nlabel main 0100 0\nlabel main.loop 0104 0\n"
                                    "label far 4010 3\nlabel frame 0200 0\nconst SPEED -3\n",
                                    &info, &error))
            << error;
    }
    bool run(const std::string& text, int64_t* value, std::string* error) {
        Expr expr;
        ExprMachine machine{&cpu, [](void* m, uint16_t a) { return static_cast<Machine*>(m)->memory[a]; },
                            this, 2, 345};
        return Expr_compile(text, &info, &expr, error) && Expr_evaluate(expr, machine, value, error);
    }
};

TEST(Expressions, GiveTheValuesOfTheMachineAndTheProgram) {
    // clang-format off
    const std::pair<const char*, int64_t> cases[] = {
        {"1 + 2 * 3", 7},     {"(1 + 2) * 3", 9},     {"10 - 3 - 2", 5},           {"1 << 4 | 1", 17},
        {"7 & 3 == 3", 1},    {"6 ^ 3", 5},           {"-2 + 5", 3},               {"~0 & 0xFF", 255},
        {"!0 + !5", 1},       {"0b1010_0101", 165},   {"'A'", 65},                 {"7 / 2 + 7 % 2", 4},
        {"1 - 2", -1},        {"256 >> 4", 16},       {"2 < 3 && 3 <= 3", 1},      {"2 > 3 || 3 >= 4", 0},
        {"1 != 1", 0},        {"r0", 0x12},           {"R0 + r17", 0x89},          {"p2", 0xA001},
        {"PC", 0x0123},       {"SP", 0xFFF0},         {"FLAGS", FLAG_C},           {"C * 2 + Z", 2},
        {"[p2]", 0xBE},       {"byte(0xA002)", 0xEF}, {"word(p2)", 0xBEEF},        {"hi(0x1234)", 0x12},
        {"lo(0x1234)", 0x34}, {"bank", 2},            {"main.loop - main", 4},     {"bank(far)", 3},
        {"SPEED", -3},        {"frame", 0x0200},      {"[SP] == 0", 1},
    };
    // clang-format on
    Machine m;
    for (const auto& [text, expected] : cases) {
        int64_t value = 0;
        std::string error;
        EXPECT_TRUE(m.run(text, &value, &error)) << text << ": " << error;
        EXPECT_EQ(value, expected) << text;
    }
    // Without debug information frame is the frame count.
    Expr expr;
    std::string error;
    int64_t value = 0;
    ASSERT_TRUE(Expr_compile("frame", nullptr, &expr, &error));
    ASSERT_TRUE(Expr_evaluate(expr, ExprMachine{&m.cpu, nullptr, nullptr, 1, 345}, &value, &error));
    EXPECT_EQ(value, 345);
}

TEST(Expressions, RefuseWhatDoesNotParseOrCannotBeComputed) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"1 +", "expected a value"},     {"(1", "expected ')'"},                  {"r0 +* 2", "unexpected '*'"},
        {"nope", "unknown name 'nope'"}, {"bank(nope)", "bank() needs a label"}, {"1 / 0", "division by zero"},
        {"2 3", "unexpected"},           {"hi 3", "expected '('"},
    };
    // clang-format on
    Machine m;
    for (const auto& [text, message] : cases) {
        int64_t value = 0;
        std::string error;
        EXPECT_FALSE(m.run(text, &value, &error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
    }
}

} // namespace
