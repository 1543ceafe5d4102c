#include "requests.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "disassembler.h"

namespace {

constexpr int THREAD_ID = 1;
constexpr int64_t REGISTERS_REF = 1;
constexpr int64_t PAIRS_REF = 2;
constexpr int64_t DEVICES_REF = 3;
constexpr int64_t ADDRESS_END = 0x10000;
constexpr uint64_t MAX_DEBUG_INFO = 64u << 20;

using Handler = void (*)(Adapter* a, const Request& request, const Args& args);

void report_stop(Adapter* a, const Stop& stop);

std::string hex(int64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, static_cast<uint64_t>(value));
    return text;
}

void respond(Adapter* a, const Request& request, Json body = Json()) {
    Messages_respond(&a->out, request, std::move(body));
}

// A session that could not start is the one failure the client would
// otherwise not show: the user pressed a key and nothing came.
void fail(Adapter* a, const Request& request, std::string_view text) {
    Messages_fail(&a->out, request, text, request.command == "launch" || request.command == "attach");
}

// A request whose arguments had a member of the wrong type is refused
// before it changes anything.
bool wrong_arguments(Adapter* a, const Request& request, const Args& args) {
    if (args.error->empty()) return false;
    fail(a, request, request.command + ": " + *args.error);
    return true;
}

// Reads members the adapter does not act on, so that a client's wrong type
// is still told rather than passed over.
void check_strings(const Args& args, std::initializer_list<const char*> keys) {
    for (const char* key : keys) Args_string(args, key, "");
}
void check_bools(const Args& args, std::initializer_list<const char*> keys) {
    for (const char* key : keys) Args_bool(args, key, false);
}

// The machine has one thread; a request may leave it unnamed.
bool need_thread(Adapter* a, const Request& request, const Args& args) {
    int64_t thread = Args_int(args, "threadId", THREAD_ID);
    if (wrong_arguments(a, request, args)) return false;
    if (thread == THREAD_ID) return true;
    fail(a, request,
         request.command + ": there is no thread " + std::to_string(thread) + ", only thread " +
             std::to_string(THREAD_ID));
    return false;
}

const DebugInfo* info_of(Adapter* a) { return a->session.has_info ? &a->session.info : nullptr; }

bool in_address_space(int64_t address, std::string* error) {
    if (address >= 0 && address < ADDRESS_END) return true;
    *error = std::to_string(address) + " is outside the address space (0x0000-0xFFFF)";
    return false;
}

// "0x1234", "1234" or any expression that evaluates to an address, plus
// `offset`; the sum must lie in the address space.
bool parse_address(Adapter* a, const std::string& text, int64_t offset, int64_t* value, std::string* error) {
    Expr expr;
    if (!Expr_compile(text, info_of(a), &expr, error) || !Session_evaluate(&a->session, expr, value, error))
        return false;
    *value += offset;
    return in_address_space(*value, error);
}

bool need_launch(Adapter* a, const Request& request) {
    if (a->launched) return true;
    fail(a, request, "no program is running: launch one first");
    return false;
}

bool need_stopped(Adapter* a, const Request& request) {
    if (!need_launch(a, request)) return false;
    if (a->session.state == RunState::Stopped) return true;
    fail(a, request,
         a->session.state == RunState::Running ? "the program is running" : "the program has ended");
    return false;
}

Json source_of(Adapter* a, uint32_t file) {
    const std::string& path = a->session.info.files[file];
    size_t slash = path.find_last_of('/');
    return Json{{"name", slash == std::string::npos ? path : path.substr(slash + 1)}, {"path", path}};
}

void output(Adapter* a, const char* category, const std::string& text) {
    Messages_event(&a->out, "output", Json{{"category", category}, {"output", text}});
}

void machine_output(void* context, OutputKind kind, const std::string& text) {
    const char* category = kind == OutputKind::MachineError ? "stderr"
                           : kind == OutputKind::Machine    ? "stdout"
                                                            : "console";
    output(static_cast<Adapter*>(context), category, text);
}

// ---- breakpoint rules -------------------------------------------------------

// Fills a rule from a breakpoint's condition, hitCondition and logMessage;
// on a fault returns false with the reason.
bool rule_of(Adapter* a, const Args& entry, BreakRule* rule, std::string* error) {
    *rule = BreakRule{};
    rule->condition_text = Args_string(entry, "condition", "");
    if (!rule->condition_text.empty()) {
        if (!Expr_compile(rule->condition_text, info_of(a), &rule->condition, error)) {
            *error = "condition: " + *error;
            return false;
        }
        rule->has_condition = true;
    }
    std::string hits = Args_string(entry, "hitCondition", "");
    if (!hits.empty() && !BreakRule_parse_hit(rule, hits, error)) return false;
    rule->log_message = Args_string(entry, "logMessage", "");
    rule->is_log = !rule->log_message.empty();
    rule->set_at = Session_first_unweighed(&a->session);
    return true;
}

// Reads the members every kind of breakpoint may carry, so that their types
// are checked before any breakpoint changes.
void check_rule_members(const Args& entry) {
    for (const char* key : {"condition", "hitCondition", "logMessage"}) Args_string(entry, key, "");
}

Json breakpoint_json(int32_t id, bool verified, const std::string& message) {
    Json b{{"id", id}, {"verified", verified}};
    if (!message.empty()) b["message"] = message;
    return b;
}

