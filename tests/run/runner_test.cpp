// lumacor-run and lumacor end to end: how a run ends, scripted presses, the
// trace, the PNG picture and the self-test cartridge on both programs.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "assembler.h"
#include "gpu/gpu.h"
#include "process.h"

std::vector<uint8_t> RunTest_random_vram(uint32_t seed);
void RunTest_expect_png_matches_frame(const std::string& path, const std::vector<uint8_t>& frame);

namespace {

const std::string runner = LUMACOR_RUN_PATH;
const std::string window_program = LUMACOR_PATH;

std::string test_rom(const std::string& name) { return std::string(RUN_TEST_ROM_DIR) + "/" + name + ".rom"; }

// The ROM copied into its own directory, so its save file lands there.
std::string rom_in(const TempDir& dir, const std::string& source, const std::string& name = "game.rom") {
    std::string path = dir.file(name);
    write_bytes(path, read_bytes(source));
    return path;
}

ProcessResult run_runner(std::vector<std::string> args) {
    args.insert(args.begin(), runner);
    return Process_run(args);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// What a program told through the test port and the bank register.
std::vector<std::string> traffic(const std::string& out) {
    std::vector<std::string> kept;
    for (const std::string& line : lines_of(out))
        if (line.rfind("out[", 0) == 0 || line.rfind("in[", 0) == 0 || line.rfind("Bank switched", 0) == 0)
            kept.push_back(line);
    return kept;
}

TEST(RunnerEnding, HaltAndOutermostReturnExitZero) {
    for (const char* name : {"halt", "ret"}) {
        TempDir dir;
        ProcessResult result = run_runner({rom_in(dir, test_rom(name))});
        ASSERT_TRUE(result.exited) << name;
        EXPECT_EQ(result.exit_code, 0) << name << "\n" << result.err;
    }
}

TEST(RunnerEnding, FrameLimitExitsThreeAndStillWritesTheSave) {
    TempDir dir;
    std::string rom = rom_in(dir, test_rom("forever"));
    ProcessResult result = run_runner({rom, "--frames", "3"});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(result.out.find("Writing save to " + rom + ".sav\n"), std::string::npos) << result.out;
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(save[0], 0x5A);
}

TEST(RunnerEnding, DefaultFrameLimitAlsoEnds) {
    TempDir dir;
    ProcessResult result = run_runner({rom_in(dir, test_rom("forever"))});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 3);
}

TEST(RunnerEnding, IllegalOpcodeExitsFour) {
    TempDir dir;
    ProcessResult result = run_runner({rom_in(dir, test_rom("illegal"))});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_NE(result.err.find("Illegal opcode 0x71 at 0x0106"), std::string::npos) << result.err;
    EXPECT_EQ(traffic(result.out), std::vector<std::string>{"out[0x80] <- 0x11"});
}

TEST(RunnerEnding, UnreadableRomAndBadArgumentsExitTwo) {
    TempDir dir;
    std::string rom = rom_in(dir, test_rom("halt"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {dir.file("missing.rom")},
        {dir.path},
        {rom, "--frames"},
        {rom, "--frames", "ten"},
        {rom, "--frames", "-1"},
        {rom, "--press", "3:jump"},
        {rom, "--press"},
        {rom, "--screenshot"},
        {rom, "--fast"},
        {rom, rom},
    };
    for (const auto& args : cases) {
        ProcessResult result = run_runner(args);
        std::string shown = args.empty() ? "(no arguments)" : args.back();
        ASSERT_TRUE(result.exited) << shown;
        EXPECT_EQ(result.exit_code, 2) << shown;
        EXPECT_FALSE(result.err.empty()) << shown;
    }
}

TEST(RunnerPress, ButtonsReachTheControllerBytesFromTheirFrame) {
    TempDir dir;
    ProcessResult result = run_runner({rom_in(dir, test_rom("echo_pads")), "--frames", "5", "--press", "1:a+up",
                                       "--press", "2:2/x", "--press", "3:none", "--press", "4:start+back"});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 3);
    // The interrupt raised after frame k-1 reports at the start of frame k.
    const std::vector<std::string> expected = {
        "out[0x80] <- 0x41", "out[0x80] <- 0x0",  // frame 1
        "out[0x80] <- 0x41", "out[0x80] <- 0x80", // frame 2
        "out[0x80] <- 0x0",  "out[0x80] <- 0x80", // frame 3
        "out[0x80] <- 0x30", "out[0x80] <- 0x80", // frame 4
    };
    EXPECT_EQ(traffic(result.out), expected);
}

TEST(RunnerTrace, OneLinePerInstructionBeforeItRuns) {
    TempDir dir;
    ProcessResult result = run_runner({rom_in(dir, test_rom("trace")), "--trace"});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0);
    std::vector<std::string> trace;
    for (const std::string& line : lines_of(result.out))
        if (line.size() > 4 && line[4] == ' ' && line.find("Z=") != std::string::npos) trace.push_back(line);
    const std::vector<std::string> expected = {
        "0100  10 00 12     LD r0, 0x12              00 00 00 00 00 00 00 00 00 00 00 00 01 00 FF FF  Z=0 C=0",
        "0103  60 00 F0     ADD r0, 0xF0             12 00 00 00 00 00 00 00 00 00 00 00 01 03 FF FF  Z=0 C=0",
        "0106  FF           HALT                     02 00 00 00 00 00 00 00 00 00 00 40 01 06 FF FF  Z=0 C=1",
    };
    EXPECT_EQ(trace, expected);
}

