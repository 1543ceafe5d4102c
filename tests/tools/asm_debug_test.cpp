// Debug information, warnings, and the disassembler reading the debug
// information back.
#include <gtest/gtest.h>

#include "asm_util.h"
#include "cartridge/cartridge.h"
#include "disassembler.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string absolute(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

const std::map<std::string, std::string> include_file = {{"inc.asm", "VALUE = 7\ntick: RET\n"}};

// An include, code before any .bank on both sides of 0x4000, and a .bank.
const char* const banked_program = ".vector 0, frame\n"
                                   ".start\n"
                                   "main:   LD r0, VALUE\n"
                                   ".loop:  JNZ .loop\n"
                                   "frame:  RETI\n"
                                   "        .include \"inc.asm\"\n"
                                   "table:  .byte 0x10, 1, 0\n"
                                   ".org 0x4000\n"
                                   "high:   NOP\n"
                                   "LIMIT = -2\n"
                                   ".bank 2\n"
                                   "far:    CALL main.loop\n"
                                   "        JMP table\n";

Assembly assemble_with_debug_info(const std::string& text) {
    AsmOptions options = memory_files(include_file);
    options.make_debug_info = true;
    Assembly a = Assembler_assemble_text("test.asm", text, options);
    EXPECT_TRUE(Assembly_ok(a));
    return a;
}

TEST(AsmDebugInfo, RecordsEveryFileInstructionDataRunLabelAndConstant) {
    Assembly a = assemble_with_debug_info(banked_program);
    // The image record holds the cartridge's own checksum of the image.
    char image[40];
    std::snprintf(image, sizeof image, "image %08X %zu\n", Cartridge_crc32(a.image), a.image.size());
    EXPECT_EQ(a.debug_info, "lumacor-dbg 1\n" + std::string(image) + "file 0 " + absolute("test.asm") +
                                "\n"
                                "file 1 " +
                                absolute("inc.asm") +
                                "\n"
                                "data 0 0000 2\n"
                                "insn 0 0100 0 3 9 3\n"
                                "insn 0 0103 0 4 9 3\n"
                                "insn 0 0106 0 5 9 1\n"
                                "insn 0 0107 1 2 7 1\n"
                                "data 0 0108 3\n"
                                "insn 1 4000 0 9 9 1\n"
                                "insn 2 4000 0 12 9 3\n"
                                "insn 2 4003 0 13 9 3\n"
                                "label main 0100 0\n"
                                "label main.loop 0103 0\n"
                                "label frame 0106 0\n"
                                "const VALUE 7\n"
                                "label tick 0107 0\n"
                                "label table 0108 0\n"
                                "label high 4000 1\n"
                                "const LIMIT -2\n"
                                "label far 4000 2\n");
}

TEST(AsmDebugInfo, OnlyWhenAskedFor) {
    Assembly a = assemble(".start\nNOP");
    EXPECT_EQ(a.debug_info, "");
}

struct WarningCase {
    const char* program;
    const char* first; // the first warning's start; null: no warning
    size_t count = 1;
};

TEST(AsmWarnings, ProbableMistakesWarnButAssemble) {
    const WarningCase cases[] = {
        {".start\n  LD r0, [p0]", "test.asm:2:6: warning: r0 is part of p0 (r0:r1)"},
        {".start\nLD r1, [p0]", "test.asm:2:4: warning: r1 is part of p0"},
        {".start\nLD r16, [p15]", "test.asm:2:4: warning: r16 is part of p15 (r15:r16)"},
        {".start\nLD r2, [p0]", nullptr},
        {".start\nLD r0, [p1]", nullptr},
        {".start\nJMP 0xA000", "test.asm:2:5: warning: JMP to 0xA000 in RAM"},
        {".start\nCALL 0xDFFF", "test.asm:2:6: warning: CALL to 0xDFFF in RAM"},
        {".start\nJZ -0x6000", "test.asm:2:4: warning: JZ to 0xA000 in RAM"},
        {".start\nJMP 0x9FFF\nJNC 0xE000\nPUSH 0xA000", nullptr},
        {"NOP", "test.asm:1:1: warning: no .start, and nothing placed at the start address 0x0100"},
        {"", "test.asm:1:1: warning: no .start"},
        {".org 0x0100\nNOP", nullptr},
        {".start", nullptr},
        {"JMP 0xA000", "test.asm:1:1: warning: no .start", 2}, // in source order
    };
    for (const WarningCase& c : cases) {
        Assembly a = assemble(c.program);
        EXPECT_TRUE(Assembly_ok(a)) << c.program;
        if (!c.first) {
            EXPECT_TRUE(a.warnings.empty()) << c.program << "\n" << AsmDiagnostic_format(a.warnings[0]);
            continue;
        }
        ASSERT_EQ(a.warnings.size(), c.count) << c.program;
        EXPECT_EQ(AsmDiagnostic_format(a.warnings[0]).rfind(c.first, 0), 0u)
            << AsmDiagnostic_format(a.warnings[0]);
    }
}

DisDebugInfo parsed(const std::string& text) {
    DisDebugInfo info;
    std::string error;
    EXPECT_TRUE(DisDebugInfo_parse(text, &info, &error)) << error;
    return info;
}

TEST(DisDebugInfo, LabelsNameAddressesAndDataStaysData) {
    Assembly a = assemble_with_debug_info(banked_program);
    DisDebugInfo info = parsed(a.debug_info);
    DisOptions options;
    options.debug = &info;
    std::string source = Disassembler_disassemble_image(a.image, options);
    for (const char* expected : {".word frame             ; 0000: 01 06  vector 0\n",
                                 "main.loop:\n        JNZ main.loop           ; 0103: 34 01 03\n",
                                 "table:\n        .byte 0x10, 0x01, 0x00  ; 0108:\n",
                                 "high:\n        NOP                     ; 4000: 00\n",
                                 "far:\n        CALL main.loop          ; 02:4000: 40 01 03\n",
                                 "        JMP table               ; 02:4003: 30 01 08\n"})
        EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
    // The same image read without the debug information shows that data as code.
    EXPECT_NE(Disassembler_disassemble_image(a.image).find("LD r1, 0x00"), std::string::npos);
    Assembly back = assemble(source);
    ASSERT_TRUE(Assembly_ok(back)) << source;
    EXPECT_EQ(back.image, a.image);
}

TEST(DisDebugInfo, MalformedFilesAreRefusedWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "line 1: not lumacor debug information of version 1"},
        {"lumacor-dbg 2\n", "line 1: not lumacor debug information of version 1"},
        {"lumacor-dbg 1\ninsn 0 01G0 0 1 1 3\n", "line 2: malformed insn record"},
        {"lumacor-dbg 1\nfile 0 /a b\ndata 0 0100\n", "line 3: malformed data record"},
        {"lumacor-dbg 1\nlabel x 0100 0 9\n", "line 2: malformed label record"},
    };
    for (auto [text, reason] : cases) {
        DisDebugInfo info;
        std::string error;
        EXPECT_FALSE(DisDebugInfo_parse(text, &info, &error)) << text;
        EXPECT_EQ(error, reason) << text;
    }
    DisDebugInfo info = parsed("lumacor-dbg 1\r\nconst X -3\nfuture 1 2\nlabel x 01AB 3\n");
    ASSERT_EQ(info.labels.size(), 1u);
    EXPECT_EQ(info.labels[0].address, 0x01AB);
    EXPECT_EQ(info.labels[0].bank, 3);
}

} // namespace