std::vector<CodeBreak> all_line_breaks(Adapter* a) {
    std::vector<CodeBreak> all;
    for (const auto& [file, list] : a->line_breaks) all.insert(all.end(), list.begin(), list.end());
    return all;
}

// Why breakpoints on lines of `path` cannot be placed; empty when they can.
std::string unplaceable(Adapter* a, const std::string& path, int file) {
    if (!a->session.has_info)
        return a->info_note.empty() ? "no debug information for " + a->program +
                                          ": breakpoints on source lines need it (assemble with -g)"
                                    : a->info_note;
    if (file < 0) return "'" + path + "' is not a source of " + a->program;
    return {};
}

// A breakpoint in a file that is not part of the program (another project's
// file left open, say) is answered, unverified, so that the client goes on
// configuring the session.
void set_breakpoints(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    Args source = Args_object(args, "source");
    std::string path = Args_string(source, "path", "");
    check_strings(source, {"name"});
    Args_int(source, "sourceReference", 0);
    Args_ints(args, "lines");
    check_bools(args, {"sourceModified"});
    std::vector<Args> wanted = Args_objects(args, "breakpoints");
    for (const Args& entry : wanted)
        Args_int(entry, "line", 0), Args_int(entry, "column", 0), check_rule_members(entry);
    if (wrong_arguments(a, request, args)) return;
    int file = a->session.has_info ? DebugInfo_file_index(&a->session.info, path) : -1;
    std::string refused = unplaceable(a, path, file);
    std::vector<CodeBreak> list;
    Json result = Json::array();
    for (const Args& entry : wanted) {
        int64_t line = Args_int(entry, "line", 0);
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        if (!refused.empty()) {
            result.push_back(breakpoint_json(id, false, refused));
            continue;
        }
        if (!rule_of(a, entry, &rule, &error)) {
            result.push_back(breakpoint_json(id, false, error));
            continue;
        }
        std::vector<const DebugInsn*> places =
            line > 0 && line <= UINT32_MAX
                ? DebugInfo_insns_for_line(&a->session.info, file, static_cast<uint32_t>(line))
                : std::vector<const DebugInsn*>{};
        if (places.empty()) {
            result.push_back(breakpoint_json(id, false, "no instruction on or after this line"));
            continue;
        }
        for (const DebugInsn* insn : places)
            list.push_back(CodeBreak{id, BreakKind::Line, insn->bank, insn->address, rule});
        Json b = breakpoint_json(id, true, "");
        b["line"] = places[0]->line;
        b["column"] = places[0]->column;
        b["source"] = source_of(a, places[0]->file);
        b["instructionReference"] = hex(places[0]->address, 4);
        result.push_back(std::move(b));
    }
    if (refused.empty()) {
        bool replaced = false;
        for (auto& [f, old] : a->line_breaks)
            if (f == file) old = list, replaced = true;
        if (!replaced) a->line_breaks.emplace_back(file, list);
        Breakpoints_set_code(&a->session.breakpoints, BreakKind::Line, all_line_breaks(a));
    }
    respond(a, request, Json{{"breakpoints", result}});
}

void set_function_breakpoints(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::vector<Args> wanted = Args_objects(args, "breakpoints");
    for (const Args& entry : wanted) Args_string(entry, "name", ""), check_rule_members(entry);
    if (wrong_arguments(a, request, args)) return;
    std::vector<CodeBreak> list;
    Json result = Json::array();
    for (const Args& entry : wanted) {
        std::string name = Args_string(entry, "name", "");
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        const DebugLabel* label = info_of(a) ? DebugInfo_label_named(&a->session.info, name) : nullptr;
        if (!rule_of(a, entry, &rule, &error)) {
            result.push_back(breakpoint_json(id, false, error));
        } else if (!label) {
            result.push_back(breakpoint_json(id, false, "no label '" + name + "' in the debug information"));
        } else {
            list.push_back(CodeBreak{id, BreakKind::Function, label->address < BANK_SIZE ? 0 : label->bank,
                                     label->address, rule});
            Json b = breakpoint_json(id, true, "");
            if (const DebugInsn* insn = DebugInfo_insn_at(&a->session.info, label->bank, label->address)) {
                b["line"] = insn->line;
                b["source"] = source_of(a, insn->file);
            }
            result.push_back(std::move(b));
        }
    }
    Breakpoints_set_code(&a->session.breakpoints, BreakKind::Function, std::move(list));
    respond(a, request, Json{{"breakpoints", result}});
}

void set_instruction_breakpoints(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::vector<Args> wanted = Args_objects(args, "breakpoints");
    for (const Args& entry : wanted) {
        Args_string(entry, "instructionReference", "");
        Args_int(entry, "offset", 0);
        check_rule_members(entry);
    }
    if (wrong_arguments(a, request, args)) return;
    std::vector<CodeBreak> list;
    Json result = Json::array();
    for (const Args& entry : wanted) {
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        int64_t address = 0;
        if (!parse_address(a, Args_string(entry, "instructionReference", ""), Args_int(entry, "offset", 0),
                           &address, &error) ||
            !rule_of(a, entry, &rule, &error)) {
            result.push_back(breakpoint_json(id, false, error));
            continue;
        }
        list.push_back(CodeBreak{id, BreakKind::Instruction, -1, static_cast<uint16_t>(address), rule});
        Json b = breakpoint_json(id, true, "");
        b["instructionReference"] = hex(address, 4);
        result.push_back(std::move(b));
    }
    Breakpoints_set_code(&a->session.breakpoints, BreakKind::Instruction, std::move(list));
    respond(a, request, Json{{"breakpoints", result}});
}