TEST(RunnerScreenshot, PngIsTheComposedVideoMemory) {
    // The program copies a whole video memory image from ROM with one DMA
    // transfer and stops; the picture must be that image composed.
    Assembly assembly = Assembler_assemble_text("shot.asm", R"(
.start
        LDW   p0, 0xFF00
        LDW   p2, 0x1000
        STW   [p0], p2
        LDW   p0, 0xFF02
        LDW   p2, 0x8000
        STW   [p0], p2
        LDW   p0, 0xFF04
        LDW   p2, 0x2000
        STW   [p0], p2
        LDW   p0, 0xFF06
        ST    [p0], 1
        HALT
)");
    ASSERT_TRUE(Assembly_ok(assembly));
    std::vector<uint8_t> vram = RunTest_random_vram(2024);
    std::vector<unsigned char> image(assembly.image.begin(), assembly.image.end());
    image.resize(0x1000);
    image.insert(image.end(), vram.begin(), vram.end());

    TempDir dir;
    write_bytes(dir.file("shot.rom"), image);
    ProcessResult result = run_runner({dir.file("shot.rom"), "--screenshot", dir.file("shot.png")});
    ASSERT_TRUE(result.exited);
    ASSERT_EQ(result.exit_code, 0) << result.err;

    GPU gpu{vram.data(), 60};
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&gpu, frame.data());
    RunTest_expect_png_matches_frame(dir.file("shot.png"), frame);
}

TEST(RunnerScreenshot, UnwritablePictureIsReported) {
    TempDir dir;
    ProcessResult result =
        run_runner({rom_in(dir, test_rom("halt")), "--screenshot", dir.file("missing/shot.png")});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("missing/shot.png"), std::string::npos) << result.err;
}

const std::vector<std::string> selftest_passed = {
    "out[0x80] <- 0xE1", "in[0x80] -> 0xE1",     "out[0x80] <- 0xE2",    "in[0x80] -> 0xE2",
    "Bank switched to: 2", "Bank switched to: 1", "out[0x80] <- 0xF0",
};

TEST(SelfTest, PassesOnTheRunner) {
    TempDir dir;
    ProcessResult result = run_runner({rom_in(dir, SELFTEST_ROM_PATH), "--screenshot", dir.file("verdict.png")});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(traffic(result.out), selftest_passed);
    // A passing run ends all green.
    std::vector<uint8_t> green(FRAME_BYTES);
    for (size_t i = 0; i < green.size(); i += 4) {
        green[i] = 0x20;
        green[i + 1] = 0xC0;
        green[i + 2] = 0x20;
        green[i + 3] = 0xFF;
    }
    RunTest_expect_png_matches_frame(dir.file("verdict.png"), green);
}

ProcessResult run_window(const std::string& rom) {
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    return Process_run({window_program, rom}, options);
}

TEST(SelfTest, PassesInTheWindowProgram) {
    TempDir dir;
    ProcessResult result = run_window(rom_in(dir, SELFTEST_ROM_PATH));
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(traffic(result.out), selftest_passed);
}

} // namespace
