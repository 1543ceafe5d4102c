#include "session.h"

#include <algorithm>
#include <cstdio>

#include "computer/log.h"
#include "computer/snapshot.h"

namespace {

// Frames between snapshots, and how far back the history reaches: 4096
// frames is over a minute of machine time.
constexpr uint32_t SNAPSHOT_INTERVAL = 10;
constexpr uint64_t HISTORY_FRAMES = 4096;

constexpr uint8_t OP_CALL = 0x40;
constexpr uint8_t OP_RET = 0x41;
constexpr uint8_t OP_RETI = 0x42;
constexpr uint8_t OP_DI = 0xFD;
constexpr uint8_t OP_EI = 0xFE;

// The opcode handlers take no context, and a process debugs one machine.
Session* active = nullptr;
std::array<OpcodeHandler, 256> machine_handlers;
// The machine's handlers with calls, returns and the interrupt flag followed,
// with and without opcodes without an instruction caught before they run.
std::array<OpcodeHandler, 256> following_handlers;
std::array<OpcodeHandler, 256> catching_handlers;

void on_call(CPU* cpu, uint8_t opcode) {
    uint16_t site = static_cast<uint16_t>(CPU_pc(cpu) - 1);
    machine_handlers[opcode](cpu, opcode);
    Session* s = active;
    s->calls.push_back(CallFrame{site, CPU_pc(cpu), static_cast<uint16_t>(site + 3), CPU_sp(cpu),
                                 static_cast<uint8_t>(Session_bank_of(s, site)), false});
}

// A return leaves every call whose pushed word is now above the stack; so
// does a program that pops its return address by hand and jumps, at its
// caller's return.
void on_return(CPU* cpu, uint8_t opcode) {
    machine_handlers[opcode](cpu, opcode);
    Session* s = active;
    uint16_t sp = CPU_sp(cpu);
    while (!s->calls.empty() && s->calls.back().sp < sp) s->calls.pop_back();
    if (opcode == OP_RETI) s->interrupts_on = cpu->interrupt_enable;
}

void on_interrupt_flag(CPU* cpu, uint8_t opcode) {
    machine_handlers[opcode](cpu, opcode);
    active->interrupts_on = cpu->interrupt_enable;
}

// Puts PC back on the opcode: the machine is as it was before it.
void on_illegal(CPU* cpu, uint8_t) {
    CPU_set_pc(cpu, static_cast<uint16_t>(CPU_pc(cpu) - 1));
    active->illegal_hit = true;
}

void install_handlers() {
    machine_handlers = opcode_table;
    following_handlers = machine_handlers;
    following_handlers[OP_CALL] = on_call;
    following_handlers[OP_RET] = on_return;
    following_handlers[OP_RETI] = on_return;
    following_handlers[OP_DI] = on_interrupt_flag;
    following_handlers[OP_EI] = on_interrupt_flag;
    catching_handlers = following_handlers;
    for (OpcodeHandler& h : catching_handlers)
        if (!h) h = on_illegal;
    opcode_table = following_handlers;
}

void log_sink(void* context, bool is_error, const char* text) {
    Session* s = static_cast<Session*>(context);
    if (s->quiet || !s->output) return;
    if (s->holding) {
        s->held.emplace_back(is_error, text);
        return;
    }
    s->output(s->output_context, is_error ? OutputKind::MachineError : OutputKind::Machine, text);
}

// Lets out what a frame run whole printed; an opcode that the debugger then
// stops before did not run yet, so its line is not.
void release_held(Session* s, bool drop_errors) {
    s->holding = false;
    for (const auto& [is_error, text] : s->held)
        if (!(is_error && drop_errors) && s->output)
            s->output(s->output_context, is_error ? OutputKind::MachineError : OutputKind::Machine, text);
    s->held.clear();
}

void take_snapshot(Session* s) {
    Snapshot snap;
    snap.frame = s->computer.frame;
    Computer_save_state(&s->computer, &snap.state);
    snap.calls = s->calls;
    snap.interrupts_on = s->interrupts_on;
    History_add(&s->history, std::move(snap));
}

void restore_snapshot(Session* s, const Snapshot& snap) {
    std::string error;
    Computer_load_state(&s->computer, snap.state, &error);
    s->calls = snap.calls;
    s->interrupts_on = snap.interrupts_on;
    s->frame_pos = 0;
}

// Before a frame's first instruction: the snapshot, then the frame's
// controller bytes, as recorded or, at the front of time, from the host.
void begin_frame(Session* s) {
    uint64_t frame = s->computer.frame;
    if (History_wants_snapshot(&s->history, frame)) take_snapshot(s);
    PadBytes bytes{};
    if (History_input(&s->history, frame, &bytes)) {
        s->computer.controllers.bytes = bytes;
        return;
    }
    if (s->host.frame_start && !s->replaying) s->host.frame_start(s->host.context, s);
    History_record_input(&s->history, frame, s->computer.controllers.bytes);
}

void push_interrupt(Session* s, uint16_t site) {
    CPU* cpu = &s->computer.cpu;
    s->calls.push_back(CallFrame{site, CPU_pc(cpu), site, CPU_sp(cpu),
                                 static_cast<uint8_t>(std::max(0, Session_bank_of(s, site))), true});
    s->interrupts_on = 0;
}

// The end of a frame, exactly as Computer_run_frame ends one after its
// instructions: the picture, the frame interrupt, the count.
void finish_frame(Session* s) {
    CPU* cpu = &s->computer.cpu;
    bool taken = s->interrupts_on != 0;
    uint16_t site = CPU_pc(cpu);
    if (s->picture && !s->replaying) GPU_compose(&s->computer.gpu, s->picture);
    CPU_interrupt(cpu, 0);
    ++s->computer.frame;
    if (taken && cpu->interrupt_enable == 0) push_interrupt(s, site);
    s->frame_pos = 0;
}

std::string illegal_text(Session* s) {
    uint16_t pc = CPU_pc(&s->computer.cpu);
    char text[64];
    std::snprintf(text, sizeof text, "Illegal opcode 0x%02X at 0x%04X", Session_peek(s, pc), pc);
    return text;
}

StopReason reason_of(BreakKind kind) {
    switch (kind) {
    case BreakKind::Line: return StopReason::Breakpoint;
    case BreakKind::Function: return StopReason::FunctionBreakpoint;
    case BreakKind::Instruction: return StopReason::InstructionBreakpoint;
    }
    return StopReason::Breakpoint;
}

// Whether a breakpoint's rule lets it act now: its condition holds and its
// hit condition passes (when `count` is set; reverse runs ignore counts).
bool rule_fires(Session* s, BreakRule* rule, bool count) {
    if (rule->has_condition) {
        int64_t value = 0;
        std::string error;
        // A condition that cannot be evaluated stops, so the fault is seen.
        if (Session_evaluate(s, rule->condition, &value, &error) && value == 0) return false;
    }
    return !count || BreakRule_count_hit(rule);
}

void log_point(Session* s, const BreakRule& rule) {
    if (s->quiet || !s->output) return;
    s->output(s->output_context, OutputKind::LogPoint, Session_format_log(s, rule.log_message) + "\n");
}

// Code breakpoints at PC: logs the log points and tells whether one stops.
bool code_breaks(Session* s, uint16_t pc, bool scanning, Stop* stop) {
    int bank = Session_bank_of(s, pc);
    bool stops = false;
    for (CodeBreak& c : s->breakpoints.code) {
        if (c.address != pc || (c.bank >= 0 && c.bank != bank)) continue;
        if (!rule_fires(s, &c.rule, !scanning)) continue;
        if (c.rule.is_log) {
            if (!scanning) log_point(s, c.rule);
            continue;
        }
        if (!stops) stop->reason = reason_of(c.kind);
        stops = true;
        stop->breakpoint_ids.push_back(c.id);
    }
    return stops;
}

bool data_breaks(Session* s, bool scanning, Stop* stop) {
    WatchHit hit = s->breakpoints.watch_hit;
    bool stops = false;
    for (DataBreak& d : s->breakpoints.data) {
        if (d.address != hit.address || !(d.access & hit.access)) continue;
        if (!rule_fires(s, &d.rule, !scanning)) continue;
        if (d.rule.is_log) {
            if (!scanning) log_point(s, d.rule);
            continue;
        }
        stops = true;
        stop->breakpoint_ids.push_back(d.id);
    }
    if (stops) {
        char text[64];
        std::snprintf(text, sizeof text, "%s 0x%02X at 0x%04X", hit.access == WATCH_READ ? "read" : "wrote",
                      hit.value, hit.address);
        stop->reason = StopReason::DataBreakpoint;
        stop->text = text;
    }
    return stops;
}

enum class Goal : uint8_t { Frame, Step, Target, Scan };

struct RunGoal {
    Goal goal;
    StepKind step;
    size_t depth;    // calls open when the step began
    uint64_t target; // Target, Scan: run up to this point
};

struct ScanResult {
    bool found;
    uint64_t at;
};

bool step_done(const Session* s, const RunGoal& goal) {
    switch (goal.step) {
    case StepKind::Into: return true;
    case StepKind::Over: return s->calls.size() <= goal.depth;
    case StepKind::Out: return s->calls.size() < goal.depth;
    }
    return true;
}

// Instructions one at a time, each checked, until the goal or a stop.
Stop run_checked(Session* s, const RunGoal& goal, ScanResult* scan) {
    CPU* cpu = &s->computer.cpu;
    bool scanning = goal.goal == Goal::Scan;
    bool breaks = goal.goal != Goal::Target && Breakpoints_any(&s->breakpoints);
    opcode_table = s->stop_on_illegal ? catching_handlers : following_handlers;
    Stop stop{StopReason::None, {}, {}};
    while (true) {
        if (s->frame_pos == 0) begin_frame(s);
        uint64_t now = Session_now(s);
        if ((goal.goal == Goal::Target || scanning) && now >= goal.target) break;
        uint16_t pc = CPU_pc(cpu);
        if (breaks && Breakpoints_maybe_at(&s->breakpoints, pc) && (scanning || now != s->resume_at)) {
            if (code_breaks(s, pc, scanning, &stop)) {
                if (!scanning) break;
                *scan = ScanResult{true, now};
                stop = Stop{StopReason::None, {}, {}};
            }
        }
        s->quiet = s->replaying || now < s->furthest;
        s->breakpoints.watch_hit.hit = false;
        s->illegal_hit = false;
        if (now == s->illegal_at) opcode_table = following_handlers;
        CPU_step(cpu);
        if (now == s->illegal_at) opcode_table = s->stop_on_illegal ? catching_handlers : following_handlers;
        if (s->illegal_hit) {
            stop = Stop{StopReason::Exception, {}, illegal_text(s)};
            break;
        }
        DMA_update(&s->computer.dma);
        bool ended = !cpu->running;
        if (++s->frame_pos == s->cycles_per_frame || ended) finish_frame(s);
        if (now + 1 > s->furthest) s->furthest = now + 1;
        if (ended) {
            stop = Stop{StopReason::Ended, {}, {}};
            break;
        }
        if (breaks && s->breakpoints.watch_hit.hit && data_breaks(s, scanning, &stop)) {
            if (!scanning) break;
            if (Session_now(s) < goal.target) *scan = ScanResult{true, Session_now(s)};
            stop = Stop{StopReason::None, {}, {}};
        }
        if (goal.goal == Goal::Step && step_done(s, goal)) {
            stop.reason = StopReason::Step;
            break;
        }
        if (s->frame_pos == 0 && (goal.goal == Goal::Frame || goal.goal == Goal::Step)) break;
    }
    s->quiet = false;
    opcode_table = following_handlers;
    return stop;
}

void end_run(Session* s) {
    CPU* cpu = &s->computer.cpu;
    s->state = RunState::Ended;
    s->exit_code = cpu->illegal_opcode ? 4 : 0;
}

// Rebuilds the machine as it was at point `target`, from the latest
// snapshot before it.
bool go_to(Session* s, uint64_t target) {
    const Snapshot* snap = History_at_or_before(&s->history, target / s->cycles_per_frame);
    if (!snap) return false;
    restore_snapshot(s, *snap);
    s->replaying = true;
    run_checked(s, RunGoal{Goal::Target, StepKind::Into, 0, target}, nullptr);
    s->replaying = false;
    return Session_now(s) == target;
}

} // namespace

