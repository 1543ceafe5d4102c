// Expressions, symbols, directives, banks, includes and the side outputs.
#include <gtest/gtest.h>

#include "asm_test_util.h"

namespace {

int64_t value_of(const std::string& expression) {
    Assembly a = assemble("X = " + expression);
    EXPECT_TRUE(Assembly_ok(a)) << expression << (a.diagnostics.empty() ? "" : a.diagnostics[0].message);
    for (const AsmSymbol& s : a.symbols)
        if (s.name == "X") return s.value;
    ADD_FAILURE() << "no symbol X for " << expression;
    return 0;
}

int64_t symbol(const Assembly& a, const std::string& name) {
    for (const AsmSymbol& s : a.symbols)
        if (s.name == name) return s.value;
    ADD_FAILURE() << "no symbol " << name;
    return -1;
}

TEST(AsmExpressions, OperatorsFollowTheUsualPrecedence) {
    EXPECT_EQ(value_of("1 + 2 * 3"), 7);
    EXPECT_EQ(value_of("(1 + 2) * 3"), 9);
    EXPECT_EQ(value_of("10 - 4 - 3"), 3);
    EXPECT_EQ(value_of("100 / 7 % 4"), 2);
    EXPECT_EQ(value_of("1 << 4 | 1"), 17);
    EXPECT_EQ(value_of("0xF0 & 0x3C ^ 0x0F"), 0x3F);
    EXPECT_EQ(value_of("0x100 >> 4 + 1"), 0x8);
    EXPECT_EQ(value_of("-3 + ~0"), -4);
    EXPECT_EQ(value_of("!0 + !5"), 1);
    EXPECT_EQ(value_of("3 < 4 && 4 <= 4 && 5 > 4 && 4 >= 5 == 0"), 1);
    EXPECT_EQ(value_of("1 == 2 || 2 != 2"), 0);
    EXPECT_EQ(value_of("-7 / 2"), -3);
}

TEST(AsmExpressions, LiteralsAndByteFunctions) {
    EXPECT_EQ(value_of("0x7f + 0X10"), 0x8F);
    EXPECT_EQ(value_of("0b1010_0101"), 0xA5);
    EXPECT_EQ(value_of("1_000"), 1000);
    EXPECT_EQ(value_of("'A'"), 65);
    EXPECT_EQ(value_of("'\\n' + '\\x7F'"), 10 + 127);
    EXPECT_EQ(value_of("'\\''"), 39);
    EXPECT_EQ(value_of("hi(0xBEEF)"), 0xBE);
    EXPECT_EQ(value_of("LO(0xBEEF)"), 0xEF);
    EXPECT_EQ(value_of("hi(-1)"), 0xFF);
}

TEST(AsmExpressions, DollarIsTheAddressOfTheStatement) {
    EXPECT_EQ(code("NOP\nJMP $\n.word $ + 1"), (Bytes{0x00, 0x30, 0x02, 0x01, 0x02, 0x05}));
    Assembly a = assemble(".org 0x300\nHERE = $\nNOP");
    EXPECT_EQ(symbol(a, "HERE"), 0x300);
}

TEST(AsmSymbols, LocalLabelsBelongToTheirGlobalLabel) {
    Bytes b = code("first:\n.loop: JMP .loop\nsecond:\n.loop: JMP .loop\nJMP first.loop");
    EXPECT_EQ(b, (Bytes{0x30, 0x02, 0x00, 0x30, 0x02, 0x03, 0x30, 0x02, 0x00}));
    Assembly a = assemble(".org 0x10\nmain:\n.x: NOP");
    EXPECT_EQ(symbol(a, "main.x"), 0x10);
}

TEST(AsmSymbols, ConstantsMayUseLaterSymbolsAndEachOther) {
    EXPECT_EQ(code("LD r0, SIZE\nSIZE = END - START\nSTART: .byte 1, 2, 3\nEND:"), (Bytes{0x10, 0x00, 0x03, 1, 2, 3}));
    EXPECT_EQ(code(".equ A, B + 1\nB = 4\nLD r0, A"), (Bytes{0x10, 0x00, 0x05}));
}

TEST(AsmSource, WindowsLineEndsAndAByteOrderMarkAreAccepted) {
    EXPECT_EQ(bytes_of("\xEF\xBB\xBF.byte 1\r\n.byte 2\r\n"), (Bytes{1, 2}));
    std::vector<std::string> errors = errors_of("\xEF\xBB\xBFNOP\r\n  BAD\r\n");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "test.asm:2:3: error: unknown mnemonic 'BAD'");
}

