#include "session.h"

#include <algorithm>
#include <cstdio>

#include "computer/log.h"
#include "computer/snapshot.h"
#include "cpu/isa.h"

namespace {

// Frames between snapshots, and how far back the history reaches: 4096
// frames is over a minute of machine time.
constexpr uint32_t SNAPSHOT_INTERVAL = 10;
constexpr uint64_t HISTORY_FRAMES = 4096;

// Opcodes of the instructions the debugger follows, from the machine's table
// (each has one encoding).
constexpr uint8_t opcode_of(std::string_view mnemonic) {
    for (const InstructionInfo& info : instruction_set)
        if (info.mnemonic == mnemonic) return info.opcode;
    return 0;
}
constexpr uint8_t OP_CALL = opcode_of("CALL");
constexpr uint8_t OP_RET = opcode_of("RET");
constexpr uint8_t OP_RETI = opcode_of("RETI");
constexpr uint8_t OP_DI = opcode_of("DI");
constexpr uint8_t OP_EI = opcode_of("EI");

// The opcode handlers take no context, and a process debugs one machine.
Session* active = nullptr;
std::array<OpcodeHandler, 256> machine_handlers;
// The machine's handlers with calls, returns and the interrupt flag followed,
// with and without opcodes without an instruction caught before they run.
std::array<OpcodeHandler, 256> following_handlers;
std::array<OpcodeHandler, 256> catching_handlers;
// What each opcode does to the stack page: WATCH_WRITE for a push, WATCH_READ
// for a pop, 0 for neither.
std::array<uint8_t, 256> stack_access;

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
    for (const InstructionInfo& info : instruction_set) {
        std::string_view m = info.mnemonic;
        stack_access[info.opcode] = m == "PUSH" || m == "CALL"                ? WATCH_WRITE
                                    : m == "POP" || m == "RET" || m == "RETI" ? WATCH_READ
                                                                              : 0;
    }
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
    snap.hits = s->breakpoints.hits;
    Timeline_add(&s->timeline, std::move(snap));
}

void restore_snapshot(Session* s, const Snapshot& snap) {
    std::string error;
    Computer_load_state(&s->computer, snap.state, &error);
    s->calls = snap.calls;
    s->interrupts_on = snap.interrupts_on;
    s->breakpoints.hits = snap.hits;
    s->frame_pos = 0;
    s->checked_at = UINT64_MAX;
}

// Before a frame's first instruction: the snapshot, then the frame's
// controller bytes, as recorded or, at the front of time, from the host.
void begin_frame(Session* s) {
    uint64_t frame = s->computer.frame;
    if (Timeline_wants_snapshot(&s->timeline, frame)) take_snapshot(s);
    PadBytes bytes{};
    if (Timeline_input(&s->timeline, frame, &bytes)) {
        s->computer.controllers.bytes = bytes;
        return;
    }
    if (s->host.frame_start && !s->replaying) s->host.frame_start(s->host.context, s);
    Timeline_record_input(&s->timeline, frame, s->computer.controllers.bytes);
}

// Pushes and pops reach the CPU's stack page directly, not through the Bus:
// a watch on a byte of the page where the Bus shows it sees them here. `low`
// is the page index of the lower of the two bytes.
void watch_stack(Session* s, uint8_t low, uint8_t access) {
    Breakpoints* b = &s->breakpoints;
    const BusRegion& stack = b->plain.regions[SLOT_STACK];
    for (uint8_t index : {low, static_cast<uint8_t>(low + 1)}) {
        uint16_t address = static_cast<uint16_t>((stack.first & 0xFF00) | index);
        if (address < stack.first || address > stack.last || !(b->watch_map[address] & access)) continue;
        b->watch_hit = WatchHit{true, address, access, CPU_stack_page(&s->computer.cpu)[index]};
    }
}

void push_interrupt(Session* s, uint16_t site) {
    CPU* cpu = &s->computer.cpu;
    s->calls.push_back(CallFrame{site, CPU_pc(cpu), site, CPU_sp(cpu),
                                 static_cast<uint8_t>(std::max(0, Session_bank_of(s, site))), true});
    s->interrupts_on = 0;
}

