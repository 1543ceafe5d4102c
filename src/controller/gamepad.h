// Host game pads: up to two SDL game controllers, each bound to one of the
// controller port's bytes. Their button events set and clear the bits of
// that byte.
//
// The entry runs GamePad_discover once at start: slot 0 takes the first game
// controller that opens, slot 1 the next one after the device tried for slot
// 0. While the machine runs, a controller that is plugged in takes the first
// free slot (GamePad_handle_added), and one that is unplugged gives its slot
// back and releases the buttons it held (GamePad_handle_removed).
#pragma once

#include <SDL.h>

#include <cstdint>

struct ControllerPort;

struct GamePad {
    uint8_t* bytes; // the controller port's two bytes; the pad's own is bytes[slot]
    int32_t joystick_index;
    SDL_GameController* controller;
    int32_t slot;
    // The host's instance id of the opened joystick, which its events carry;
    // it stays the same while the device is plugged in, unlike the index.
    SDL_JoystickID instance_id;
    // The bits this pad's own events have set and not yet cleared, released
    // when the pad is unplugged.
    uint8_t held;
};

// The host's two slots: the record each slot opens its controller into, and
// the pads attached now (null for a free slot). The records are reused when
// a controller is plugged in while the machine runs, so the set must live as
// long as the machine does.
struct GamePads {
    GamePad records[2];
    GamePad* attached[2];
    uint8_t* bytes; // the controller port's two bytes
};

int GamePad_init_subsystem();
int GamePad_find_next(int start);
bool GamePad_open(GamePad* pad, int index);
bool GamePad_attach(GamePads* pads, GamePad* pad, int slot);
void GamePad_log(const GamePad* pad);
int GamePad_button_bit(uint8_t button);
void GamePad_set_button(GamePad* pad, uint8_t bit, bool pressed);
void GamePad_handle_event(GamePads* pads, const SDL_ControllerButtonEvent* event);
void GamePad_close(GamePad* pad);

// Start-up discovery into the two slots, wired to the controller port.
void GamePad_discover(GamePads* pads, ControllerPort* port);
// Closes every attached pad, at teardown.
void GamePad_close_all(GamePads* pads);
// SDL_CONTROLLERDEVICEADDED: `which` is a device index. Devices already held
// by a slot (SDL announces those present at start too) are ignored.
void GamePad_handle_added(GamePads* pads, const SDL_ControllerDeviceEvent* event);
// SDL_CONTROLLERDEVICEREMOVED: `which` is an instance id.
void GamePad_handle_removed(GamePads* pads, const SDL_ControllerDeviceEvent* event);
