// The disassembler: single instructions for traces, and whole images that
// must assemble back into the same bytes.
#include <gtest/gtest.h>

#include "asm_test_util.h"
#include "disassembler.h"

#include <random>

namespace {

std::string format(const Bytes& bytes, size_t at = 0, int* length = nullptr) {
    char text[32];
    int n = Disassembler_format(bytes, at, text, sizeof text);
    if (length) *length = n;
    return text;
}

TEST(DisFormat, InstructionsInAssemblerSyntax) {
    int length = 0;
    EXPECT_EQ(format({0x10, 0x00, 0x12}, 0, &length), "LD r0, 0x12");
    EXPECT_EQ(length, 3);
    EXPECT_EQ(format({0x12, 0x04, 0x06}), "LD r4, [p6]");
    EXPECT_EQ(format({0x17, 0x0E, 0x0C}), "STW [SP], PC");
    EXPECT_EQ(format({0x15, 0x02, 0xBE, 0xEF}, 0, &length), "LDW p2, 0xBEEF");
    EXPECT_EQ(length, 4);
    EXPECT_EQ(format({0x11, 0x0B, 0xFF}), "MOV FLAGS, r255");
    EXPECT_EQ(format({0x82, 0x80, 0x01}), "OUT 0x80, r1");
    EXPECT_EQ(format({0xFF}, 0, &length), "HALT");
    EXPECT_EQ(length, 1);
    // `at` picks the instruction inside a larger span.
    EXPECT_EQ(format({0x00, 0x00, 0x20, 0x04}, 2, &length), "PUSH p4");
    EXPECT_EQ(length, 2);
}

TEST(DisFormat, NonInstructionsAreOneDataByte) {
    int length = 0;
    EXPECT_EQ(format({0x71, 0x00, 0x00}, 0, &length), ".byte 0x71");
    EXPECT_EQ(length, 1);
    // Cut off by the end of the span.
    EXPECT_EQ(format({0x15, 0x02, 0xBE}, 0, &length), ".byte 0x15");
    EXPECT_EQ(length, 1);
    EXPECT_EQ(format({0x00}, 1, &length), "");
    EXPECT_EQ(length, 0);
}

TEST(DisFormat, PairBytesAboveFifteenShowThePairTheCpuUsesButAreNotExact) {
    Bytes b = {0x15, 0x1C, 0x12, 0x34};
    EXPECT_EQ(format(b), "LDW PC, 0x1234");
    DisInstruction d = Disassembler_decode(b, 0);
    EXPECT_EQ(d.length, 4);
    EXPECT_FALSE(d.exact);
    EXPECT_TRUE(Disassembler_decode(Bytes{0x15, 0x0C, 0x12, 0x34}, 0).exact);
}

TEST(DisFormat, ShortBuffersAreCutAndTerminated) {
    char text[6];
    EXPECT_EQ(Disassembler_format(Bytes{0x15, 0x02, 0xBE, 0xEF}, 0, text, sizeof text), 4);
    EXPECT_STREQ(text, "LDW p");
}

void expect_round_trip(const Bytes& image, const DisOptions& options = {}) {
    std::string source = Disassembler_disassemble_image(image, options);
    Assembly a = assemble(source);
    ASSERT_TRUE(Assembly_ok(a)) << AsmDiagnostic_format(a.diagnostics[0]) << "\n" << source.substr(0, 4000);
    ASSERT_EQ(a.image.size(), image.size());
    for (size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(a.image[i], image[i]) << "first difference at offset " << i << "\n" << source.substr(0, 4000);
}

TEST(DisImage, ReadableOutputForAProgram) {
    Bytes image = bytes_of(".vector 0, irq\n.start\nLD r0, 'A'\nOUT 0x80, r0\nHALT\nirq: RETI\n.byte 0x71, 0x01\n.fill 20, 0xFF");
    std::string source = Disassembler_disassemble_image(image);
    EXPECT_NE(source.find(".word L0107             ; 0000: 01 07  vector 0\n"), std::string::npos) << source;
    EXPECT_NE(source.find("L0107:\n        RETI"), std::string::npos) << source;
    EXPECT_NE(source.find("        LD r0, 0x41             ; 0100: 10 00 41\n"), std::string::npos) << source;
    EXPECT_NE(source.find("        .byte 0x71, 0x01        ; 0108:  no instruction\n"), std::string::npos) << source;
    EXPECT_NE(source.find("        .fill 20, 0xFF          ; 010A:\n"), std::string::npos) << source;
    expect_round_trip(image);
}

TEST(DisImage, BanksComeOutUnderTheirOwnDirective) {
    Bytes image = bytes_of(".start\nNOP\n.bank 3\nentry: JMP entry");
    std::string source = Disassembler_disassemble_image(image);
    EXPECT_NE(source.find("\n.bank 3\nB3_4000:\n        JMP B3_4000             ; 03:4000: 30 40 00\n"), std::string::npos)
        << source;
    expect_round_trip(image);
    DisOptions only;
    only.bank = 3;
    std::string bank = Disassembler_disassemble_image(image, only);
    EXPECT_EQ(bank.find("NOP"), std::string::npos);
    Assembly a = assemble(bank);
    ASSERT_TRUE(Assembly_ok(a));
    EXPECT_EQ(Bytes(a.image.begin() + 0xC000, a.image.end()), (Bytes{0x30, 0x40, 0x00}));
}

TEST(DisImage, JumpTargetsGetLabelsOnlyWhereAnInstructionStarts) {
    Bytes image = bytes_of(".start\nloop: CALL sub\nJNZ loop\nJMP 0x0102\nJMP 0x7000\nsub: RET\n.bank 2\nfar: JZ far\nJMP 0x0100");
    std::string source = Disassembler_disassemble_image(image);
    EXPECT_NE(source.find("L0100:\n        CALL L010C "), std::string::npos) << source;
    EXPECT_NE(source.find("JNZ L0100 "), std::string::npos) << source;
    EXPECT_NE(source.find("JMP 0x0102 "), std::string::npos) << source; // inside CALL's bytes
    EXPECT_NE(source.find("JMP 0x7000 "), std::string::npos) << source; // nothing there
    EXPECT_NE(source.find("L010C:\n        RET"), std::string::npos) << source;
    EXPECT_NE(source.find("B2_4000:\n        JZ B2_4000 "), std::string::npos) << source;
    // From a bank, addresses below 0x4000 are the fixed window.
    EXPECT_NE(source.find("JMP L0100 "), std::string::npos) << source;
    expect_round_trip(image);
}

TEST(DisImage, InstructionsCutOffAtTheEndOfTheImageOrOfAWindowAreData) {
    expect_round_trip({0x15, 0x02, 0xBE});
    // A 4-byte instruction at 0x7FFE of the first 32 KiB would cross into bank 2.
    Bytes image(0x8002, 0);
    image[0x7FFE] = 0x15;
    image[0x7FFF] = 0x02;
    image[0x8000] = 0xBE;
    image[0x8001] = 0xEF;
    expect_round_trip(image);
}

TEST(DisImage, StartChoosesWhereDecodingBegins) {
    Bytes image = {0x10, 0x00, 0x01, 0x10, 0x00, 0x02};
    DisOptions options;
    options.start = 3;
    std::string source = Disassembler_disassemble_image(image, options);
    EXPECT_EQ(source.find("LD r0, 0x01"), std::string::npos) << source;
    EXPECT_NE(source.find("LD r0, 0x02"), std::string::npos) << source;
    expect_round_trip(image, options);
    options.start = 0;
    EXPECT_NE(Disassembler_disassemble_image(image, options).find("LD r0, 0x01"), std::string::npos);
}

TEST(DisRoundTrip, EdgeImages) {
    expect_round_trip({});
    expect_round_trip({0x00});
    expect_round_trip(Bytes(100, 0xFF));
    Bytes all(256);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
    expect_round_trip(all);
}

// Property: any bytes at all survive disassembling and assembling again.
TEST(DisRoundTrip, RandomByteImages) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; ++round) {
        size_t size = round < 50 ? rng() % 2048 : 0x8000 + rng() % (3 * 0x4000);
        Bytes image(size);
        // Half the images lean towards defined opcodes and small operands so
        // that most of them decode as instructions.
        bool lean = round % 2 == 0;
        for (uint8_t& b : image) {
            if (lean && rng() % 2) b = instruction_set[rng() % INSTRUCTION_COUNT].opcode;
            else if (lean && rng() % 3 == 0) b = static_cast<uint8_t>(rng() % 16);
            else b = static_cast<uint8_t>(rng());
        }
        // Some runs, for .fill.
        if (size > 100 && round % 3 == 0) std::fill(image.begin() + 40, image.begin() + 90, static_cast<uint8_t>(rng()));
        expect_round_trip(image);
        if (HasFatalFailure()) return;
    }
}

// Property: streams of valid instructions come back as the same instructions.
TEST(DisRoundTrip, RandomInstructionStreams) {
    std::mt19937 rng(777);
    for (int round = 0; round < 40; ++round) {
        Bytes image(0x20, 0);
        size_t count = 200 + rng() % 800;
        for (size_t i = 0; i < count; ++i) {
            const InstructionInfo& info = instruction_set[rng() % INSTRUCTION_COUNT];
            image.push_back(info.opcode);
            for (Operand kind : {info.a, info.b}) {
                switch (kind) {
                case Operand::Pair: image.push_back(static_cast<uint8_t>(rng() % 16)); break;
                case Operand::Imm16: image.push_back(static_cast<uint8_t>(rng())); [[fallthrough]];
                case Operand::Reg:
                case Operand::Imm8:
                case Operand::Port: image.push_back(static_cast<uint8_t>(rng())); break;
                case Operand::None: break;
                }
            }
        }
        std::string source = Disassembler_disassemble_image(image);
        EXPECT_EQ(source.find(".byte"), std::string::npos) << "valid instructions came out as data";
        expect_round_trip(image);
        if (HasFatalFailure()) return;
    }
}

} // namespace
