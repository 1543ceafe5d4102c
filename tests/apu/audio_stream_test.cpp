// The host stream on SDL's disk driver: a real audio thread pulls buffers
// while this thread writes the registers, with no lock between them (run it
// under ThreadSanitizer too). The driver records every buffer in a file.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "apu/apu.h"
#include "apu/audio_out.h"
#include "process.h"

namespace {

constexpr size_t BUFFER_BYTES = 1024 * sizeof(float);

size_t buffers_written(const std::string& path) {
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) return 0;
    return static_cast<size_t>(info.st_size) / BUFFER_BYTES;
}

std::vector<float> read_floats(const std::string& path) {
    std::vector<unsigned char> bytes = read_bytes(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

void use_disk_driver(const std::string& file) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1); // as fast as the thread can go
}

// Lets the audio thread write until the file holds `count` buffers, calling
// `meanwhile` between looks.
template <typename F>
bool wait_for_buffers(const std::string& path, size_t count, F meanwhile) {
    for (long tries = 0; tries < 50'000'000; ++tries) {
        if (buffers_written(path) >= count) return true;
        meanwhile();
        std::this_thread::yield();
    }
    return false;
}

TEST(AudioStream, SilentUntilTheRateIsPublishedThenOneRegisterReadingPerBuffer) {
    TempDir dir;
    const std::string file = dir.file("stream.raw");
    use_disk_driver(file);
    ASSERT_TRUE(APU_init_tables());
    APU apu;
    APU_init(&apu);
    apu.waveform.store(WAVE_SQUARE);
    apu.note.store(69);
    apu.volume.store(255);

    AudioOut out{};
    out.apu.store(&apu); // the link before the device starts, the rate after
    ASSERT_EQ(AudioOut_open(&out), 0) << SDL_GetError();
    EXPECT_NE(out.device, 0u);
    EXPECT_EQ(out.spec.freq, 48000);
    EXPECT_EQ(out.spec.format, AUDIO_F32LSB);
    EXPECT_EQ(out.spec.channels, 1);
    EXPECT_EQ(out.spec.samples, 1024);

    ASSERT_TRUE(wait_for_buffers(file, 4, [] {}));
    const size_t before_rate = buffers_written(file);
    apu.sample_rate.store(out.spec.freq, std::memory_order_relaxed);

    // Flip the voice between silence and the full square as fast as possible.
    unsigned flips = 0;
    ASSERT_TRUE(wait_for_buffers(file, before_rate + 200, [&] {
        ++flips;
        apu.volume.store(flips & 1 ? 0 : 255, std::memory_order_relaxed);
        apu.note.store(flips & 2 ? 200 : 69, std::memory_order_relaxed);
        apu.waveform.store(flips & 4 ? 0x06 : WAVE_SQUARE, std::memory_order_relaxed);
    }));
    apu.volume.store(255);
    apu.note.store(69);
    const size_t settled = buffers_written(file) + 1; // one may be in flight
    ASSERT_TRUE(wait_for_buffers(file, settled + 4, [] {}));
    AudioOut_close(&out);
    EXPECT_EQ(out.device, 0u);
    EXPECT_EQ(out.apu.load(), nullptr);
    SDL_Quit();

    std::vector<float> samples = read_floats(file);
    const size_t buffers = samples.size() / 1024;
    ASSERT_GE(buffers, settled + 4);
    size_t loud = 0;
    for (size_t b = 0; b < buffers; ++b) {
        const float* buffer = samples.data() + b * 1024;
        const bool silent = buffer[0] == 0.0f;
        if (b < before_rate) {
            ASSERT_TRUE(silent) << "buffer " << b << " rendered without a rate";
        }
        if (b > settled) {
            ASSERT_FALSE(silent) << "buffer " << b;
        }
        loud += !silent;
        for (int i = 0; i < 1024; ++i) {
            if (silent)
                ASSERT_EQ(buffer[i], 0.0f) << "buffer " << b << " sample " << i;
            else
                ASSERT_TRUE(buffer[i] == 1.0f || buffer[i] == -1.0f) << "buffer " << b << " sample " << i;
        }
    }
    EXPECT_GE(loud, 4u);
    APU_free_tables();
}

std::vector<std::string> logged;

void record_log(void*, int, SDL_LogPriority, const char* message) { logged.emplace_back(message); }

TEST(AudioStream, AFailedOpenLogsTwoLinesAndLeavesNoDevice) {
    TempDir dir;
    use_disk_driver(dir.file("no/such/directory/stream.raw"));
    SDL_LogOutputFunction previous;
    void* previous_data;
    SDL_LogGetOutputFunction(&previous, &previous_data);
    SDL_LogSetOutputFunction(record_log, nullptr);
    logged.clear();

    APU apu;
    APU_init(&apu);
    AudioOut out{};
    out.apu.store(&apu);
    EXPECT_EQ(AudioOut_open(&out), -1);
    SDL_LogSetOutputFunction(previous, previous_data);
    EXPECT_EQ(out.device, 0u);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].rfind("failed to open audio: ", 0), 0u) << logged[0];
    // SDL's log drops the line ends.
    EXPECT_GT(logged[0].size(), std::strlen("failed to open audio: ")) << "no error text";
    EXPECT_EQ(logged[1], "failed to init audio");

    AudioOut_close(&out); // only clears the link
    EXPECT_EQ(out.apu.load(), nullptr);
    SDL_Quit();
}

} // namespace