bool Session_init(Session* s) {
    s->has_info = false;
    s->state = RunState::Idle;
    s->frame_pos = 0;
    s->calls.clear();
    s->interrupts_on = 0;
    s->stop_on_illegal = true;
    s->illegal_hit = false;
    s->resume_at = UINT64_MAX;
    s->illegal_at = UINT64_MAX;
    s->replaying = false;
    s->quiet = false;
    s->holding = false;
    s->furthest = 0;
    s->exit_code = 0;
    s->picture = nullptr;
    s->goal_kind = SessionGoal::Run;
    History_init(&s->history, SNAPSHOT_INTERVAL, HISTORY_FRAMES);
    active = s;
    Log_set_sink(log_sink, s);
    if (!Computer_init(&s->computer)) return false;
    install_handlers();
    return true;
}

void Session_free(Session* s) {
    Breakpoints_free(&s->breakpoints);
    Computer_detach_cartridge(&s->computer);
    Cartridge_free_image(&s->cartridge);
    Computer_free(&s->computer);
    History_free(&s->history);
    opcode_table = machine_handlers;
    Log_set_sink(nullptr, nullptr);
    active = nullptr;
}

bool Session_launch(Session* s, std::vector<uint8_t> rom, const std::string& debug_text, std::string* error) {
    if (!debug_text.empty()) {
        std::string why;
        if (!DebugInfo_parse(debug_text, &s->info, &why)) {
            *error = "debug information: " + why;
            return false;
        }
        s->has_info = true;
    }
    s->rom = std::move(rom);
    if (!Cartridge_init_image(&s->cartridge, s->rom)) {
        *error = "the ROM image is empty or larger than the cartridge takes";
        return false;
    }
    Computer_attach_cartridge(&s->computer, &s->cartridge);
    Breakpoints_init(&s->breakpoints, &s->computer.bus);
    Computer_start(&s->computer);
    s->cycles_per_frame = static_cast<uint32_t>(Computer_cycles_per_frame(&s->computer));
    s->state = RunState::Stopped;
    return true;
}

