#include "requests.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "disassembler.h"

namespace {

constexpr int THREAD_ID = 1;
constexpr int64_t REGISTERS_REF = 1;
constexpr int64_t PAIRS_REF = 2;
constexpr int64_t DEVICES_REF = 3;

using Handler = void (*)(Adapter* a, const Json& request, const Json* args);

std::string hex(int64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, static_cast<uint64_t>(value));
    return text;
}

Json object_with(std::initializer_list<std::pair<const char*, Json>> members) {
    Json o = Json_object();
    for (const auto& [key, value] : members) Json_set(&o, key, value);
    return o;
}

const DebugInfo* info_of(Adapter* a) { return a->session.has_info ? &a->session.info : nullptr; }

// "0x1234", "1234" or any expression that evaluates to an address.
bool parse_address(Adapter* a, const std::string& text, int64_t* value, std::string* error) {
    Expr expr;
    if (!Expr_compile(text, info_of(a), &expr, error)) return false;
    return Session_evaluate(&a->session, expr, value, error);
}

bool need_launch(Adapter* a, const Json& request) {
    if (a->launched) return true;
    Dap_fail(a->channel, request, "no program is running: launch one first");
    return false;
}

Json source_of(Adapter* a, uint32_t file) {
    const std::string& path = a->session.info.files[file];
    size_t slash = path.find_last_of('/');
    return object_with({{"name", Json_string(slash == std::string::npos ? path : path.substr(slash + 1))},
                        {"path", Json_string(path)}});
}

