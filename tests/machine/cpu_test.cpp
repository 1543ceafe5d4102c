// The processor, one table per instruction family: a case sets registers,
// flags and memory, runs one instruction from work RAM and lists what must
// differ afterwards. Every other one of the 272 cells must be as it was, and
// PC must have moved past the instruction by its length in the instruction
// table unless the case says where it went.
#include "machine.h"

#include <cstdio>

#include "cpu/isa.h"

namespace {

// Places a case sets or checks: cells 0..271 (r0..r15, then the stack page),
// and these.
constexpr int P(int pair) { return 0x1000 + pair; }           // a pair, high byte in the lower cell
constexpr int S(int index) { return REGISTER_COUNT + index; } // a stack page byte
constexpr int M(int address) { return 0x10000 + address; }    // a byte on the bus
constexpr int RUN = 0x20000;                                  // the running flag
constexpr int IE = 0x20001;                                   // interrupts enabled
constexpr int F = FLAGS, PC = P(PAIR_PC), SP = P(PAIR_SP);
constexpr int Z = FLAG_Z, C = FLAG_C;

struct Place {
    int at;
    int value;
};

struct Case {
    const char* what;
    std::vector<uint8_t> code;
    std::vector<Place> before, after;
};

void set(std::array<uint8_t, CELL_COUNT>& cells, Place p) {
    if (p.at >= P(0) && p.at < M(0)) {
        cells[p.at - P(0)] = static_cast<uint8_t>(p.value >> 8);
        cells[p.at - P(0) + 1] = static_cast<uint8_t>(p.value);
    } else if (p.at < CELL_COUNT) {
        cells[p.at] = static_cast<uint8_t>(p.value);
    }
}

void run(const Case& c) {
    SCOPED_TRACE(c.what);
    Machine m;
    CPU* cpu = m.cpu();
    for (Place p : c.before) {
        set(cpu->cells, p);
        if (p.at >= M(0) && p.at < RUN)
            m.write(static_cast<uint16_t>(p.at - M(0)), static_cast<uint8_t>(p.value));
        if (p.at == IE) cpu->interrupt_enable = static_cast<uint8_t>(p.value);
    }
    std::array<uint8_t, CELL_COUNT> expected = cpu->cells;
    set(expected, {PC, PROGRAM + instruction_size(*instruction_for(c.code[0]))});
    int running = 1, enabled = cpu->interrupt_enable;
    for (Place p : c.after) {
        set(expected, p);
        if (p.at == RUN) running = p.value;
        if (p.at == IE) enabled = p.value;
    }
    m.program(c.code);
    CPU_step(cpu);
    for (int i = 0; i < CELL_COUNT; ++i)
        EXPECT_EQ(cpu->cells[i], expected[i])
            << (i < REGISTER_COUNT ? "r" : "stack byte ") << (i < REGISTER_COUNT ? i : i - REGISTER_COUNT);
    for (Place p : c.after)
        if (p.at >= M(0) && p.at < RUN) {
            EXPECT_EQ(m.read(static_cast<uint16_t>(p.at - M(0))), p.value) << std::hex << p.at - M(0);
        }
    EXPECT_EQ(cpu->running, running);
    EXPECT_EQ(cpu->interrupt_enable, enabled);
}

// clang-format off
TEST(Cpu, Moves) {
    for (const Case& c : std::vector<Case>{
        {"LD r3, 0x5A", {0x10, 3, 0x5A}, {}, {{3, 0x5A}}},
        {"LD r255 is stack byte 239, at 0xFFEF", {0x10, 0xFF, 0x5A}, {}, {{S(239), 0x5A}, {M(0xFFEF), 0x5A}}},
        {"MOV r7, r3", {0x11, 7, 3}, {{3, 0x5A}}, {{7, 0x5A}}},
        {"LD r0, [p4]", {0x12, 0, 4}, {{P(4), 0xB234}, {M(0xB234), 0x77}}, {{0, 0x77}}},
        {"ST [p4], r9", {0x13, 4, 9}, {{P(4), 0xB234}, {9, 0xC3}}, {{M(0xB234), 0xC3}}},
        {"ST [p4], 0x11", {0x14, 4, 0x11}, {{P(4), 0xB234}}, {{M(0xB234), 0x11}}},
        {"LDW p2, 0xBEEF, high byte first", {0x15, 2, 0xBE, 0xEF}, {}, {{2, 0xBE}, {3, 0xEF}}},
        {"LDW PC jumps; 0x1C is PC", {0x15, 0x1C, 0xB4, 0x56}, {}, {{PC, 0xB456}}},
        {"MOVW p6, p2", {0x16, 6, 2}, {{P(2), 0xBEEF}}, {{P(6), 0xBEEF}}},
        {"MOVW p1, p0 copies the old value", {0x16, 1, 0}, {{0, 0x12}, {1, 0x34}, {2, 0x56}}, {{1, 0x12}, {2, 0x34}}},
        {"MOVW p0, PC reads the next instruction's address", {0x16, 0, 12}, {}, {{P(0), 0xA003}}},
        {"LD r13 writes PC's low byte after the operands", {0x10, 13, 0x80}, {}, {{PC, 0xA080}}},
        {"STW [p0], p2, high byte first", {0x17, 0, 2}, {{P(0), 0xC000}, {P(2), 0xABCD}}, {{M(0xC000), 0xAB}, {M(0xC001), 0xCD}}},
        {"STW [p0], p0 reads both first", {0x17, 0, 0}, {{P(0), 0xA100}}, {{M(0xA100), 0xA1}, {M(0xA101), 0x00}}},
        {"XCHG r1, r2", {0x1F, 1, 2}, {{1, 0x11}, {2, 0x22}}, {{1, 0x22}, {2, 0x11}}},
    }) run(c);
}

TEST(Cpu, Stack) {
    for (const Case& c : std::vector<Case>{
        {"PUSH p4: low byte lower", {0x20, 4}, {{P(4), 0xBEEF}}, {{SP, 0xFFFD}, {S(0xFD), 0xEF}, {S(0xFE), 0xBE}}},
        {"PUSH 0xCAFE", {0x21, 0xCA, 0xFE}, {}, {{SP, 0xFFFD}, {S(0xFD), 0xFE}, {S(0xFE), 0xCA}}},
        {"POP p0", {0x22, 0}, {{SP, 0xFFFD}, {S(0xFD), 0xFE}, {S(0xFE), 0xCA}}, {{SP, 0xFFFF}, {P(0), 0xCAFE}}},
        {"PUSH SP pushes its old value", {0x20, 14}, {{SP, 0xFFF0}}, {{SP, 0xFFEE}, {S(0xEE), 0xF0}, {S(0xEF), 0xFF}}},
        {"POP SP: the popped word wins", {0x22, 14}, {{SP, 0xFFEE}, {S(0xEE), 0x80}, {S(0xEF), 0xFF}}, {{SP, 0xFF80}}},
        {"POP PC jumps", {0x22, 12}, {{SP, 0xFFFD}, {S(0xFE), 0xB0}}, {{SP, 0xFFFF}, {PC, 0xB000}}},
        {"a push at L = 1 wraps in the page", {0x21, 0xA1, 0xB2}, {{SP, 0xFF01}}, {{SP, 0xFEFF}, {S(0), 0xA1}, {S(0xFF), 0xB2}}},
        {"a push at L = 0 wraps in the page", {0x21, 0xC3, 0xD4}, {{SP, 0x0000}}, {{SP, 0xFFFE}, {S(0xFF), 0xC3}, {S(0xFE), 0xD4}}},
        {"a pop at L = 0xFF wraps in the page", {0x22, 0}, {{S(0xFF), 0x34}, {S(0), 0x12}}, {{SP, 0x0001}, {P(0), 0x1234}}},
        {"CALL pushes the next address", {0x40, 0xB0, 0x00}, {}, {{SP, 0xFFFD}, {S(0xFD), 0x03}, {S(0xFE), 0xA0}, {PC, 0xB000}}},
        {"RET", {0x41}, {{SP, 0xFFFD}, {S(0xFD), 0x03}, {S(0xFE), 0xA0}}, {{SP, 0xFFFF}, {PC, 0xA003}}},
        {"RET with SP 0x00FF is no empty stack", {0x41}, {{SP, 0x00FF}, {S(0), 0xB0}}, {{SP, 0x0101}, {PC, 0xB000}}},
        {"RET on the empty stack stops", {0x41}, {}, {{RUN, 0}}},
        {"HALT", {0xFF}, {}, {{RUN, 0}}},
    }) run(c);
}

TEST(Cpu, JumpsAndInterruptControl) {
    for (const Case& c : std::vector<Case>{
        {"JMP", {0x30, 0xB1, 0x23}, {}, {{PC, 0xB123}}},
        {"JC taken", {0x31, 0xB1, 0x23}, {{F, C}}, {{PC, 0xB123}}},
        {"JC not taken", {0x31, 0xB1, 0x23}, {{F, Z}}, {}},
        {"JNC taken", {0x32, 0xB1, 0x23}, {{F, Z}}, {{PC, 0xB123}}},
        {"JNC not taken", {0x32, 0xB1, 0x23}, {{F, C}}, {}},
        {"JZ taken", {0x33, 0xB1, 0x23}, {{F, Z}}, {{PC, 0xB123}}},
        {"JZ not taken", {0x33, 0xB1, 0x23}, {{F, C}}, {}},
        {"JNZ taken", {0x34, 0xB1, 0x23}, {{F, C}}, {{PC, 0xB123}}},
        {"JNZ not taken", {0x34, 0xB1, 0x23}, {{F, Z}}, {}},
        {"DI", {0xFD}, {{IE, 1}}, {{IE, 0}}},
        {"EI", {0xFE}, {}, {{IE, 1}}},
        {"RETI returns and enables", {0x42}, {{SP, 0xFFFD}, {S(0xFD), 0x34}, {S(0xFE), 0x12}}, {{SP, 0xFFFF}, {PC, 0x1234}, {IE, 1}}},
    }) run(c);
}

TEST(Cpu, Logic) {
    for (const Case& c : std::vector<Case>{
        {"AND to zero keeps C", {0x50, 0, 0x0F}, {{0, 0xF0}, {F, C | 1}}, {{0, 0}, {F, Z | C | 1}}},
        {"AND reg", {0x51, 0, 1}, {{0, 0xF3}, {1, 0x3C}, {F, Z}}, {{0, 0x30}, {F, 0}}},
        {"OR keeps C", {0x52, 0, 1}, {{0, 0x80}, {F, C | Z}}, {{0, 0x81}, {F, C}}},
        {"OR reg of zeros", {0x53, 0, 1}, {}, {{F, Z}}},
        {"XOR with itself", {0x54, 0, 0x5A}, {{0, 0x5A}, {F, C}}, {{0, 0}, {F, Z | C}}},
        {"XOR reg", {0x55, 0, 1}, {{0, 0xFF}, {1, 0x0F}}, {{0, 0xF0}}},
        {"NOT of 0xFF", {0x56, 0}, {{0, 0xFF}, {F, C}}, {{0, 0}, {F, Z | C}}},
        {"NOT of 0x0F", {0x56, 0}, {{0, 0x0F}, {F, Z}}, {{0, 0xF0}, {F, 0}}},
    }) run(c);
}

// With r11 as an operand each flag step sees what the step before it wrote.
TEST(Cpu, Arithmetic) {
    for (const Case& c : std::vector<Case>{
        {"ADD carries out and wraps to zero", {0x60, 0, 1}, {{0, 0xFF}, {F, 0x3F}}, {{0, 0}, {F, 0x3F | Z | C}}},
        {"ADD of zero to zero", {0x60, 0, 0}, {{F, C}}, {{F, Z}}},
        {"ADD reg without carry", {0x61, 0, 1}, {{0, 0x10}, {1, 0x20}, {F, Z | C}}, {{0, 0x30}, {F, 0}}},
        {"ADD reg to 256", {0x61, 0, 1}, {{0, 0x80}, {1, 0x80}}, {{0, 0}, {F, Z | C}}},
        {"SUB borrows", {0x64, 0, 1}, {{F, Z | 0x3F}}, {{0, 0xFF}, {F, C | 0x3F}}},
        {"SUB reg of equal values", {0x65, 0, 1}, {{0, 0x42}, {1, 0x42}, {F, C}}, {{0, 0}, {F, Z}}},
        {"INC of 0xFF", {0x68, 0}, {{0, 0xFF}}, {{0, 0}, {F, Z | C}}},
        {"INC clears both", {0x68, 0}, {{0, 0x7F}, {F, Z | C}}, {{0, 0x80}, {F, 0}}},
        {"DEC of 0", {0x6A, 0}, {{F, Z}}, {{0, 0xFF}, {F, C}}},
        {"DEC of 1", {0x6A, 0}, {{0, 1}, {F, C}}, {{0, 0}, {F, Z}}},
        {"ADD r11, 0xC0: C cleared, then the sum, then Z", {0x60, 11, 0xC0}, {}, {{F, 0x40}}},
        {"ADD r0, r11: C from the old r11", {0x61, 0, 11}, {{0, 0xFF}, {F, 0x01}}, {{0, 0x40}, {F, C | 0x01}}},
        {"SUB r0, r11", {0x65, 0, 11}, {{0, 0x10}, {F, 0x20}}, {{0, 0xB0}, {F, C | 0x20}}},
        {"DEC r11", {0x6A, 11}, {}, {{F, 0x3F}}},
    }) run(c);
}

// The count is taken modulo 32; C is the last bit shifted out.
TEST(Cpu, Shifts) {
    for (const Case& c : std::vector<Case>{
        {"SHL 0x81 by 1", {0x6C, 0, 1}, {{0, 0x81}}, {{0, 0x02}, {F, C}}},
        {"SHR 0x01 by 1", {0x6D, 0, 1}, {{0, 0x01}}, {{0, 0}, {F, Z | C}}},
        {"SHL by 0 clears C", {0x6C, 0, 0}, {{0, 0x81}, {F, C}}, {{F, 0}}},
        {"SHL 0x01 by 8", {0x6C, 0, 8}, {{0, 1}}, {{0, 0}, {F, Z | C}}},
        {"SHL 0x01 by 9", {0x6C, 0, 9}, {{0, 1}, {F, C}}, {{0, 0}, {F, Z}}},
        {"SHL 0xFF by 7", {0x6C, 0, 7}, {{0, 0xFF}}, {{0, 0x80}, {F, C}}},
        {"SHR 0x80 by 7", {0x6D, 0, 7}, {{0, 0x80}}, {{0, 1}, {F, 0}}},
        {"SHL by 33 is by 1", {0x6C, 0, 33}, {{0, 0x81}}, {{0, 0x02}, {F, C}}},
        {"SHR by 0xE1 is by 1", {0x6D, 0, 0xE1}, {{0, 3}}, {{0, 1}, {F, C}}},
        {"SHR 0xFF by 31", {0x6D, 0, 31}, {{0, 0xFF}, {F, C}}, {{0, 0}, {F, Z}}},
        {"SHL r11, 1", {0x6C, 11, 1}, {{F, Z}}, {{F, 0}}},
    }) run(c);
}

TEST(Cpu, WordsWrapAndLeaveTheFlags) {
    for (const Case& c : std::vector<Case>{
        {"INCW", {0x69, 0}, {{P(0), 0xFFFF}, {F, 0xFF}}, {{P(0), 0}}},
        {"DECW", {0x6B, 0}, {}, {{P(0), 0xFFFF}}},
        {"ADDW p0, 2", {0x62, 0, 0, 2}, {{P(0), 0xFFFF}, {F, 0xFF}}, {{P(0), 1}}},
        {"ADDW p0, p2", {0x63, 0, 2}, {{P(0), 0x8000}, {P(2), 0x8001}}, {{P(0), 1}}},
        {"ADDW p1, p0 over an overlap", {0x63, 1, 0}, {{0, 1}, {1, 0xFF}, {2, 1}}, {{P(1), 0x0100}}},
        {"SUBW p0, 2", {0x66, 0, 0, 2}, {{P(0), 1}, {F, 0xFF}}, {{P(0), 0xFFFF}}},
        {"SUBW p0, p2", {0x67, 0, 2}, {{P(0), 0x1234}, {P(2), 0x1235}}, {{P(0), 0xFFFF}}},
    }) run(c);
}

TEST(Cpu, Compares) {
    for (const Case& c : std::vector<Case>{
        {"CMP below", {0x70, 0, 5}, {{0, 3}, {F, Z}}, {{F, C}}},
        {"CMP equal", {0x70, 0, 5}, {{0, 5}, {F, C}}, {{F, Z}}},
        {"CMP above", {0x70, 0, 5}, {{0, 7}, {F, Z | C}}, {{F, 0}}},
        {"CMP reg keeps the other bits", {0x72, 0, 1}, {{0, 0x10}, {1, 0x20}, {F, 0x15}}, {{F, C | 0x15}}},
        {"CMP r11, 0x10: Z cleared first", {0x70, 11, 0x10}, {{F, 0x85}}, {{F, C | 0x05}}},
        {"CMPW below", {0x73, 0, 1, 0}, {{P(0), 0x00FF}, {F, Z}}, {{F, C}}},
        {"CMPW equal", {0x73, 0, 0x12, 0x34}, {{P(0), 0x1234}, {F, C | 2}}, {{F, Z | 2}}},
        {"CMPW above", {0x73, 0, 0, 0xFF}, {{P(0), 0x0100}, {F, Z | C}}, {{F, 0}}},
        {"CMPW p10 reads r11 once", {0x73, 10, 0, 0xC0}, {{F, 0xC0}}, {{F, Z}}},
        {"CMPW pair with pair", {0x74, 0, 2}, {}, {{F, Z}}},
    }) run(c);
}
// clang-format on

TEST(Cpu, PortsReachTheTestPort) {
    Machine m;
    CPU_regs(m.cpu())[1] = 0xC8;
    CPU_regs(m.cpu())[2] = 0x80;
    CPU_regs(m.cpu())[5] = 0x99;
    // OUT 0x80, r1; IN r3, 0x80; OUT r2, r1; IN r4, r2; IN r5, 0x81 (nobody there)
    m.program({0x82, 0x80, 1, 0x80, 3, 0x80, 0x83, 2, 1, 0x81, 4, 2, 0x80, 5, 0x81});
    for (int i = 0; i < 5; ++i) CPU_step(m.cpu());
    EXPECT_EQ(m.log, "out[0x80] <- 0xC8\nin[0x80] -> 0xC8\nout[0x80] <- 0xC8\nin[0x80] -> 0xC8\n");
    EXPECT_EQ(CPU_regs(m.cpu())[3], 0xC8);
    EXPECT_EQ(CPU_regs(m.cpu())[4], 0xC8);
    EXPECT_EQ(CPU_regs(m.cpu())[5], 0);
}

TEST(Cpu, InterruptsJumpThroughBigEndianVectors) {
    std::vector<uint8_t> image(0x400); // vector n points at 0x0200 + 0x10 n
    for (int n = 0; n < 16; ++n) image[2 * n] = 0x02, image[2 * n + 1] = static_cast<uint8_t>(0x10 * n);
    Machine m(image);
    CPU* cpu = m.cpu();
    CPU_set_pc(cpu, 0x0123);
    CPU_interrupt(cpu, 0); // disabled: nothing happens
    EXPECT_EQ(CPU_pc(cpu), 0x0123);
    cpu->interrupt_enable = 1;
    CPU_interrupt(cpu, 16);
    EXPECT_NE(m.take_log().find("Interrupt vector index must be between 0x0 and 0xF\n"), std::string::npos);
    EXPECT_EQ(CPU_pc(cpu), 0x0123);
    CPU_interrupt(cpu, 15);
    EXPECT_EQ(CPU_pc(cpu), 0x02F0);
    EXPECT_EQ(CPU_sp(cpu), 0xFFFD);
    EXPECT_EQ(m.read(0xFFFD), 0x23);
    EXPECT_EQ(m.read(0xFFFE), 0x01);
    EXPECT_EQ(cpu->interrupt_enable, 0);
    CPU_interrupt(cpu, 1); // disabled by the first
    EXPECT_EQ(CPU_pc(cpu), 0x02F0);
}

TEST(Cpu, OpcodesOutsideTheTableStopTheMachine) {
    Machine m;
    for (int opcode = 0; opcode < 256; ++opcode) {
        if (instruction_for(static_cast<uint8_t>(opcode))) continue;
        m.cpu()->illegal_opcode = 0;
        m.program({static_cast<uint8_t>(opcode), 0x10, 0, 7});
        CPU_step(m.cpu());
        CPU_step(m.cpu()); // a stopped CPU runs nothing
        char line[48];
        std::snprintf(line, sizeof line, "Illegal opcode 0x%02X at 0xA000\n", opcode);
        EXPECT_EQ(m.take_log(), line);
        EXPECT_EQ(m.cpu()->running, 0);
        EXPECT_EQ(m.cpu()->illegal_opcode, 1);
        EXPECT_EQ(CPU_pc(m.cpu()), PROGRAM + 1);
    }
}

} // namespace
