// The headless frame runner: runs a Computer frame by frame as fast as the
// host allows, with no window, sound or pacing, through the same frame
// sequence as the window's loop: the frame's burst of instructions (each
// followed by its DMA check), the picture composed into a buffer, then the
// frame interrupt.
//
// Use: build the Computer and attach the cartridge as usual, fill a
// HeadlessOptions, call Headless_run; it starts the CPU at 0x0100 (or runs
// on from a restored snapshot) and returns how the run ended. Scripted presses set the controller bytes
// before the instructions of their frame, as held buttons would.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gpu/gpu.h"

struct Computer;
struct CPU;
struct DebugInfo;

// From frame `frame` on (frames count from 0), controller byte `pad` holds
// exactly `buttons` (PAD_* bits), until a later press for the same pad.
struct HeadlessPress {
    int64_t frame;
    int pad; // 0: 0xFF0A, 1: 0xFF0B
    uint8_t buttons;
};

struct HeadlessOptions {
    int64_t frame_limit = 600;
    std::vector<HeadlessPress> presses;    // any order
    std::FILE* trace = nullptr;            // one line per instruction when set
    int64_t trace_from = 0;                // the first frame traced
    const DebugInfo* trace_info = nullptr; // names labels in the trace when set
    bool resume = false;                   // run on from the machine's state instead of starting it
    std::vector<float>* sound = nullptr;   // receives SOUND_SAMPLES_PER_FRAME samples per frame when set
};

// The machine's synthesiser rendered at 48 kHz: 768 samples for each 16 ms frame.
constexpr int SOUND_RATE = 48000;
constexpr int SOUND_SAMPLES_PER_FRAME = SOUND_RATE * 16 / 1000;

enum class HeadlessEnd : uint8_t {
    Stopped,       // HALT, or RET at the outermost level
    FrameLimit,    // still running after frame_limit frames
    IllegalOpcode, // the CPU stopped on an opcode without a handler
};

struct HeadlessResult {
    HeadlessEnd end;
    int64_t frames; // frames run, the last one included
};

// `picture` (FRAME_BYTES bytes) receives each composed frame; after the run
// it holds the last one.
HeadlessResult Headless_run(Computer* computer, const HeadlessOptions& options, uint8_t* picture);

// Parses "FRAME:BUTTONS" or "FRAME:2/BUTTONS", BUTTONS being "none" or names
// from up, down, left, right, start, back, a, x joined by '+'. Returns false
// and sets `error` when the text is not such a press.
bool Headless_parse_press(const std::string& text, HeadlessPress* press, std::string* error);

// One trace line for the instruction at PC, as the runner prints it before
// the instruction runs: address, bytes, disassembly, r0..r15 and the Z and C
// flags. Reads the instruction's bytes through the bus (memory reads have no
// side effects). With debug information (`info` not null) a jump or call
// target that has a label is shown by its name; `bank` is the cartridge bank
// selected.
std::string Headless_trace_line(CPU* cpu, const DebugInfo* info = nullptr, int bank = 1);