void set_exception_breakpoints(Adapter* a, const Request& request, const Args& args) {
    bool illegal = false;
    for (const std::string& filter : Args_strings(args, "filters")) illegal |= filter == "illegal";
    for (const Args& option : Args_objects(args, "filterOptions"))
        illegal |= Args_string(option, "filterId", "") == "illegal";
    if (wrong_arguments(a, request, args)) return;
    a->session.stop_on_illegal = illegal;
    respond(a, request, Json{{"breakpoints", Json::array()}});
}

void data_breakpoint_info(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::string name = Args_string(args, "name", "");
    int64_t reference = Args_int(args, "variablesReference", 0);
    if (wrong_arguments(a, request, args)) return;
    int64_t address = 0;
    std::string error;
    Json body{{"dataId", nullptr}};
    if (reference != 0) {
        body["description"] = "registers cannot be watched, only bytes of memory";
    } else if (!parse_address(a, name, 0, &address, &error)) {
        body["description"] = error;
    } else {
        body["dataId"] = hex(address, 4);
        body["description"] = "byte at " + hex(address, 4);
        body["accessTypes"] = {"read", "write", "readWrite"};
        body["canPersist"] = true;
    }
    respond(a, request, std::move(body));
}

void set_data_breakpoints(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::vector<Args> wanted = Args_objects(args, "breakpoints");
    for (const Args& entry : wanted) {
        Args_string(entry, "dataId", "");
        Args_string(entry, "accessType", "");
        check_rule_members(entry);
    }
    if (wrong_arguments(a, request, args)) return;
    std::vector<DataBreak> list;
    Json result = Json::array();
    for (const Args& entry : wanted) {
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        DataBreak d{id, 0, 0, BreakRule{}};
        std::string error;
        int64_t address = 0;
        std::string access = Args_string(entry, "accessType", "write");
        d.access = access == "read"        ? WATCH_READ
                   : access == "readWrite" ? WATCH_READ | WATCH_WRITE
                                           : WATCH_WRITE;
        if (!parse_address(a, Args_string(entry, "dataId", ""), 0, &address, &error) ||
            !rule_of(a, entry, &d.rule, &error)) {
            result.push_back(breakpoint_json(id, false, error));
            continue;
        }
        d.address = static_cast<uint16_t>(address);
        list.push_back(std::move(d));
        result.push_back(breakpoint_json(id, true, ""));
    }
    Breakpoints_set_data(&a->session.breakpoints, std::move(list));
    respond(a, request, Json{{"breakpoints", result}});
}

// ---- launch and the run ----------------------------------------------------

void initialize(Adapter* a, const Request& request, const Args& args) {
    check_strings(args, {"clientID", "clientName", "adapterID", "locale", "pathFormat"});
    check_bools(args, {"linesStartAt1", "columnsStartAt1", "supportsVariableType", "supportsVariablePaging",
                       "supportsRunInTerminalRequest", "supportsMemoryReferences",
                       "supportsProgressReporting", "supportsInvalidatedEvent", "supportsMemoryEvent"});
    if (wrong_arguments(a, request, args)) return;
    Json caps = Json::object();
    for (const char* c :
         {"supportsConfigurationDoneRequest", "supportsFunctionBreakpoints", "supportsConditionalBreakpoints",
          "supportsHitConditionalBreakpoints", "supportsLogPoints", "supportsStepBack", "supportsSetVariable",
          "supportsDataBreakpoints", "supportsReadMemoryRequest", "supportsWriteMemoryRequest",
          "supportsDisassembleRequest", "supportsInstructionBreakpoints", "supportsEvaluateForHovers",
          "supportsExceptionInfoRequest", "supportsTerminateRequest"})
        caps[c] = true;
    caps["exceptionBreakpointFilters"] =
        Json::array({{{"filter", "illegal"},
                      {"label", "Illegal opcode"},
                      {"description", "Stop before an opcode without an instruction runs"},
                      {"default", true}}});
    respond(a, request, std::move(caps));
}

