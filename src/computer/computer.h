// The whole machine in one record: the CPU and the devices embedded by value,
// the work RAM, the controller bytes and the Bus that maps them, and a link
// to the cartridge plugged into it. Everything a front end attaches (window,
// sound, game pads, files, clocks) stays with the front end, which drives the
// machine through these operations: Computer_init, attach a cartridge,
// Computer_start, then Computer_run_frame once per frame.
//
// Memory map (first matching slot wins; unmapped reads give 0):
//   0000-7FFF rom (cartridge: fixed window, then banked window)
//   8000-9FFF gpu (video memory)
//   A000-DFFF ram
//   E000-EFFF storage (cartridge save RAM)
//   FF00-FF06 i/o dma, FF07-FF09 i/o apu, FF0A-FF0B i/o controller
//   FF80-FFFF stack (the CPU's stack page, bytes 0x80-0xFF)
// Ports: 0x80 is the test port, which prints its traffic.
#pragma once

#include <cstdint>

#include "apu/apu.h"
#include "computer/bus.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "dma/dma.h"
#include "gpu/gpu.h"

struct Cartridge;

constexpr uint16_t RAM_FIRST = 0xA000;
constexpr uint16_t RAM_LAST = 0xDFFF;
constexpr uint32_t RAM_BUFFER_SIZE = 65535;
constexpr uint8_t TEST_PORT = 0x80;

constexpr int SLOT_ROM = 0;
constexpr int SLOT_GPU = 1;
constexpr int SLOT_RAM = 2;
constexpr int SLOT_STORAGE = 3;
constexpr int SLOT_DMA = 4;
constexpr int SLOT_APU = 5;
constexpr int SLOT_CONTROLLER = 6;
constexpr int SLOT_STACK = 7;
constexpr int SLOT_TEST = 8;

struct RAM {
    uint8_t* buffer;
};

struct Computer {
    Cartridge* cartridge;
    CPU cpu;
    GPU gpu;
    APU apu;
    DMA dma;
    RAM ram;
    ControllerPort controllers;
    Bus bus;
    // Frames run since Computer_start.
    uint64_t frame;
};

extern uint8_t test_byte;

// Returns false when the work RAM or the video memory cannot be allocated;
// the caller reports that and stops.
bool Computer_init(Computer* computer);
void Computer_free(Computer* computer);
void Computer_attach_cartridge(Computer* computer, Cartridge* cartridge);
void Computer_detach_cartridge(Computer* computer);

// Puts the machine back as Computer_init left it, for a fresh start of a
// (perhaps newly loaded) cartridge: registers, work RAM, video memory and the
// device registers cleared, the CPU stopped. The controller bytes stay, since
// the buttons held on the host stay held; the cartridge keeps its save RAM.
void Computer_reset(Computer* computer);

// Resets the program counter to START_ADDRESS and sets the CPU running; the
// frame count starts again from 0.
void Computer_start(Computer* computer);

enum class FrameEnd : uint8_t {
    Running,       // the program runs on into the next frame
    Stopped,       // HALT, or RET at the outermost level
    IllegalOpcode, // the CPU stopped on an opcode without a handler
};

// One frame, as every front end runs it: the frame's budget of instructions,
// each followed by its DMA check, while the CPU runs; then video memory
// composed into `frame` (FRAME_BYTES, or null for a front end without a
// picture) and the frame interrupt.
FrameEnd Computer_run_frame(Computer* computer, uint8_t* frame);

// The end of a frame alone, for a front end that runs the frame's
// instructions itself (a debugger stepping through them): the composition,
// the frame interrupt and the frame count, as Computer_run_frame ends one.
FrameEnd Computer_end_frame(Computer* computer, uint8_t* frame);

// Runs up to `budget` instructions, each followed by a DMA check, while the
// CPU runs. Returns the number of instructions executed.
int Computer_run_instructions(Computer* computer, int budget);

// The frame's instruction budget: clock rate over refresh rate.
int32_t Computer_cycles_per_frame(const Computer* computer);

bool RAM_init(RAM* ram);
void RAM_free(RAM* ram);
uint8_t RAM_read(RAM* ram, uint16_t address);
void RAM_write(RAM* ram, uint16_t address, uint8_t value);

uint8_t TestPort_in(void* context, uint16_t port);
void TestPort_out(void* context, uint16_t port, uint8_t value);
