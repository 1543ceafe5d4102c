// Converting a 256 x 192 screen (target: under 50 ms) with many patterns to
// share, building its video memory, and the way back; and reducing a
// photo-like picture to what the machine shows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "gfx.h"
#include "gpu/gpu.h"

namespace {

// A screen of 200 random patterns in random colours and flips, composed by
// the video unit: every cell has to be matched against the patterns so far.
GfxPicture busy_screen() {
    std::mt19937 random(1);
    std::array<uint8_t, VRAM_SIZE> vram{};
    for (int i = 0; i < 200 * 8; ++i)
        vram[VRAM_PLANE_A + i] = uint8_t(random()), vram[VRAM_PLANE_B + i] = uint8_t(random());
    for (int n = 0; n < MAP_COLUMNS * MAP_ROWS; ++n) {
        vram[VRAM_TILE_MAP + 3 * n] = uint8_t(random() % 200);
        vram[VRAM_TILE_MAP + 3 * n + 1] = uint8_t(random());
        vram[VRAM_TILE_MAP + 3 * n + 2] = uint8_t(random() & (ATTR_FLIP_H | ATTR_FLIP_V));
    }
    for (int i = 0; i < 48; ++i) vram[VRAM_PALETTE + i] = uint8_t(random() | 1);
    return Gfx_vram_screen(vram);
}

void ConvertScreen(benchmark::State& state) {
    GfxPicture picture = busy_screen();
    std::array<uint8_t, VRAM_SIZE> vram{};
    for (auto _ : state) {
        GfxArt art;
        bool ok = Gfx_convert(picture, {}, &art) && Gfx_build_vram(art, vram);
        if (!ok) state.SkipWithError("the screen did not convert");
        benchmark::DoNotOptimize(vram.data());
    }
}
BENCHMARK(ConvertScreen)->Unit(benchmark::kMillisecond);

void ScreenFromVram(benchmark::State& state) {
    GfxPicture picture = busy_screen();
    GfxArt art;
    std::array<uint8_t, VRAM_SIZE> vram{};
    Gfx_convert(picture, {}, &art);
    Gfx_build_vram(art, vram);
    for (auto _ : state) benchmark::DoNotOptimize(Gfx_vram_screen(vram).rgba.data());
}
BENCHMARK(ScreenFromVram)->Unit(benchmark::kMillisecond);

// Smooth gradients with fine noise, as a photograph has; reports the mean
// error a colour channel after quantizing.
void QuantizePhoto(benchmark::State& state) {
    GfxPicture photo{GFX_SCREEN_WIDTH, GFX_SCREEN_HEIGHT, {}};
    std::mt19937 random(2);
    for (int y = 0; y < GFX_SCREEN_HEIGHT; ++y)
        for (int x = 0; x < GFX_SCREEN_WIDTH; ++x) {
            double sky = y / 191.0, sun = std::exp(-((x - 180) * (x - 180) + (y - 50) * (y - 50)) / 900.0);
            auto channel = [&](double v) {
                return uint8_t(std::clamp(v + int(random() % 9) - 4, 0.0, 255.0));
            };
            photo.rgba.insert(photo.rgba.end(),
                              {channel(40 + 150 * sky + 200 * sun), channel(90 + 80 * sky + 150 * sun),
                               channel(200 - 120 * sky + 30 * std::sin(x / 9.0)), 255});
        }
    double error = 0;
    for (auto _ : state) {
        GfxPicture picture = photo;
        error = Gfx_quantize(&picture, {});
        GfxArt art;
        if (!Gfx_convert(picture, {}, &art)) state.SkipWithError("the quantized picture broke a rule");
    }
    state.counters["mean_error"] = error;
}
BENCHMARK(QuantizePhoto)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
