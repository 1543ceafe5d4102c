#include "controller/gamepad.h"

#include <array>
#include <cstdio>

#include "computer/computer.h"
#include "controller/controller.h"

namespace {

constexpr std::array<ButtonBit, 8> button_bits{{
    {SDL_CONTROLLER_BUTTON_X, PAD_X},
    {SDL_CONTROLLER_BUTTON_A, PAD_A},
    {SDL_CONTROLLER_BUTTON_BACK, PAD_BACK},
    {SDL_CONTROLLER_BUTTON_START, PAD_START},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, PAD_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, PAD_DOWN},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, PAD_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, PAD_RIGHT},
}};

bool holds_instance(const Computer* computer, SDL_JoystickID id) {
    for (const GamePad* pad : computer->pads) {
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

bool GamePad_attach(Computer* computer, GamePad* pad, int slot) {
    if (computer->pads[slot]) return false;
    pad->slot = slot;
    computer->pads[slot] = pad;
    computer->close_pad = GamePad_close;
    pad->bytes = computer->controllers.bytes.data();
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
    for (const ButtonBit& row : button_bits) {
        if (row.button == button) return static_cast<int>(row.bit);
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
void GamePad_handle_event(Computer* computer, const SDL_ControllerButtonEvent* event) {
    for (GamePad* pad : computer->pads) {
        if (!pad || pad->instance_id != event->which) continue;
        int bit = GamePad_button_bit(event->button);
        if (bit != -1) GamePad_set_button(pad, static_cast<uint8_t>(bit), event->state == SDL_PRESSED);
    }
}

void GamePad_discover(Computer* computer, GamePad* pad0, GamePad* pad1) {
    // A controller plugged in later is opened into the record of its slot.
    computer->pad_records[0] = pad0;
    computer->pad_records[1] = pad1;
    GamePad_init_subsystem();
    if (GamePad_open(pad0, GamePad_find_next(0)) && GamePad_attach(computer, pad0, 0))
        GamePad_log(pad0);
    // The search resumes after the device tried for slot 0, opened or not.
    if (GamePad_open(pad1, GamePad_find_next(pad0->joystick_index + 1)) &&
        GamePad_attach(computer, pad1, 1))
        GamePad_log(pad1);
}

void GamePad_handle_added(Computer* computer, const SDL_ControllerDeviceEvent* event) {
    const int index = event->which;
    if (index < 0 || index >= SDL_NumJoysticks() || !SDL_IsGameController(index)) return;
    if (holds_instance(computer, SDL_JoystickGetDeviceInstanceID(index))) return;
    for (int slot = 0; slot < 2; ++slot) {
        GamePad* pad = computer->pad_records[slot];
        if (computer->pads[slot] || !pad) continue;
        if (GamePad_open(pad, index) && GamePad_attach(computer, pad, slot)) {
            GamePad_log(pad);
            std::fflush(stdout);
        } else {
            GamePad_close(pad);
        }
        return;
    }
}

void GamePad_handle_removed(Computer* computer, const SDL_ControllerDeviceEvent* event) {
    for (GamePad*& pad : computer->pads) {
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
