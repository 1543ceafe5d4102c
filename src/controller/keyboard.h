// The keyboard as pad 0: keys set and clear bits of controller byte 0
// (0xFF0A) the way pad 0's buttons do, a press sets the bit and a release
// clears it. Keys are taken by physical position (scancodes), so the layout
// does not matter, and auto-repeat presses are ignored. SDL delivers keys
// only to the focused window and sends the releases of held keys when the
// window loses focus, so nothing stays pressed behind the player's back.
//
// The keys of each button are in controller/buttons.h.
#pragma once

#include <SDL.h>

struct ControllerPort;

// The controller bit of a key, or -1 for a key without one.
int Keyboard_key_bit(SDL_Scancode scancode);
// SDL_KEYDOWN and SDL_KEYUP.
void Keyboard_handle_event(ControllerPort* port, const SDL_KeyboardEvent* event);
