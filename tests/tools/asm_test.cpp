// The assembler on sources held in memory: every instruction form's bytes,
// expressions, directives and banks, includes, the side outputs, and the
// errors with their places.
#include <iterator>

#include "asm_util.h"
#include "cpu/isa.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes a program places from 0x0200 on.
Bytes code(const std::string& text) {
    Assembly a = assemble(".org 0x200\n" + text);
    EXPECT_TRUE(Assembly_ok(a)) << text << "\n" << errors(a);
    return a.image.size() < 0x200 ? Bytes{} : Bytes(a.image.begin() + 0x200, a.image.end());
}

int64_t symbol(const Assembly& a, const std::string& name) {
    for (const AsmSymbol& s : a.symbols)
        if (s.name == name) return s.value;
    ADD_FAILURE() << "no symbol " << name << "\n" << errors(a);
    return -1;
}

// Written out from the machine's instruction list, not from the instruction
// table, so that a wrong row in either shows.
// clang-format off
const std::pair<const char*, Bytes> FORMS[] = {
    {"NOP", {0x00}}, {"LD r1, 0x23", {0x10, 1, 0x23}}, {"MOV r2, r3", {0x11, 2, 3}}, {"LD r4, [p6]", {0x12, 4, 6}},
    {"ST [p6], r5", {0x13, 6, 5}}, {"ST [p8], 0x99", {0x14, 8, 0x99}}, {"LDW p2, 0xBEEF", {0x15, 2, 0xBE, 0xEF}},
    {"MOVW p0, p4", {0x16, 0, 4}}, {"STW [p2], p4", {0x17, 2, 4}}, {"XCHG r7, r8", {0x1F, 7, 8}},
    {"PUSH p4", {0x20, 4}}, {"PUSH 0x1234", {0x21, 0x12, 0x34}}, {"POP p6", {0x22, 6}},
    {"JMP 0x0300", {0x30, 3, 0}}, {"JC 0x0301", {0x31, 3, 1}}, {"JNC 0x0302", {0x32, 3, 2}}, {"JZ 0x0303", {0x33, 3, 3}},
    {"JNZ 0x0304", {0x34, 3, 4}}, {"CALL 0x4000", {0x40, 0x40, 0}}, {"RET", {0x41}}, {"RETI", {0x42}},
    {"AND r1, 0x0F", {0x50, 1, 0x0F}}, {"AND r1, r2", {0x51, 1, 2}}, {"OR r1, 0xF0", {0x52, 1, 0xF0}}, {"OR r1, r2", {0x53, 1, 2}},
    {"XOR r1, 0xFF", {0x54, 1, 0xFF}}, {"XOR r1, r2", {0x55, 1, 2}}, {"NOT r9", {0x56, 9}},
    {"ADD r0, 1", {0x60, 0, 1}}, {"ADD r0, r1", {0x61, 0, 1}}, {"ADDW p0, 0x0102", {0x62, 0, 1, 2}}, {"ADDW p0, p2", {0x63, 0, 2}},
    {"SUB r0, 2", {0x64, 0, 2}}, {"SUB r0, r3", {0x65, 0, 3}}, {"SUBW p4, 0x0304", {0x66, 4, 3, 4}}, {"SUBW p4, p6", {0x67, 4, 6}},
    {"INC r10", {0x68, 10}}, {"INCW p8", {0x69, 8}}, {"DEC r10", {0x6A, 10}}, {"DECW p8", {0x6B, 8}},
    {"SHL r1, 3", {0x6C, 1, 3}}, {"SHR r1, 4", {0x6D, 1, 4}}, {"CMP r0, 5", {0x70, 0, 5}}, {"CMP r0, r1", {0x72, 0, 1}},
    {"CMPW p0, 0x0100", {0x73, 0, 1, 0}}, {"CMPW p0, p2", {0x74, 0, 2}}, {"IN r0, 0x80", {0x80, 0, 0x80}},
    {"IN r0, r1", {0x81, 0, 1}}, {"OUT 0x80, r1", {0x82, 0x80, 1}}, {"OUT r2, r1", {0x83, 2, 1}},
    {"DI", {0xFD}}, {"EI", {0xFE}}, {"HALT", {0xFF}},
};
// clang-format on

TEST(Assembler, EveryInstructionFormEncodesAsListed) {
    ASSERT_EQ(std::size(FORMS), static_cast<size_t>(INSTRUCTION_COUNT));
    for (auto& [source, bytes] : FORMS) {
        EXPECT_EQ(code(source), bytes) << source;
        ASSERT_NE(instruction_for(bytes[0]), nullptr) << source;
        EXPECT_EQ(instruction_size(*instruction_for(bytes[0])), static_cast<int>(bytes.size())) << source;
    }
}

