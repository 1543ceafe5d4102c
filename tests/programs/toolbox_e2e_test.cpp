// The shipped hardware include, -g and --debug, run through the built tools.
#include <gtest/gtest.h>

#include "apu/apu.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "controller/controller.h"
#include "dma/dma.h"
#include "gpu/gpu.h"
#include "process.h"

namespace {

TEST(AsmToolbox, HardwareIncludeIsFoundBesideTheAssemblerAndMatchesTheMachine) {
    TempDir dir;
    write_text(dir.file("hw.asm"), ".include \"lumacor.inc\"\n.start\nHALT\n");
    ProcessResult r =
        Process_run({LUMACOR_ASM, dir.file("hw.asm"), "-o", dir.file("hw.rom"), "-s", dir.file("hw.sym")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string symbols = read_file(dir.file("hw.sym"));
    const std::pair<const char*, int> names[] = {
        {"START_ADDRESS", START_ADDRESS},
        {"BANK_SELECT", ROM_LAST + 1 - BANK_SIZE},
        {"RAM_FIRST", RAM_FIRST},
        {"SAVE_LAST", STORAGE_LAST},
        {"VRAM_TILE_MAP", GPU_FIRST + VRAM_TILE_MAP},
        {"VRAM_PALETTE", GPU_FIRST + VRAM_PALETTE},
        {"SPRITE_SIZE", 5},
        {"CELL_SIZE", 3},
        {"DMA_LENGTH", DMA_FIRST + 4},
        {"DMA_CONTROL", DMA_FIRST + DMA_CONTROL},
        {"APU_NOTE", APU_FIRST + 1},
        {"PAD2_BUTTONS", CONTROLLER_LAST},
        {"PAD_BACK", PAD_BACK},
        {"TEST_PORT", TEST_PORT},
    };
    for (auto [name, value] : names) {
        char line[64];
        std::snprintf(line, sizeof line, "\n%s = 0x%04X\n", name, value);
        EXPECT_NE(("\n" + symbols).find(line), std::string::npos) << line << symbols;
    }
}

TEST(AsmToolbox, WarningsDebugInfoAndTheDisassemblerReadingIt) {
    TempDir dir;
    write_text(dir.file("w.asm"), ".start\nmain: LD r0, [p0]\nJMP main\n");
    ProcessResult as =
        Process_run({LUMACOR_ASM, dir.file("w.asm"), "-o", dir.file("w.rom"), "-g", dir.file("w.dbg")});
    EXPECT_EQ(as.exit_code, 0);
    EXPECT_EQ(as.err.rfind(dir.file("w.asm") + ":2:10: warning: r0 is part of p0", 0), 0u) << as.err;
    EXPECT_NE(read_file(dir.file("w.dbg")).find("\ninsn 0 0100 0 2 7 3\n"), std::string::npos);
    ProcessResult dis = Process_run({LUMACOR_DIS, dir.file("w.rom"), "--debug", dir.file("w.dbg")});
    EXPECT_EQ(dis.exit_code, 0) << dis.err;
    EXPECT_NE(dis.out.find("main:\n        LD r0, [p0]"), std::string::npos) << dis.out;
    EXPECT_NE(dis.out.find("JMP main "), std::string::npos) << dis.out;
    write_text(dir.file("bad.dbg"), "lumacor-dbg 9\n");
    ProcessResult bad = Process_run({LUMACOR_DIS, dir.file("w.rom"), "--debug", dir.file("bad.dbg")});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_EQ(bad.err, dir.file("bad.dbg") + ": error: line 1: not lumacor debug information of version 1\n");
}

} // namespace
