// Converting a three-minute MIDI file into the include text of a song
// (target: under 100 ms): a conductor track with a tempo change every bar,
// a melody of sixteenth notes, and a bass and chords on other channels of
// the same track, so the import sorts out one voice from four.
#include <benchmark/benchmark.h>

#include <random>

#include "midi.h"
#include "midi_file.h"

namespace {

constexpr int Q = 480;

std::vector<uint8_t> three_minutes() {
    std::mt19937 random(1);
    MidiTrackWriter conductor, band;
    int bars = 90; // 4/4 at about 120 a minute: two seconds a bar
    for (int bar = 0; bar < bars; ++bar) {
        int at = bar * 4 * Q;
        conductor.tempo(at, 480000 + int(random() % 40000));
        for (int i = 0; i < 16; ++i) band.note(at + i * Q / 4, Q / 4, 60 + int(random() % 24), 100, 0);
        band.note(at, 4 * Q, 36 + int(random() % 12), 90, 1);
        for (int beat = 0; beat < 4; ++beat)
            for (int k : {0, 4, 7}) band.note(at + beat * Q, Q, 48 + k, 70, 2);
    }
    return midi_file({conductor, band});
}

void ImportThreeMinutes(benchmark::State& state) {
    std::vector<uint8_t> file = three_minutes();
    for (auto _ : state) {
        MidiMelody melody;
        if (!Midi_read(file, {}, &melody)) state.SkipWithError(melody.errors[0].c_str());
        std::string text = Sound_include_text(SoundFile{{Midi_song(melody, {})}, {}}, "song");
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = double(file.size());
}
BENCHMARK(ImportThreeMinutes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
