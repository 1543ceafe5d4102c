#include "controller/gamepad.h"

#include <array>
#include <cstdio>

#include "controller/buttons.h"

namespace {

bool holds_instance(const GamePads* pads, SDL_JoystickID id) {
    for (const GamePad* pad : pads->attached) {
        if (pad && pad->instance_id == id) return true;
    }
    return false;
}

} // namespace

int GamePad_init_subsystem() { return SDL_Init(SDL_INIT_GAMECONTROLLER); }

int GamePad_find_next(int start) {
    for (int i = start; i < SDL_NumJoysticks(); ++i) {
        if (SDL_IsGameController(i)) return i;
    }
    return -1;
}

bool GamePad_open(GamePad* pad, int index) {
    pad->joystick_index = index;
    pad->controller = nullptr;
    pad->bytes = nullptr;
    pad->slot = -1;
    pad->instance_id = -1;
    pad->held = 0;
    if (!SDL_IsGameController(index)) return false;
    SDL_GameController* controller = SDL_GameControllerOpen(index);
    if (!controller) return false;
    pad->controller = controller;
    pad->instance_id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller));
    return true;
}

bool GamePad_attach(GamePads* pads, GamePad* pad, int slot) {
    if (pads->attached[slot]) return false;
    pad->slot = slot;
    pads->attached[slot] = pad;
    pad->bytes = pads->bytes;
    return true;
}

void GamePad_log(const GamePad* pad) {
    const char* name = SDL_GameControllerName(pad->controller);
    std::printf("Controller: %d %s (%lX:%lX:%lX)\n", pad->slot, name ? name : "(null)",
                static_cast<unsigned long>(SDL_GameControllerGetVendor(pad->controller)),
                static_cast<unsigned long>(SDL_GameControllerGetProduct(pad->controller)),
                static_cast<unsigned long>(SDL_GameControllerGetProductVersion(pad->controller)));
}

int GamePad_button_bit(uint8_t button) {
    for (const ButtonBinding& row : BUTTON_BINDINGS) {
        if (row.pad_button == button) return row.bit;
    }
    return -1;
}

void GamePad_set_button(GamePad* pad, uint8_t bit, bool pressed) {
    uint8_t& byte = pad->bytes[pad->slot];
    byte = static_cast<uint8_t>(pressed ? (byte | bit) : (byte & ~bit));
    pad->held = static_cast<uint8_t>(pressed ? (pad->held | bit) : (pad->held & ~bit));
}

// Events carry the joystick's instance id, which differs from the device
// index once a pad has been reconnected, so pads are matched by instance id.
void GamePad_handle_event(GamePads* pads, const SDL_ControllerButtonEvent* event) {
    for (GamePad* pad : pads->attached) {
        if (!pad || pad->instance_id != event->which) continue;
        int bit = GamePad_button_bit(event->button);
        if (bit != -1) GamePad_set_button(pad, static_cast<uint8_t>(bit), event->state == SDL_PRESSED);
    }
}

void GamePad_discover(GamePads* pads, ControllerPort* port) {
    pads->bytes = port->bytes.data();
    GamePad* pad0 = &pads->records[0];
    GamePad* pad1 = &pads->records[1];
    GamePad_init_subsystem();
    if (GamePad_open(pad0, GamePad_find_next(0)) && GamePad_attach(pads, pad0, 0)) GamePad_log(pad0);
    // The search resumes after the device tried for slot 0, opened or not.
    if (GamePad_open(pad1, GamePad_find_next(pad0->joystick_index + 1)) && GamePad_attach(pads, pad1, 1))
        GamePad_log(pad1);
}

void GamePad_close_all(GamePads* pads) {
    for (GamePad*& pad : pads->attached) {
        GamePad_close(pad);
        pad = nullptr;
    }
}

void GamePad_handle_added(GamePads* pads, const SDL_ControllerDeviceEvent* event) {
    const int index = event->which;
    if (index < 0 || index >= SDL_NumJoysticks() || !SDL_IsGameController(index)) return;
    if (holds_instance(pads, SDL_JoystickGetDeviceInstanceID(index))) return;
    for (int slot = 0; slot < 2; ++slot) {
        GamePad* pad = &pads->records[slot];
        if (pads->attached[slot] || !pads->bytes) continue;
        if (GamePad_open(pad, index) && GamePad_attach(pads, pad, slot)) {
            GamePad_log(pad);
            std::fflush(stdout);
        } else {
            GamePad_close(pad);
        }
        return;
    }
}

void GamePad_handle_removed(GamePads* pads, const SDL_ControllerDeviceEvent* event) {
    for (GamePad*& pad : pads->attached) {
        if (!pad || pad->instance_id != event->which) continue;
        // Buttons held at the moment of unplugging would otherwise stay down.
        pad->bytes[pad->slot] = static_cast<uint8_t>(pad->bytes[pad->slot] & ~pad->held);
        pad->held = 0;
        GamePad_close(pad);
        pad = nullptr;
    }
}

void GamePad_close(GamePad* pad) {
    if (!pad) return;
    pad->bytes = nullptr;
    if (pad->controller) {
        SDL_GameControllerClose(pad->controller);
        pad->controller = nullptr;
    }
}
