// The headless runner's library in this process: scripted presses, how a run
// ends, the trace line and the press syntax of the command line.
#include <gtest/gtest.h>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "headless.h"

namespace {

struct Headless {
    Computer computer{};
    Cartridge cartridge{};
    std::vector<uint8_t> picture = std::vector<uint8_t>(FRAME_BYTES);

    explicit Headless(const std::string& source) {
        Assembly assembly = Assembler_assemble_text("test.asm", source);
        EXPECT_TRUE(Assembly_ok(assembly));
        Log_set_sink([](void*, bool, const char*) {}, nullptr);
        EXPECT_TRUE(Computer_init(&computer));
        EXPECT_TRUE(Cartridge_init_image(&cartridge, assembly.image));
        Computer_attach_cartridge(&computer, &cartridge);
    }
    ~Headless() {
        Computer_detach_cartridge(&computer);
        Cartridge_free_image(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }
    HeadlessResult run(int64_t frames, std::vector<HeadlessPress> presses = {}) {
        HeadlessOptions options;
        options.frame_limit = frames;
        options.presses = std::move(presses);
        return Headless_run(&computer, options, picture.data());
    }
    uint8_t peek(uint16_t address) { return Bus_read(&computer.bus, address); }
};

TEST(Runner, PressesHoldFromTheirFrameUntilTheNextForTheSamePad) {
    // The handler of the interrupt raised after frame n - 1 runs in frame n,
    // after that frame's presses, and stores pad 1's byte at 0xA000 + n - 1;
    // the second one also writes 0x99 into that byte itself (r9 is p8's low byte).
    Headless r(".vector 0, frame\n.start\n LDW p8, 0xA000\n EI\nloop: JMP loop\n"
               "frame: LDW p0, 0xFF0A\n LD r2, [p0]\n ST [p8], r2\n INCW p8\n CMP r9, 2\n JNZ done\n ST "
               "[p0], 0x99\ndone: RETI\n");
    HeadlessResult result = r.run(7, {{4, 0, 0}, {1, 0, PAD_A}, {5, 0, PAD_UP | PAD_X}, {5, 1, PAD_START}});
    EXPECT_EQ(result.end, HeadlessEnd::FrameLimit);
    EXPECT_EQ(result.frames, 7);
    const uint8_t seen[] = {0x40, 0x40, 0x99, 0x00, 0x81, 0x81, 0x00}; // the last interrupt is never served
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(r.peek(static_cast<uint16_t>(0xA000 + i)), seen[i]) << "frame " << i + 1;
    EXPECT_EQ(r.peek(0xFF0B), PAD_START);
}

TEST(Runner, HaltAndIllegalOpcodesEndTheRunInTheirFrame) {
    Headless halt(".vector 0, frame\n.start\n EI\nloop: JMP loop\nframe: INC r6\n CMP r6, 3\n JZ stop\n "
                  "RETI\nstop: HALT\n");
    HeadlessResult result = halt.run(100);
    EXPECT_EQ(result.end, HeadlessEnd::Stopped);
    EXPECT_EQ(result.frames, 4);
    Headless illegal(".start\n NOP\n .byte 0x71\n");
    EXPECT_EQ(illegal.run(100).end, HeadlessEnd::IllegalOpcode);
}

TEST(Runner, TraceLineShowsAddressBytesDisassemblyRegistersAndFlags) {
    Headless r(".start\n LDW p2, 0x1234\n .byte 0x71, 0x10, 0x00\n");
    CPU* cpu = &r.computer.cpu;
    Computer_start(&r.computer);
    CPU_regs(cpu)[0] = 0xAB;
    CPU_regs(cpu)[FLAGS] = FLAG_C | 0x01;
    EXPECT_EQ(Headless_trace_line(cpu), "0100  15 02 12 34  LDW p2, 0x1234           AB 00 00 00 00 00 00 00 "
                                        "00 00 00 41 01 00 FF FF  Z=0 C=1");
    CPU_step(cpu);
    CPU_regs(cpu)[FLAGS] = FLAG_Z;
    EXPECT_EQ(Headless_trace_line(cpu), "0104  71           .byte 0x71               AB 00 12 34 00 00 00 00 "
                                        "00 00 00 80 01 04 FF FF  Z=1 C=0");
}

TEST(Runner, PressSyntax) {
    const std::pair<const char*, HeadlessPress> good[] = {
        {"0:none", {0, 0, 0}},
        {"12:up+down+left+right+start", {12, 0, PAD_UP | PAD_DOWN | PAD_LEFT | PAD_RIGHT | PAD_START}},
        {"5:2/back+a+x", {5, 1, PAD_BACK | PAD_A | PAD_X}},
        {"5:1/a", {5, 0, PAD_A}},
    };
    for (auto& [text, expected] : good) {
        HeadlessPress press{-1, -1, 0xEE};
        std::string error;
        ASSERT_TRUE(Headless_parse_press(text, &press, &error)) << text << ": " << error;
        EXPECT_EQ(press.frame, expected.frame) << text;
        EXPECT_EQ(press.pad, expected.pad) << text;
        EXPECT_EQ(press.buttons, expected.buttons) << text;
    }
    for (const char* text :
         {"a", ":a", "x:a", "-1:a", "3:", "3:b", "3:a+", "3:A", "3:3/a", "3:0/a", "3:none+a"}) {
        HeadlessPress press{};
        std::string error;
        EXPECT_FALSE(Headless_parse_press(text, &press, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

} // namespace