void output(Adapter* a, const char* category, const std::string& text) {
    Dap_event(a->channel, "output",
              object_with({{"category", Json_string(category)}, {"output", Json_string(text)}}));
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
bool rule_of(Adapter* a, const Json* entry, BreakRule* rule, std::string* error) {
    *rule = BreakRule{};
    std::string condition = Json_as_string(Json_get(entry, "condition"), "");
    if (!condition.empty()) {
        if (!Expr_compile(condition, info_of(a), &rule->condition, error)) {
            *error = "condition: " + *error;
            return false;
        }
        rule->has_condition = true;
    }
    std::string hits = Json_as_string(Json_get(entry, "hitCondition"), "");
    if (!hits.empty() && !BreakRule_parse_hit(rule, hits, error)) return false;
    rule->log_message = Json_as_string(Json_get(entry, "logMessage"), "");
    rule->is_log = !rule->log_message.empty();
    rule->set_at = Session_first_unweighed(&a->session);
    return true;
}

Json breakpoint_json(int32_t id, bool verified, const std::string& message) {
    Json b = object_with({{"id", Json_number(id)}, {"verified", Json_bool(verified)}});
    if (!message.empty()) Json_set(&b, "message", Json_string(message));
    return b;
}

std::vector<CodeBreak> all_line_breaks(Adapter* a) {
    std::vector<CodeBreak> all;
    for (const auto& [file, list] : a->line_breaks) all.insert(all.end(), list.begin(), list.end());
    return all;
}

void set_breakpoints(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    const Json* source = Json_get(args, "source");
    std::string path = Json_as_string(Json_get(source, "path"), "");
    if (!a->session.has_info) {
        Dap_fail(a->channel, request,
                 "no debug information for " + a->program +
                     ": breakpoints on source lines need it (assemble with -g)");
        return;
    }
    int file = DebugInfo_file_index(&a->session.info, path);
    if (file < 0) {
        Dap_fail(a->channel, request, "'" + path + "' is not a source of " + a->program);
        return;
    }
    std::vector<CodeBreak> list;
    Json result = Json_array();
    const Json* wanted = Json_get(args, "breakpoints");
    for (size_t i = 0; wanted && i < wanted->items.size(); ++i) {
        const Json* entry = &wanted->items[i];
        int64_t line = Json_as_int(Json_get(entry, "line"), 0);
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        if (!rule_of(a, entry, &rule, &error)) {
            Json_push(&result, breakpoint_json(id, false, error));
            continue;
        }
        std::vector<const DebugInsn*> places =
            line > 0 ? DebugInfo_insns_for_line(&a->session.info, file, static_cast<uint32_t>(line))
                     : std::vector<const DebugInsn*>{};
        if (places.empty()) {
            Json_push(&result, breakpoint_json(id, false, "no instruction on or after this line"));
            continue;
        }
        for (const DebugInsn* insn : places)
            list.push_back(CodeBreak{id, BreakKind::Line, insn->bank, insn->address, rule});
        Json b = breakpoint_json(id, true, "");
        Json_set(&b, "line", Json_number(places[0]->line));
        Json_set(&b, "column", Json_number(places[0]->column));
        Json_set(&b, "source", source_of(a, places[0]->file));
        Json_set(&b, "instructionReference", Json_string(hex(places[0]->address, 4)));
        Json_push(&result, std::move(b));
    }
    bool replaced = false;
    for (auto& [f, old] : a->line_breaks)
        if (f == file) old = list, replaced = true;
    if (!replaced) a->line_breaks.emplace_back(file, list);
    Breakpoints_set_code(&a->session.breakpoints, BreakKind::Line, all_line_breaks(a));
    Dap_respond(a->channel, request, object_with({{"breakpoints", result}}));
}

void set_function_breakpoints(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    std::vector<CodeBreak> list;
    Json result = Json_array();
    const Json* wanted = Json_get(args, "breakpoints");
    for (size_t i = 0; wanted && i < wanted->items.size(); ++i) {
        const Json* entry = &wanted->items[i];
        std::string name = Json_as_string(Json_get(entry, "name"), "");
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        const DebugLabel* label = info_of(a) ? DebugInfo_label_named(&a->session.info, name) : nullptr;
        if (!rule_of(a, entry, &rule, &error)) {
            Json_push(&result, breakpoint_json(id, false, error));
        } else if (!label) {
            Json_push(&result,
                      breakpoint_json(id, false, "no label '" + name + "' in the debug information"));
        } else {
            list.push_back(CodeBreak{id, BreakKind::Function, label->address < BANK_SIZE ? 0 : label->bank,
                                     label->address, rule});
            Json b = breakpoint_json(id, true, "");
            if (const DebugInsn* insn = DebugInfo_insn_at(&a->session.info, label->bank, label->address)) {
                Json_set(&b, "line", Json_number(insn->line));
                Json_set(&b, "source", source_of(a, insn->file));
            }
            Json_push(&result, std::move(b));
        }
    }
    Breakpoints_set_code(&a->session.breakpoints, BreakKind::Function, std::move(list));
    Dap_respond(a->channel, request, object_with({{"breakpoints", result}}));
}

void set_instruction_breakpoints(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    std::vector<CodeBreak> list;
    Json result = Json_array();
    const Json* wanted = Json_get(args, "breakpoints");
    for (size_t i = 0; wanted && i < wanted->items.size(); ++i) {
        const Json* entry = &wanted->items[i];
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        BreakRule rule;
        std::string error;
        int64_t address = 0;
        if (!parse_address(a, Json_as_string(Json_get(entry, "instructionReference"), ""), &address,
                           &error) ||
            !rule_of(a, entry, &rule, &error)) {
            Json_push(&result, breakpoint_json(id, false, error));
            continue;
        }
        address = (address + Json_as_int(Json_get(entry, "offset"), 0)) & 0xFFFF;
        list.push_back(CodeBreak{id, BreakKind::Instruction, -1, static_cast<uint16_t>(address), rule});
        Json b = breakpoint_json(id, true, "");
        Json_set(&b, "instructionReference", Json_string(hex(address, 4)));
        Json_push(&result, std::move(b));
    }
    Breakpoints_set_code(&a->session.breakpoints, BreakKind::Instruction, std::move(list));
    Dap_respond(a->channel, request, object_with({{"breakpoints", result}}));
}

void set_exception_breakpoints(Adapter* a, const Json& request, const Json* args) {
    bool illegal = false;
    const Json* filters = Json_get(args, "filters");
    for (size_t i = 0; filters && i < filters->items.size(); ++i)
        illegal |= Json_as_string(&filters->items[i], "") == "illegal";
    const Json* options = Json_get(args, "filterOptions");
    for (size_t i = 0; options && i < options->items.size(); ++i)
        illegal |= Json_as_string(Json_get(&options->items[i], "filterId"), "") == "illegal";
    a->session.stop_on_illegal = illegal;
    Dap_respond(a->channel, request, object_with({{"breakpoints", Json_array()}}));
}

void data_breakpoint_info(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    std::string name = Json_as_string(Json_get(args, "name"), "");
    int64_t address = 0;
    std::string error;
    Json body = Json_object();
    if (Json_get(args, "variablesReference") && Json_as_int(Json_get(args, "variablesReference"), 0) != 0) {
        Json_set(&body, "dataId", Json{});
        Json_set(&body, "description", Json_string("registers cannot be watched, only bytes of memory"));
    } else if (!parse_address(a, name, &address, &error)) {
        Json_set(&body, "dataId", Json{});
        Json_set(&body, "description", Json_string(error));
    } else {
        address &= 0xFFFF;
        Json_set(&body, "dataId", Json_string(hex(address, 4)));
        Json_set(&body, "description", Json_string("byte at " + hex(address, 4)));
        Json access = Json_array();
        for (const char* kind : {"read", "write", "readWrite"}) Json_push(&access, Json_string(kind));
        Json_set(&body, "accessTypes", access);
        Json_set(&body, "canPersist", Json_bool(true));
    }
    Dap_respond(a->channel, request, std::move(body));
}

void set_data_breakpoints(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    std::vector<DataBreak> list;
    Json result = Json_array();
    const Json* wanted = Json_get(args, "breakpoints");
    for (size_t i = 0; wanted && i < wanted->items.size(); ++i) {
        const Json* entry = &wanted->items[i];
        int32_t id = Breakpoints_new_id(&a->session.breakpoints);
        DataBreak d{id, 0, 0, BreakRule{}};
        std::string error;
        int64_t address = 0;
        std::string access = Json_as_string(Json_get(entry, "accessType"), "write");
        d.access = access == "read"        ? WATCH_READ
                   : access == "readWrite" ? WATCH_READ | WATCH_WRITE
                                           : WATCH_WRITE;
        if (!parse_address(a, Json_as_string(Json_get(entry, "dataId"), ""), &address, &error) ||
            !rule_of(a, entry, &d.rule, &error)) {
            Json_push(&result, breakpoint_json(id, false, error));
            continue;
        }
        d.address = static_cast<uint16_t>(address);
        list.push_back(std::move(d));
        Json_push(&result, breakpoint_json(id, true, ""));
    }
    Breakpoints_set_data(&a->session.breakpoints, std::move(list));
    Dap_respond(a->channel, request, object_with({{"breakpoints", result}}));
}

// ---- launch and the run ----------------------------------------------------

bool read_file(const std::string& path, std::string* contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) return false;
    *contents = all.str();
    return true;
}

