// The frame loop: runs the machine in real time, one frame of instructions,
// then the picture, the frame interrupt, host events, present and sleep,
// until the CPU stops.
#pragma once

#include <SDL.h>

struct Computer;

void Computer_run(Computer* computer);

// One polled host event: quit, pad buttons, keys, pads plugged in or out.
void Host_handle_event(Computer* computer, const SDL_Event& event);
