#include "apu/apu.h"

#include <cmath>
#include <cstdlib>

#include "computer/log.h"

float* wavetables = nullptr;
float* note_table = nullptr;

int NoiseGenerator_next(NoiseGenerator* generator) {
    generator->state = generator->state * 1103515245u + 12345u;
    return static_cast<int>((generator->state / 65536u) % 32768u);
}

float* APU_make_wavetables() {
    float* table = static_cast<float*>(std::malloc(4 * WAVETABLE_SIZE * sizeof(float)));
    if (!table) return nullptr;
    const float step = 0.0009765625f; // 1 / 1024, exact
    for (int i = 0; i < WAVETABLE_SIZE; ++i) {
        float x = static_cast<float>(i) * step;
        table[i] = static_cast<float>(std::sin(static_cast<double>(x) * 6.283185307179586));
    }
    for (int i = 0; i < WAVETABLE_SIZE; ++i)
        table[WAVETABLE_SIZE + i] = ((static_cast<float>(i) * step) * 2.0f) - 1.0f;
    for (int i = 0; i < WAVETABLE_SIZE; ++i)
        table[2 * WAVETABLE_SIZE + i] = i < WAVETABLE_SIZE / 2 ? 1.0f : -1.0f;
    NoiseGenerator noise{1};
    for (int i = 0; i < WAVETABLE_SIZE; ++i) {
        float r = static_cast<float>(NoiseGenerator_next(&noise)) / 32767.0f;
        table[3 * WAVETABLE_SIZE + i] = r + r - 1.0f;
    }
    return table;
}

namespace {
// Machines built and not yet freed: the tables go with the last of them, so a
// second machine in the process (a test's, a tool's) neither leaks the tables
// nor frees them under the first.
int table_users = 0;
} // namespace

bool APU_init_tables() {
    if (table_users > 0 && wavetables && note_table) {
        ++table_users;
        return true;
    }
    wavetables = APU_make_wavetables();
    note_table = static_cast<float*>(std::malloc(NOTE_COUNT * sizeof(float)));
    if (note_table) {
        for (int n = 0; n < NOTE_COUNT; ++n)
            note_table[n] = static_cast<float>(std::pow(2.0, (n - 69.0) / 12.0) * 440.0);
    }
    if (!wavetables || !note_table) {
        Log_error("lumacor: out of memory for the audio tables; running silent\n");
        table_users = 0;
        APU_free_tables();
        return false;
    }
    table_users = 1;
    return true;
}

void APU_free_tables() {
    if (table_users > 1) {
        --table_users;
        return;
    }
    table_users = 0;
    std::free(wavetables);
    wavetables = nullptr;
    std::free(note_table);
    note_table = nullptr;
}

void APU_init(APU* apu) {
    apu->waveform.store(0, std::memory_order_relaxed);
    apu->note.store(0, std::memory_order_relaxed);
    apu->volume.store(0, std::memory_order_relaxed);
    apu->phase = 0.0f;
    apu->sample_rate.store(0, std::memory_order_relaxed);
}

void APU_free(APU*) {}

uint8_t APU_read(APU* apu, uint16_t address) {
    switch (address - APU_FIRST) {
    case 0: return apu->waveform.load(std::memory_order_relaxed);
    case 1: return apu->note.load(std::memory_order_relaxed);
    default: return apu->volume.load(std::memory_order_relaxed);
    }
}

void APU_write(APU* apu, uint16_t address, uint8_t value) {
    switch (address - APU_FIRST) {
    case 0: apu->waveform.store(value, std::memory_order_relaxed); break;
    case 1: apu->note.store(value, std::memory_order_relaxed); break;
    default: apu->volume.store(value, std::memory_order_relaxed); break;
    }
}

void APU_render(APU* apu, float* out, int count) {
    if (count <= 0) return;
    const int waveform = apu->waveform.load(std::memory_order_relaxed) & 3;
    const int note = apu->note.load(std::memory_order_relaxed);
    const int32_t rate = apu->sample_rate.load(std::memory_order_relaxed);
    float step = 0.0f;
    if (note < NOTE_COUNT && rate > 0 && wavetables && note_table)
        step = note_table[note] / (static_cast<float>(rate) * 0.0009765625f);
    // Notes past the table, a stream without a rate yet and missing tables
    // are silence, and so is a rate so low that one sample would skip a whole
    // table, which one subtraction could not wrap; the phase stays put.
    if (!(step > 0.0f && step < 1024.0f)) {
        for (int i = 0; i < count; ++i) out[i] = 0.0f;
        return;
    }
    const float gain = static_cast<float>(apu->volume.load(std::memory_order_relaxed)) / 255.0f;
    const float* table = wavetables + waveform * WAVETABLE_SIZE;
    float p = apu->phase;
    for (int i = 0; i < count; ++i) {
        // p stays in 0..1024, so the mask changes nothing but keeps every read
        // inside the table whatever rounding does at the very edge.
        const float s = table[static_cast<int>(p) & (WAVETABLE_SIZE - 1)];
        p += step;
        if (p >= 1024.0f) p -= 1024.0f;
        out[i] = s * gain;
    }
    apu->phase = p;
}
