// The millisecond clock of the frame loop: whole milliseconds since
// Timer_init, from the host's monotonic high-resolution counter.
#pragma once

#include <cstdint>

void Timer_init();
int64_t Timer_now_ms();
// Replaces the host's counter with another clock (null: the counter again),
// so that tests can drive the frame loop on time they control.
void Timer_set_clock(int64_t (*now_ms)());
