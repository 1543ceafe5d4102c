// The window program's frame loop: runs the machine in real time, one frame
// (Computer_run_frame composing into the window's texture), then host events,
// present, the save file when due, and sleep, until the CPU stops.
#pragma once

#include <SDL.h>

#include "apu/audio_out.h"
#include "controller/gamepad.h"
#include "display/display.h"

struct Computer;

// What the window program attaches to the machine; all of it host-side.
struct Host {
    Display display;
    AudioOut audio;
    GamePads pads;
};

void Computer_run(Computer* computer, Host* host);

// One polled host event: quit, pad buttons, keys, pads plugged in or out.
void Host_handle_event(Host* host, Computer* computer, const SDL_Event& event);