TEST(Assembler, OperandsNamesAndData) {
    const std::pair<const char*, Bytes> cases[] = {
        {"ld R1, 0x23", {0x10, 1, 0x23}},
        {"MOV r0, flags\nMOVW p0, PC\nLDW sp, 1", {0x11, 0, 11, 0x16, 0, 12, 0x15, 14, 0, 1}},
        {"MOV r255, r16\nBASE = 16\nLD r(BASE + 3), 7\nINCW p(2 * 3)", {0x11, 255, 16, 0x10, 19, 7, 0x69, 6}},
        {"LD r0, -1\nADD r0, -128\nLDW p0, -2", {0x10, 0, 0xFF, 0x60, 0, 0x80, 0x15, 0, 0xFF, 0xFE}},
        {"top: NOP\nJMP top\nCALL later\nlater: RET\nJMP $",
         {0x00, 0x30, 2, 0, 0x40, 2, 7, 0x41, 0x30, 2, 8}},
        {"first:\n.loop: JMP .loop\nsecond:\n.loop: JMP .loop\nJMP first.loop",
         {0x30, 2, 0, 0x30, 2, 3, 0x30, 2, 0}},
        {"LD r0, SIZE\nSIZE = END - START\nSTART: .byte 1, 2, 3\nEND:", {0x10, 0, 3, 1, 2, 3}},
        {".byte 1, -1, 'a', \"b\\n\"\n.word 0x1234, -1", {1, 0xFF, 'a', 'b', '\n', 0x12, 0x34, 0xFF, 0xFF}},
        {".ascii \"A\"\n.asciz \"C\"\n.fill 3, 0xAA", {'A', 'C', 0, 0xAA, 0xAA, 0xAA}},
        {".byte 1\n.align 4, 0xEE\n.byte 2\n.align 4\n.align 4\n.res 2\n.byte 3",
         {1, 0xEE, 0xEE, 0xEE, 2, 0, 0, 0, 0, 0, 3}},
        {".assert 1 + 1 == 2\n.byte 1", {1}},
    };
    for (auto& [source, bytes] : cases) EXPECT_EQ(code(source), bytes) << source;
}

TEST(Assembler, ExpressionsFollowTheUsualPrecedence) {
    const std::pair<const char*, int64_t> cases[] = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"10 - 4 - 3", 3},
        {"100 / 7 % 4", 2},
        {"-7 / 2", -3},
        {"1 << 4 | 1", 17},
        {"0x100 >> 4 + 1", 8},
        {"0xF0 & 0x3C ^ 0x0F", 0x3F},
        {"-3 + ~0", -4},
        {"!0 + !5", 1},
        {"3 < 4 && 4 <= 4 && 5 > 4 && 4 >= 5 == 0", 1},
        {"1 == 2 || 2 != 2", 0},
        {"0b1010_0101", 0xA5},
        {"'\\x7F' + 'A'", 127 + 65},
        {"hi(0xBEEF) + LO(0xBEEF)", 0xBE + 0xEF},
    };
    for (auto& [expression, value] : cases)
        EXPECT_EQ(symbol(assemble(std::string("X = ") + expression), "X"), value) << expression;
}

TEST(Assembler, VectorsStartAndBanksGoToTheirPlaces) {
    Assembly a =
        assemble(".start\nmain: CALL entry\nLD r0, bank(entry)\nirq: RETI\n.vector 0, irq\n.vector 15, main\n"
                 ".bank 2\nentry: RET\n.bank 3\n.vector 1, here\nhere: .byte 7\n.bank 2\n.byte 8\n"
                 ".bank 5\n.org 0x7FFF\n.byte 0x55");
    ASSERT_TRUE(Assembly_ok(a)) << errors(a);
    ASSERT_EQ(a.image.size(), 6u * 0x4000);
    const Bytes& i = a.image;
    EXPECT_EQ(Bytes(i.begin(), i.begin() + 4), (Bytes{0x01, 0x06, 0x40, 0x00}));
    EXPECT_EQ(Bytes(i.begin() + 30, i.begin() + 32), (Bytes{0x01, 0x00}));
    EXPECT_EQ(Bytes(i.begin() + 0x100, i.begin() + 0x106), (Bytes{0x40, 0x40, 0x00, 0x10, 0x00, 0x02}));
    EXPECT_EQ(Bytes(i.begin() + 0x8000, i.begin() + 0x8002), (Bytes{0x41, 0x08}));
    EXPECT_EQ(i[0xC000], 7);
    EXPECT_EQ(i.back(), 0x55);
    EXPECT_EQ(symbol(a, "entry"), 0x4000);
    EXPECT_EQ(assemble(".org 0x3FFE\nLDW p0, 0x1234").image.size(), 0x4002u)
        << "the first 32 KiB are one piece";
    EXPECT_EQ(assemble(".byte 1\n.res 100").image.size(), 1u) << "reserved bytes at the end are not written";
}

