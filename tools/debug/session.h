// One debugging session: the machine being debugged, its cartridge and debug
// information, the breakpoints, the recorded history and the run control
// that moves the machine forwards and backwards.
//
// Time is counted in instructions from the start: frame f's instructions
// are f * cycles_per_frame .. (f + 1) * cycles_per_frame - 1, since the
// program runs every frame's full budget until it stops for good. A stop is
// a point between two instructions; at a frame's first point the frame's
// controller bytes are not yet applied.
//
// Use: Session_init, Session_launch, then Session_run_slice repeatedly while
// the run state is Running (each call runs at most to the end of a frame),
// and the step operations while it is Stopped. The requests of the protocol
// (requests.cpp) drive it; so do the benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "breakpoints.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "debug_info.h"
#include "timeline.h"

enum class RunState : uint8_t { Idle, Stopped, Running, Ended };

// clang-format off
enum class StopReason : uint8_t {
    None, Entry, Step, Breakpoint, FunctionBreakpoint, InstructionBreakpoint, DataBreakpoint,
    Exception, Pause, HistoryStart, Ended,
};
// clang-format on

enum class StepKind : uint8_t { Into, Over, Out };
enum class SessionGoal : uint8_t { Run, Step };

struct Stop {
    StopReason reason;
    std::vector<int32_t> breakpoint_ids;
    std::string text;     // what the stop was, for the user
    bool faulted = false; // a breakpoint's condition could not be evaluated: `text` says why
};

struct Session;

// What a host with input adds: before each frame run live (not re-run from
// the history), the input that arrived since the last one. Null: headless.
struct SessionHost {
    void* context;
    void (*frame_start)(void* context, Session* session);
};

// Where the machine's printing (and the log points' messages) go.
enum class OutputKind : uint8_t { Machine, MachineError, LogPoint };
using SessionOutput = void (*)(void* context, OutputKind kind, const std::string& text);

struct Session {
    Computer computer;
    Cartridge cartridge;
    std::vector<uint8_t> rom;
    DebugInfo info;
    bool has_info;
    Breakpoints breakpoints;
    Timeline timeline;
    RunState state;

    uint32_t cycles_per_frame;
    uint32_t frame_pos; // instructions run in the current frame
    std::vector<CallFrame> calls;
    uint8_t interrupts_on; // as EI, DI and RETI left them

    bool stop_on_illegal;
    bool illegal_hit;    // the CPU reached an opcode without an instruction
    uint64_t resume_at;  // breakpoints at this point do not stop the run leaving it
    uint64_t checked_at; // the point whose code breakpoints were last weighed
    uint64_t illegal_at; // an illegal opcode here is executed, not caught
    bool replaying;      // re-running the past: no output, no live input
    bool quiet;          // the machine's printing is dropped
    bool holding;        // ... or kept in `held` until the frame is known good
    std::vector<std::pair<bool, std::string>> held;
    uint64_t furthest; // the latest point ever reached; output before it was seen
    SessionGoal goal_kind;
    StepKind step_kind;
    size_t step_depth; // calls open when the step began
    int exit_code;     // as lumacor-run would give it
    uint8_t* picture;  // FRAME_BYTES, or null when nothing shows it

    SessionHost host;
    SessionOutput output;
    void* output_context;
};

bool Session_init(Session* session);
void Session_free(Session* session);

// Loads the image (already read by the caller) and the debug information
// text (may be empty), builds the machine and starts it at the start address.
// Debug information made for another image is not used: `mismatch` then
// says how they differ.
bool Session_launch(Session* session, std::vector<uint8_t> rom, const std::string& debug_text,
                    std::string* error, std::string* mismatch);

uint64_t Session_now(const Session* session);
// The first point whose breakpoints are still to be weighed: the present
// one, unless the run stopped here on weighing them. A breakpoint set now
// counts its hits from there.
uint64_t Session_first_unweighed(const Session* session);
// The cartridge bank under which the debug information records `address`.
int Session_bank_of(const Session* session, uint16_t address);
uint8_t Session_peek(Session* session, uint16_t address);
void Session_poke(Session* session, uint16_t address, uint8_t value);
// The state was changed by hand: the recorded future no longer holds.
void Session_changed(Session* session);

// Runs to the end of the current frame or to a stop, whichever comes
// first. Returns the stop (reason None when the frame ended without one).
Stop Session_run_slice(Session* session);
// Sets the machine running towards a goal; breakpoints at the point it
// starts from are passed.
void Session_resume(Session* session, SessionGoal goal, StepKind kind);
Stop Session_step_back(Session* session);
Stop Session_reverse_continue(Session* session);
// The first point still recorded.
uint64_t Session_history_start(const Session* session);

// The calls the program is inside, innermost last, checked against the
// stack as it is now.
std::vector<CallFrame> Session_calls(Session* session);

// Replaces `{expression}` in a log message by its value.
std::string Session_format_log(Session* session, const std::string& message);
bool Session_evaluate(Session* session, const Expr& expr, int64_t* value, std::string* error);
