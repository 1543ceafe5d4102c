// The headless runner's library in process: scripted presses, the frame
// sequence and how a run ends, trace lines, and PNG pictures of the frame.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "headless.h"
#include "process.h"
#include "screenshot/screenshot.h"

namespace {

// A machine with a cartridge whose image is assembled from `source`; the
// image lives in the fixture, so the cartridge is never freed.
struct HeadlessMachine : ::testing::Test {
    Computer computer{};
    Cartridge cartridge{};
    std::vector<uint8_t> image;
    std::vector<uint8_t> picture = std::vector<uint8_t>(FRAME_BYTES);

    void load(const std::string& source) {
        Assembly assembly = Assembler_assemble_text("test.asm", source);
        ASSERT_TRUE(Assembly_ok(assembly)) << AsmDiagnostic_format(assembly.diagnostics.front());
        image = assembly.image;
        cartridge.image = image.data();
        cartridge.image_size = image.size();
        cartridge.bank = 1;
        ASSERT_TRUE(Computer_init(&computer));
        Computer_attach_cartridge(&computer, &cartridge);
    }
    void TearDown() override {
        Computer_detach_cartridge(&computer);
        Computer_free(&computer);
    }
    uint8_t peek(uint16_t address) { return Bus_read(&computer.bus, address); }
    HeadlessResult run(const HeadlessOptions& options) {
        return Headless_run(&computer, options, picture.data());
    }
};

// Counts frames in r6 at each frame interrupt and stops in frame `stop_frame`.
std::string counting_program(int stop_frame) {
    return ".vector 0, frame\n.start\n EI\nloop: JMP loop\n"
           "frame: INC r6\n CMP r6, " +
           std::to_string(stop_frame) + "\n JZ stop\n RETI\nstop: HALT\n";
}

TEST_F(HeadlessMachine, HaltEndsTheRunInTheFrameItRunsIn) {
    load(counting_program(3));
    HeadlessResult result = run({});
    EXPECT_EQ(result.end, HeadlessEnd::Stopped);
    // Interrupt k runs at the start of frame k, so the third one is in frame 3.
    EXPECT_EQ(result.frames, 4);
}

TEST_F(HeadlessMachine, FrameLimitEndsARunThatDoesNotStop) {
    load(counting_program(100));
    HeadlessOptions options;
    options.frame_limit = 7;
    HeadlessResult result = run(options);
    EXPECT_EQ(result.end, HeadlessEnd::FrameLimit);
    EXPECT_EQ(result.frames, 7);
    EXPECT_EQ(CPU_regs(&computer.cpu)[6], 6) << "one interrupt after each frame but the last";
}

TEST_F(HeadlessMachine, IllegalOpcodeIsItsOwnEnding) {
    load(".start\n NOP\n .byte 0x71\n HALT\n");
    HeadlessResult result = run({});
    EXPECT_EQ(result.end, HeadlessEnd::IllegalOpcode);
    EXPECT_EQ(result.frames, 1);
}

TEST_F(HeadlessMachine, EveryFrameRunsTheFullBudget) {
    // Rounds of a two-instruction loop between interrupts go to RAM.
    load(".vector 0, frame\n.start\n LDW p8, 0xA000\n EI\nloop: INCW p4\n JMP loop\n"
         "frame: STW [p8], p4\n ADDW p8, 2\n LDW p4, 0\n RETI\n");
    HeadlessOptions options;
    options.frame_limit = 4;
    run(options);
    // A full frame is 16,666 instructions: the handler's 4 and 8331 rounds.
    for (uint16_t at = 0xA002; at <= 0xA004; at += 2)
        EXPECT_EQ(peek(at) << 8 | peek(static_cast<uint16_t>(at + 1)), 8331) << std::hex << at;
}

TEST_F(HeadlessMachine, PressesHoldFromTheirFrameAndLeaveProgramWritesAlone) {
    // At each interrupt the handler stores pad 0 at 0xA000 + n; the second
    // handler also writes 0x99 to pad 0 itself.
    load(".vector 0, frame\n.start\n LDW p8, 0xA000\n EI\nloop: JMP loop\n"
         "frame: LDW p0, 0xFF0A\n LD r2, [p0]\n ST [p8], r2\n INCW p8\n"
         " CMP r9, 2\n JNZ done\n ST [p0], 0x99\ndone: RETI\n");
    HeadlessOptions options;
    options.frame_limit = 7;
    options.presses = {{4, 0, 0}, {1, 0, PAD_A}, {5, 0, PAD_UP | PAD_X}, {5, 1, PAD_START}};
    run(options);
    // Interrupt k runs in frame k, after that frame's presses.
    const uint8_t seen[] = {0x40, 0x40, 0x99, 0x00, 0x81, 0x81};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(peek(static_cast<uint16_t>(0xA000 + i)), seen[i]) << "frame " << i + 1;
    EXPECT_EQ(peek(0xFF0B), PAD_START);
}

TEST_F(HeadlessMachine, PictureIsTheLastComposedFrame) {
    // Tile 0 solid in palette entry 0; red is written in the frame that halts.
    load(".start\n LDW p0, 0x8800\n LD r2, 8\nrows: ST [p0], 0xFF\n INCW p0\n DEC r2\n JNZ rows\n"
         " LDW p0, 0x99C8\n ST [p0], 0x00\n INCW p0\n ST [p0], 0x00\n INCW p0\n ST [p0], 0xFF\n HALT\n");
    run({});
    for (size_t texel : {size_t{0}, size_t{256 * 100 + 17}, size_t{FRAME_BYTES / 4 - 1}}) {
        EXPECT_EQ(picture[texel * 4 + 0], 0x00);
        EXPECT_EQ(picture[texel * 4 + 2], 0xFF);
        EXPECT_EQ(picture[texel * 4 + 3], 0xFF);
    }
}

TEST_F(HeadlessMachine, TraceLineShowsAddressBytesDisassemblyRegistersAndFlags) {
    load(".start\n LDW p2, 0x1234\n");
    CPU* cpu = &computer.cpu;
    CPU_set_pc(cpu, 0x0100);
    CPU_start(cpu);
    CPU_regs(cpu)[0] = 0xAB;
    CPU_regs(cpu)[FLAGS] = FLAG_C | 0x01;
    EXPECT_EQ(Headless_trace_line(cpu),
              "0100  15 02 12 34  LDW p2, 0x1234           AB 00 00 00 00 00 00 00 00 00 00 41 01 00 FF FF  Z=0 C=1");
    CPU_step(cpu);
    CPU_regs(cpu)[FLAGS] = FLAG_Z;
    // Past the image the ROM reads 0: a NOP.
    EXPECT_EQ(Headless_trace_line(cpu),
              "0104  00           NOP                      AB 00 12 34 00 00 00 00 00 00 00 80 01 04 FF FF  Z=1 C=0");
}

TEST_F(HeadlessMachine, TraceLineOfANonInstructionShowsOneByte) {
    load(".start\n .byte 0x71, 0x10, 0x00\n");
    CPU_set_pc(&computer.cpu, 0x0100);
    std::string line = Headless_trace_line(&computer.cpu);
    EXPECT_EQ(line.rfind("0100  71" + std::string(11, ' ') + ".byte 0x71 ", 0), 0u) << line;
}

TEST(PressParsing, AcceptsFramesButtonsAndTheSecondPad) {
    struct Case {
        const char* text;
        int64_t frame;
        int pad;
        uint8_t buttons;
    };
    const Case cases[] = {
        {"0:none", 0, 0, 0},
        {"12:a", 12, 0, PAD_A},
        {"3:up+down+left+right", 3, 0, PAD_UP | PAD_DOWN | PAD_LEFT | PAD_RIGHT},
        {"7:start+back+a+x", 7, 0, PAD_START | PAD_BACK | PAD_A | PAD_X},
        {"5:2/x", 5, 1, PAD_X},
        {"5:1/start", 5, 0, PAD_START},
        {"100000:2/none", 100000, 1, 0},
    };
    for (const Case& c : cases) {
        HeadlessPress press{-1, -1, 0xEE};
        std::string error;
        ASSERT_TRUE(Headless_parse_press(c.text, &press, &error)) << c.text << ": " << error;
        EXPECT_EQ(press.frame, c.frame) << c.text;
        EXPECT_EQ(press.pad, c.pad) << c.text;
        EXPECT_EQ(press.buttons, c.buttons) << c.text;
    }
}

TEST(PressParsing, RejectsMalformedPresses) {
    for (const char* text : {"a", ":a", "x:a", "-1:a", "3:", "3:b", "3:a+", "3:A", "3:3/a", "3:0/a", "3:a,x",
                             "3:none+a"}) {
        HeadlessPress press{};
        std::string error;
        EXPECT_FALSE(Headless_parse_press(text, &press, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// Decodes a PNG into 8-bit RGB.
bool decode_png(const std::string& path, std::vector<uint8_t>* rgb, uint32_t* width, uint32_t* height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb->resize(PNG_IMAGE_SIZE(image));
    *width = image.width;
    *height = image.height;
    bool ok = png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

// Video memory full of random patterns, cells, sprites and colours.
std::vector<uint8_t> random_vram(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> vram(VRAM_SIZE);
    for (uint8_t& byte : vram) byte = static_cast<uint8_t>(random());
    return vram;
}

void expect_png_matches_frame(const std::string& path, const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(decode_png(path, &rgb, &width, &height)) << path;
    ASSERT_EQ(width, static_cast<uint32_t>(FRAME_WIDTH));
    ASSERT_EQ(height, static_cast<uint32_t>(FRAME_HEIGHT));
    int mismatches = 0;
    for (size_t texel = 0; texel < static_cast<size_t>(FRAME_WIDTH * FRAME_HEIGHT); ++texel) {
        const uint8_t* bgra = &frame[texel * 4];
        // Texels that nothing drew are stored black.
        uint8_t r = bgra[3] ? bgra[2] : 0, g = bgra[3] ? bgra[1] : 0, b = bgra[3] ? bgra[0] : 0;
        if (rgb[texel * 3] != r || rgb[texel * 3 + 1] != g || rgb[texel * 3 + 2] != b) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Screenshot, PngHoldsTheComposedFrame) {
    std::vector<uint8_t> vram = random_vram(7);
    GPU gpu{vram.data(), 60};
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&gpu, frame.data());
    TempDir dir;
    ASSERT_TRUE(Screenshot_write_png(dir.file("frame.png").c_str(), frame.data()));
    expect_png_matches_frame(dir.file("frame.png"), frame);
}

TEST(Screenshot, NumberedShotsNeverOverwrite) {
    std::vector<uint8_t> frame(FRAME_BYTES, 0x80);
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom + ".shot-0002.png", {'k', 'e', 'e', 'p'});
    EXPECT_EQ(Screenshot_save_next(rom.c_str(), frame.data()), rom + ".shot-0001.png");
    EXPECT_EQ(Screenshot_save_next(rom.c_str(), frame.data()), rom + ".shot-0003.png");
    EXPECT_EQ(read_file(rom + ".shot-0002.png"), "keep");
    expect_png_matches_frame(rom + ".shot-0003.png", frame);
}

TEST(Screenshot, UnwritablePlaceFails) {
    std::vector<uint8_t> frame(FRAME_BYTES);
    TempDir dir;
    EXPECT_FALSE(Screenshot_write_png(dir.file("missing/frame.png").c_str(), frame.data()));
    EXPECT_EQ(Screenshot_save_next(dir.file("missing/game.rom").c_str(), frame.data()), "");
}

} // namespace

// Shared with the end-to-end tests.
std::vector<uint8_t> RunTest_random_vram(uint32_t seed) { return random_vram(seed); }
void RunTest_expect_png_matches_frame(const std::string& path, const std::vector<uint8_t>& frame) {
    expect_png_matches_frame(path, frame);
}