void launch(Adapter* a, const Request& request, const Args& args) {
    if (a->launched) {
        fail(a, request, "a program is already running");
        return;
    }
    std::string program = Args_string(args, "program", "");
    bool own_info = Args_has(args, "debugInfo");
    std::string info_path = Args_string(args, "debugInfo", program + ".dbg");
    bool stop_on_entry = Args_bool(args, "stopOnEntry", false);
    bool no_display = Args_bool(args, "noDisplay", false);
    check_bools(args, {"noDebug"});
    if (wrong_arguments(a, request, args)) return;
    if (program.empty()) {
        fail(a, request, "launch needs 'program', the path of a ROM image");
        return;
    }
    std::vector<uint8_t> rom;
    std::string reason;
    if (!a->host.read_file || !a->host.read_file(program, ROM_MAX_SIZE, &rom, &reason)) {
        fail(a, request, "cannot read the ROM image " + program + ": " + reason);
        return;
    }
    std::vector<uint8_t> info_bytes;
    bool have_info = a->host.read_file(info_path, MAX_DEBUG_INFO, &info_bytes, &reason);
    if (!have_info && own_info) {
        fail(a, request, "cannot read the debug information " + info_path + ": " + reason);
        return;
    }
    a->program = program;
    a->stop_on_entry = stop_on_entry;
    a->no_display = no_display;
    Session* s = &a->session;
    s->output = machine_output;
    s->output_context = a;
    if (!Session_init(s)) {
        fail(a, request, "out of memory for the machine");
        return;
    }
    std::string error;
    std::string info_text(info_bytes.begin(), info_bytes.end());
    std::string mismatch;
    if (!Session_launch(s, std::move(rom), have_info ? info_text : std::string(), &error, &mismatch)) {
        Session_free(s);
        fail(a, request, error);
        return;
    }
    if (!mismatch.empty())
        a->info_note = "the debug information " + info_path + " " + mismatch +
                       ": debugging on the disassembly (assemble the program with -g again)";
    if (!a->no_display && a->host.open) {
        if (!a->host.open(s, &error)) {
            Session_free(s);
            fail(a, request, "cannot open the window: " + error);
            return;
        }
        a->window_open = true;
    }
    a->launched = true;
    if (!have_info)
        output(a, "console", "no debug information (" + info_path + "): debugging on the disassembly\n");
    else if (!a->info_note.empty())
        output(a, "console", a->info_note + "\n");
    respond(a, request);
    Messages_event(&a->out, "initialized", Json());
}

// The adapter runs the program itself: there is no running machine to join.
void attach(Adapter* a, const Request& request, const Args&) {
    fail(a, request,
         "lumacor-debug cannot attach to a running program: it starts the program itself; use a launch "
         "(\"request\": \"launch\") whose \"program\" is the ROM image");
}

void configuration_done(Adapter* a, const Request& request, const Args&) {
    respond(a, request);
    if (!a->launched || a->configured) return;
    a->configured = true;
    if (a->stop_on_entry) {
        report_stop(a, Stop{StopReason::Entry, {}, {}, false});
        return;
    }
    Session_resume(&a->session, SessionGoal::Run, StepKind::Into);
    a->session.resume_at = UINT64_MAX; // a breakpoint on the first instruction stops
}

void resume(Adapter* a, const Request& request, const Args& args, SessionGoal goal, StepKind kind) {
    check_bools(args, {"singleThread"});
    Args_string(args, "granularity", "");
    if (!need_stopped(a, request) || !need_thread(a, request, args)) return;
    respond(a, request, Json{{"allThreadsContinued", true}});
    Session_resume(&a->session, goal, kind);
}

void continue_request(Adapter* a, const Request& r, const Args& args) {
    resume(a, r, args, SessionGoal::Run, StepKind::Into);
}
void next(Adapter* a, const Request& r, const Args& args) {
    resume(a, r, args, SessionGoal::Step, StepKind::Over);
}
void step_in(Adapter* a, const Request& r, const Args& args) {
    Args_int(args, "targetId", 0);
    resume(a, r, args, SessionGoal::Step, StepKind::Into);
}
void step_out(Adapter* a, const Request& r, const Args& args) {
    resume(a, r, args, SessionGoal::Step, StepKind::Out);
}

void step_back(Adapter* a, const Request& request, const Args& args) {
    check_bools(args, {"singleThread"});
    Args_string(args, "granularity", "");
    if (!need_stopped(a, request) || !need_thread(a, request, args)) return;
    respond(a, request);
    report_stop(a, Session_step_back(&a->session));
}

void reverse_continue(Adapter* a, const Request& request, const Args& args) {
    check_bools(args, {"singleThread"});
    if (!need_stopped(a, request) || !need_thread(a, request, args)) return;
    respond(a, request);
    report_stop(a, Session_reverse_continue(&a->session));
}

void pause(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request) || !need_thread(a, request, args)) return;
    respond(a, request);
    if (a->session.state == RunState::Running) report_stop(a, Stop{StopReason::Pause, {}, {}, false});
}

void threads(Adapter* a, const Request& request, const Args&) {
    respond(a, request, Json{{"threads", Json::array({{{"id", THREAD_ID}, {"name", "lumacor"}}})}});
}

// ---- the program's state ---------------------------------------------------

Json stack_frame(Adapter* a, int64_t id, std::string name, int bank, uint16_t pc) {
    Json frame{{"id", id}, {"instructionPointerReference", hex(pc, 4)}, {"line", 0}, {"column", 0}};
    const DebugInsn* insn = info_of(a) ? DebugInfo_insn_at(&a->session.info, bank, pc) : nullptr;
    if (insn) {
        frame["source"] = source_of(a, insn->file);
        frame["line"] = insn->line;
        frame["column"] = insn->column;
    } else {
        frame["presentationHint"] = "subtle";
    }
    frame["name"] = std::move(name);
    return frame;
}