uint64_t Session_now(const Session* s) { return s->computer.frame * s->cycles_per_frame + s->frame_pos; }

int Session_bank_of(const Session* s, uint16_t address) {
    return DebugInfo_bank_of(address, s->computer.cartridge ? s->computer.cartridge->bank : 1);
}

uint8_t Session_peek(Session* s, uint16_t address) { return Bus_read(&s->breakpoints.plain, address); }

void Session_poke(Session* s, uint16_t address, uint8_t value) {
    Bus_write(&s->breakpoints.plain, address, value);
}

void Session_changed(Session* s) {
    uint64_t frame = s->computer.frame;
    History_truncate(&s->history, s->frame_pos == 0 ? frame : frame + 1, s->frame_pos == 0 ? frame : frame + 1);
    s->furthest = Session_now(s);
}

Stop Session_run_slice(Session* s) {
    CPU* cpu = &s->computer.cpu;
    Stop stop{StopReason::None, {}, {}};
    bool frontier = Session_now(s) >= s->furthest;
    if (s->goal_kind == SessionGoal::Run && s->frame_pos == 0 && frontier && !Breakpoints_any(&s->breakpoints) &&
        s->illegal_at != Session_now(s)) {
        begin_frame(s);
        s->holding = true;
        FrameEnd end = Computer_run_frame(&s->computer, s->picture);
        bool caught = end == FrameEnd::IllegalOpcode && s->stop_on_illegal;
        release_held(s, caught);
        if (end == FrameEnd::Running && s->interrupts_on && cpu->interrupt_enable == 0) {
            uint8_t l = cpu->cells[15];
            const uint8_t* page = CPU_stack_page(cpu);
            push_interrupt(s, static_cast<uint16_t>(page[l] | page[static_cast<uint8_t>(l + 1)] << 8));
        }
        s->furthest = Session_now(s);
        if (end == FrameEnd::Running) return stop;
        if (end == FrameEnd::IllegalOpcode && s->stop_on_illegal) {
            // Back to the frame's start, then forwards to the opcode itself.
            go_to(s, (s->computer.frame - 1) * s->cycles_per_frame);
            stop = run_checked(s, RunGoal{Goal::Frame, StepKind::Into, 0, 0}, nullptr);
            if (stop.reason == StopReason::Exception) {
                s->state = RunState::Stopped;
                s->illegal_at = Session_now(s);
                s->furthest = s->illegal_at;
                return stop;
            }
        }
        end_run(s);
        return Stop{StopReason::Ended, {}, {}};
    }
    RunGoal goal{s->goal_kind == SessionGoal::Run ? Goal::Frame : Goal::Step, s->step_kind, s->step_depth, 0};
    stop = run_checked(s, goal, nullptr);
    if (stop.reason == StopReason::Ended) {
        end_run(s);
    } else if (stop.reason != StopReason::None) {
        s->state = RunState::Stopped;
        if (stop.reason == StopReason::Exception) s->illegal_at = Session_now(s);
    }
    return stop;
}

