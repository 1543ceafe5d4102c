// The audio unit: one wavetable voice. Three registers at 0xFF07-0xFF09 pick
// the waveform (low two bits: sine, saw, square, noise), the note (0..107,
// equal-tempered, note 69 = 440 Hz) and the volume (0..255, linear). The host
// audio thread pulls samples with APU_render; the machine only writes the
// registers. The registers and the sample rate are shared between the two
// threads as relaxed atomics: each is one value read once per buffer, so no
// lock is needed and no ordering between them is promised.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint16_t APU_FIRST = 0xFF07;
constexpr uint16_t APU_LAST = 0xFF09;
constexpr int WAVETABLE_SIZE = 1024;
constexpr int NOTE_COUNT = 108;

enum Waveform : uint8_t { WAVE_SINE = 0, WAVE_SAW = 1, WAVE_SQUARE = 2, WAVE_NOISE = 3 };

struct APU {
    std::atomic<uint8_t> waveform;
    std::atomic<uint8_t> note;
    std::atomic<uint8_t> volume;
    float phase; // in table entries, 0 <= phase < 1024; written by the audio thread only
    std::atomic<int32_t> sample_rate;
};

// Process-wide tables: four 1024-entry wavetables back to back in waveform
// order, and the frequency of each of the 108 notes. Null when not built.
// Every machine shares them: APU_init_tables and APU_free_tables pair up, and
// the last free releases them.
extern float* wavetables;
extern float* note_table;

// Builds both tables; returns false (and leaves the machine silent) when
// memory for them cannot be had.
bool APU_init_tables();
float* APU_make_wavetables();
void APU_free_tables();

void APU_init(APU* apu);
void APU_free(APU* apu);
uint8_t APU_read(APU* apu, uint16_t address);
void APU_write(APU* apu, uint16_t address, uint8_t value);
void APU_render(APU* apu, float* out, int count);

// The noise table's generator: integers 0..32767, the same sequence in every
// run (the classic portable rand with its default seed).
struct NoiseGenerator {
    uint32_t state;
};
int NoiseGenerator_next(NoiseGenerator* generator);