// The end of a frame as the machine ends one, with the interrupt it may
// raise followed; a frame re-run from the history is not shown again.
void finish_frame(Session* s) {
    CPU* cpu = &s->computer.cpu;
    bool taken = s->interrupts_on != 0;
    uint16_t site = CPU_pc(cpu);
    Computer_end_frame(&s->computer, s->replaying ? nullptr : s->picture);
    if (taken && cpu->interrupt_enable == 0) {
        push_interrupt(s, site);
        if (s->breakpoints.stack_watched) watch_stack(s, cpu->cells[15], WATCH_WRITE);
    }
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

// How a run treats the breakpoints it reaches: a live run logs and stops;
// a re-run of the past only counts their hits, so the counts are those the
// program had at each point; a scan also notes where one would have stopped.
enum class Mode : uint8_t { Live, Replay, Scan };

// Whether a breakpoint acts now: its condition holds (the hit is counted)
// and its hit condition passes. One with a hit condition has no hits before
// it was set, so it acts only from there on. A condition that cannot be
// evaluated stops the run, so the fault is seen: `fault` then says why.
bool rule_fires(Session* s, int32_t id, const BreakRule& rule, std::string* fault) {
    if (rule.has_hit_test && Session_now(s) < rule.set_at) return false;
    if (rule.has_condition) {
        int64_t value = 0;
        std::string error;
        if (!Session_evaluate(s, rule.condition, &value, &error)) {
            *fault = "breakpoint condition '" + rule.condition_text + "' could not be evaluated: " + error;
            return true;
        }
        if (value == 0) return false;
    }
    return BreakRule_hit_passes(&rule, ++s->breakpoints.hits[id]);
}

void log_point(Session* s, Mode mode, const BreakRule& rule) {
    if (mode != Mode::Live || s->quiet || !s->output) return;
    s->output(s->output_context, OutputKind::LogPoint, Session_format_log(s, rule.log_message) + "\n");
}

// Code breakpoints at PC: counts their hits, logs the log points and tells
// whether one stops. A line assembled in several places is one breakpoint
// with one count, however many of its places share this address.
bool code_breaks(Session* s, uint16_t pc, Mode mode, Stop* stop) {
    int bank = Session_bank_of(s, pc);
    bool stops = false;
    int32_t last_id = 0;
    for (const CodeBreak& c : s->breakpoints.code) {
        if (c.address != pc || (c.bank >= 0 && c.bank != bank) || c.id == last_id) continue;
        last_id = c.id;
        std::string fault;
        if (!rule_fires(s, c.id, c.rule, &fault)) continue;
        if (!fault.empty()) stop->text = fault, stop->faulted = true;
        if (c.rule.is_log && fault.empty()) {
            log_point(s, mode, c.rule);
            continue;
        }
        if (!stops) stop->reason = reason_of(c.kind);
        stops = true;
        stop->breakpoint_ids.push_back(c.id);
    }
    return stops;
}

bool data_breaks(Session* s, Mode mode, Stop* stop) {
    WatchHit hit = s->breakpoints.watch_hit;
    bool stops = false;
    for (const DataBreak& d : s->breakpoints.data) {
        if (d.address != hit.address || !(d.access & hit.access)) continue;
        std::string fault;
        if (!rule_fires(s, d.id, d.rule, &fault)) continue;
        if (!fault.empty()) stop->text = fault, stop->faulted = true;
        if (d.rule.is_log && fault.empty()) {
            log_point(s, mode, d.rule);
            continue;
        }
        stops = true;
        stop->breakpoint_ids.push_back(d.id);
    }
    if (stops && !stop->faulted) {
        char text[64];
        std::snprintf(text, sizeof text, "%s 0x%02X at 0x%04X", hit.access == WATCH_READ ? "read" : "wrote",
                      hit.value, hit.address);
        stop->text = text;
    }
    if (stops) stop->reason = StopReason::DataBreakpoint;
    return stops;
}

enum class Goal : uint8_t { Frame, Step, Target, Scan };

struct RunGoal {
    Goal goal;
    StepKind step;
    size_t depth;    // calls open when the step began
    uint64_t target; // Target, Scan: run up to this point
};

// The latest point a scan found where a breakpoint would have stopped.
struct ScanResult {
    bool found;
    uint64_t at;
    Stop stop;
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
// Every point's code breakpoints are weighed once per arrival (checked_at):
// at the point a run resumes from they are counted and logged if the
// arrival had not weighed them yet, but never stop it.
Stop run_checked(Session* s, const RunGoal& goal, ScanResult* scan) {
    CPU* cpu = &s->computer.cpu;
    Mode mode = goal.goal == Goal::Scan ? Mode::Scan : goal.goal == Goal::Target ? Mode::Replay : Mode::Live;
    bool bounded = mode != Mode::Live;
    // What cannot change while the instructions run, kept out of memory
    // that each instruction's handler might touch.
    const bool breaks = Breakpoints_any(&s->breakpoints);
    const bool stack_watched = s->breakpoints.stack_watched;
    const uint64_t illegal_at = s->illegal_at;
    opcode_table = s->stop_on_illegal ? catching_handlers : following_handlers;
    Stop stop{StopReason::None, {}, {}};
    uint64_t now = Session_now(s);
    s->quiet = s->replaying || now < s->furthest;
    for (;; ++now) {
        if (s->frame_pos == 0) begin_frame(s);
        if (bounded && now >= goal.target) break;
        if (s->quiet && !s->replaying && now >= s->furthest) s->quiet = false;
        uint16_t pc = CPU_pc(cpu);
        if (breaks && now != s->checked_at && Breakpoints_maybe_at(&s->breakpoints, pc)) {
            s->checked_at = now;
            if (code_breaks(s, pc, mode, &stop)) {
                if (mode == Mode::Live && now != s->resume_at) break;
                if (mode == Mode::Scan) *scan = ScanResult{true, now, stop};
            }
            stop = Stop{StopReason::None, {}, {}};
        }
        s->breakpoints.watch_hit.hit = false;
        s->illegal_hit = false;
        if (now == illegal_at) opcode_table = following_handlers;
        uint8_t stack_use = stack_watched ? stack_access[Session_peek(s, pc)] : 0;
        uint8_t sp_low = cpu->cells[15];
        CPU_step(cpu);
        if (stack_use) watch_stack(s, stack_use == WATCH_WRITE ? cpu->cells[15] : sp_low, stack_use);
        if (now == illegal_at) opcode_table = s->stop_on_illegal ? catching_handlers : following_handlers;
        if (s->illegal_hit) {
            stop = Stop{StopReason::Exception, {}, illegal_text(s)};
            break;
        }
        DMA_update(&s->computer.dma);
        bool ended = !cpu->running;
        if (++s->frame_pos == s->cycles_per_frame || ended) finish_frame(s);
        if (ended) {
            stop = Stop{StopReason::Ended, {}, {}};
            break;
        }
        if (breaks && s->breakpoints.watch_hit.hit && data_breaks(s, mode, &stop)) {
            if (mode == Mode::Live) break;
            if (mode == Mode::Scan && now + 1 < goal.target) *scan = ScanResult{true, now + 1, stop};
            stop = Stop{StopReason::None, {}, {}};
        }
        if (goal.goal == Goal::Step && step_done(s, goal)) {
            stop.reason = StopReason::Step;
            break;
        }
        if (s->frame_pos == 0 && !bounded) break;
    }
    s->furthest = std::max(s->furthest, Session_now(s));
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
    const Snapshot* snap = Timeline_at_or_before(&s->timeline, target / s->cycles_per_frame);
    if (!snap) return false;
    restore_snapshot(s, *snap);
    s->replaying = true;
    run_checked(s, RunGoal{Goal::Target, StepKind::Into, 0, target}, nullptr);
    s->checked_at = UINT64_MAX;
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
    s->checked_at = UINT64_MAX;
    s->illegal_at = UINT64_MAX;
    s->replaying = false;
    s->quiet = false;
    s->holding = false;
    s->furthest = 0;
    s->exit_code = 0;
    s->picture = nullptr;
    s->goal_kind = SessionGoal::Run;
    Timeline_init(&s->timeline, SNAPSHOT_INTERVAL, HISTORY_FRAMES);
    active = s;
    Log_set_sink(log_sink, s);
    s->cartridge = Cartridge{};
    if (!Computer_init(&s->computer)) return false;
    // Ready to be freed before a launch succeeds.
    Breakpoints_init(&s->breakpoints, &s->computer.bus);
    install_handlers();
    return true;
}

void Session_free(Session* s) {
    Breakpoints_free(&s->breakpoints);
    Computer_detach_cartridge(&s->computer);
    Cartridge_free_image(&s->cartridge);
    Computer_free(&s->computer);
    Timeline_free(&s->timeline);
    opcode_table = machine_handlers;
    Log_set_sink(nullptr, nullptr);
    active = nullptr;
}

bool Session_launch(Session* s, std::vector<uint8_t> rom, const std::string& debug_text, std::string* error,
                    std::string* mismatch) {
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
    if (s->has_info &&
        !DebugInfo_describes(&s->info, s->cartridge.image_crc, s->cartridge.image_size, mismatch)) {
        s->has_info = false;
        s->info = DebugInfo{};
    }
    Computer_attach_cartridge(&s->computer, &s->cartridge);
    Breakpoints_init(&s->breakpoints, &s->computer.bus);
    Computer_start(&s->computer);
    s->cycles_per_frame = static_cast<uint32_t>(Computer_cycles_per_frame(&s->computer));
    s->state = RunState::Stopped;
    return true;
}

uint64_t Session_now(const Session* s) { return s->computer.frame * s->cycles_per_frame + s->frame_pos; }

uint64_t Session_first_unweighed(const Session* s) {
    uint64_t now = Session_now(s);
    return s->checked_at == now ? now + 1 : now;
}

int Session_bank_of(const Session* s, uint16_t address) {
    return DebugInfo_bank_of(address, s->computer.cartridge ? s->computer.cartridge->bank : 1);
}

uint8_t Session_peek(Session* s, uint16_t address) { return Bus_read(&s->breakpoints.plain, address); }

void Session_poke(Session* s, uint16_t address, uint8_t value) {
    Bus_write(&s->breakpoints.plain, address, value);
}

void Session_changed(Session* s) {
    uint64_t frame = s->computer.frame;
    Timeline_truncate(&s->timeline, s->frame_pos == 0 ? frame : frame + 1,
                      s->frame_pos == 0 ? frame : frame + 1);
    s->furthest = Session_now(s);
}

Stop Session_run_slice(Session* s) {
    CPU* cpu = &s->computer.cpu;
    Stop stop{StopReason::None, {}, {}};
    bool frontier = Session_now(s) >= s->furthest;
    if (s->goal_kind == SessionGoal::Run && s->frame_pos == 0 && frontier &&
        !Breakpoints_any(&s->breakpoints) && s->illegal_at != Session_now(s)) {
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
    if (s->timeline.snapshots.empty()) return Session_now(s);
    return s->timeline.snapshots.front().frame * s->cycles_per_frame;
}

Stop Session_step_back(Session* s) {
    uint64_t now = Session_now(s);
    if (now <= Session_history_start(s))
        return Stop{StopReason::HistoryStart, {}, "start of the recorded history"};
    go_to(s, now - 1);
    return Stop{StopReason::Step, {}, {}};
}

Stop Session_reverse_continue(Session* s) {
    uint64_t now = Session_now(s);
    uint64_t end = now;
    // Each span between two snapshots is re-run once, latest first, noting
    // the last point in it where a breakpoint would have stopped.
    while (end > Session_history_start(s)) {
        const Snapshot* snap = Timeline_at_or_before(&s->timeline, (end - 1) / s->cycles_per_frame);
        if (!snap) break;
        uint64_t start = snap->frame * s->cycles_per_frame;
        restore_snapshot(s, *snap);
        s->replaying = true;
        ScanResult found{false, 0, {}};
        run_checked(s, RunGoal{Goal::Scan, StepKind::Into, 0, end}, &found);
        s->replaying = false;
        if (found.found) {
            go_to(s, found.at);
            // Arrived as a forward run would have: a code breakpoint's hit
            // here counted, and passed when the run resumes.
            if (found.stop.reason != StopReason::DataBreakpoint) {
                Stop counted{};
                code_breaks(s, CPU_pc(&s->computer.cpu), Mode::Replay, &counted);
                s->checked_at = found.at;
            }
            return found.stop;
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
    ExprMachine machine{
        &s->computer.cpu,
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
        if (Expr_compile(message.substr(open + 1, close - open - 1), s->has_info ? &s->info : nullptr, &expr,
                         &error) &&
            Session_evaluate(s, expr, &value, &error))
            out += std::to_string(value);
        else
            out += "{" + error + "}";
        at = close + 1;
    }
    out += message.substr(at);
    return out;
}