TEST(AsmDirectives, DataDirectives) {
    EXPECT_EQ(code(".byte 1, -1, 'a', \"bc\"\n.db 0xFF"), (Bytes{1, 0xFF, 'a', 'b', 'c', 0xFF}));
    EXPECT_EQ(code(".word 0x1234, -1\n.dw 5"), (Bytes{0x12, 0x34, 0xFF, 0xFF, 0x00, 0x05}));
    EXPECT_EQ(code(".ascii \"A\\tB\"\n.asciz \"C\"\n.string \"\""), (Bytes{'A', '\t', 'B', 'C', 0, 0}));
    EXPECT_EQ(code(".ascii \"\\\"\\\\\\0\""), (Bytes{'"', '\\', 0}));
    EXPECT_EQ(code(".fill 3, 0xAA\n.fill 2"), (Bytes{0xAA, 0xAA, 0xAA, 0, 0}));
}

TEST(AsmDirectives, ReserveAndAlignSkipOrFill) {
    EXPECT_EQ(code(".byte 1\n.res 2\n.byte 2"), (Bytes{1, 0, 0, 2}));
    // Reserved bytes at the end are not written, so they do not lengthen the image.
    EXPECT_EQ(bytes_of(".byte 1\n.res 100").size(), 1u);
    EXPECT_EQ(code(".byte 1\n.align 4\n.byte 2\n.align 4, 0xEE\n.byte 3\n.align 4\n.align 1, 7"),
              (Bytes{1, 0, 0, 0, 2, 0xEE, 0xEE, 0xEE, 3}));
}

TEST(AsmDirectives, VectorsAndStartGoToTheirFixedPlaces) {
    Bytes image = bytes_of(".start\nmain: HALT\nirq: RETI\n.vector 0, irq\n.vector 15, main\n");
    ASSERT_EQ(image.size(), 0x102u);
    EXPECT_EQ(image[0x100], 0xFF);
    EXPECT_EQ(image[0], 0x01);
    EXPECT_EQ(image[1], 0x01);
    EXPECT_EQ(image[30], 0x01);
    EXPECT_EQ(image[31], 0x00);
    // .vector does not move the current address, even inside a bank.
    Bytes banked = bytes_of(".bank 3\n.vector 1, here\nhere: NOP");
    EXPECT_EQ(banked[2], 0x40);
    EXPECT_EQ(banked[3], 0x00);
    EXPECT_EQ(banked[3 * 0x4000], 0x00);
    EXPECT_EQ(banked.size(), 3u * 0x4000 + 1);
}

TEST(AsmDirectives, ImageIsAsLongAsTheHighestByteWithZeroGaps) {
    Bytes image = bytes_of(".org 0x10\n.byte 7\n.org 0x4\n.byte 9");
    ASSERT_EQ(image.size(), 0x11u);
    EXPECT_EQ(image[0x4], 9);
    EXPECT_EQ(image[0x10], 7);
    EXPECT_EQ(image[0x5], 0);
    EXPECT_TRUE(bytes_of("; nothing\nX = 1\n").empty());
}

TEST(AsmBanks, BankCodeSitsAtItsOffsetAndIsAddressedInTheBankedWindow) {
    Assembly a = assemble(".start\nCALL entry\nLD r0, bank(entry)\n.bank 2\nentry: RET\n.bank 5\n.org 0x7FFF\nlast: .byte 0x55");
    ASSERT_TRUE(Assembly_ok(a));
    EXPECT_EQ(symbol(a, "entry"), 0x4000);
    EXPECT_EQ(symbol(a, "last"), 0x7FFF);
    ASSERT_EQ(a.image.size(), 6u * 0x4000);
    EXPECT_EQ(a.image[2 * 0x4000], 0x41);
    EXPECT_EQ(a.image[6 * 0x4000 - 1], 0x55);
    EXPECT_EQ((Bytes(a.image.begin() + 0x100, a.image.begin() + 0x106)), (Bytes{0x40, 0x40, 0x00, 0x10, 0x00, 0x02}));
}

TEST(AsmBanks, ReturningToABankContinuesWhereItLeftOff) {
    Bytes image = bytes_of(".bank 2\n.byte 1\n.bank 3\n.byte 2\n.bank 2\n.byte 3");
    EXPECT_EQ(image[0x8000], 1);
    EXPECT_EQ(image[0x8001], 3);
    EXPECT_EQ(image[0xC000], 2);
}

