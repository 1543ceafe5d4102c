// Host game pads: up to two SDL game controllers, each bound to one of the
// controller port's bytes. Their button events set and clear the bits of
// that byte.
#pragma once

#include <SDL.h>

#include <cstdint>

struct Computer;

struct GamePad {
    uint8_t* bytes; // the controller port's two bytes; the pad's own is bytes[slot]
    int32_t joystick_index;
    SDL_GameController* controller;
    int32_t slot;
    // The host's instance id of the opened joystick, which its events carry.
    SDL_JoystickID instance_id;
};

struct ButtonBit {
    uint8_t button;
    uint32_t bit;
};

int GamePad_init_subsystem();
int GamePad_find_next(int start);
bool GamePad_open(GamePad* pad, int index);
bool GamePad_attach(Computer* computer, GamePad* pad, int slot);
void GamePad_log(const GamePad* pad);
int GamePad_button_bit(uint8_t button);
void GamePad_set_button(GamePad* pad, uint8_t bit, bool pressed);
void GamePad_handle_event(Computer* computer, const SDL_ControllerButtonEvent* event);
void GamePad_close(GamePad* pad);
