// The synthesiser against its formulas: the tables entry by entry, and
// APU_render sample by sample with the phase it leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "apu/apu.h"
#include "computer/computer.h"

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
// 440 Hz over 48000 Hz per table entry (46.875 Hz), in single precision.
const float STEP_69 = 440.0f / (48000.0f * 0.0009765625f);

const float* table_of(int waveform) { return wavetables + waveform * WAVETABLE_SIZE; }

class Apu : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(APU_init_tables());
        APU_init(&apu);
        apu.sample_rate.store(48000);
    }
    void TearDown() override { APU_free_tables(); }

    void set(int waveform, int note, int volume) {
        apu.waveform.store(static_cast<uint8_t>(waveform));
        apu.note.store(static_cast<uint8_t>(note));
        apu.volume.store(static_cast<uint8_t>(volume));
    }
    std::vector<float> render(int count) {
        std::vector<float> out(static_cast<size_t>(count), NaN);
        APU_render(&apu, out.data(), count);
        return out;
    }

    APU apu;
};

TEST(NoiseGenerator, GivesTheClassicSequenceWithinFifteenBits) {
    // The portable rand of the C standard's example, seeded with 1.
    NoiseGenerator generator{1};
    const int first[] = {16838, 5758, 10113, 17515, 31051, 5627, 23010, 7419, 16212, 4086};
    for (int expected : first) EXPECT_EQ(NoiseGenerator_next(&generator), expected);

    int low = 32767, high = 0;
    double sum = 0;
    constexpr int N = 200000;
    for (int i = 0; i < N; ++i) {
        int r = NoiseGenerator_next(&generator);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
        low = std::min(low, r);
        high = std::max(high, r);
        sum += r;
    }
    EXPECT_LT(low, 16);
    EXPECT_GT(high, 32751);
    EXPECT_NEAR(sum / N, 16383.5, 200.0);
}

TEST_F(Apu, TablesHoldTheWaveformsAndNotes) {
    EXPECT_EQ(wavetables[0], 0.0f);
    EXPECT_EQ(wavetables[256], 1.0f);
    EXPECT_EQ(wavetables[768], -1.0f);
    EXPECT_EQ(wavetables[512], static_cast<float>(std::sin(std::numbers::pi))); // not exactly zero
    EXPECT_NE(wavetables[512], 0.0f);
    for (int i = 0; i < WAVETABLE_SIZE; ++i) {
        EXPECT_EQ(table_of(WAVE_SAW)[i], static_cast<float>(i) / 512.0f - 1.0f) << i;
        EXPECT_EQ(table_of(WAVE_SQUARE)[i], i < 512 ? 1.0f : -1.0f) << i;
    }
    // The noise is the generator's first 1024 outputs, scaled into -1..+1.
    NoiseGenerator generator{1};
    for (int i = 0; i < WAVETABLE_SIZE; ++i) {
        float r = static_cast<float>(NoiseGenerator_next(&generator)) / 32767.0f;
        EXPECT_EQ(table_of(WAVE_NOISE)[i], r + r - 1.0f) << i;
    }
    for (int i = 0; i < 4 * WAVETABLE_SIZE; ++i) {
        ASSERT_GE(wavetables[i], -1.0f) << i;
        ASSERT_LE(wavetables[i], 1.0f) << i;
    }

    const std::pair<int, float> notes[] = {{0, 8.175799f},  {21, 27.5f},  {57, 220.0f},
                                           {60, 261.62558f}, {69, 440.0f}, {81, 880.0f},
                                           {105, 3520.0f},   {107, 3951.0664f}};
    for (auto [note, hz] : notes) EXPECT_FLOAT_EQ(note_table[note], hz) << note;
    EXPECT_EQ(note_table[69], 440.0f);
}

TEST_F(Apu, NoiseIsTheSameInEveryBuild) {
    float* again = APU_make_wavetables();
    ASSERT_NE(again, nullptr);
    for (int i = 0; i < 4 * WAVETABLE_SIZE; ++i) ASSERT_EQ(again[i], wavetables[i]) << i;
    std::free(again);
}

TEST_F(Apu, VolumeZeroIsSilenceForEveryWaveformAndNote) {
    for (int waveform = 0; waveform < 4; ++waveform) {
        for (int note : {0, 69, 107}) {
            set(waveform, note, 0);
            for (float s : render(1024)) ASSERT_EQ(s, 0.0f) << waveform << " " << note;
        }
    }
}

TEST_F(Apu, FullVolumeSquareIsExactlyPlusAndMinusOne) {
    set(WAVE_SQUARE, 69, 255);
    float phase = 0.0f;
    int highs = 0;
    for (int buffer = 0; buffer < 3; ++buffer) {
        for (float s : render(1024)) {
            ASSERT_EQ(s, phase < 512.0f ? 1.0f : -1.0f) << phase;
            highs += s > 0;
            phase += STEP_69;
            if (phase >= 1024.0f) phase -= 1024.0f;
        }
    }
    EXPECT_NEAR(highs, 3 * 512, 60);
}

TEST_F(Apu, FirstSampleIsEntryZeroTimesTheGain) {
    const float gain = 100.0f / 255.0f;
    const float expected[] = {0.0f, -gain, gain, table_of(WAVE_NOISE)[0] * gain};
    for (int waveform = 0; waveform < 4; ++waveform) {
        APU_init(&apu);
        apu.sample_rate.store(48000);
        set(waveform, 69, 100);
        EXPECT_EQ(render(1)[0], expected[waveform]) << waveform;
    }
}