void stack_trace(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    int64_t start = Args_count(args, "startFrame", 0);
    int64_t levels = Args_count(args, "levels", 0);
    Args_object(args, "format");
    if (!need_thread(a, request, args)) return;
    Session* s = &a->session;
    std::vector<CallFrame> calls = Session_calls(s);
    Json frames = Json::array();
    uint16_t pc = CPU_pc(&s->computer.cpu);
    int bank = Session_bank_of(s, pc);
    // Each frame is named after the routine it is in; the routine of the
    // innermost one is where PC is, the others are where their call was.
    for (size_t i = calls.size() + 1; i-- > 0;) {
        bool top = i == calls.size();
        uint16_t at = top ? pc : calls[i].site;
        int at_bank = top ? bank : (at < BANK_SIZE ? 0 : calls[i].bank);
        std::string name = DebugInfo_name_of(info_of(a), at_bank, at);
        if (!top && calls[i].interrupt) name += " (interrupted)";
        frames.push_back(stack_frame(a, static_cast<int64_t>(i + 1), name, at_bank, at));
    }
    Json page = Json::array();
    for (size_t i = 0; i < frames.size(); ++i) {
        if (static_cast<int64_t>(i) < start) continue;
        if (levels > 0 && static_cast<int64_t>(i) >= start + levels) break;
        page.push_back(frames[i]);
    }
    respond(a, request, Json{{"stackFrames", page}, {"totalFrames", frames.size()}});
}

void scopes(Adapter* a, const Request& request, const Args& args) {
    Args_int(args, "frameId", 0);
    if (wrong_arguments(a, request, args)) return;
    Json list = Json::array();
    for (auto [name, ref] :
         {std::pair{"Registers", REGISTERS_REF}, {"Pairs", PAIRS_REF}, {"Devices", DEVICES_REF}})
        list.push_back(Json{{"name", name}, {"variablesReference", ref}, {"expensive", false}});
    respond(a, request, Json{{"scopes", list}});
}

// `expression` gives the variable's value in any program: names the
// assembler reserves, or the debugger's own `$` names.
Json variable(const std::string& name, int64_t value, int digits, const std::string& expression) {
    return Json{{"name", name},
                {"value", hex(value, digits) + " (" + std::to_string(value) + ")"},
                {"evaluateName", expression},
                {"variablesReference", 0}};
}

void variables(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    int64_t ref = Args_int(args, "variablesReference", 0);
    check_strings(args, {"filter"});
    Args_count(args, "start", 0);
    Args_count(args, "count", 0);
    Args_object(args, "format");
    if (wrong_arguments(a, request, args)) return;
    Session* s = &a->session;
    CPU* cpu = &s->computer.cpu;
    Json list = Json::array();
    if (ref == REGISTERS_REF) {
        for (int r = 0; r < REGISTER_COUNT; ++r) {
            std::string name = "r" + std::to_string(r);
            list.push_back(variable(name, cpu->cells[static_cast<size_t>(r)], 2, name));
        }
        list.push_back(variable("PC", CPU_pc(cpu), 4, "PC"));
        list.push_back(variable("SP", CPU_sp(cpu), 4, "SP"));
        list.push_back(variable("Z", (cpu->cells[FLAGS] & FLAG_Z) ? 1 : 0, 1, "$Z"));
        list.push_back(variable("C", (cpu->cells[FLAGS] & FLAG_C) ? 1 : 0, 1, "$C"));
    } else if (ref == PAIRS_REF) {
        for (int p = 0; p < REGISTER_COUNT; ++p) {
            std::string name = "p" + std::to_string(p);
            list.push_back(variable(name, CPU_pair(cpu, p), 4, name));
        }
    } else if (ref == DEVICES_REF) {
        list.push_back(variable("bank", s->computer.cartridge ? s->computer.cartridge->bank : 0, 2, "$bank"));
        list.push_back(variable("frame", static_cast<int64_t>(s->computer.frame), 1, "$frame"));
        list.push_back(variable("interrupts", cpu->interrupt_enable, 1, "$interrupts"));
        static constexpr std::pair<const char*, uint16_t> registers[] = {
            {"dma source", 0xFF00}, {"dma destination", 0xFF02}, {"dma length", 0xFF04}};
        for (const auto& [name, address] : registers)
            list.push_back(variable(name, Session_peek(s, address) << 8 | Session_peek(s, address + 1), 4,
                                    "word(" + hex(address, 4) + ")"));
        static constexpr std::pair<const char*, uint16_t> bytes[] = {
            {"dma control", 0xFF06},  {"audio waveform", 0xFF07}, {"audio note", 0xFF08},
            {"audio volume", 0xFF09}, {"pad 1", 0xFF0A},          {"pad 2", 0xFF0B}};
        for (const auto& [name, address] : bytes)
            list.push_back(variable(name, Session_peek(s, address), 2, "[" + hex(address, 4) + "]"));
    }
    respond(a, request, Json{{"variables", list}});
}