TEST(AsmBanks, BanksZeroAndOneAreTheHalvesOfTheFirst32K) {
    Assembly a = assemble(".bank 0\nlow: .byte 1\n.bank 1\nhigh: .byte 2\n.org 0x4000\n");
    ASSERT_TRUE(Assembly_ok(a));
    EXPECT_EQ(symbol(a, "low"), 0);
    EXPECT_EQ(symbol(a, "high"), 0x4000);
    EXPECT_EQ(a.image[0x4000], 2);
    // Before any .bank the first 32 KiB are one piece: code may run from 0x3FFF on into 0x4000.
    Bytes across = bytes_of(".org 0x3FFE\nLDW p0, 0x1234");
    EXPECT_EQ(across.size(), 0x4002u);
}

TEST(AsmIncludes, IncludeAndIncbinResolveRelativeToTheIncludingFile) {
    AsmOptions options = memory_files({
        {"lib/util.asm", "util: .include \"consts.asm\"\n LD r0, ANSWER\n"},
        {"lib/consts.asm", "ANSWER = 42\n"},
        {"data/blob.bin", std::string("\x01\x02\x03\x04", 4)},
    });
    Assembly a = Assembler_assemble_text("main.asm", ".include \"lib/util.asm\"\n.incbin \"data/blob.bin\", 1, 2\n.incbin \"data/blob.bin\"",
                                         options);
    ASSERT_TRUE(Assembly_ok(a)) << AsmDiagnostic_format(a.diagnostics[0]);
    EXPECT_EQ(a.image, (Bytes{0x10, 0x00, 42, 0x02, 0x03, 1, 2, 3, 4}));
    EXPECT_EQ(a.dependencies, (std::vector<std::string>{"main.asm", "lib/util.asm", "lib/consts.asm", "data/blob.bin"}));
}

TEST(AsmIncludes, IncludeDirectoriesAreSearchedAfterTheIncludingFilesDirectory) {
    AsmOptions options = memory_files({{"src/a.asm", ".byte 1\n"}, {"inc/a.asm", ".byte 2\n"}, {"inc/b.asm", ".byte 3\n"}});
    options.include_dirs = {"inc"};
    Assembly a = Assembler_assemble_text("src/main.asm", ".include \"a.asm\"\n.include \"b.asm\"", options);
    ASSERT_TRUE(Assembly_ok(a));
    EXPECT_EQ(a.image, (Bytes{1, 3}));
}

TEST(AsmIncludes, TheSameFileMayBeIncludedTwiceOutsideACycle) {
    AsmOptions options = memory_files({{"once.asm", ".byte 7\n"}});
    EXPECT_EQ(bytes_of(".include \"once.asm\"\n.include \"once.asm\"", options), (Bytes{7, 7}));
}

TEST(AsmDirectives, AssertPassesSilentlyOrReportsItsMessage) {
    EXPECT_EQ(code(".assert 1 + 1 == 2\n.byte 1"), (Bytes{1}));
    std::vector<std::string> errors = errors_of("X = 3\n  .assert X < 2, \"X too big\"");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "test.asm:2:3: error: X too big");
}

TEST(AsmOutputs, ListingShowsOffsetAddressBytesAndSource) {
    AsmOptions options = memory_files({});
    options.make_listing = true;
    Assembly a = Assembler_assemble_text("p.asm", ".bank 2\nstart: LDW p0, 0x1234 ; go\n.byte 1,2,3,4,5,6,7,8,9", options);
    ASSERT_TRUE(Assembly_ok(a));
    EXPECT_NE(a.listing.find("008000  4000  15 00 12 34" + std::string(21, ' ') + "2  start: LDW p0, 0x1234 ; go"), std::string::npos)
        << a.listing;
    EXPECT_NE(a.listing.find("008004  4004  01 02 03 04 05 06 07 08 ...     3  .byte 1,2,3,4,5,6,7,8,9"), std::string::npos) << a.listing;
}

TEST(AsmOutputs, SymbolFileIsSortedByValueAndReassembles) {
    Assembly a = assemble(".org 0x20\nb: NOP\na: NOP\n.x: NOP\nBIG = 0x12345\nNEG = -5");
    ASSERT_TRUE(Assembly_ok(a));
    std::string text = Assembly_format_symbols(a);
    EXPECT_EQ(text, "NEG = -5\nb = 0x0020\na = 0x0021\na.x = 0x0022\nBIG = 0x12345\n");
    Assembly again = assemble(text);
    EXPECT_TRUE(Assembly_ok(again));
    EXPECT_EQ(symbol(again, "a.x"), 0x22);
}

TEST(AsmOutputs, DepfileNamesEveryFileRead) {
    Assembly a;
    a.dependencies = {"main.asm", "dir with space/inc.asm"};
    EXPECT_EQ(Assembly_format_depfile(a, "out.rom"), "out.rom: \\\n  main.asm \\\n  dir\\ with\\ space/inc.asm\n");
}

} // namespace