void initialize(Adapter* a, const Json& request, const Json*) {
    Json caps = Json_object();
    for (const char* c :
         {"supportsConfigurationDoneRequest", "supportsFunctionBreakpoints", "supportsConditionalBreakpoints",
          "supportsHitConditionalBreakpoints", "supportsLogPoints", "supportsStepBack", "supportsSetVariable",
          "supportsDataBreakpoints", "supportsReadMemoryRequest", "supportsWriteMemoryRequest",
          "supportsDisassembleRequest", "supportsInstructionBreakpoints", "supportsEvaluateForHovers",
          "supportsExceptionInfoRequest", "supportsTerminateRequest"})
        Json_set(&caps, c, Json_bool(true));
    Json filters = Json_array();
    Json_push(&filters,
              object_with({{"filter", Json_string("illegal")},
                           {"label", Json_string("Illegal opcode")},
                           {"description", Json_string("Stop before an opcode without an instruction runs")},
                           {"default", Json_bool(true)}}));
    Json_set(&caps, "exceptionBreakpointFilters", filters);
    Dap_respond(a->channel, request, std::move(caps));
}

void launch(Adapter* a, const Json& request, const Json* args) {
    if (a->launched) {
        Dap_fail(a->channel, request, "a program is already running");
        return;
    }
    a->program = Json_as_string(Json_get(args, "program"), "");
    if (a->program.empty()) {
        Dap_fail(a->channel, request, "launch needs 'program', the path of a ROM image");
        return;
    }
    std::string rom;
    if (!read_file(a->program, &rom)) {
        Dap_fail(a->channel, request, "cannot read the ROM image " + a->program);
        return;
    }
    if (rom.size() > ROM_MAX_SIZE) rom.resize(ROM_MAX_SIZE);
    std::string info_path = Json_as_string(Json_get(args, "debugInfo"), a->program + ".dbg");
    std::string info_text;
    bool have_info = read_file(info_path, &info_text);
    if (!have_info && Json_get(args, "debugInfo")) {
        Dap_fail(a->channel, request, "cannot read the debug information " + info_path);
        return;
    }
    a->stop_on_entry = Json_as_bool(Json_get(args, "stopOnEntry"), false);
    a->no_display = Json_as_bool(Json_get(args, "noDisplay"), false);
    Session* s = &a->session;
    s->output = machine_output;
    s->output_context = a;
    if (!Session_init(s)) {
        Dap_fail(a->channel, request, "out of memory for the machine");
        return;
    }
    std::string error;
    if (!Session_launch(s, std::vector<uint8_t>(rom.begin(), rom.end()), info_text, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    if (!a->no_display && a->host.open) {
        if (!a->host.open(a, &error)) {
            Dap_fail(a->channel, request, "cannot open the window: " + error);
            return;
        }
        a->window_open = true;
    }
    a->launched = true;
    if (!have_info)
        output(a, "console", "no debug information (" + info_path + "): debugging on the disassembly\n");
    Dap_respond(a->channel, request, Json{});
    Dap_event(a->channel, "initialized", Json{});
}

void configuration_done(Adapter* a, const Json& request, const Json*) {
    Dap_respond(a->channel, request, Json{});
    if (!a->launched || a->configured) return;
    a->configured = true;
    if (a->stop_on_entry) {
        Adapter_report_stop(a, Stop{StopReason::Entry, {}, {}});
        return;
    }
    Session_resume(&a->session, SessionGoal::Run, StepKind::Into);
    a->session.resume_at = UINT64_MAX; // a breakpoint on the first instruction stops
}

bool need_stopped(Adapter* a, const Json& request) {
    if (!need_launch(a, request)) return false;
    if (a->session.state == RunState::Stopped) return true;
    Dap_fail(a->channel, request,
             a->session.state == RunState::Running ? "the program is running" : "the program has ended");
    return false;
}

void resume(Adapter* a, const Json& request, SessionGoal goal, StepKind kind) {
    if (!need_stopped(a, request)) return;
    Json body = Json_object();
    Json_set(&body, "allThreadsContinued", Json_bool(true));
    Dap_respond(a->channel, request, std::move(body));
    Session_resume(&a->session, goal, kind);
}

void continue_request(Adapter* a, const Json& r, const Json*) {
    resume(a, r, SessionGoal::Run, StepKind::Into);
}
void next(Adapter* a, const Json& r, const Json*) { resume(a, r, SessionGoal::Step, StepKind::Over); }
void step_in(Adapter* a, const Json& r, const Json*) { resume(a, r, SessionGoal::Step, StepKind::Into); }
void step_out(Adapter* a, const Json& r, const Json*) { resume(a, r, SessionGoal::Step, StepKind::Out); }

void step_back(Adapter* a, const Json& request, const Json*) {
    if (!need_stopped(a, request)) return;
    Dap_respond(a->channel, request, Json{});
    Adapter_report_stop(a, Session_step_back(&a->session));
}

void reverse_continue(Adapter* a, const Json& request, const Json*) {
    if (!need_stopped(a, request)) return;
    Dap_respond(a->channel, request, Json{});
    Adapter_report_stop(a, Session_reverse_continue(&a->session));
}

void pause(Adapter* a, const Json& request, const Json*) {
    if (!need_launch(a, request)) return;
    Dap_respond(a->channel, request, Json{});
    if (a->session.state == RunState::Running) Adapter_report_stop(a, Stop{StopReason::Pause, {}, {}});
}

void threads(Adapter* a, const Json& request, const Json*) {
    Json list = Json_array();
    Json_push(&list, object_with({{"id", Json_number(THREAD_ID)}, {"name", Json_string("lumacor")}}));
    Dap_respond(a->channel, request, object_with({{"threads", list}}));
}

// ---- the program's state ---------------------------------------------------

Json stack_frame(Adapter* a, int64_t id, std::string name, int bank, uint16_t pc) {
    Json frame = object_with({{"id", Json_number(static_cast<double>(id))},
                              {"instructionPointerReference", Json_string(hex(pc, 4))},
                              {"line", Json_number(0)},
                              {"column", Json_number(0)}});
    const DebugInsn* insn = info_of(a) ? DebugInfo_insn_at(&a->session.info, bank, pc) : nullptr;
    if (insn) {
        Json_set(&frame, "source", source_of(a, insn->file));
        Json_set(&frame, "line", Json_number(insn->line));
        Json_set(&frame, "column", Json_number(insn->column));
    } else {
        Json_set(&frame, "presentationHint", Json_string("subtle"));
    }
    Json_set(&frame, "name", Json_string(name));
    return frame;
}

void stack_trace(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    Session* s = &a->session;
    std::vector<CallFrame> calls = Session_calls(s);
    Json frames = Json_array();
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
        Json_push(&frames, stack_frame(a, static_cast<int64_t>(i + 1), name, at_bank, at));
    }
    int64_t start = Json_as_int(Json_get(args, "startFrame"), 0);
    int64_t levels = Json_as_int(Json_get(args, "levels"), 0);
    Json page = Json_array();
    for (size_t i = 0; i < frames.items.size(); ++i) {
        if (static_cast<int64_t>(i) < start) continue;
        if (levels > 0 && static_cast<int64_t>(i) >= start + levels) break;
        Json_push(&page, frames.items[i]);
    }
    Dap_respond(a->channel, request,
                object_with({{"stackFrames", page},
                             {"totalFrames", Json_number(static_cast<double>(frames.items.size()))}}));
}

void scopes(Adapter* a, const Json& request, const Json*) {
    Json list = Json_array();
    for (auto [name, ref] :
         {std::pair{"Registers", REGISTERS_REF}, {"Pairs", PAIRS_REF}, {"Devices", DEVICES_REF}})
        Json_push(&list, object_with({{"name", Json_string(name)},
                                      {"variablesReference", Json_number(static_cast<double>(ref))},
                                      {"expensive", Json_bool(false)}}));
    Dap_respond(a->channel, request, object_with({{"scopes", list}}));
}

Json variable(const std::string& name, int64_t value, int digits, const std::string& expression) {
    std::string text = hex(value, digits) + " (" + std::to_string(value) + ")";
    return object_with({{"name", Json_string(name)},
                        {"value", Json_string(text)},
                        {"evaluateName", Json_string(expression)},
                        {"variablesReference", Json_number(0)}});
}

void variables(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    Session* s = &a->session;
    CPU* cpu = &s->computer.cpu;
    int64_t ref = Json_as_int(Json_get(args, "variablesReference"), 0);
    Json list = Json_array();
    if (ref == REGISTERS_REF) {
        for (int r = 0; r < REGISTER_COUNT; ++r) {
            std::string name = "r" + std::to_string(r);
            Json_push(&list, variable(name, cpu->cells[static_cast<size_t>(r)], 2, name));
        }
        Json_push(&list, variable("PC", CPU_pc(cpu), 4, "PC"));
        Json_push(&list, variable("SP", CPU_sp(cpu), 4, "SP"));
        Json_push(&list, variable("Z", (cpu->cells[FLAGS] & FLAG_Z) ? 1 : 0, 1, "Z"));
        Json_push(&list, variable("C", (cpu->cells[FLAGS] & FLAG_C) ? 1 : 0, 1, "C"));
    } else if (ref == PAIRS_REF) {
        for (int p = 0; p < REGISTER_COUNT; ++p) {
            std::string name = "p" + std::to_string(p);
            Json_push(&list, variable(name, CPU_pair(cpu, p), 4, name));
        }
    } else if (ref == DEVICES_REF) {
        Json_push(&list,
                  variable("bank", s->computer.cartridge ? s->computer.cartridge->bank : 0, 2, "bank"));
        Json_push(&list, variable("frame", static_cast<int64_t>(s->computer.frame), 1, "frame"));
        Json_push(&list, variable("interrupts", cpu->interrupt_enable, 1, "interrupts"));
        static constexpr std::pair<const char*, uint16_t> registers[] = {
            {"dma source", 0xFF00}, {"dma destination", 0xFF02}, {"dma length", 0xFF04}};
        for (const auto& [name, address] : registers)
            Json_push(&list, variable(name, Session_peek(s, address) << 8 | Session_peek(s, address + 1), 4,
                                      "word(" + hex(address, 4) + ")"));
        static constexpr std::pair<const char*, uint16_t> bytes[] = {
            {"dma control", 0xFF06},  {"audio waveform", 0xFF07}, {"audio note", 0xFF08},
            {"audio volume", 0xFF09}, {"pad 1", 0xFF0A},          {"pad 2", 0xFF0B}};
        for (const auto& [name, address] : bytes)
            Json_push(&list, variable(name, Session_peek(s, address), 2, "[" + hex(address, 4) + "]"));
    }
    Dap_respond(a->channel, request, object_with({{"variables", list}}));
}

void set_variable(Adapter* a, const Json& request, const Json* args) {
    if (!need_stopped(a, request)) return;
    Session* s = &a->session;
    CPU* cpu = &s->computer.cpu;
    std::string name = Json_as_string(Json_get(args, "name"), "");
    Expr expr;
    std::string error;
    int64_t value = 0;
    if (!Expr_compile(Json_as_string(Json_get(args, "value"), ""), info_of(a), &expr, &error) ||
        !Session_evaluate(s, expr, &value, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    Expr target;
    if (!Expr_compile(name, nullptr, &target, &error) || target.nodes.size() != 1) {
        Dap_fail(a->channel, request, "only registers, pairs and the flags can be set, not " + name);
        return;
    }
    const ExprNode& n = target.nodes[0];
    int digits = 2;
    switch (n.op) {
    case ExprOp::Cell: cpu->cells[static_cast<size_t>(n.value)] = static_cast<uint8_t>(value); break;
    case ExprOp::Pair:
        CPU_set_pair(cpu, static_cast<int>(n.value), static_cast<uint16_t>(value));
        digits = 4;
        break;
    case ExprOp::FlagZ:
    case ExprOp::FlagC: {
        uint8_t bit = n.op == ExprOp::FlagZ ? FLAG_Z : FLAG_C;
        cpu->cells[FLAGS] = static_cast<uint8_t>(value ? cpu->cells[FLAGS] | bit : cpu->cells[FLAGS] & ~bit);
        value = value != 0;
        digits = 1;
        break;
    }
    default:
        Dap_fail(a->channel, request, "only registers, pairs and the flags can be set, not " + name);
        return;
    }
    Session_changed(s);
    value &= digits == 4 ? 0xFFFF : 0xFF;
    Dap_respond(
        a->channel, request,
        object_with({{"value", Json_string(hex(value, digits) + " (" + std::to_string(value) + ")")}}));
}

void evaluate(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    Expr expr;
    std::string error;
    int64_t value = 0;
    std::string text = Json_as_string(Json_get(args, "expression"), "");
    if (!Expr_compile(text, info_of(a), &expr, &error) ||
        !Session_evaluate(&a->session, expr, &value, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    std::string shown = std::to_string(value);
    if (value < 0 || value > 9) shown += " (" + hex(value, value <= 0xFF && value >= 0 ? 2 : 4) + ")";
    Dap_respond(a->channel, request,
                object_with({{"result", Json_string(shown)}, {"variablesReference", Json_number(0)}}));
}

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

void read_memory(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    int64_t address = 0;
    std::string error;
    if (!parse_address(a, Json_as_string(Json_get(args, "memoryReference"), ""), &address, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    address += Json_as_int(Json_get(args, "offset"), 0);
    int64_t count = std::clamp<int64_t>(Json_as_int(Json_get(args, "count"), 0), 0, 0x10000);
    std::vector<uint8_t> bytes;
    for (int64_t i = 0; i < count; ++i)
        bytes.push_back(Session_peek(&a->session, static_cast<uint16_t>(address + i)));
    Dap_respond(a->channel, request,
                object_with({{"address", Json_string(hex(address & 0xFFFF, 4))},
                             {"data", Json_string(base64_encode(bytes))}}));
}

void write_memory(Adapter* a, const Json& request, const Json* args) {
    if (!need_stopped(a, request)) return;
    int64_t address = 0;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!parse_address(a, Json_as_string(Json_get(args, "memoryReference"), ""), &address, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    if (!base64_decode(Json_as_string(Json_get(args, "data"), ""), &bytes)) {
        Dap_fail(a->channel, request, "data is not base64");
        return;
    }
    address += Json_as_int(Json_get(args, "offset"), 0);
    for (size_t i = 0; i < bytes.size() && i < 0x10000; ++i)
        Session_poke(&a->session, static_cast<uint16_t>(address + static_cast<int64_t>(i)), bytes[i]);
    Session_changed(&a->session);
    Dap_respond(a->channel, request,
                object_with({{"bytesWritten", Json_number(static_cast<double>(bytes.size()))}}));
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
    Json insn = object_with({{"address", Json_string(hex(address, 4))},
                             {"instructionBytes", Json_string(hex_bytes)},
                             {"instruction", Json_string(shown)}});
    if (info_of(a)) {
        if (const DebugLabel* label = DebugInfo_label_at(&a->session.info, bank, address))
            Json_set(&insn, "symbol", Json_string(label->name));
        if (const DebugInsn* line = DebugInfo_insn_at(&a->session.info, bank, address)) {
            Json_set(&insn, "location", source_of(a, line->file));
            Json_set(&insn, "line", Json_number(line->line));
        }
    }
    return insn;
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

void disassemble(Adapter* a, const Json& request, const Json* args) {
    if (!need_launch(a, request)) return;
    int64_t address = 0;
    std::string error;
    if (!parse_address(a, Json_as_string(Json_get(args, "memoryReference"), ""), &address, &error)) {
        Dap_fail(a->channel, request, error);
        return;
    }
    address = (address + Json_as_int(Json_get(args, "offset"), 0)) & 0xFFFF;
    int64_t offset = Json_as_int(Json_get(args, "instructionOffset"), 0);
    int64_t count = std::clamp<int64_t>(Json_as_int(Json_get(args, "instructionCount"), 0), 0, 4096);
    Json list = Json_array();
    int64_t emitted = 0;
    if (offset < 0) {
        int64_t wanted = std::min(-offset, count);
        std::vector<uint16_t> starts =
            starts_before(a, static_cast<uint16_t>(address), static_cast<int>(-offset));
        // Before the start of memory there is nothing to show.
        for (int64_t i = 0; i < wanted - static_cast<int64_t>(starts.size()); ++i, ++emitted)
            Json_push(&list, object_with({{"address", Json_string(hex(0, 4))},
                                          {"instruction", Json_string("")},
                                          {"presentationHint", Json_string("invalid")}}));
        for (size_t i = 0; i < starts.size() && emitted < wanted; ++i, ++emitted) {
            int length = 0;
            Json_push(&list, disassembled(a, starts[i], &length));
        }
        offset = 0;
    }
    for (int64_t i = 0; i < offset; ++i) {
        int length = 0;
        disassembled(a, static_cast<uint16_t>(address), &length);
        address = (address + std::max(length, 1)) & 0xFFFF;
    }
    while (emitted < count) {
        int length = 0;
        Json_push(&list, disassembled(a, static_cast<uint16_t>(address), &length));
        address = (address + std::max(length, 1)) & 0xFFFF;
        ++emitted;
    }
    Dap_respond(a->channel, request, object_with({{"instructions", list}}));
}

void exception_info(Adapter* a, const Json& request, const Json*) {
    if (!need_launch(a, request)) return;
    uint16_t pc = CPU_pc(&a->session.computer.cpu);
    char text[64];
    std::snprintf(text, sizeof text, "Illegal opcode 0x%02X at 0x%04X", Session_peek(&a->session, pc), pc);
    Dap_respond(a->channel, request,
                object_with({{"exceptionId", Json_string("illegal")},
                             {"description", Json_string(text)},
                             {"breakMode", Json_string("always")}}));
}

void finish(Adapter* a) {
    if (a->terminated) return;
    a->terminated = true;
    Dap_event(a->channel, "terminated", Json{});
}

void disconnect(Adapter* a, const Json& request, const Json*) {
    Dap_respond(a->channel, request, Json{});
    a->quit = true;
}

void terminate(Adapter* a, const Json& request, const Json*) {
    Dap_respond(a->channel, request, Json{});
    if (a->launched && a->session.state != RunState::Ended) {
        a->session.state = RunState::Ended;
        Dap_event(a->channel, "exited", object_with({{"exitCode", Json_number(a->session.exit_code)}}));
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

} // namespace

void Adapter_init(Adapter* a, DapChannel* channel, AdapterHost host) {
    a->channel = channel;
    a->host = host;
    a->window_open = false;
    a->launched = false;
    a->configured = false;
    a->stop_on_entry = false;
    a->no_display = false;
    a->terminated = false;
    a->quit = false;
}

void Adapter_free(Adapter* a) {
    if (a->window_open && a->host.close) a->host.close(a);
    a->window_open = false;
    if (a->launched) Session_free(&a->session);
    a->launched = false;
}

void Adapter_handle(Adapter* a, const std::string& text) {
    Json message;
    std::string error;
    if (!Json_parse(text, &message, &error)) {
        output(a, "console", "lumacor-debug: a message that is not JSON was ignored: " + error + "\n");
        return;
    }
    if (Json_as_string(Json_get(&message, "type"), "") != "request") return;
    std::string command = Json_as_string(Json_get(&message, "command"), "");
    const Json* args = Json_get(&message, "arguments");
    for (const Route& route : routes) {
        if (command == route.command) {
            route.handler(a, message, args);
            return;
        }
    }
    Dap_fail(a->channel, message, "unknown request '" + command + "'");
}

void Adapter_report_stop(Adapter* a, const Stop& stop) {
    Session* s = &a->session;
    if (stop.reason == StopReason::Ended) {
        s->state = RunState::Ended;
        Dap_event(a->channel, "exited", object_with({{"exitCode", Json_number(s->exit_code)}}));
        finish(a);
        return;
    }
    s->state = RunState::Stopped;
    Json body = object_with({{"reason", Json_string(reason_name(stop.reason))},
                             {"threadId", Json_number(THREAD_ID)},
                             {"allThreadsStopped", Json_bool(true)}});
    if (!stop.text.empty()) Json_set(&body, "description", Json_string(stop.text));
    if (stop.reason == StopReason::Exception) Json_set(&body, "text", Json_string(stop.text));
    if (!stop.breakpoint_ids.empty()) {
        Json ids = Json_array();
        for (int32_t id : stop.breakpoint_ids) Json_push(&ids, Json_number(id));
        Json_set(&body, "hitBreakpointIds", ids);
    }
    Dap_event(a->channel, "stopped", std::move(body));
}

void Adapter_after_slice(Adapter* a, const Stop& stop) {
    if (a->window_open && a->host.frame_shown && a->session.frame_pos == 0) a->host.frame_shown(a);
    if (stop.reason != StopReason::None) Adapter_report_stop(a, stop);
}
