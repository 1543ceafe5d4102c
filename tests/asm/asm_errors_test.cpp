// Every error the assembler promises, with its file, line and column, all
// reported in one run.
#include <gtest/gtest.h>

#include "asm_test_util.h"

namespace {

// The single diagnostic of a program that has exactly one error.
std::string only_error(const std::string& text, const AsmOptions& options = memory_files({})) {
    std::vector<std::string> errors = errors_of(text, options);
    EXPECT_EQ(errors.size(), 1u) << text;
    return errors.empty() ? "" : errors[0];
}

bool has_prefix(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST(AsmErrors, UnknownMnemonicAndDirective) {
    EXPECT_EQ(only_error("  NOP\n  MOVE r0, r1"), "test.asm:2:3: error: unknown mnemonic 'MOVE'");
    EXPECT_EQ(only_error("label: .bytes 1"), "test.asm:1:8: error: unknown directive '.bytes'");
    // A label without its colon reads as a mnemonic.
    EXPECT_EQ(only_error("loop\n"), "test.asm:1:1: error: unknown mnemonic 'loop'");
}

TEST(AsmErrors, WrongOperandCount) {
    EXPECT_EQ(only_error("NOP r0"), "test.asm:1:1: error: NOP takes 0 operands, not 1: NOP");
    EXPECT_EQ(only_error("  INC"), "test.asm:1:3: error: INC takes 1 operand, not 0: INC rX");
    EXPECT_EQ(only_error("LD r0, 1, 2"), "test.asm:1:1: error: LD takes 2 operands, not 3: LD rX, n or LD rX, [pY]");
}

TEST(AsmErrors, WrongOperandKindPointsAtTheOperand) {
    EXPECT_EQ(only_error("LD r0, p2"), "test.asm:1:8: error: LD does not take a pair as operand 2: LD rX, n or LD rX, [pY]");
    EXPECT_EQ(only_error("LD 5, r0"), "test.asm:1:4: error: LD does not take a value as operand 1: LD rX, n or LD rX, [pY]");
    EXPECT_EQ(only_error("ST r0, r1"), "test.asm:1:4: error: ST does not take a register as operand 1: ST [pX], rY or ST [pX], n");
    EXPECT_EQ(only_error("PUSH r1"), "test.asm:1:6: error: PUSH does not take a register as operand 1: PUSH pX or PUSH nn");
    EXPECT_EQ(only_error("OUT r1, 0x80"), "test.asm:1:9: error: OUT does not take a value as operand 2: OUT port, rY or OUT rX, rY");
    EXPECT_EQ(only_error("ADDW r0, 1"), "test.asm:1:6: error: ADDW does not take a register as operand 1: ADDW pX, nn or ADDW pX, pY");
    EXPECT_EQ(only_error("JMP [p2]"), "test.asm:1:5: error: JMP does not take a memory operand as operand 1: JMP nn");
    EXPECT_EQ(only_error("LD r0, [r2]"), "test.asm:1:9: error: memory is reached through a pair, like [p2]");
    EXPECT_EQ(only_error("LD r0, [0x1234]"), "test.asm:1:9: error: memory is reached through a pair, like [p2]");
}

TEST(AsmErrors, ValuesOutOfRange) {
    EXPECT_EQ(only_error("LD r0, 256"), "test.asm:1:8: error: byte value 256 is out of range (-128..255)");
    EXPECT_EQ(only_error("LD r0, -129"), "test.asm:1:8: error: byte value -129 is out of range (-128..255)");
    EXPECT_EQ(only_error("JMP 0x10000"), "test.asm:1:5: error: word value 65536 is out of range (-32768..65535)");
    EXPECT_EQ(only_error(".word 70000"), "test.asm:1:7: error: word value 70000 is out of range (-32768..65535)");
    EXPECT_EQ(only_error(".byte 1, 300"), "test.asm:1:10: error: byte value 300 is out of range (-128..255)");
    EXPECT_EQ(only_error("MOV r256, r0"), "test.asm:1:5: error: register 'r256' is out of range (r0..r255)");
    EXPECT_EQ(only_error("INCW p16"), "test.asm:1:6: error: pair 'p16' is out of range (p0..p15)");
    EXPECT_EQ(only_error("INC r(200 + 56)"), "test.asm:1:5: error: register 256 is out of range (0..255)");
    EXPECT_EQ(only_error("INCW p(-1)"), "test.asm:1:6: error: pair -1 is out of range (0..15)");
    EXPECT_EQ(only_error("IN r0, 256"), "test.asm:1:8: error: port 256 is out of range (0..255)");
    EXPECT_EQ(only_error("OUT -1, r0"), "test.asm:1:5: error: port -1 is out of range (0..255)");
    EXPECT_EQ(only_error(".vector 16, 0"), "test.asm:1:9: error: vector 16 is out of range (0..15)");
    EXPECT_EQ(only_error(".fill 2, 256"), "test.asm:1:10: error: fill value 256 is out of range (-128..255)");
}

TEST(AsmErrors, UndefinedAndDuplicateSymbols) {
    EXPECT_EQ(only_error("JMP nowhere"), "test.asm:1:5: error: undefined symbol 'nowhere'");
    EXPECT_EQ(only_error("a:\n.loop: NOP\nb:\n  JMP .loop"), "test.asm:4:7: error: undefined symbol 'b.loop'");
    EXPECT_EQ(only_error("x: NOP\n x: NOP"), "test.asm:2:2: error: duplicate symbol 'x', first defined at test.asm:1");
    EXPECT_EQ(only_error("X = 1\nX: NOP"), "test.asm:2:1: error: duplicate symbol 'X', first defined at test.asm:1");
    EXPECT_EQ(only_error("a:\n.l: NOP\n.l: NOP"), "test.asm:3:1: error: duplicate symbol 'a.l', first defined at test.asm:2");
    EXPECT_EQ(only_error("A = B\nB = A + 1"), "test.asm:1:1: error: constant 'A' depends on itself");
    EXPECT_EQ(only_error("r3: NOP"), "test.asm:1:1: error: 'r3' is a reserved name and cannot be a symbol");
    EXPECT_EQ(only_error("LD r0, sp"), "test.asm:1:8: error: LD does not take a pair as operand 2: LD rX, n or LD rX, [pY]");
    EXPECT_EQ(only_error("LD r0, r1 + 1"), "test.asm:1:11: error: expected the end of the line, found '+'");
}

TEST(AsmErrors, LayoutValuesMustBeKnownWhereTheyStand) {
    EXPECT_EQ(only_error(".org later\nlater: NOP"), "test.asm:1:6: error: the .org address must be known here, but 'later' is not defined above");
    EXPECT_EQ(only_error(".fill N\nN = 2"), "test.asm:1:7: error: the .fill count must be known here, but 'N' is not defined above");
}

TEST(AsmErrors, OverlappingPlacementNamesBothPlaces) {
    EXPECT_EQ(only_error(".org 0x100\nLDW p0, 1\n.org 0x102\n  .byte 1"),
              "test.asm:4:3: error: ROM bytes 0x0102..0x0102 are already taken by test.asm:2");
    // The vector table against code placed at address 0.
    EXPECT_EQ(only_error(".org 0\nJMP 0\n.vector 1, 0"), "test.asm:3:1: error: ROM bytes 0x0002..0x0002 are already taken by test.asm:2");
    // A banked window and the first 32 KiB share ROM offsets 0x4000-0x7FFF with bank 1.
    EXPECT_EQ(only_error(".org 0x4000\n.byte 1\n.bank 1\n.byte 2"), "test.asm:4:1: error: ROM bytes 0x4000..0x4000 are already taken by test.asm:2");
}

TEST(AsmErrors, WindowsAndTheImageMustNotOverflow) {
    EXPECT_EQ(only_error(".org 0x7FFE\nLDW p0, 1"),
              "test.asm:2:1: error: this runs past the end of the first 32 KiB (0x0000-0x7FFF); continue under .bank");
    EXPECT_EQ(only_error(".bank 0\n.org 0x3FFF\n.word 1"), "test.asm:3:1: error: this runs past the end of bank 0's window (0x0000-0x3FFF)");
    EXPECT_EQ(only_error(".bank 9\n.fill 0x4001"), "test.asm:2:1: error: this runs past the end of bank 9's window (0x4000-0x7FFF)");
    EXPECT_EQ(only_error(".bank 2\n.org 0x3000"), "test.asm:2:6: error: address 0x3000 lies outside bank 2's window (0x4000-0x7FFF)");
    // Bank 976 holds the last 9,216 bytes of a 16,000,000-byte image.
    EXPECT_TRUE(Assembly_ok(assemble(".bank 976\n.fill 9216, 1")));
    EXPECT_EQ(only_error(".bank 976\n.fill 9217, 1"), "test.asm:2:1: error: this runs past the largest image, 16,000,000 bytes");
    EXPECT_EQ(only_error(".bank 977"), "test.asm:1:7: error: bank 977 is out of range (0..976, the banks of a 16,000,000-byte image)");
    // One report per overflowing window, not one per line after it.
    EXPECT_EQ(errors_of(".org 0x7FFF\nNOP\nNOP\nNOP").size(), 1u);
}

TEST(AsmErrors, MissingIncludesAndIncludeCycles) {
    EXPECT_EQ(only_error("NOP\n.include \"gone.asm\""), "test.asm:2:10: error: cannot open include file 'gone.asm'");
    EXPECT_EQ(only_error(".incbin \"gone.bin\""), "test.asm:1:9: error: cannot open file 'gone.bin'");
    AsmOptions cycle = memory_files({{"a.asm", "NOP\n.include \"b.asm\"\n"}, {"b.asm", "  .include \"a.asm\"\n"}});
    EXPECT_EQ(only_error(".include \"a.asm\"", cycle), "b.asm:1:12: error: include cycle: a.asm -> b.asm -> a.asm");
    AsmOptions self = memory_files({{"test.asm", "unused"}});
    EXPECT_EQ(only_error(".include \"test.asm\"", self), "test.asm:1:10: error: include cycle: test.asm -> test.asm");
    AsmOptions blob = memory_files({{"b.bin", "abc"}});
    EXPECT_EQ(only_error(".incbin \"b.bin\", 1, 3", blob), "test.asm:1:9: error: 'b.bin' has only 2 bytes from offset 1");
}

TEST(AsmErrors, SyntaxErrors) {
    EXPECT_EQ(only_error(".byte \"abc"), "test.asm:1:7: error: unterminated string");
    EXPECT_EQ(only_error("LD r0, 0x"), "test.asm:1:8: error: malformed number '0x'");
    EXPECT_EQ(only_error("LD r0, 12ab"), "test.asm:1:8: error: malformed number '12a'");
    EXPECT_EQ(only_error("LD r0, (1 + 2"), "test.asm:1:14: error: expected ')'");
    EXPECT_EQ(only_error("LD r0, @"), "test.asm:1:8: error: unexpected character '@'");
    EXPECT_EQ(only_error("LD r0, 1 / 0"), "test.asm:1:10: error: division by zero");
    EXPECT_EQ(only_error(".ascii \"a\\q\""), "test.asm:1:10: error: unknown escape in string");
    EXPECT_EQ(only_error("LD r0, ''"), "test.asm:1:8: error: malformed character literal");
}

TEST(AsmErrors, AllErrorsOfARunAreReportedInSourceOrder) {
    AsmOptions options = memory_files({{"inc.asm", "\n  FOO\n"}});
    std::vector<std::string> errors = errors_of("JMP missing\nLD r0, 999\n.include \"inc.asm\"\nMOVE\nx: NOP\nx: NOP\n", options);
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_TRUE(has_prefix(errors[0], "test.asm:1:5: error: undefined symbol")) << errors[0];
    EXPECT_TRUE(has_prefix(errors[1], "test.asm:2:8: error: byte value 999")) << errors[1];
    EXPECT_TRUE(has_prefix(errors[2], "inc.asm:2:3: error: unknown mnemonic 'FOO'")) << errors[2];
    EXPECT_TRUE(has_prefix(errors[3], "test.asm:4:1: error: unknown mnemonic 'MOVE'")) << errors[3];
    EXPECT_TRUE(has_prefix(errors[4], "test.asm:6:1: error: duplicate symbol 'x'")) << errors[4];
}

} // namespace
