// Programs that do what no sane program does: stack floods, jumps into
// unmapped memory, noise in every video and device byte, every note value,
// sprites at every position. Each runs through the built programs (under the
// sanitizer build that catches any access outside a buffer) and must end the
// way the machine defines, never with a crash; the composer and the
// synthesiser are also driven directly at their edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "gpu/gpu.h"
#include "robustness_util.h"

namespace {

constexpr int RUN_STOPPED = 0;
constexpr int RUN_ILLEGAL_OPCODE = 4;

ProcessResult run_headless(const std::string& rom, int frames) {
    return Process_run({LUMACOR_RUN_BIN, test_rom(rom), "--frames", std::to_string(frames)});
}

TEST(HostileProgram, StackFloodWrapsInsideItsPage) {
    ProcessResult result = run_headless("stack_flood", 60);
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, RUN_STOPPED) << result.err;
    // 300 pushes and 300 pops balance; 300 nested calls overwrite the
    // outermost return address (the page holds 128 words), so the unwinding
    // ends with a return from the outermost level instead of reaching 0xA5.
    EXPECT_EQ(test_port_values(result.out), std::vector<int>{0x5A});
}

TEST(HostileProgram, JumpIntoUnmappedMemoryRunsOnUntilAnIllegalOpcode) {
    ProcessResult result = run_headless("wild_jump", 120);
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, RUN_ILLEGAL_OPCODE);
    EXPECT_NE(result.err.find("Illegal opcode 0x"), std::string::npos) << result.err;
}

TEST(HostileProgram, NoiseInEveryVideoAndDeviceByte) {
    TempDir dir;
    std::string rom = dir.file("noise.rom");
    copy_test_rom("noise", rom);
    ProcessResult result = Process_run({LUMACOR_BIN, rom}, dummy_drivers());
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("Writing save to"), std::string::npos) << "ran to its end";
}

TEST(HostileProgram, EveryNoteValuePlaysSoundOrSilenceNeverGarbage) {
    TempDir dir;
    std::string rom = dir.file("notes.rom");
    copy_test_rom("notes", rom);
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"},
                   {"SDL_AUDIODRIVER", "disk"},
                   {"SDL_DISKAUDIOFILE", dir.file("stream.raw")}};
    ProcessResult result = Process_run({LUMACOR_BIN, rom}, options);
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::vector<unsigned char> bytes = read_bytes(dir.file("stream.raw"));
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    ASSERT_GE(samples.size(), 1024u);
    for (float s : samples) ASSERT_TRUE(std::isfinite(s) && std::fabs(s) <= 1.0f) << s;
}

TEST(HostileProgram, SpritesAtEveryPosition) {
    // The program stops itself after the last of the 65,536 positions.
    ProcessResult result = run_headless("sprites", 2000);
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, RUN_STOPPED) << result.err;
}

class MachineEdges : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(APU_init_tables()); }
    void TearDown() override { APU_free_tables(); }
};

TEST_F(MachineEdges, RenderingAnyNoteWaveformAndRateStaysInRange) {
    for (int32_t rate : {8000, 44100, 48000, 192000}) {
        for (int waveform = 0; waveform < 256; waveform += 85) { // 0, 85, 170, 255: all four after masking
            for (int note = 0; note < 256; ++note) {
                APU apu;
                APU_init(&apu);
                apu.sample_rate.store(rate);
                APU_write(&apu, APU_FIRST, static_cast<uint8_t>(waveform));
                APU_write(&apu, APU_FIRST + 1, static_cast<uint8_t>(note));
                APU_write(&apu, APU_FIRST + 2, 255);
                float out[1024];
                APU_render(&apu, out, 1024);
                for (float s : out) ASSERT_TRUE(std::isfinite(s) && std::fabs(s) <= 1.0f) << note;
                ASSERT_GE(apu.phase, 0.0f);
                ASSERT_LT(apu.phase, 1024.0f) << "note " << note << " at " << rate << " Hz";
            }
        }
    }
}

// Every sprite position and flip, drawn into a frame with guard bytes on both
// sides: no pixel may land outside the frame.
TEST_F(MachineEdges, SpritesAtEveryPositionStayInsideTheFrame) {
    GPU gpu{};
    ASSERT_TRUE(GPU_init(&gpu));
    for (int i = 0; i < 8; ++i) gpu.vram[VRAM_PLANE_B + 8 + i] = 0xFF; // tile 1 fully covered
    constexpr size_t GUARD = 4096;
    std::vector<uint8_t> buffer(GUARD + FRAME_BYTES + GUARD, 0xA5);
    uint8_t* frame = buffer.data() + GUARD;
    for (int first = 0; first < 65536; first += SPRITE_COUNT) {
        for (int i = 0; i < SPRITE_COUNT; ++i) {
            int position = (first + i) & 0xFFFF;
            uint8_t* sprite = gpu.vram + VRAM_SPRITES + 5 * i;
            sprite[0] = static_cast<uint8_t>(position & 0xFF); // x
            sprite[1] = static_cast<uint8_t>(position >> 8);   // y
            sprite[2] = 1;
            sprite[3] = 0x12;
            sprite[4] = static_cast<uint8_t>(ATTR_VISIBLE | ((first / SPRITE_COUNT) % 4) << 5);
        }
        GPU_draw_sprites(&gpu, frame);
    }
    for (size_t i = 0; i < GUARD; ++i) {
        ASSERT_EQ(buffer[i], 0xA5) << "before the frame at " << i;
        ASSERT_EQ(buffer[GUARD + FRAME_BYTES + i], 0xA5) << "after the frame at " << i;
    }
    GPU_free(&gpu);
}

} // namespace
