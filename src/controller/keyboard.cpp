#include "controller/keyboard.h"

#include <cstdint>

#include "controller/buttons.h"

int Keyboard_key_bit(SDL_Scancode scancode) {
    if (scancode == SDL_SCANCODE_UNKNOWN) return -1;
    for (const ButtonBinding& row : BUTTON_BINDINGS) {
        for (SDL_Scancode key : row.keys)
            if (key == scancode) return row.bit;
    }
    return -1;
}

void Keyboard_handle_event(ControllerPort* port, const SDL_KeyboardEvent* event) {
    if (event->repeat) return;
    const int bit = Keyboard_key_bit(event->keysym.scancode);
    if (bit == -1) return;
    uint8_t& byte = port->bytes[0];
    byte = static_cast<uint8_t>(event->state == SDL_PRESSED ? (byte | bit) : (byte & ~bit));
}
