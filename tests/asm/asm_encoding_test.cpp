// Every instruction form's encoding, and how the opcode follows the operands.
#include <gtest/gtest.h>

#include "asm_test_util.h"
#include "cpu/isa.h"

#include <set>

namespace {

struct Form {
    const char* source;
    Bytes expected;
};

// Written out by hand from the machine's instruction list, not from isa.h, so
// a wrong row in either shows up here.
const std::vector<Form> all_forms = {
    {"NOP", {0x00}},
    {"LD r1, 0x23", {0x10, 0x01, 0x23}},
    {"MOV r2, r3", {0x11, 0x02, 0x03}},
    {"LD r4, [p6]", {0x12, 0x04, 0x06}},
    {"ST [p6], r5", {0x13, 0x06, 0x05}},
    {"ST [p8], 0x99", {0x14, 0x08, 0x99}},
    {"LDW p2, 0xBEEF", {0x15, 0x02, 0xBE, 0xEF}},
    {"MOVW p0, p4", {0x16, 0x00, 0x04}},
    {"STW [p2], p4", {0x17, 0x02, 0x04}},
    {"XCHG r7, r8", {0x1F, 0x07, 0x08}},
    {"PUSH p4", {0x20, 0x04}},
    {"PUSH 0x1234", {0x21, 0x12, 0x34}},
    {"POP p6", {0x22, 0x06}},
    {"JMP 0x0300", {0x30, 0x03, 0x00}},
    {"JC 0x0301", {0x31, 0x03, 0x01}},
    {"JNC 0x0302", {0x32, 0x03, 0x02}},
    {"JZ 0x0303", {0x33, 0x03, 0x03}},
    {"JNZ 0x0304", {0x34, 0x03, 0x04}},
    {"CALL 0x4000", {0x40, 0x40, 0x00}},
    {"RET", {0x41}},
    {"RETI", {0x42}},
    {"AND r1, 0x0F", {0x50, 0x01, 0x0F}},
    {"AND r1, r2", {0x51, 0x01, 0x02}},
    {"OR r1, 0xF0", {0x52, 0x01, 0xF0}},
    {"OR r1, r2", {0x53, 0x01, 0x02}},
    {"XOR r1, 0xFF", {0x54, 0x01, 0xFF}},
    {"XOR r1, r2", {0x55, 0x01, 0x02}},
    {"NOT r9", {0x56, 0x09}},
    {"ADD r0, 1", {0x60, 0x00, 0x01}},
    {"ADD r0, r1", {0x61, 0x00, 0x01}},
    {"ADDW p0, 0x0102", {0x62, 0x00, 0x01, 0x02}},
    {"ADDW p0, p2", {0x63, 0x00, 0x02}},
    {"SUB r0, 2", {0x64, 0x00, 0x02}},
    {"SUB r0, r3", {0x65, 0x00, 0x03}},
    {"SUBW p4, 0x0304", {0x66, 0x04, 0x03, 0x04}},
    {"SUBW p4, p6", {0x67, 0x04, 0x06}},
    {"INC r10", {0x68, 0x0A}},
    {"INCW p8", {0x69, 0x08}},
    {"DEC r10", {0x6A, 0x0A}},
    {"DECW p8", {0x6B, 0x08}},
    {"SHL r1, 3", {0x6C, 0x01, 0x03}},
    {"SHR r1, 4", {0x6D, 0x01, 0x04}},
    {"CMP r0, 5", {0x70, 0x00, 0x05}},
    {"CMP r0, r1", {0x72, 0x00, 0x01}},
    {"CMPW p0, 0x0100", {0x73, 0x00, 0x01, 0x00}},
    {"CMPW p0, p2", {0x74, 0x00, 0x02}},
    {"IN r0, 0x80", {0x80, 0x00, 0x80}},
    {"IN r0, r1", {0x81, 0x00, 0x01}},
    {"OUT 0x80, r1", {0x82, 0x80, 0x01}},
    {"OUT r2, r1", {0x83, 0x02, 0x01}},
    {"DI", {0xFD}},
    {"EI", {0xFE}},
    {"HALT", {0xFF}},
};

TEST(AsmEncoding, EveryFormEncodesAsListed) {
    for (const Form& form : all_forms) EXPECT_EQ(code(form.source), form.expected) << form.source;
}

TEST(AsmEncoding, TheListCoversEveryOpcodeOfTheInstructionSet) {
    std::set<uint8_t> listed;
    for (const Form& form : all_forms) listed.insert(form.expected[0]);
    ASSERT_EQ(all_forms.size(), static_cast<size_t>(INSTRUCTION_COUNT));
    for (const InstructionInfo& info : instruction_set) {
        EXPECT_TRUE(listed.count(info.opcode)) << info.mnemonic;
        // The encoded length matches the table's idea of the instruction.
        for (const Form& form : all_forms) {
            if (form.expected[0] == info.opcode) {
                EXPECT_EQ(form.expected.size(), static_cast<size_t>(instruction_size(info)));
            }
        }
    }
}

TEST(AsmEncoding, NamesAreCaseInsensitiveAndAliasesNameTheirRegisters) {
    EXPECT_EQ(code("ld R1, 0x23\nLd r1, 0x23"), (Bytes{0x10, 0x01, 0x23, 0x10, 0x01, 0x23}));
    EXPECT_EQ(code("MOV r0, FLAGS"), (Bytes{0x11, 0x00, 0x0B}));
    EXPECT_EQ(code("mov r0, flags"), (Bytes{0x11, 0x00, 0x0B}));
    EXPECT_EQ(code("MOVW p0, PC"), (Bytes{0x16, 0x00, 0x0C}));
    EXPECT_EQ(code("LDW sp, 0xFFFF"), (Bytes{0x15, 0x0E, 0xFF, 0xFF}));
    EXPECT_EQ(code("STW [SP], p0"), (Bytes{0x17, 0x0E, 0x00}));
}

TEST(AsmEncoding, RegistersReachTheStackPageAndMayBeComputed) {
    EXPECT_EQ(code("MOV r255, r16"), (Bytes{0x11, 0xFF, 0x10}));
    EXPECT_EQ(code("BASE = 16\nLD r(BASE + 3), 7"), (Bytes{0x10, 0x13, 0x07}));
    EXPECT_EQ(code("INCW p(2 * 3)"), (Bytes{0x69, 0x06}));
    EXPECT_EQ(code("LD r0, [p(15)]"), (Bytes{0x12, 0x00, 0x0F}));
}

TEST(AsmEncoding, NegativeImmediatesAreStoredInTwosComplement) {
    EXPECT_EQ(code("LD r0, -1\nADD r0, -128"), (Bytes{0x10, 0x00, 0xFF, 0x60, 0x00, 0x80}));
    EXPECT_EQ(code("LDW p0, -2"), (Bytes{0x15, 0x00, 0xFF, 0xFE}));
}

TEST(AsmEncoding, LabelsAsJumpTargetsAndWords) {
    EXPECT_EQ(code("top: NOP\nJMP top\nCALL later\nlater: RET"), (Bytes{0x00, 0x30, 0x02, 0x00, 0x40, 0x02, 0x07, 0x41}));
}

} // namespace
