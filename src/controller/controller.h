// The controller port: two input bytes at 0xFF0A (pad 0) and 0xFF0B (pad 1),
// one bit per button, 1 while held. Plain storage the program may also write;
// host pads and the keyboard set and clear single bits.
#pragma once

#include <array>
#include <cstdint>

constexpr uint16_t CONTROLLER_FIRST = 0xFF0A;
constexpr uint16_t CONTROLLER_LAST = 0xFF0B;

enum PadBit : uint8_t {
    PAD_UP = 0x01,
    PAD_DOWN = 0x02,
    PAD_LEFT = 0x04,
    PAD_RIGHT = 0x08,
    PAD_START = 0x10,
    PAD_BACK = 0x20,
    PAD_A = 0x40,
    PAD_X = 0x80,
};

struct ControllerPort {
    std::array<uint8_t, 2> bytes;
};

void ControllerPort_init(ControllerPort* port);
void ControllerPort_free(ControllerPort* port);
uint8_t ControllerPort_read(ControllerPort* port, uint16_t address);
void ControllerPort_write(ControllerPort* port, uint16_t address, uint8_t value);
