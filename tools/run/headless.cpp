#include "headless.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "controller/buttons.h"
#include "cpu/cpu.h"
#include "cpu/isa.h"
#include "debug_info.h"

namespace {

constexpr uint8_t OP_RETI = [] {
    for (const InstructionInfo& info : instruction_set)
        if (info.mnemonic == "RETI") return info.opcode;
    return uint8_t{0};
}();

// Besides the instruction lines, a trace marks where the program enters a
// label ("name:") and where it returns from an interrupt; the run marks each
// frame's start and the interrupt that the frame's end raised.
struct Trace {
    std::FILE* file;
    const DebugInfo* info;
    Computer* computer;
    bool in_reti; // the instruction traced last was RETI
};

int selected_bank(const Computer* computer) { return computer->cartridge ? computer->cartridge->bank : 1; }

void trace_hook(void* context, CPU* cpu) {
    Trace* trace = static_cast<Trace*>(context);
    uint16_t pc = CPU_pc(cpu);
    int bank = selected_bank(trace->computer);
    std::string text;
    if (trace->in_reti)
        text += "-- back from interrupt to " +
                DebugInfo_name_of(trace->info, DebugInfo_bank_of(pc, bank), pc) + "\n";
    if (trace->info)
        if (const DebugLabel* label = DebugInfo_label_at(trace->info, DebugInfo_bank_of(pc, bank), pc))
            text += label->name + ":\n";
    text += Headless_trace_line(cpu, trace->info, bank);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), trace->file);
    trace->in_reti = Bus_read(cpu->bus, pc) == OP_RETI;
}

bool parse_frame(std::string_view text, int64_t* frame) {
    if (text.empty() || text.size() > 15) return false;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *frame = value;
    return true;
}

bool parse_buttons(std::string_view text, uint8_t* buttons, std::string* error) {
    if (text == "none") {
        *buttons = 0;
        return true;
    }
    uint8_t bits = 0;
    while (true) {
        size_t plus = text.find('+');
        std::string_view name = text.substr(0, plus);
        auto found = std::find_if(BUTTON_BINDINGS.begin(), BUTTON_BINDINGS.end(),
                                  [&](const ButtonBinding& b) { return b.name == name; });
        if (found == BUTTON_BINDINGS.end()) {
            *error = "unknown button '" + std::string(name) +
                     "' (use up, down, left, right, start, back, a, x or none)";
            return false;
        }
        bits |= found->bit;
        if (plus == std::string_view::npos) break;
        text.remove_prefix(plus + 1);
    }
    *buttons = bits;
    return true;
}

} // namespace

bool Headless_parse_press(const std::string& text, HeadlessPress* press, std::string* error) {
    std::string_view rest(text);
    size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        *error = "expected FRAME:BUTTONS in '" + text + "'";
        return false;
    }
    HeadlessPress parsed{0, 0, 0};
    if (!parse_frame(rest.substr(0, colon), &parsed.frame)) {
        *error = "bad frame number in '" + text + "'";
        return false;
    }
    rest.remove_prefix(colon + 1);
    if (rest.size() >= 2 && rest[1] == '/') {
        if (rest[0] != '1' && rest[0] != '2') {
            *error = "pad must be 1 or 2 in '" + text + "'";
            return false;
        }
        parsed.pad = rest[0] - '1';
        rest.remove_prefix(2);
    }
    if (!parse_buttons(rest, &parsed.buttons, error)) return false;
    *press = parsed;
    return true;
}

