// The built lumacor-asm and lumacor-dis programs, run for real, and a ROM
// assembled at build time through lumacor_add_rom.
#include <gtest/gtest.h>

#include "process.h"

#include <filesystem>
#include <fstream>

namespace {

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(AsmTool, WritesTheImageAndItsSideFiles) {
    TempDir dir;
    write_text(dir.file("inc.asm"), "VALUE = 7\n");
    write_text(dir.file("main.asm"), ".include \"inc.asm\"\n.start\nmain: LD r0, VALUE\nHALT\n");
    ProcessResult r = Process_run({LUMACOR_ASM, dir.file("main.asm"), "-o", dir.file("out.rom"), "-l", dir.file("out.lst"), "-s",
                                   dir.file("out.sym"), "-d", dir.file("out.d")});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<unsigned char> rom = read_bytes(dir.file("out.rom"));
    ASSERT_EQ(rom.size(), 0x104u);
    EXPECT_EQ(std::vector<unsigned char>(rom.begin() + 0x100, rom.end()), (std::vector<unsigned char>{0x10, 0x00, 0x07, 0xFF}));
    EXPECT_NE(read_file(dir.file("out.lst")).find("000100  0100  10 00 07"), std::string::npos);
    EXPECT_EQ(read_file(dir.file("out.sym")), "VALUE = 0x0007\nmain = 0x0100\n");
    std::string deps = read_file(dir.file("out.d"));
    EXPECT_NE(deps.find(dir.file("inc.asm")), std::string::npos) << deps;
}

TEST(AsmTool, ErrorsGoToStandardErrorAndNoFileIsWritten) {
    TempDir dir;
    write_text(dir.file("bad.asm"), "NOP\n  FROB r0\nJMP nowhere\n");
    ProcessResult r = Process_run({LUMACOR_ASM, dir.file("bad.asm"), "-o", dir.file("out.rom"), "-s", dir.file("out.sym")});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir.file("bad.asm") + ":2:3: error: unknown mnemonic 'FROB'\n" + dir.file("bad.asm") +
                         ":3:5: error: undefined symbol 'nowhere'\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.rom")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.sym")));
}

TEST(AsmTool, MissingSourceAndBadArguments) {
    TempDir dir;
    ProcessResult missing = Process_run({LUMACOR_ASM, dir.file("none.asm"), "-o", dir.file("out.rom")});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("none.asm: error: cannot open source file"), std::string::npos) << missing.err;
    ProcessResult usage = Process_run({LUMACOR_ASM, dir.file("none.asm")});
    EXPECT_EQ(usage.exit_code, 1);
    EXPECT_NE(usage.err.find("usage:"), std::string::npos);
}

TEST(DisTool, OutputAssemblesBackToTheSameImage) {
    TempDir dir;
    std::vector<unsigned char> image(0x9003);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + i / 3);
    write_bytes(dir.file("in.rom"), image);
    ProcessResult dis = Process_run({LUMACOR_DIS, dir.file("in.rom"), "-o", dir.file("back.asm")});
    ASSERT_EQ(dis.exit_code, 0) << dis.err;
    ProcessResult as = Process_run({LUMACOR_ASM, dir.file("back.asm"), "-o", dir.file("back.rom")});
    ASSERT_EQ(as.exit_code, 0) << as.err;
    EXPECT_EQ(read_bytes(dir.file("back.rom")), image);
    ProcessResult to_stdout = Process_run({LUMACOR_DIS, dir.file("in.rom"), "--bank", "2", "--start", "0x100"});
    EXPECT_EQ(to_stdout.exit_code, 0);
    EXPECT_NE(to_stdout.out.find(".bank 2\n"), std::string::npos);
}

TEST(RomBuild, LumacorAddRomAssemblesWithIncludesAtBuildTime) {
    std::vector<unsigned char> rom = read_bytes(BUILT_TEST_ROM);
    ASSERT_EQ(rom.size(), 0x104u);
    EXPECT_EQ(rom[0], 0x01);
    EXPECT_EQ(rom[1], 0x03);
    EXPECT_EQ(std::vector<unsigned char>(rom.begin() + 0x100, rom.end()), (std::vector<unsigned char>{0x82, 0x80, 0x00, 0x42}));
}

} // namespace