// A register takes -128..255 (a negative value as its two's complement), a
// pair -32768..65535, a flag 0 or 1; anything else is refused, not cut down.
void set_variable(Adapter* a, const Request& request, const Args& args) {
    if (!need_stopped(a, request)) return;
    std::string name = Args_string(args, "name", "");
    std::string text = Args_string(args, "value", "");
    Args_int(args, "variablesReference", 0);
    Args_object(args, "format");
    if (wrong_arguments(a, request, args)) return;
    Session* s = &a->session;
    CPU* cpu = &s->computer.cpu;
    Expr expr;
    std::string error;
    int64_t value = 0;
    if (!Expr_compile(text, info_of(a), &expr, &error) || !Session_evaluate(s, expr, &value, &error)) {
        fail(a, request, error);
        return;
    }
    Expr target;
    const char* only = "only registers, pairs and the flags can be set, not ";
    if (!Expr_compile(name, nullptr, &target, &error) || target.nodes.size() != 1) {
        fail(a, request, only + name);
        return;
    }
    const ExprNode& n = target.nodes[0];
    int digits = n.op == ExprOp::Cell ? 2 : n.op == ExprOp::Pair ? 4 : 1;
    int64_t low = digits == 1 ? 0 : digits == 2 ? -128 : -32768;
    int64_t high = digits == 1 ? 1 : digits == 2 ? 0xFF : 0xFFFF;
    if (n.op != ExprOp::Cell && n.op != ExprOp::Pair && n.op != ExprOp::FlagZ && n.op != ExprOp::FlagC) {
        fail(a, request, only + name);
        return;
    }
    if (value < low || value > high) {
        fail(a, request,
             std::to_string(value) + " does not fit " + name + " (" + std::to_string(low) + ".." +
                 std::to_string(high) + ")");
        return;
    }
    value &= high;
    if (n.op == ExprOp::Cell) {
        cpu->cells[static_cast<size_t>(n.value)] = static_cast<uint8_t>(value);
    } else if (n.op == ExprOp::Pair) {
        CPU_set_pair(cpu, static_cast<int>(n.value), static_cast<uint16_t>(value));
    } else {
        uint8_t bit = n.op == ExprOp::FlagZ ? FLAG_Z : FLAG_C;
        cpu->cells[FLAGS] = static_cast<uint8_t>(value ? cpu->cells[FLAGS] | bit : cpu->cells[FLAGS] & ~bit);
    }
    Session_changed(s);
    respond(a, request, Json{{"value", hex(value, digits) + " (" + std::to_string(value) + ")"}});
}

void evaluate(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::string text = Args_string(args, "expression", "");
    Args_int(args, "frameId", 0);
    check_strings(args, {"context"});
    Args_object(args, "format");
    if (wrong_arguments(a, request, args)) return;
    Expr expr;
    std::string error;
    int64_t value = 0;
    if (!Expr_compile(text, info_of(a), &expr, &error) ||
        !Session_evaluate(&a->session, expr, &value, &error)) {
        fail(a, request, error);
        return;
    }
    std::string shown = std::to_string(value);
    if (value < 0 || value > 9) shown += " (" + hex(value, value <= 0xFF && value >= 0 ? 2 : 4) + ")";
    respond(a, request, Json{{"result", shown}, {"variablesReference", 0}});
}

// ---- memory and code ---------------------------------------------------------

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64_encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= bytes[i + 2];
        out += BASE64[n >> 18 & 63];
        out += BASE64[n >> 12 & 63];
        out += i + 1 < bytes.size() ? BASE64[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? BASE64[n & 63] : '=';
    }
    return out;
}

bool base64_decode(const std::string& text, std::vector<uint8_t>* out) {
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=' || c == '\n' || c == '\r') continue;
        const char* at = std::strchr(BASE64, c);
        if (!at || !c) return false;
        bits = bits << 6 | static_cast<uint32_t>(at - BASE64);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out->push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return true;
}

// Bytes past the end of the address space are reported unreadable.
void read_memory(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::string reference = Args_string(args, "memoryReference", "");
    int64_t offset = Args_int(args, "offset", 0);
    int64_t count = std::min<int64_t>(Args_count(args, "count", 0), ADDRESS_END);
    if (wrong_arguments(a, request, args)) return;
    int64_t address = 0;
    std::string error;
    if (!parse_address(a, reference, offset, &address, &error)) {
        fail(a, request, error);
        return;
    }
    std::vector<uint8_t> bytes;
    for (int64_t at = address; at < address + count && at < ADDRESS_END; ++at)
        bytes.push_back(Session_peek(&a->session, static_cast<uint16_t>(at)));
    Json body{{"address", hex(address, 4)}, {"data", base64_encode(bytes)}};
    if (static_cast<int64_t>(bytes.size()) < count)
        body["unreadableBytes"] = count - static_cast<int64_t>(bytes.size());
    respond(a, request, std::move(body));
}

// The cartridge's ROM is not written: its bytes are the program the debug
// information describes, and the machine cannot change them either.
void write_memory(Adapter* a, const Request& request, const Args& args) {
    if (!need_stopped(a, request)) return;
    std::string reference = Args_string(args, "memoryReference", "");
    int64_t offset = Args_int(args, "offset", 0);
    std::string data = Args_string(args, "data", "");
    check_bools(args, {"allowPartial"});
    if (wrong_arguments(a, request, args)) return;
    int64_t address = 0;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!parse_address(a, reference, offset, &address, &error)) {
        fail(a, request, error);
        return;
    }
    if (!base64_decode(data, &bytes)) {
        fail(a, request, "data is not base64");
        return;
    }
    int64_t end = address + static_cast<int64_t>(bytes.size());
    if (end > ADDRESS_END) {
        fail(a, request,
             std::to_string(bytes.size()) + " bytes from " + hex(address, 4) + " run past 0xFFFF");
        return;
    }
    if (!bytes.empty() && address <= ROM_LAST) {
        output(a, "console",
               "writeMemory: " + hex(address, 4) + ".." + hex(end - 1, 4) +
                   " reaches the cartridge ROM (0x0000-0x7FFF), which is not written: nothing was written\n");
        respond(a, request, Json{{"bytesWritten", 0}});
        return;
    }
    for (size_t i = 0; i < bytes.size(); ++i)
        Session_poke(&a->session, static_cast<uint16_t>(address + static_cast<int64_t>(i)), bytes[i]);
    Session_changed(&a->session);
    respond(a, request, Json{{"bytesWritten", bytes.size()}});
}

