// The machine's eight buttons as the host offers them: one row each with the
// controller bit, the name the runner and the debugger use, the game
// controller button and the keyboard keys (by scancode, so by place on the
// keyboard, not by the letter printed on it) that hold it.
#pragma once

#include <SDL_gamecontroller.h>
#include <SDL_scancode.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "controller/controller.h"

struct ButtonBinding {
    uint8_t bit;
    std::string_view name;
    SDL_GameControllerButton pad_button;
    std::array<SDL_Scancode, 2> keys; // SDL_SCANCODE_UNKNOWN where there is one key
};

// clang-format off
constexpr std::array<ButtonBinding, 8> BUTTON_BINDINGS{{
    {PAD_UP,    "up",    SDL_CONTROLLER_BUTTON_DPAD_UP,    {SDL_SCANCODE_UP,        SDL_SCANCODE_UNKNOWN}},
    {PAD_DOWN,  "down",  SDL_CONTROLLER_BUTTON_DPAD_DOWN,  {SDL_SCANCODE_DOWN,      SDL_SCANCODE_UNKNOWN}},
    {PAD_LEFT,  "left",  SDL_CONTROLLER_BUTTON_DPAD_LEFT,  {SDL_SCANCODE_LEFT,      SDL_SCANCODE_UNKNOWN}},
    {PAD_RIGHT, "right", SDL_CONTROLLER_BUTTON_DPAD_RIGHT, {SDL_SCANCODE_RIGHT,     SDL_SCANCODE_UNKNOWN}},
    {PAD_START, "start", SDL_CONTROLLER_BUTTON_START,      {SDL_SCANCODE_RETURN,    SDL_SCANCODE_UNKNOWN}},
    {PAD_BACK,  "back",  SDL_CONTROLLER_BUTTON_BACK,       {SDL_SCANCODE_BACKSPACE, SDL_SCANCODE_RSHIFT}},
    {PAD_A,     "a",     SDL_CONTROLLER_BUTTON_A,          {SDL_SCANCODE_Z,         SDL_SCANCODE_SPACE}},
    {PAD_X,     "x",     SDL_CONTROLLER_BUTTON_X,          {SDL_SCANCODE_X,         SDL_SCANCODE_UNKNOWN}},
}};
// clang-format on
