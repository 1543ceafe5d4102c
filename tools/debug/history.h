// The recorded past of a debugged run, for stepping backwards: machine
// snapshots taken at the start of every `interval`-th frame, the controller
// bytes each frame began with, and the debugger's view of the calls at each
// snapshot. From a snapshot the machine re-runs deterministically to any
// later instruction, feeding each frame the bytes it had, so any point of
// the kept span can be rebuilt exactly.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

// A call or interrupt the program is inside, as the debugger saw it made.
struct CallFrame {
    uint16_t site;           // the CALL, or where the interrupt broke in
    uint16_t target;         // the routine or handler entered
    uint16_t return_address; // the word it pushed
    uint16_t sp;             // SP just after the push
    uint8_t bank;            // the cartridge bank at the time
    bool interrupt;
};

struct Snapshot {
    uint64_t frame;
    std::vector<uint8_t> state;
    std::vector<CallFrame> calls;
    uint8_t interrupts_on; // as the last EI, DI or RETI left them
};

using PadBytes = std::array<uint8_t, 2>;

struct History {
    std::deque<Snapshot> snapshots; // ascending frames
    std::deque<PadBytes> inputs;    // for frames first_input_frame on
    uint64_t first_input_frame;
    uint32_t interval;
    uint64_t keep_frames;
};

void History_init(History* history, uint32_t interval, uint64_t keep_frames);
void History_free(History* history);

bool History_wants_snapshot(const History* history, uint64_t frame);
// Adds the snapshot of a frame's start and forgets what lies more than
// keep_frames before it (keeping one snapshot at or before that point).
void History_add(History* history, Snapshot snapshot);
// The latest snapshot taken at or before `frame`, or null.
const Snapshot* History_at_or_before(const History* history, uint64_t frame);

void History_record_input(History* history, uint64_t frame, PadBytes bytes);
bool History_input(const History* history, uint64_t frame, PadBytes* bytes);

// Forgets snapshots from `frame` on and inputs from `input_frame` on: the
// state was changed by hand, so that future no longer follows.
void History_truncate(History* history, uint64_t frame, uint64_t input_frame);
