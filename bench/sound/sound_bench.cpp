// The sound driver's cost: instructions snd_frame executes in a frame, counted
// by the machine (a hook on every instruction), not timed. Reported as the
// counters `average` and `worst` over the frames run; the driver's budget is
// 300 instructions in its worst frame, and a run above it fails.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "cpu/cpu.h"
#include "sound.h"
#include "sound_driver.h"

namespace {

struct Counter {
    uint16_t first = 0, end = 0; // snd_frame and what it calls, up to the data
    int64_t count = 0;
};

void count_driver(void* context, CPU* cpu) {
    Counter* counter = static_cast<Counter*>(context);
    uint16_t pc = CPU_pc(cpu);
    counter->count += pc >= counter->first && pc < counter->end;
}

constexpr int DRIVER_BUDGET = 300;
constexpr int FRAMES = 2000;

// Runs `song` with `effect` started over it every `every` frames.
void driver_cost(benchmark::State& state, const char* text, int every) {
    SoundFile file = Sound_parse(text);
    if (!file.errors.empty()) return state.SkipWithError(file.errors[0].message.c_str());
    int64_t worst = 0, total = 0, frames = 0;
    for (auto _ : state) {
        DriverRun run(Sound_include_text(file, "b"), "b_song", false, "b_effect", every, "snd_effect");
        if (!run.ok) return state.SkipWithError(run.error.c_str());
        Counter counter{static_cast<uint16_t>(run.symbol("snd_frame")),
                        static_cast<uint16_t>(run.symbol("b_song")), 0};
        run.computer.cpu.hook = count_driver;
        run.computer.cpu.hook_context = &counter;
        for (int f = 0; f < FRAMES; ++f) {
            counter.count = 0;
            run.frame();
            worst = std::max(worst, counter.count);
            total += counter.count;
            ++frames;
            // The program starts the effect when its frame count (r16) reaches
            // every + 1: start the count again for the next one.
            if (run.computer.cpu.cells[16] == every + 1) run.computer.cpu.cells[16] = 0;
        }
    }
    state.counters["average"] = static_cast<double>(total) / static_cast<double>(frames);
    state.counters["worst"] = static_cast<double>(worst);
    DriverRun sizes(Sound_include_text(file, "b"), "b_song", false);
    state.counters["code_bytes"] = static_cast<double>(sizes.symbol("b_song") - sizes.symbol("snd_init"));
    if (worst > DRIVER_BUDGET) state.SkipWithError("snd_frame ran over its budget of 300 instructions");
}

// A song of held notes with fades and arpeggios, an effect now and then.
void TypicalSong(benchmark::State& state) {
    driver_cost(state,
                "song song\nspeed 6\nC4 square 160 arp 4 7\nE4 square 160 fade -4\nG4 saw 140 2\n---\n"
                "C5 square 160 2 fade -8\nloop\n"
                "effect effect\nspeed 2\nC6 noise 200 3 slide -2 fade -30\n",
                90);
}
BENCHMARK(TypicalSong)->Iterations(1);

// The dearest frame: both channels read a new step every frame, the song
// and the effect each through its loop.
void EveryFrameANewStep(benchmark::State& state) {
    driver_cost(state,
                "song song\nspeed 1\nC4 square 160 fade -4 slide 1 arp 4 7\nloop\n"
                "effect effect\nspeed 1\nC5 noise 200 fade -30 slide -2 arp 3 5\nloop\n",
                3);
}
BENCHMARK(EveryFrameANewStep)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
