// Frame pacing on an absolute schedule: each frame's deadline is the previous
// one plus the refresh time, never reset, so a frame that overruns is made up
// by the frames after it (which then do not sleep) and no frame is skipped.
#pragma once

#include <cstdint>

struct FramePacer {
    int64_t deadline;   // ms, on the clock passed in
    int64_t refresh_ms; // 1000 / refresh rate, integer division
};

inline void FramePacer_start(FramePacer* pacer, int64_t now_ms, uint32_t refresh_rate) {
    pacer->refresh_ms = 1000 / static_cast<int64_t>(refresh_rate);
    pacer->deadline = now_ms;
}

// Advances to the next frame's deadline and returns how long to sleep for
// it: 0 when the schedule is behind.
inline int64_t FramePacer_next(FramePacer* pacer, int64_t now_ms) {
    pacer->deadline += pacer->refresh_ms;
    int64_t remaining = pacer->deadline - now_ms;
    return remaining > 0 ? remaining : 0;
}
