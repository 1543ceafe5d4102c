// The synthesiser against its formulas: the tables, and APU_render sample by
// sample with the phase it carries from one buffer to the next.
#include <gtest/gtest.h>

#include <vector>

#include "apu/apu.h"

namespace {

class Synth : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(APU_init_tables());
        APU_init(&apu);
        apu.sample_rate.store(48000);
    }
    void TearDown() override { APU_free_tables(); }
    std::vector<float> render(int waveform, int note, int volume, int count) {
        apu.waveform.store(static_cast<uint8_t>(waveform));
        apu.note.store(static_cast<uint8_t>(note));
        apu.volume.store(static_cast<uint8_t>(volume));
        std::vector<float> out(static_cast<size_t>(count));
        APU_render(&apu, out.data(), count);
        return out;
    }
    APU apu;
};

TEST_F(Synth, TablesHoldTheWaveformsAndTheEqualTemperedNotes) {
    EXPECT_EQ(note_table[69], 440.0f);
    for (auto [note, hz] : {std::pair{0, 8.175799f}, {57, 220.0f}, {60, 261.62558f}, {107, 3951.0664f}})
        EXPECT_FLOAT_EQ(note_table[note], hz) << note;
    const float* saw = wavetables + WAVE_SAW * WAVETABLE_SIZE;
    const float* square = wavetables + WAVE_SQUARE * WAVETABLE_SIZE;
    const float* noise = wavetables + WAVE_NOISE * WAVETABLE_SIZE;
    EXPECT_EQ(wavetables[256], 1.0f); // sine
    EXPECT_EQ(wavetables[768], -1.0f);
    NoiseGenerator generator{1}; // the C standard's example rand, seeded with 1
    for (int expected : {16838, 5758, 10113, 17515, 31051})
        EXPECT_EQ(NoiseGenerator_next(&generator), expected);
    generator = {1};
    for (int i = 0; i < WAVETABLE_SIZE; ++i) {
        ASSERT_EQ(saw[i], static_cast<float>(i) / 512.0f - 1.0f) << i;
        ASSERT_EQ(square[i], i < 512 ? 1.0f : -1.0f) << i;
        float r = static_cast<float>(NoiseGenerator_next(&generator)) / 32767.0f;
        ASSERT_EQ(noise[i], r + r - 1.0f) << i;
    }
}

// A sample is table entry trunc(phase) times volume / 255; the phase moves by
// the note's frequency over 48000 Hz in table entries, less 1024 once it
// reaches 1024, and carries over to the next buffer.
TEST_F(Synth, EverySampleFollowsTheFormulaAcrossBuffers) {
    const int cases[][4] = {{WAVE_SQUARE, 69, 255, 1024},
                            {WAVE_SINE, 45, 77, 1000},
                            {WAVE_SAW, 0, 200, 333},
                            {WAVE_NOISE | 0xFC, 107, 1, 1024}};
    for (const auto& c : cases) {
        APU_init(&apu);
        apu.sample_rate.store(48000);
        const float step = note_table[c[1]] / (48000.0f * 0.0009765625f);
        const float* table = wavetables + (c[0] & 3) * WAVETABLE_SIZE;
        float phase = 0.0f;
        for (int buffer = 0; buffer < 5; ++buffer) {
            std::vector<float> out = render(c[0], c[1], c[2], c[3]);
            for (float sample : out) {
                ASSERT_EQ(sample, table[static_cast<int>(phase)] * (static_cast<float>(c[2]) / 255.0f))
                    << "waveform " << c[0] << " buffer " << buffer;
                phase += step;
                if (phase >= 1024.0f) phase -= 1024.0f;
            }
            ASSERT_EQ(apu.phase, phase);
        }
    }
}

TEST_F(Synth, NotesPastTheTableAStreamWithoutRateAndMissingTablesAreSilent) {
    apu.phase = 100.25f;
    for (int note : {108, 255})
        for (float s : render(WAVE_SQUARE, note, 255, 256)) ASSERT_EQ(s, 0.0f) << note;
    apu.sample_rate.store(0); // before the host granted its rate
    for (float s : render(WAVE_SQUARE, 69, 255, 256)) ASSERT_EQ(s, 0.0f);
    apu.sample_rate.store(10); // so low that one sample would pass the whole table
    for (float s : render(WAVE_SQUARE, 69, 255, 256)) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(apu.phase, 100.25f);
    apu.sample_rate.store(48000);
    APU_free_tables(); // a machine that could not build them
    for (float s : render(WAVE_SQUARE, 69, 255, 256)) ASSERT_EQ(s, 0.0f);
}

} // namespace