TEST(Assembler, IncludesResolveFromTheIncludingFileThenTheIncludeDirectories) {
    AsmOptions options = memory_files({
        {"lib/util.asm", ".include \"consts.asm\"\nLD r0, ANSWER\n.include \"b.asm\""},
        {"lib/consts.asm", "ANSWER = 42\n"},
        {"inc/b.asm", ".byte 3\n"},
        {"data/blob.bin", "\x01\x02\x03\x04"},
    });
    options.include_dirs = {"inc"};
    Assembly a = Assembler_assemble_text(
        "main.asm", ".include \"lib/util.asm\"\n.incbin \"data/blob.bin\", 1, 2", options);
    ASSERT_TRUE(Assembly_ok(a)) << errors(a);
    EXPECT_EQ(a.image, (Bytes{0x10, 0, 42, 3, 2, 3}));
    EXPECT_EQ(Assembly_format_depfile(a, "out dir/out.rom"),
              "out\\ dir/out.rom: \\\n  main.asm \\\n  lib/util.asm \\\n  lib/consts.asm \\\n  inc/b.asm "
              "\\\n  data/blob.bin\n");
}

// Which branch is assembled: a name counts as defined only above the test,
// a branch inside a skipped one is skipped, and an include closes its own.
TEST(Assembler, ConditionalsChooseTheLinesAbove) {
    // clang-format off
    const std::pair<const char*, Bytes> cases[] = {
        {"A = 1\n.ifdef A\n.byte 1\n.else\n.byte 2\n.endif", {1}},
        {".ifdef A\n.byte 1\n.else\n.byte 2\n.endif\nA = 1", {2}},
        {"JMP A\n.ifndef A\n.byte 1\n.endif\nA:", {0x30, 0x02, 0x04, 1}},
        {"A: .ifndef A\n.byte 1\n.else\n.byte 2\n.endif\n.byte 3", {2, 3}},
        {".ifndef A\n.ifdef B\n.byte 1\n.else\n.byte 2\n.endif\n.else\n.ifndef B\n.byte 3\n.endif\n.endif", {2}},
        {"A = 1\n.ifndef A\n.ifndef B\n.byte 1\n.else\n.byte 2\n.endif\n.else\n.byte 3\n.endif", {3}},
        {".ifdef A\n  a: ? not assembled\n.endif\n.byte 4", {4}},
    };
    // clang-format on
    for (auto& [source, bytes] : cases) {
        Assembly a = assemble(std::string(".org 0x200\n") + source);
        Bytes placed = a.image.size() < 0x200 ? Bytes{} : Bytes(a.image.begin() + 0x200, a.image.end());
        EXPECT_EQ(placed, bytes) << source << "\n" << errors(a);
    }
    Assembly open = assemble(".include \"open.inc\"\n.endif", memory_files({{"open.inc", "\n .ifdef X"}}));
    EXPECT_EQ(errors(open), "open.inc:2:2: error: .ifdef without .endif\n"
                            "test.asm:2:1: error: .endif without .ifdef or .ifndef\n");
}

TEST(Assembler, ListingAndSymbolFile) {
    AsmOptions options = memory_files({});
    options.make_listing = true;
    Assembly a = Assembler_assemble_text(
        "p.asm", ".bank 2\nstart: LDW p0, 0x1234 ; go\n.x: .byte 1,2,3,4,5,6,7,8,9\nNEG = -5", options);
    ASSERT_TRUE(Assembly_ok(a)) << errors(a);
    EXPECT_NE(a.listing.find("008000  4000  15 00 12 34" + std::string(21, ' ') +
                             "2  start: LDW p0, 0x1234 ; go\n"),
              std::string::npos)
        << a.listing;
    EXPECT_NE(a.listing.find("008004  4004  01 02 03 04 05 06 07 08 ...     3  .x: .byte"), std::string::npos)
        << a.listing;
    EXPECT_EQ(Assembly_format_symbols(a), "NEG = -5\nstart = 0x4000\nstart.x = 0x4004\n");
}

