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
#include <map>
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
    uint8_t interrupts_on;            // as the last EI, DI or RETI left them
    std::map<int32_t, uint64_t> hits; // breakpoint hits before the frame
};

using PadBytes = std::array<uint8_t, 2>;

struct Timeline {
    std::deque<Snapshot> snapshots; // ascending frames
    std::deque<PadBytes> inputs;    // for frames first_input_frame on
    uint64_t first_input_frame;
    uint32_t interval;
    uint64_t keep_frames;
};

void Timeline_init(Timeline* timeline, uint32_t interval, uint64_t keep_frames);
void Timeline_free(Timeline* timeline);

bool Timeline_wants_snapshot(const Timeline* timeline, uint64_t frame);
// Adds the snapshot of a frame's start and forgets what lies more than
// keep_frames before it (keeping one snapshot at or before that point).
void Timeline_add(Timeline* timeline, Snapshot snapshot);
// The latest snapshot taken at or before `frame`, or null.
const Snapshot* Timeline_at_or_before(const Timeline* timeline, uint64_t frame);

void Timeline_record_input(Timeline* timeline, uint64_t frame, PadBytes bytes);
bool Timeline_input(const Timeline* timeline, uint64_t frame, PadBytes* bytes);

// Forgets snapshots from `frame` on and inputs from `input_frame` on: the
// state was changed by hand, so that future no longer follows.
void Timeline_truncate(Timeline* timeline, uint64_t frame, uint64_t input_frame);
