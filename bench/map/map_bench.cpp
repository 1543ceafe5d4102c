// Converting a Tiled map of 16 rooms (target: under 50 ms), from each
// format with compressed layers, into the include a build writes.
#include <benchmark/benchmark.h>

#include "map_util.h"

namespace {

// Four by four rooms of 64 random tiles in both layers, every cell flipped
// at random: the patterns to share are many and the colours the most a map
// may have.
void ConvertLevel(benchmark::State& state, bool tmj) {
    TestMap map = random_map(1, 4, 4, 64);
    std::string text = tmj ? tmj_text(map, "zlib") : tmx_text(map, "zlib");
    MapFiles files = test_files(map);
    for (auto _ : state) {
        MapLevel level;
        if (!Map_convert("level.tmx", text, {}, files, &level)) state.SkipWithError(level.errors[0].c_str());
        benchmark::DoNotOptimize(Map_include_text(level, "level", "level.tmx", true).data());
    }
}
BENCHMARK_CAPTURE(ConvertLevel, tmx, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ConvertLevel, tmj, true)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