TEST_F(Apu, NoteSixtyNineWrapsOnTheHundredTenthSample) {
    set(WAVE_SAW, 69, 255);
    EXPECT_FLOAT_EQ(STEP_69, 9.386666f);
    render(1);
    EXPECT_EQ(apu.phase, STEP_69);
    render(108);
    EXPECT_GT(apu.phase, 1024.0f - STEP_69); // 109 samples: not wrapped yet
    const float before = apu.phase;
    std::vector<float> s = render(1); // the 110th
    EXPECT_EQ(s[0], table_of(WAVE_SAW)[static_cast<int>(before)]);
    EXPECT_LT(apu.phase, STEP_69);
    EXPECT_EQ(apu.phase, before + STEP_69 - 1024.0f);
}

TEST_F(Apu, OneSubtractionOnWrap) {
    set(WAVE_SINE, 69, 255);
    apu.phase = 1023.5f;
    EXPECT_EQ(render(1)[0], table_of(WAVE_SINE)[1023]);
    EXPECT_EQ(apu.phase, 8.88671875f); // not 1032.88671875
    EXPECT_EQ(render(1)[0], table_of(WAVE_SINE)[8]);
}

TEST_F(Apu, EverySampleFollowsTheFormulaAcrossBuffers) {
    // A reference written from the rule: sample = entry trunc(phase) x gain,
    // then phase += step with one subtraction at 1024; step and gain once per
    // buffer, the phase kept between buffers.
    struct Case {
        int waveform, note, volume, count;
    };
    const Case cases[] = {{WAVE_SINE, 69, 255, 1024}, {WAVE_SAW, 0, 77, 1000},
                          {WAVE_NOISE, 107, 200, 333}, {WAVE_SQUARE | 0xFC, 45, 1, 1024}};
    for (const Case& c : cases) {
        APU_init(&apu);
        apu.sample_rate.store(48000);
        set(c.waveform, c.note, c.volume);
        const float step = note_table[c.note] / (48000.0f * 0.0009765625f);
        const float gain = static_cast<float>(c.volume) / 255.0f;
        float phase = 0.0f;
        for (int buffer = 0; buffer < 5; ++buffer) {
            std::vector<float> out = render(c.count);
            for (int i = 0; i < c.count; ++i) {
                float expected = table_of(c.waveform & 3)[static_cast<int>(phase)] * gain;
                ASSERT_EQ(out[static_cast<size_t>(i)], expected)
                    << "waveform " << c.waveform << " buffer " << buffer << " sample " << i;
                phase += step;
                if (phase >= 1024.0f) phase -= 1024.0f;
            }
            ASSERT_EQ(apu.phase, phase);
        }
    }
}

TEST_F(Apu, ANoteChangeKeepsThePhase) {
    set(WAVE_SINE, 69, 255);
    render(1024);
    const float kept = apu.phase;
    apu.note.store(81); // an octave up: twice the step
    std::vector<float> s = render(2);
    EXPECT_EQ(s[0], table_of(WAVE_SINE)[static_cast<int>(kept)]);
    const float step_81 = 880.0f / (48000.0f * 0.0009765625f);
    float expected = kept + step_81;
    if (expected >= 1024.0f) expected -= 1024.0f;
    EXPECT_EQ(s[1], table_of(WAVE_SINE)[static_cast<int>(expected)]);
}

TEST_F(Apu, SilenceWithoutAnyPhaseMovement) {
    set(WAVE_SQUARE, 69, 255);
    apu.phase = 100.25f;
    for (int note : {108, 200, 255}) {
        apu.note.store(static_cast<uint8_t>(note));
        for (float s : render(1024)) ASSERT_EQ(s, 0.0f) << note;
        EXPECT_EQ(apu.phase, 100.25f);
    }
    apu.note.store(69);
    apu.sample_rate.store(0); // the stream before the host granted its rate
    for (float s : render(1024)) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(apu.phase, 100.25f);
    apu.sample_rate.store(10); // so low that one sample would pass the whole table
    for (float s : render(64)) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(apu.phase, 100.25f);

    apu.sample_rate.store(48000);
    std::vector<float> none(4, NaN);
    APU_render(&apu, none.data(), 0);
    APU_render(&apu, none.data(), -5);
    for (float s : none) EXPECT_TRUE(std::isnan(s));
    EXPECT_EQ(apu.phase, 100.25f);

    APU_free_tables(); // a machine that could not build its tables
    for (float s : render(256)) ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(apu.phase, 100.25f);
}

TEST(ApuRegisters, ReadBackThroughTheBusAndOnlyTheLowBitsPickTheWave) {
    static Computer computer{};
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Computer_init(&computer));
    testing::internal::GetCapturedStdout();
    for (uint16_t address = 0xFF07; address <= 0xFF09; ++address)
        EXPECT_EQ(Bus_read(&computer.bus, address), 0);
    Bus_write(&computer.bus, 0xFF07, 0xAB);
    Bus_write(&computer.bus, 0xFF08, 60);
    Bus_write(&computer.bus, 0xFF09, 255);
    EXPECT_EQ(Bus_read(&computer.bus, 0xFF07), 0xAB);
    EXPECT_EQ(Bus_read(&computer.bus, 0xFF08), 60);
    EXPECT_EQ(Bus_read(&computer.bus, 0xFF09), 255);

    computer.apu.sample_rate.store(48000);
    float s[2];
    APU_render(&computer.apu, s, 2);
    EXPECT_EQ(s[0], table_of(WAVE_NOISE)[0]);
    Computer_free(&computer);
    EXPECT_EQ(wavetables, nullptr);
    EXPECT_EQ(note_table, nullptr);
}

} // namespace
