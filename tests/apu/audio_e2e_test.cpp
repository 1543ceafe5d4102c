// The built program on ROMs that set the voice, with SDL's disk audio driver
// recording the stream it plays; the recording is checked against the sound
// the registers ask for. The first buffers may be silence (before the program
// has set the volume), so each check starts at the first sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "process.h"

namespace {

struct Recording {
    ProcessResult result;
    std::vector<float> samples;
};

Recording play(const std::string& rom, const TempDir& dir, const std::string& file) {
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"},
                   {"SDL_AUDIODRIVER", "disk"},
                   {"SDL_DISKAUDIOFILE", file}};
    options.working_directory = dir.path;
    Recording recording;
    recording.result = Process_run({LUMACOR_BIN, std::string(AUDIO_ROM_DIR) + "/" + rom}, options);
    std::vector<unsigned char> bytes = read_bytes(file);
    recording.samples.resize(bytes.size() / sizeof(float));
    if (!recording.samples.empty())
        std::memcpy(recording.samples.data(), bytes.data(), recording.samples.size() * sizeof(float));
    return recording;
}

Recording play(const std::string& rom) {
    TempDir dir;
    return play(rom, dir, dir.file("stream.raw"));
}

// The samples from the first nonzero one on.
std::vector<float> sound_of(const Recording& recording) {
    auto first = std::find_if(recording.samples.begin(), recording.samples.end(),
                              [](float s) { return s != 0.0f; });
    return {first, recording.samples.end()};
}

void expect_clean_run(const Recording& recording) {
    EXPECT_TRUE(recording.result.exited) << recording.result.err;
    EXPECT_EQ(recording.result.exit_code, 0) << recording.result.err;
    EXPECT_EQ(recording.samples.size() % 1024, 0u);
    // About 47 frames at 16 ms: well over twenty buffers of 1024 samples.
    EXPECT_GE(recording.samples.size(), 20u * 1024);
}

class AudioEndToEnd : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(APU_init_tables()); }
    void TearDown() override { APU_free_tables(); }
};

TEST_F(AudioEndToEnd, NoteSixtyNineIsA440HzSineAtFullScale) {
    Recording recording = play("sine_a4.rom");
    expect_clean_run(recording);
    std::vector<float> sound = sound_of(recording);
    ASSERT_GE(sound.size(), 20000u);

    const std::set<float> entries(wavetables, wavetables + WAVETABLE_SIZE);
    for (size_t i = 0; i < sound.size(); ++i)
        ASSERT_TRUE(entries.count(sound[i])) << "sample " << i << " is no sine entry: " << sound[i];
    EXPECT_GE(*std::max_element(sound.begin(), sound.end()), 0.999f);
    EXPECT_LE(*std::min_element(sound.begin(), sound.end()), -0.999f);

    // Frequency from the rising zero crossings.
    std::vector<size_t> rising;
    for (size_t i = 1; i < sound.size(); ++i) {
        if (sound[i - 1] < 0.0f && sound[i] >= 0.0f) rising.push_back(i);
    }
    ASSERT_GE(rising.size(), 100u);
    const double hz = 48000.0 * static_cast<double>(rising.size() - 1) /
                      static_cast<double>(rising.back() - rising.front());
    EXPECT_NEAR(hz, 440.0, 1.0);
}

TEST_F(AudioEndToEnd, FullScaleSquareHasExactlyTwoLevels) {
    Recording recording = play("square_a4.rom");
    expect_clean_run(recording);
    std::vector<float> sound = sound_of(recording);
    ASSERT_GE(sound.size(), 20000u);
    size_t highs = 0;
    for (size_t i = 0; i < sound.size(); ++i) {
        ASSERT_TRUE(sound[i] == 1.0f || sound[i] == -1.0f) << "sample " << i << ": " << sound[i];
        highs += sound[i] == 1.0f;
    }
    EXPECT_NEAR(static_cast<double>(highs) / static_cast<double>(sound.size()), 0.5, 0.01);
    // Half a period of 440 Hz is 54.5 samples: the runs between the first and
    // the last change are 54 or 55 long.
    std::vector<size_t> changes;
    for (size_t i = 1; i < sound.size(); ++i) {
        if (sound[i] != sound[i - 1]) changes.push_back(i);
    }
    ASSERT_GE(changes.size(), 100u);
    for (size_t k = 1; k < changes.size(); ++k) {
        size_t run = changes[k] - changes[k - 1];
        ASSERT_TRUE(run == 54 || run == 55) << "run " << k << " is " << run;
    }
}

TEST_F(AudioEndToEnd, VolumeZeroAndNotesPastTheTableAreSilence) {
    for (const char* rom : {"silent_square.rom", "high_note.rom"}) {
        Recording recording = play(rom);
        expect_clean_run(recording);
        EXPECT_TRUE(sound_of(recording).empty()) << rom;
    }
}

TEST_F(AudioEndToEnd, NoiseWalksItsFixedTableInALoop) {
    Recording recording = play("noise_low.rom");
    expect_clean_run(recording);
    std::vector<float> sound = sound_of(recording);
    ASSERT_GE(sound.size(), 20000u);
    const float* noise = wavetables + WAVE_NOISE * WAVETABLE_SIZE;

    // At note 0 the phase moves about a sixth of an entry per sample, so the
    // stream holds each entry for five or six samples and then takes the next,
    // wrapping from the last entry to the first.
    const float* start = std::find(noise, noise + WAVETABLE_SIZE, sound[0]);
    ASSERT_NE(start, noise + WAVETABLE_SIZE) << "first sound is no noise entry";
    int entry = static_cast<int>(start - noise);
    int held = 0, entries_passed = 0;
    for (size_t i = 0; i < sound.size(); ++i) {
        if (sound[i] == noise[entry] && held < 6) {
            ++held;
            continue;
        }
        const int next = (entry + 1) % WAVETABLE_SIZE;
        ASSERT_EQ(sound[i], noise[next]) << "sample " << i << " after entry " << entry << " held " << held;
        entry = next;
        held = 1;
        ++entries_passed;
    }
    EXPECT_GT(entries_passed, 3 * WAVETABLE_SIZE); // the loop came round several times
}

TEST(AudioEndToEndFailure, AnAudioDeviceThatWillNotOpenLeavesTheMachineRunningSilent) {
    TempDir dir;
    Recording recording = play("sine_a4.rom", dir, dir.file("missing/stream.raw"));
    EXPECT_TRUE(recording.result.exited);
    EXPECT_EQ(recording.result.exit_code, 0);
    const std::string& err = recording.result.err;
    size_t open = err.find("failed to open audio: ");
    size_t init = err.find("failed to init audio");
    ASSERT_NE(open, std::string::npos) << err;
    ASSERT_NE(init, std::string::npos) << err;
    EXPECT_LT(open, init);
    EXPECT_NE(recording.result.out.find("CPU clock rate: 1000000 Hz"), std::string::npos);
    EXPECT_TRUE(recording.samples.empty());
}

} // namespace
