// The millisecond clock of the frame loop: whole milliseconds since
// Timer_init, from the host's monotonic high-resolution counter.
#pragma once

#include <cstdint>

void Timer_init();
int64_t Timer_now_ms();
