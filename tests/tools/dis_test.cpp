// The disassembler: single instructions as the runner's trace shows them, and
// whole images as source that assembles back into the same bytes.
#include <gtest/gtest.h>

#include <random>

#include "assembler.h"
#include "disassembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

void expect_round_trip(const Bytes& image, const DisOptions& options = {}) {
    std::string source = Disassembler_disassemble_image(image, options);
    Assembly a = Assembler_assemble_text("dis.asm", source);
    ASSERT_TRUE(Assembly_ok(a)) << AsmDiagnostic_format(a.diagnostics[0]) << "\n" << source.substr(0, 4000);
    ASSERT_TRUE(a.image == image) << source.substr(0, 4000);
}

TEST(Disassembler, OneInstructionInAssemblerSyntax) {
    struct Case {
        Bytes bytes;
        size_t at;
        const char* text;
        int length;
    };
    const Case cases[] = {
        {{0x10, 0x00, 0x12}, 0, "LD r0, 0x12", 3},
        {{0x12, 0x04, 0x06}, 0, "LD r4, [p6]", 3},
        {{0x17, 0x0E, 0x0C}, 0, "STW [SP], PC", 3},
        {{0x15, 0x02, 0xBE, 0xEF}, 0, "LDW p2, 0xBEEF", 4},
        {{0x11, 0x0B, 0xFF}, 0, "MOV FLAGS, r255", 3},
        {{0x82, 0x80, 0x01}, 0, "OUT 0x80, r1", 3},
        {{0x00, 0x00, 0x20, 0x04}, 2, "PUSH p4", 2},
        {{0xFF}, 0, "HALT", 1},
        {{0x15, 0x1C, 0x12, 0x34}, 0, "LDW PC, 0x1234", 4}, // the pair the CPU uses
        {{0x71, 0x00, 0x00}, 0, ".byte 0x71", 1},
        {{0x15, 0x02, 0xBE}, 0, ".byte 0x15", 1}, // cut off
        {{0x00}, 1, "", 0},
    };
    for (const Case& c : cases) {
        char text[32];
        EXPECT_EQ(Disassembler_format(c.bytes, c.at, text, sizeof text), c.length) << c.text;
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_FALSE(Disassembler_decode(Bytes{0x15, 0x1C, 0x12, 0x34}, 0).exact)
        << "the assembler writes no such pair byte";
}

// p15 is the highest pair the assembler writes: an instruction naming it is
// that instruction, in a trace line and in a whole image, where a byte past it
// is data. Round trips cannot tell: both come back as the same bytes.
TEST(Disassembler, TheHighestPairIsAnInstructionAndTheNextByteIsNot) {
    const Bytes highest{0x15, 0x0F, 0xBE, 0xEF, 0x20, 0x0F};
    char text[32];
    EXPECT_EQ(Disassembler_format(highest, 0, text, sizeof text), 4);
    EXPECT_STREQ(text, "LDW p15, 0xBEEF");
    EXPECT_TRUE(Disassembler_decode(highest, 0).exact);
    EXPECT_TRUE(Disassembler_decode(highest, 4).exact);
    EXPECT_FALSE(Disassembler_decode(Bytes{0x15, 0x10, 0xBE, 0xEF}, 0).exact);
    Assembly a = Assembler_assemble_text("p15.asm", ".start\nLDW p15, 0xBEEF\nPUSH p15\n");
    ASSERT_TRUE(Assembly_ok(a));
    std::string source = Disassembler_disassemble_image(a.image);
    EXPECT_NE(source.find("LDW p15, 0xBEEF"), std::string::npos) << source;
    EXPECT_NE(source.find("PUSH p15"), std::string::npos) << source;
    EXPECT_EQ(source.find(".byte"), std::string::npos) << source;
}

TEST(Disassembler, ImagesComeBackAsLabelledSource) {
    Assembly a = Assembler_assemble_text("p.asm", ".vector 0, irq\n.start\nloop: CALL sub\nJNZ loop\nJMP "
                                                  "0x0102\nsub: RET\nirq: RETI\n.byte 0x71, 0x01\n"
                                                  ".fill 20, 0xFF\n.bank 2\nfar: JZ far\nJMP 0x0100");
    ASSERT_TRUE(Assembly_ok(a));
    std::string source = Disassembler_disassemble_image(a.image);
    for (const char* line :
         {"L0100:\n        CALL L0109 ", "JNZ L0100 ", "JMP 0x0102 ", "L0109:\n        RET", ".word L010A ",
          "\n.bank 2\nB2_4000:\n        JZ B2_4000 ", "JMP L0100 "})
        EXPECT_NE(source.find(line), std::string::npos) << line << "\n" << source;
    expect_round_trip(a.image);
    DisOptions bank;
    bank.bank = 2;
    EXPECT_EQ(Disassembler_disassemble_image(a.image, bank).find("CALL"), std::string::npos);
}

// Any bytes at all survive disassembling and assembling again: random images,
// half of them leaning towards defined opcodes and small operands so that
// most of them decode as instructions, some longer than the first 32 KiB.
TEST(Disassembler, AnyImageRoundTrips) {
    std::mt19937 random(12345);
    for (int round = 0; round < 40; ++round) {
        Bytes image(round < 34 ? random() % 2048 : 0x8000 + random() % 0xC000);
        for (uint8_t& b : image) {
            if (round % 2 && random() % 2)
                b = instruction_set[random() % INSTRUCTION_COUNT].opcode;
            else if (round % 2 && random() % 3 == 0)
                b = static_cast<uint8_t>(random() % 16);
            else
                b = static_cast<uint8_t>(random());
        }
        if (image.size() > 100 && round % 3 == 0)
            std::fill(image.begin() + 40, image.begin() + 90, uint8_t(random()));
        expect_round_trip(image);
        if (HasFatalFailure()) return;
    }
}

} // namespace
