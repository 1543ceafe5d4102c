// The window program's frame loop: runs the machine in real time, one frame
// (Computer_run_frame composing into the window's texture), then host events,
// present, the save file when due, and sleep, until the CPU stops.
//
// Beside the machine's buttons the window answers its own keys: Shift+F1..F4
// save the machine's state in slot 1..4 ("<rom>.state1".."4"), F1..F4 load
// it; the backquote key held plays the recent past backwards; P pauses, N
// then runs one frame; Tab held runs as fast as the host allows; F11 toggles
// fullscreen; F5 reloads the cartridge from disk and starts it afresh; F12
// saves a picture.
#pragma once

#include <SDL.h>

#include "apu/audio_out.h"
#include "computer/history.h"
#include "controller/gamepad.h"
#include "display/display.h"

struct Computer;

// What the window program attaches to the machine; all of it host-side.
struct Host {
    Display display;
    AudioOut audio;
    GamePads pads;
    // What the keys ask of the frame loop.
    bool paused;
    bool advance;  // run one frame while paused
    bool hurrying; // fast-forward
    bool rewinding;
    bool fullscreen;
    bool reload; // reload the cartridge before the next frame
    bool redraw; // show video memory as it is now (a state was loaded)
    History history;
};

// The rewind history: a little over a minute at 62.5 frames a second, in at
// most 48 MiB of differences.
constexpr size_t REWIND_FRAMES = 4000;
constexpr size_t REWIND_BYTES = size_t{48} << 20;

void Computer_run(Computer* computer, Host* host);

// One turn of the loop's machine work, as the keys ask: a frame back, a
// frame, as many frames as one display refresh of `refresh_ms` allows (on
// the loop's clock, main/timer.h), or none.
void Host_advance(Host* host, Computer* computer, int64_t refresh_ms);

// One polled host event: quit, pad buttons, keys, pads plugged in or out.
void Host_handle_event(Host* host, Computer* computer, const SDL_Event& event);

// The state slot files: "<rom path>.state<slot>", slot 1..4.
std::string Host_state_path(const Computer* computer, int slot);