// One decoded instruction at `address`, as the disassembly view shows it.
Json disassembled(Adapter* a, uint16_t address, int* length) {
    std::array<uint8_t, MAX_INSTRUCTION_SIZE> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = Session_peek(&a->session, static_cast<uint16_t>(address + i));
    std::string shown;
    int bank = Session_bank_of(&a->session, address);
    *length = DebugInfo_format(info_of(a), bytes, Session_bank_of(&a->session, BANK_SIZE), &shown);
    std::string hex_bytes;
    for (int i = 0; i < *length; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[static_cast<size_t>(i)]);
        hex_bytes += b;
    }
    Json insn{{"address", hex(address, 4)}, {"instructionBytes", hex_bytes}, {"instruction", shown}};
    if (info_of(a)) {
        if (const DebugLabel* label = DebugInfo_label_at(&a->session.info, bank, address))
            insn["symbol"] = label->name;
        if (const DebugInsn* line = DebugInfo_insn_at(&a->session.info, bank, address)) {
            insn["location"] = source_of(a, line->file);
            insn["line"] = line->line;
        }
    }
    return insn;
}

Json no_instruction(int64_t address) {
    return Json{{"address", hex(std::clamp<int64_t>(address, 0, 0xFFFF), 4)},
                {"instruction", ""},
                {"presentationHint", "invalid"}};
}

// Where instruction starts lie before `address`: decoding from a little
// earlier, the first start point whose instructions land on it exactly.
std::vector<uint16_t> starts_before(Adapter* a, uint16_t address, int count) {
    for (int back = count * MAX_INSTRUCTION_SIZE; back >= 0; --back) {
        std::vector<uint16_t> starts;
        int64_t at = static_cast<int64_t>(address) - back;
        if (at < 0) continue;
        while (at < address) {
            starts.push_back(static_cast<uint16_t>(at));
            int length = 0;
            disassembled(a, static_cast<uint16_t>(at), &length);
            at += std::max(length, 1);
        }
        if (at == address && static_cast<int>(starts.size()) >= count)
            return std::vector<uint16_t>(starts.end() - count, starts.end());
    }
    return {};
}

// Before the start of memory and past its end there is nothing to show:
// those places are marked invalid, as the protocol asks.
void disassemble(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request)) return;
    std::string reference = Args_string(args, "memoryReference", "");
    int64_t byte_offset = Args_int(args, "offset", 0);
    int64_t offset = std::clamp<int64_t>(Args_int(args, "instructionOffset", 0), -4096, 4096);
    int64_t count = std::min<int64_t>(Args_count(args, "instructionCount", 0), 4096);
    check_bools(args, {"resolveSymbols"});
    if (wrong_arguments(a, request, args)) return;
    int64_t address = 0;
    std::string error;
    if (!parse_address(a, reference, byte_offset, &address, &error)) {
        fail(a, request, error);
        return;
    }
    Json list = Json::array();
    int64_t emitted = 0;
    if (offset < 0) {
        int64_t wanted = std::min(-offset, count);
        std::vector<uint16_t> starts =
            starts_before(a, static_cast<uint16_t>(address), static_cast<int>(-offset));
        for (int64_t i = 0; i < wanted - static_cast<int64_t>(starts.size()); ++i, ++emitted)
            list.push_back(no_instruction(0));
        for (size_t i = 0; i < starts.size() && emitted < wanted; ++i, ++emitted) {
            int length = 0;
            list.push_back(disassembled(a, starts[i], &length));
        }
        offset = 0;
    }
    for (int64_t i = 0; i < offset && address < ADDRESS_END; ++i) {
        int length = 0;
        disassembled(a, static_cast<uint16_t>(address), &length);
        address += std::max(length, 1);
    }
    for (; emitted < count; ++emitted) {
        if (address >= ADDRESS_END) {
            list.push_back(no_instruction(address));
            continue;
        }
        int length = 0;
        list.push_back(disassembled(a, static_cast<uint16_t>(address), &length));
        address += std::max(length, 1);
    }
    respond(a, request, Json{{"instructions", list}});
}

void exception_info(Adapter* a, const Request& request, const Args& args) {
    if (!need_launch(a, request) || !need_thread(a, request, args)) return;
    uint16_t pc = CPU_pc(&a->session.computer.cpu);
    char text[64];
    std::snprintf(text, sizeof text, "Illegal opcode 0x%02X at 0x%04X", Session_peek(&a->session, pc), pc);
    respond(a, request, Json{{"exceptionId", "illegal"}, {"description", text}, {"breakMode", "always"}});
}

void finish(Adapter* a) {
    if (a->terminated) return;
    a->terminated = true;
    Messages_event(&a->out, "terminated", Json());
}

