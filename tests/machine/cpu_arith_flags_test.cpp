// Arithmetic, logic, shifts and comparisons: results, the Z (bit 7) and C
// (bit 6) steps in their order, the six other bits of FLAGS left alone, and
// r11 itself as an operand, which sees the flags written by earlier steps.
#include "machine_test.h"

#include <cctype>
#include <vector>

namespace {

constexpr uint8_t Z = FLAG_Z;
constexpr uint8_t C = FLAG_C;

struct FlagCase {
    const char* what;
    std::vector<uint8_t> code;
    uint8_t r0, r1, flags_before; // r11 is set last, so a case on r11 starts from flags_before
    uint8_t r0_after, flags_after;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.what; }

class CpuFlags : public MachineTest, public testing::WithParamInterface<FlagCase> {};

TEST_P(CpuFlags, ResultAndFlags) {
    const FlagCase& c = GetParam();
    regs()[0] = c.r0;
    regs()[1] = c.r1;
    regs()[FLAGS] = c.flags_before;
    for (std::size_t i = 0; i < c.code.size(); ++i) write(static_cast<uint16_t>(PROGRAM + i), c.code[i]);
    CPU_set_pc(cpu(), PROGRAM);
    CPU_start(cpu());
    step();
    EXPECT_EQ(regs()[0], c.r0_after);
    EXPECT_EQ(flags(), c.flags_after);
    EXPECT_EQ(pc(), PROGRAM + c.code.size());
}

// clang-format off
const FlagCase arithmetic_cases[] = {
    {"ADD carries out and wraps to zero", {0x60, 0x00, 0x01}, 0xFF, 0, 0x00, 0x00, Z | C},
    {"ADD of zero to zero",               {0x60, 0x00, 0x00}, 0x00, 0, C,    0x00, Z},
    {"ADD reg without carry",             {0x61, 0x00, 0x01}, 0x10, 0x20, Z | C, 0x30, 0x00},
    {"ADD reg to 256",                    {0x61, 0x00, 0x01}, 0x80, 0x80, 0x00, 0x00, Z | C},
    {"SUB borrows",                       {0x64, 0x00, 0x01}, 0x00, 0, Z,    0xFF, C},
    {"SUB reg of equal values",           {0x65, 0x00, 0x01}, 0x42, 0x42, C,  0x00, Z},
    {"SUB reg borrows",                   {0x65, 0x00, 0x01}, 0x10, 0x11, 0x00, 0xFF, C},
    {"INC of 0xFF",                       {0x68, 0x00},       0xFF, 0, 0x00, 0x00, Z | C},
    {"INC clears both",                   {0x68, 0x00},       0x7F, 0, Z | C, 0x80, 0x00},
    {"DEC of 0",                          {0x6A, 0x00},       0x00, 0, Z,    0xFF, C},
    {"DEC of 1",                          {0x6A, 0x00},       0x01, 0, C,    0x00, Z},
    {"low six flag bits survive ADD",     {0x60, 0x00, 0x01}, 0xFF, 0, 0x3F, 0x00, 0x3F | Z | C},
    {"low six flag bits survive SUB",     {0x64, 0x00, 0x01}, 0x05, 0, 0xFF, 0x04, 0x3F},
};

const FlagCase logic_cases[] = {
    {"AND to zero keeps C",  {0x50, 0x00, 0x0F}, 0xF0, 0, C | 0x01, 0x00, Z | C | 0x01},
    {"AND reg",              {0x51, 0x00, 0x01}, 0xF3, 0x3C, Z,   0x30, 0x00},
    {"OR keeps C",           {0x52, 0x00, 0x01}, 0x80, 0, C | Z,  0x81, C},
    {"OR reg of zeros",      {0x53, 0x00, 0x01}, 0x00, 0x00, 0x00, 0x00, Z},
    {"XOR with itself",      {0x54, 0x00, 0x5A}, 0x5A, 0, C,      0x00, Z | C},
    {"XOR reg",              {0x55, 0x00, 0x01}, 0xFF, 0x0F, 0x00, 0xF0, 0x00},
    {"NOT of 0xFF",          {0x56, 0x00},       0xFF, 0, C,      0x00, Z | C},
    {"NOT of 0x0F",          {0x56, 0x00},       0x0F, 0, Z,      0xF0, 0x00},
};

const FlagCase shift_cases[] = {
    {"SHL 0x81 by 1",        {0x6C, 0x00, 1},  0x81, 0, 0x00, 0x02, C},
    {"SHR 0x01 by 1",        {0x6D, 0x00, 1},  0x01, 0, 0x00, 0x00, Z | C},
    {"SHL by 0 clears C",    {0x6C, 0x00, 0},  0x81, 0, C,    0x81, 0x00},
    {"SHR by 0 clears C",    {0x6D, 0x00, 0},  0x00, 0, C,    0x00, Z},
    {"SHL 0x01 by 8",        {0x6C, 0x00, 8},  0x01, 0, 0x00, 0x00, Z | C},
    {"SHL 0x01 by 9",        {0x6C, 0x00, 9},  0x01, 0, C,    0x00, Z},
    {"SHL 0xFF by 7",        {0x6C, 0x00, 7},  0xFF, 0, 0x00, 0x80, C},
    {"SHR 0x80 by 8",        {0x6D, 0x00, 8},  0x80, 0, 0x00, 0x00, Z | C},
    {"SHR 0x80 by 7",        {0x6D, 0x00, 7},  0x80, 0, 0x00, 0x01, 0x00},
    {"SHR 0x40 by 7",        {0x6D, 0x00, 7},  0x40, 0, 0x00, 0x00, Z | C},
    {"SHR 0xFF by 31",       {0x6D, 0x00, 31}, 0xFF, 0, C,    0x00, Z},
    {"SHL by 32 is by 0",    {0x6C, 0x00, 32}, 0x81, 0, C,    0x81, 0x00},
    {"SHL by 33 is by 1",    {0x6C, 0x00, 33}, 0x81, 0, 0x00, 0x02, C},
    {"SHR by 0xE1 is by 1",  {0x6D, 0x00, 0xE1}, 0x03, 0, 0x00, 0x01, C},
    {"SHR by 17 clears",     {0x6D, 0x00, 17}, 0xFF, 0, C,    0x00, Z},
    {"SHL by 48 clears",     {0x6C, 0x00, 48}, 0x81, 0, C,    0x00, Z},
};

const FlagCase compare_cases[] = {
    {"CMP below",            {0x70, 0x00, 5},    3, 0, Z,     3, C},
    {"CMP equal",            {0x70, 0x00, 5},    5, 0, C,     5, Z},
    {"CMP above",            {0x70, 0x00, 5},    7, 0, Z | C, 7, 0x00},
    {"CMP reg keeps low bits", {0x72, 0x00, 0x01}, 0x10, 0x20, 0x15, 0x10, C | 0x15},
    {"CMPW p0 below 0x0100", {0x73, 0x00, 0x01, 0x00}, 0x00, 0xFF, Z, 0x00, C},
    {"CMPW p0 equal",        {0x73, 0x00, 0x12, 0x34}, 0x12, 0x34, C | 0x02, 0x12, Z | 0x02},
    {"CMPW p0 above",        {0x73, 0x00, 0x00, 0xFF}, 0x01, 0x00, Z | C, 0x01, 0x00},
    {"CMPW pair with pair",  {0x74, 0x00, 0x02},       0x00, 0x00, 0x00, 0x00, Z},
};

// With r11 as an operand each step sees what the step before it wrote.
const FlagCase r11_cases[] = {
    // C cleared, r11 := 0 + 0xC0, then Z cleared: 0x40.
    {"ADD r11, 0xC0",        {0x60, 0x0B, 0xC0}, 0, 0, 0x00, 0, 0x40},
    // C set first (0xFF + 0x01 carries), then r0 := 0xFF + 0x41.
    {"ADD r0, r11",          {0x61, 0x00, 0x0B}, 0xFF, 0, 0x01, 0x40, C | 0x01},
    // C set (0x20 > 0x10), then r0 := 0x10 - 0x60.
    {"SUB r0, r11",          {0x65, 0x00, 0x0B}, 0x10, 0, 0x20, 0xB0, C | 0x20},
    // C set (0 - 1 borrows), r11 := 0x40 - 1, Z cleared.
    {"DEC r11",              {0x6A, 0x0B},       0, 0, 0x00, 0, 0x3F},
    {"INC r11 from 0xFF",    {0x68, 0x0B},       0, 0, 0xFF, 0, Z},
    // C := bit 7 of 0x80, then r11 := 0xC0 << 1 = 0x80, then Z cleared.
    {"SHL r11, 1",           {0x6C, 0x0B, 1},    0, 0, Z,    0, 0x00},
    {"AND r11 to zero",      {0x50, 0x0B, 0x30}, 0, 0, 0xC3, 0, Z},
    {"NOT r11",              {0x56, 0x0B},       0, 0, 0xFF, 0, Z},
    // Z cleared (0x85 != 0x10) leaves 0x05, then C := 0x10 > 0x05.
    {"CMP r11, 0x10",        {0x70, 0x0B, 0x10}, 0, 0, 0x85, 0, C | 0x05},
    // Z set (0x40 == 0x40) makes r11 0xC0, then C := 0xC0 > 0x40.
    {"CMP r0, r11",          {0x72, 0x00, 0x0B}, 0x40, 0, C, 0x40, Z | C},
    // CMPW reads p10 = r10:r11 once and writes FLAGS once.
    {"CMPW p10, 0x00C0",     {0x73, 0x0A, 0x00, 0xC0}, 0, 0, 0xC0, 0, Z},
};
// clang-format on

std::string case_name(const testing::TestParamInfo<FlagCase>& info) {
    std::string name;
    for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Arithmetic, CpuFlags, testing::ValuesIn(arithmetic_cases), case_name);
INSTANTIATE_TEST_SUITE_P(Logic, CpuFlags, testing::ValuesIn(logic_cases), case_name);
INSTANTIATE_TEST_SUITE_P(Shifts, CpuFlags, testing::ValuesIn(shift_cases), case_name);
INSTANTIATE_TEST_SUITE_P(Compare, CpuFlags, testing::ValuesIn(compare_cases), case_name);
INSTANTIATE_TEST_SUITE_P(FlagsAsOperand, CpuFlags, testing::ValuesIn(r11_cases), case_name);

using CpuWordArithmetic = MachineTest;

TEST_F(CpuWordArithmetic, WrapsAndNeverTouchesFlags) {
    struct Case {
        std::vector<uint8_t> code;
        uint16_t p0, p2, expected;
    };
    const Case cases[] = {
        {{0x69, 0x00}, 0xFFFF, 0, 0x0000},             // INCW
        {{0x6B, 0x00}, 0x0000, 0, 0xFFFF},             // DECW
        {{0x62, 0x00, 0x00, 0x02}, 0xFFFF, 0, 0x0001}, // ADDW p0, 2
        {{0x63, 0x00, 0x02}, 0x8000, 0x8001, 0x0001},  // ADDW p0, p2
        {{0x66, 0x00, 0x00, 0x02}, 0x0001, 0, 0xFFFF}, // SUBW p0, 2
        {{0x67, 0x00, 0x02}, 0x1234, 0x1235, 0xFFFF},  // SUBW p0, p2
        {{0x63, 0x00, 0x00}, 0x4321, 0, 0x8642},       // ADDW p0, p0
    };
    for (uint8_t before : {uint8_t{0x00}, uint8_t{0xFF}}) {
        for (const Case& c : cases) {
            CPU_set_pair(cpu(), 0, c.p0);
            CPU_set_pair(cpu(), 2, c.p2);
            regs()[FLAGS] = before;
            for (std::size_t i = 0; i < c.code.size(); ++i)
                write(static_cast<uint16_t>(PROGRAM + i), c.code[i]);
            CPU_set_pc(cpu(), PROGRAM);
            CPU_start(cpu());
            step();
            EXPECT_EQ(pair(0), c.expected) << "opcode " << int(c.code[0]);
            EXPECT_EQ(flags(), before) << "opcode " << int(c.code[0]);
        }
    }
}

TEST_F(CpuWordArithmetic, OverlappingPairsReadTheWholeOldValue) {
    regs()[0] = 0x01;
    regs()[1] = 0xFF;
    regs()[2] = 0x01;
    run_one({0x63, 0x01, 0x00}); // ADDW p1, p0: 0xFF01 + 0x01FF
    EXPECT_EQ(pair(1), 0x0100);
    EXPECT_EQ(regs()[0], 0x01);
}

using CpuJumps = MachineTest;

TEST_F(CpuJumps, ConditionalJumpsTakenAndNot) {
    struct Case {
        uint8_t opcode, flags;
        bool taken;
    };
    const Case cases[] = {
        {0x31, C, true},  {0x31, Z, false}, {0x32, 0x00, true}, {0x32, C, false},
        {0x33, Z, true},  {0x33, C, false}, {0x34, C, true},    {0x34, Z, false},
        {0x30, 0x00, true},
    };
    for (const Case& c : cases) {
        regs()[FLAGS] = c.flags;
        uint16_t after = run_one({c.opcode, 0xB1, 0x23});
        EXPECT_EQ(after, c.taken ? 0xB123 : PROGRAM + 3) << "opcode " << int(c.opcode);
        EXPECT_EQ(flags(), c.flags);
    }
}

} // namespace