void Session_resume(Session* s, SessionGoal goal, StepKind kind) {
    s->calls = Session_calls(s);
    s->goal_kind = goal;
    s->step_kind = kind;
    s->step_depth = s->calls.size();
    s->resume_at = Session_now(s);
    s->state = RunState::Running;
}

uint64_t Session_history_start(const Session* s) {
    if (s->history.snapshots.empty()) return Session_now(s);
    return s->history.snapshots.front().frame * s->cycles_per_frame;
}

Stop Session_step_back(Session* s) {
    uint64_t now = Session_now(s);
    if (now <= Session_history_start(s)) return Stop{StopReason::HistoryStart, {}, "start of the recorded history"};
    go_to(s, now - 1);
    return Stop{StopReason::Step, {}, {}};
}

Stop Session_reverse_continue(Session* s) {
    uint64_t now = Session_now(s);
    uint64_t end = now;
    // Each span between two snapshots is re-run once, latest first, noting
    // the last point in it where a breakpoint would have stopped.
    while (end > Session_history_start(s)) {
        const Snapshot* snap = History_at_or_before(&s->history, (end - 1) / s->cycles_per_frame);
        if (!snap) break;
        uint64_t start = snap->frame * s->cycles_per_frame;
        restore_snapshot(s, *snap);
        s->replaying = true;
        ScanResult found{false, 0};
        run_checked(s, RunGoal{Goal::Scan, StepKind::Into, 0, end}, &found);
        s->replaying = false;
        if (found.found) {
            go_to(s, found.at);
            Stop stop{StopReason::Breakpoint, {}, {}};
            // Name the breakpoints that stop here, as a forward run would.
            uint16_t pc = CPU_pc(&s->computer.cpu);
            for (const CodeBreak& c : s->breakpoints.code)
                if (c.address == pc && !c.rule.is_log) stop.breakpoint_ids.push_back(c.id);
            if (stop.breakpoint_ids.empty()) stop.reason = StopReason::DataBreakpoint;
            return stop;
        }
        end = start;
    }
    go_to(s, Session_history_start(s));
    return Stop{StopReason::HistoryStart, {}, "start of the recorded history"};
}