TEST(Assembler, EveryErrorOfARunWithItsPlace) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"  NOP\n  MOVE r0, r1", "test.asm:2:3: error: unknown mnemonic 'MOVE'"},
        {"  INC", "test.asm:1:3: error: INC takes 1 operand, not 0: INC rX"},
        {"LD r0, p2", "test.asm:1:8: error: LD does not take a pair as operand 2: LD rX, n or LD rX, [pY]"},
        {"LD r0, [r2]", "test.asm:1:9: error: memory is reached through a pair, like [p2]"},
        {"LD r0, 256", "test.asm:1:8: error: byte value 256 is out of range (-128..255)"},
        {"MOV r256, r0", "test.asm:1:5: error: register 'r256' is out of range (r0..r255)"},
        {"INCW p(-1)", "test.asm:1:6: error: pair -1 is out of range (0..15)"},
        {"a:\n.loop: NOP\nb:\n  JMP .loop", "test.asm:4:7: error: undefined symbol 'b.loop'"},
        {"x: NOP\n x: NOP", "test.asm:2:2: error: duplicate symbol 'x', first defined at test.asm:1"},
        {"A = B\nB = A + 1", "test.asm:1:1: error: constant 'A' depends on itself"},
        {"r3: NOP", "test.asm:1:1: error: 'r3' is a reserved name and cannot be a symbol"},
        {".org later\nlater: NOP", "test.asm:1:6: error: the .org address must be known here, but 'later' is not defined above"},
        {".org 0x100\nLDW p0, 1\n.org 0x102\n  .byte 1", "test.asm:4:3: error: ROM bytes 0x0102..0x0102 are already taken by test.asm:2"},
        {".org 0x7FFE\nLDW p0, 1\nNOP", "test.asm:2:1: error: this runs past the end of the first 32 KiB (0x0000-0x7FFF); continue under .bank"},
        {".bank 976\n.fill 9217, 1", "test.asm:2:1: error: this runs past the largest image, 16,000,000 bytes"},
        {"NOP\n.include \"gone.asm\"", "test.asm:2:10: error: cannot open include file 'gone.asm'"},
        {".include \"test.asm\"", "test.asm:1:10: error: include cycle: test.asm -> test.asm"},
        {".byte \"abc", "test.asm:1:7: error: unterminated string"},
        {"LD r0, (1 + 2", "test.asm:1:14: error: expected ')'"},
        {"LD r0, 1 / 0", "test.asm:1:10: error: division by zero"},
        {"X = 3\n  .assert X < 2, \"X too big\"", "test.asm:2:3: error: X too big"},
        {"NOP\n .else", "test.asm:2:2: error: .else without .ifdef or .ifndef"},
        {".ifdef A\n.endif\n  .endif", "test.asm:3:3: error: .endif without .ifdef or .ifndef"},
        {".ifndef A\n.else\n .else\n.endif", "test.asm:3:2: error: a second .else for the .ifdef or .ifndef at test.asm:1"},
        {".ifdef A\n .ifndef B\n.endif", "test.asm:1:1: error: .ifdef without .endif"},
        {".IFDEF 3\n.endif", "test.asm:1:8: error: expected a symbol name after .IFDEF"},
        {".ifdef A B\n.endif", "test.asm:1:10: error: expected the end of the line, found 'B'"},
        {".ifndef A\n FOO\n.else\n ? BAR\n.endif", "test.asm:2:2: error: unknown mnemonic 'FOO'"},
    };
    // clang-format on
    for (auto& [source, error] : cases) {
        Assembly a = assemble(source, memory_files({{"test.asm", source}}));
        EXPECT_EQ(errors(a), std::string(error) + "\n") << source;
        EXPECT_TRUE(a.image.empty()) << source;
    }
    Assembly several = assemble("JMP missing\nLD r0, 999\n.include \"inc.asm\"\nx: NOP\nx: NOP\n",
                                memory_files({{"inc.asm", "\n  FOO\n"}}));
    EXPECT_EQ(errors(several), "test.asm:1:5: error: undefined symbol 'missing'\n"
                               "test.asm:2:8: error: byte value 999 is out of range (-128..255)\n"
                               "inc.asm:2:3: error: unknown mnemonic 'FOO'\n"
                               "test.asm:5:1: error: duplicate symbol 'x', first defined at test.asm:4\n");
}

} // namespace