void disconnect(Adapter* a, const Request& request, const Args& args) {
    check_bools(args, {"restart", "terminateDebuggee", "suspendDebuggee"});
    if (wrong_arguments(a, request, args)) return;
    respond(a, request);
    a->quit = true;
}

void terminate(Adapter* a, const Request& request, const Args& args) {
    check_bools(args, {"restart"});
    if (wrong_arguments(a, request, args)) return;
    respond(a, request);
    if (a->launched && a->session.state != RunState::Ended) {
        a->session.state = RunState::Ended;
        Messages_event(&a->out, "exited", Json{{"exitCode", a->session.exit_code}});
    }
    finish(a);
}

struct Route {
    const char* command;
    Handler handler;
};

constexpr Route routes[] = {
    {"initialize", initialize},
    {"launch", launch},
    {"attach", attach},
    {"configurationDone", configuration_done},
    {"setBreakpoints", set_breakpoints},
    {"setFunctionBreakpoints", set_function_breakpoints},
    {"setInstructionBreakpoints", set_instruction_breakpoints},
    {"setExceptionBreakpoints", set_exception_breakpoints},
    {"dataBreakpointInfo", data_breakpoint_info},
    {"setDataBreakpoints", set_data_breakpoints},
    {"continue", continue_request},
    {"next", next},
    {"stepIn", step_in},
    {"stepOut", step_out},
    {"stepBack", step_back},
    {"reverseContinue", reverse_continue},
    {"pause", pause},
    {"threads", threads},
    {"stackTrace", stack_trace},
    {"scopes", scopes},
    {"variables", variables},
    {"setVariable", set_variable},
    {"evaluate", evaluate},
    {"readMemory", read_memory},
    {"writeMemory", write_memory},
    {"disassemble", disassemble},
    {"exceptionInfo", exception_info},
    {"terminate", terminate},
    {"disconnect", disconnect},
};

const char* reason_name(StopReason reason) {
    switch (reason) {
    case StopReason::Entry: return "entry";
    case StopReason::Breakpoint: return "breakpoint";
    case StopReason::FunctionBreakpoint: return "function breakpoint";
    case StopReason::InstructionBreakpoint: return "instruction breakpoint";
    case StopReason::DataBreakpoint: return "data breakpoint";
    case StopReason::Exception: return "exception";
    case StopReason::Pause: return "pause";
    default: return "step";
    }
}

void report_stop(Adapter* a, const Stop& stop) {
    Session* s = &a->session;
    if (stop.reason == StopReason::Ended) {
        s->state = RunState::Ended;
        Messages_event(&a->out, "exited", Json{{"exitCode", s->exit_code}});
        finish(a);
        return;
    }
    s->state = RunState::Stopped;
    // A breakpoint whose condition could not be evaluated says why it stopped.
    if (stop.faulted) output(a, "console", stop.text + "\n");
    Json body{{"reason", reason_name(stop.reason)}, {"threadId", THREAD_ID}, {"allThreadsStopped", true}};
    if (!stop.text.empty()) body["description"] = stop.text;
    if (stop.reason == StopReason::Exception || stop.faulted) body["text"] = stop.text;
    if (!stop.breakpoint_ids.empty()) body["hitBreakpointIds"] = stop.breakpoint_ids;
    Messages_event(&a->out, "stopped", std::move(body));
}

} // namespace

void Adapter_init(Adapter* a, MessageSink out, AdapterHost host) {
    a->out = out;
    a->host = host;
    a->window_open = false;
    a->launched = false;
    a->configured = false;
    a->stop_on_entry = false;
    a->no_display = false;
    a->terminated = false;
    a->quit = false;
    a->program.clear();
    a->info_note.clear();
    a->line_breaks.clear();
}

void Adapter_free(Adapter* a) {
    if (a->window_open && a->host.close) a->host.close(&a->session);
    a->window_open = false;
    if (a->launched) Session_free(&a->session);
    a->launched = false;
}

void Adapter_handle(Adapter* a, std::string_view body) {
    Request request;
    std::string error;
    MessageKind kind = Message_read(body, &request, &error);
    if (kind == MessageKind::Other) return;
    if (kind == MessageKind::Malformed) {
        // A request that can be answered is; anything else is told in the console.
        if (request.seq >= 0 && !request.command.empty())
            fail(a, request, error);
        else
            Adapter_report_fault(a, error);
        return;
    }
    std::string wrong;
    Args args = Args_of(request.arguments, &wrong);
    for (const Route& route : routes) {
        if (request.command == route.command) {
            route.handler(a, request, args);
            return;
        }
    }
    fail(a, request, "unknown request '" + request.command + "'");
}

void Adapter_report_fault(Adapter* a, const std::string& text) {
    output(a, "console", "lumacor-debug: bad input skipped: " + text + "\n");
}

bool Adapter_running(const Adapter* a) {
    return a->launched && a->configured && a->session.state == RunState::Running;
}

void Adapter_run_slice(Adapter* a) {
    Stop stop = Session_run_slice(&a->session);
    if (a->window_open && a->host.frame_shown && a->session.frame_pos == 0) a->host.frame_shown(&a->session);
    if (stop.reason != StopReason::None) report_stop(a, stop);
}

void Adapter_end(Adapter* a) {
    if (!a->launched || a->terminated) return;
    a->session.computer.cpu.running = 0;
    report_stop(a, Stop{StopReason::Ended, {}, {}, false});
}
