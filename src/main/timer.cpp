#include "main/timer.h"

#include <SDL.h>

namespace {
int64_t start_ticks = 0;
int64_t ticks_per_ms = 1;
int64_t (*clock_now_ms)() = nullptr;
} // namespace

void Timer_init() {
    int64_t frequency = static_cast<int64_t>(SDL_GetPerformanceFrequency());
    ticks_per_ms = frequency / 1000 > 0 ? frequency / 1000 : 1;
    start_ticks = static_cast<int64_t>(SDL_GetPerformanceCounter());
}

void Timer_set_clock(int64_t (*now_ms)()) { clock_now_ms = now_ms; }

int64_t Timer_now_ms() {
    if (clock_now_ms) return clock_now_ms();
    return (static_cast<int64_t>(SDL_GetPerformanceCounter()) - start_ticks) / ticks_per_ms;
}
