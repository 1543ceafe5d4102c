#include "controller/keyboard.h"

#include <array>
#include <cstdint>

#include "computer/computer.h"
#include "controller/controller.h"

namespace {

struct KeyBit {
    SDL_Scancode scancode;
    uint8_t bit;
};

constexpr std::array<KeyBit, 10> key_bits{{
    {SDL_SCANCODE_UP, PAD_UP},
    {SDL_SCANCODE_DOWN, PAD_DOWN},
    {SDL_SCANCODE_LEFT, PAD_LEFT},
    {SDL_SCANCODE_RIGHT, PAD_RIGHT},
    {SDL_SCANCODE_Z, PAD_A},
    {SDL_SCANCODE_SPACE, PAD_A},
    {SDL_SCANCODE_X, PAD_X},
    {SDL_SCANCODE_RETURN, PAD_START},
    {SDL_SCANCODE_BACKSPACE, PAD_BACK},
    {SDL_SCANCODE_RSHIFT, PAD_BACK},
}};

} // namespace

int Keyboard_key_bit(SDL_Scancode scancode) {
    for (const KeyBit& row : key_bits) {
        if (row.scancode == scancode) return row.bit;
    }
    return -1;
}

void Keyboard_handle_event(Computer* computer, const SDL_KeyboardEvent* event) {
    if (event->repeat) return;
    const int bit = Keyboard_key_bit(event->keysym.scancode);
    if (bit == -1) return;
    uint8_t& byte = computer->controllers.bytes[0];
    byte = static_cast<uint8_t>(event->state == SDL_PRESSED ? (byte | bit) : (byte & ~bit));
}
