// The headless runner's library in this process: scripted presses, how a run
// ends, the trace line and the press syntax of the command line.
#include <gtest/gtest.h>

#include "assembled_machine.h"
#include "headless.h"
#include "wav.h"

#include <cmath>

namespace {

struct Headless : AssembledMachine {
    std::vector<uint8_t> picture = std::vector<uint8_t>(FRAME_BYTES);

    explicit Headless(const std::string& source) : AssembledMachine(source) {}
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

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// What readers do not check for themselves: the sizes agree with the file,
// whatever the number of samples, and the fact chunk counts the samples.
TEST(Wav, ChunkSizesAndSampleValues) {
    for (size_t count : {0, 3})
        for (WavFormat format : {WavFormat::Float32, WavFormat::Int16}) {
            std::vector<uint8_t> b;
            ASSERT_TRUE(Wav_encode(std::vector<float>(count, 0.25f), 48000, format, &b));
            size_t data = format == WavFormat::Float32 ? 50 : 36;
            EXPECT_EQ(le32(b, 4), b.size() - 8);
            EXPECT_EQ(le32(b, data + 4), b.size() - data - 8) << "data size";
            if (format == WavFormat::Int16) continue;
            EXPECT_EQ(le32(b, 46), count) << "sample frames";
        }
    // 16-bit samples: rounded, clipped at full scale, silence for what is not a number.
    const std::vector<std::pair<float, int16_t>> cases{{1.0f, 32767},   {-1.0f, -32767}, {0.5f, 16384},
                                                       {-7.0f, -32767}, {NAN, 0},        {1e-6f, 0}};
    std::vector<float> samples;
    for (auto [sample, _] : cases) samples.push_back(sample);
    std::vector<uint8_t> file;
    ASSERT_TRUE(Wav_encode(samples, 48000, WavFormat::Int16, &file));
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(static_cast<int16_t>(file[44 + 2 * i] | file[45 + 2 * i] << 8), cases[i].second)
            << cases[i].first;
}

} // namespace