std::vector<CallFrame> Session_calls(Session* s) {
    CPU* cpu = &s->computer.cpu;
    uint16_t sp = CPU_sp(cpu);
    const uint8_t* page = CPU_stack_page(cpu);
    std::vector<CallFrame> valid;
    for (const CallFrame& f : s->calls) {
        uint8_t l = static_cast<uint8_t>(f.sp);
        uint16_t word = static_cast<uint16_t>(page[l] | page[static_cast<uint8_t>(l + 1)] << 8);
        if (f.sp >= sp && word == f.return_address) valid.push_back(f);
    }
    return valid;
}

bool Session_evaluate(Session* s, const Expr& expr, int64_t* value, std::string* error) {
    ExprMachine machine{&s->computer.cpu,
                        [](void* context, uint16_t address) { return Session_peek(static_cast<Session*>(context), address); },
                        s, Session_bank_of(s, 0x4000), s->computer.frame};
    return Expr_evaluate(expr, machine, value, error);
}

std::string Session_format_log(Session* s, const std::string& message) {
    std::string out;
    size_t at = 0;
    while (at < message.size()) {
        size_t open = message.find('{', at);
        if (open == std::string::npos) break;
        size_t close = message.find('}', open);
        if (close == std::string::npos) break;
        out += message.substr(at, open - at);
        Expr expr;
        std::string error;
        int64_t value = 0;
        if (Expr_compile(message.substr(open + 1, close - open - 1), s->has_info ? &s->info : nullptr, &expr, &error) &&
            Session_evaluate(s, expr, &value, &error))
            out += std::to_string(value);
        else
            out += "{" + error + "}";
        at = close + 1;
    }
    out += message.substr(at);
    return out;
}
