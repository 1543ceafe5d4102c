// Snapshots of the demo cartridge in play: one saved and one restored, a
// frame run with and without recording it into the rewind history, and how
// many bytes a minute of history takes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/history.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "controller/controller.h"
#include "gpu/gpu.h"

namespace {

constexpr size_t MINUTE = 3750; // frames at 62.5 a second

struct Demo {
    Computer computer{};
    Cartridge cartridge{};
    std::vector<uint8_t> frame = std::vector<uint8_t>(FRAME_BYTES);
};

void quiet(void*, bool, const char*) {}

// The paddle sweeps and keeps serving, so the picture, RAM and sound change
// as in real play.
uint8_t buttons_at(uint64_t frame) {
    if (frame % 600 < 4) return PAD_START;
    return static_cast<uint8_t>(((frame / 50) % 2 ? PAD_LEFT : PAD_RIGHT) | (frame % 97 < 3 ? PAD_A : 0));
}

void run_frame(Demo* demo) {
    demo->computer.controllers.bytes[0] = buttons_at(demo->computer.frame);
    Computer_run_frame(&demo->computer, demo->frame.data());
}

Demo* demo_in_play() {
    static Demo* demo = [] {
        Log_set_sink(quiet, nullptr);
        auto* d = new Demo;
        std::ifstream in(DEMO_ROM_PATH, std::ios::binary);
        std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), {}};
        if (!Computer_init(&d->computer) || !Cartridge_init_image(&d->cartridge, image)) std::abort();
        Computer_attach_cartridge(&d->computer, &d->cartridge);
        Computer_start(&d->computer);
        for (int i = 0; i < 600; ++i) run_frame(d);
        return d;
    }();
    return demo;
}

void snapshot_save(benchmark::State& state) {
    Demo* demo = demo_in_play();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        Computer_save_state(&demo->computer, &bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetLabel(std::to_string(bytes.size()) + " bytes");
}
BENCHMARK(snapshot_save);

void snapshot_load(benchmark::State& state) {
    Demo* demo = demo_in_play();
    std::vector<uint8_t> bytes;
    Computer_save_state(&demo->computer, &bytes);
    std::string error;
    for (auto _ : state)
        if (!Computer_load_state(&demo->computer, bytes, &error)) state.SkipWithError(error.c_str());
}
BENCHMARK(snapshot_load);

void frame_plain(benchmark::State& state) {
    Demo* demo = demo_in_play();
    for (auto _ : state) run_frame(demo);
}
BENCHMARK(frame_plain);

// The window's frame with rewind recording on; the label gives the history's
// size after a minute of play, its cap (48 MiB) aside.
void frame_recorded(benchmark::State& state) {
    Demo* demo = demo_in_play();
    History history{};
    History_init(&history, MINUTE, size_t{1} << 30);
    for (auto _ : state) {
        run_frame(demo);
        History_record(&history, &demo->computer);
    }
    History_init(&history, MINUTE, size_t{1} << 30);
    for (size_t i = 0; i < MINUTE; ++i) {
        run_frame(demo);
        History_record(&history, &demo->computer);
    }
    char label[64];
    std::snprintf(label, sizeof label, "a minute of history: %.2f MiB", History_size(&history) / 1048576.0);
    state.SetLabel(label);
    History_free(&history);
}
BENCHMARK(frame_recorded);

void step_back(benchmark::State& state) {
    Demo* demo = demo_in_play();
    History history{};
    History_init(&history, MINUTE, size_t{1} << 30);
    for (auto _ : state) {
        state.PauseTiming();
        if (History_depth(&history) == 0)
            for (int i = 0; i < 200; ++i) {
                run_frame(demo);
                History_record(&history, &demo->computer);
            }
        state.ResumeTiming();
        History_step_back(&history, &demo->computer);
    }
    History_free(&history);
}
BENCHMARK(step_back);

} // namespace

BENCHMARK_MAIN();