std::string Headless_trace_line(CPU* cpu, const DebugInfo* info, int bank) {
    uint16_t pc = CPU_pc(cpu);
    std::array<uint8_t, MAX_INSTRUCTION_SIZE> bytes{};
    for (int i = 0; i < MAX_INSTRUCTION_SIZE; ++i)
        bytes[static_cast<size_t>(i)] = Bus_read(cpu->bus, static_cast<uint16_t>(pc + i));

    std::string text;
    int length = DebugInfo_format(info, bytes, bank, &text);

    char line[160];
    int n = std::snprintf(line, sizeof line, "%04X ", pc);
    std::string out(line, static_cast<size_t>(n));
    for (int i = 0; i < MAX_INSTRUCTION_SIZE; ++i) {
        if (i < length)
            std::snprintf(line, sizeof line, " %02X", bytes[static_cast<size_t>(i)]);
        else
            std::snprintf(line, sizeof line, "   ");
        out += line;
    }
    out += "  ";
    out += text;
    if (text.size() < 24) out.append(24 - text.size(), ' ');
    out += " ";
    const uint8_t* regs = CPU_regs(cpu);
    for (int r = 0; r < REGISTER_COUNT; ++r) {
        std::snprintf(line, sizeof line, "%s%02X", r == 0 ? "" : " ", regs[r]);
        out += line;
    }
    std::snprintf(line, sizeof line, "  Z=%d C=%d", (regs[FLAGS] & FLAG_Z) ? 1 : 0,
                  (regs[FLAGS] & FLAG_C) ? 1 : 0);
    out += line;
    return out;
}

HeadlessResult Headless_run(Computer* computer, const HeadlessOptions& options, uint8_t* picture) {
    CPU* cpu = &computer->cpu;
    std::vector<HeadlessPress> presses = options.presses;
    // Stable, so of two presses for the same frame and pad the later one wins.
    std::stable_sort(presses.begin(), presses.end(),
                     [](const HeadlessPress& a, const HeadlessPress& b) { return a.frame < b.frame; });
    size_t next_press = 0;

    Trace trace{options.trace, options.trace_info, computer, false};
    cpu->hook = nullptr;
    if (!options.resume) Computer_start(computer);
    if (options.sound) computer->apu.sample_rate.store(SOUND_RATE, std::memory_order_relaxed);

    HeadlessResult result{HeadlessEnd::FrameLimit, 0};
    while (result.frames < options.frame_limit) {
        while (next_press < presses.size() && presses[next_press].frame <= result.frames) {
            const HeadlessPress& press = presses[next_press++];
            computer->controllers.bytes[static_cast<size_t>(press.pad)] = press.buttons;
        }
        FrameEnd end;
        if (options.trace && result.frames >= options.trace_from) {
            cpu->hook = trace_hook;
            cpu->hook_context = &trace;
            std::fprintf(options.trace, "== frame %lld\n", static_cast<long long>(result.frames));
            // The frame's instructions and its end run apart, so the
            // interrupt that the end raises (whenever interrupts are on) can
            // be marked.
            Computer_run_instructions(computer, Computer_cycles_per_frame(computer));
            bool enabled = cpu->interrupt_enable;
            uint16_t at = CPU_pc(cpu);
            end = Computer_end_frame(computer, picture);
            if (enabled && CPU_is_running(cpu)) {
                int bank = selected_bank(computer);
                uint16_t handler = CPU_pc(cpu);
                std::fprintf(
                    options.trace, "-- interrupt 0 at %s -> %s\n",
                    DebugInfo_name_of(trace.info, DebugInfo_bank_of(at, bank), at).c_str(),
                    DebugInfo_name_of(trace.info, DebugInfo_bank_of(handler, bank), handler).c_str());
            }
        } else {
            end = Computer_run_frame(computer, picture);
        }
        ++result.frames;
        if (options.sound) {
            size_t at = options.sound->size();
            options.sound->resize(at + SOUND_SAMPLES_PER_FRAME);
            APU_render(&computer->apu, options.sound->data() + at, SOUND_SAMPLES_PER_FRAME);
        }
        if (end != FrameEnd::Running) {
            result.end = end == FrameEnd::IllegalOpcode ? HeadlessEnd::IllegalOpcode : HeadlessEnd::Stopped;
            break;
        }
    }
    cpu->hook = nullptr;
    cpu->hook_context = nullptr;
    if (options.trace) std::fflush(options.trace);
    return result;
}
