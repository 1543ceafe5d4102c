#include "headless.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "computer/computer.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "disassembler.h"

namespace {

constexpr int MAX_INSTRUCTION_BYTES = 4;

// The CPU's hook takes no context; the run that installs it names the file.
std::FILE* trace_file = nullptr;

void trace_hook(CPU* cpu) {
    std::string line = Headless_trace_line(cpu);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), trace_file);
}

struct ButtonName {
    std::string_view name;
    uint8_t bit;
};

constexpr std::array<ButtonName, 8> button_names{{
    {"up", PAD_UP},
    {"down", PAD_DOWN},
    {"left", PAD_LEFT},
    {"right", PAD_RIGHT},
    {"start", PAD_START},
    {"back", PAD_BACK},
    {"a", PAD_A},
    {"x", PAD_X},
}};

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
        auto found = std::find_if(button_names.begin(), button_names.end(),
                                  [&](const ButtonName& b) { return b.name == name; });
        if (found == button_names.end()) {
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

std::string Headless_trace_line(CPU* cpu) {
    uint16_t pc = CPU_pc(cpu);
    std::array<uint8_t, MAX_INSTRUCTION_BYTES> bytes{};
    for (int i = 0; i < MAX_INSTRUCTION_BYTES; ++i)
        bytes[static_cast<size_t>(i)] = Bus_read(cpu->bus, static_cast<uint16_t>(pc + i));

    char text_buffer[48];
    int length = Disassembler_format(bytes, 0, text_buffer, sizeof text_buffer);
    std::string_view text(text_buffer);

    char line[160];
    int n = std::snprintf(line, sizeof line, "%04X ", pc);
    std::string out(line, static_cast<size_t>(n));
    for (int i = 0; i < MAX_INSTRUCTION_BYTES; ++i) {
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

    trace_file = options.trace;
    cpu->hook = options.trace ? trace_hook : nullptr;
    CPU_set_pc(cpu, START_ADDRESS);
    CPU_start(cpu);
    int32_t cycles_per_frame = Computer_cycles_per_frame(computer);

    HeadlessResult result{HeadlessEnd::FrameLimit, 0};
    while (result.frames < options.frame_limit) {
        while (next_press < presses.size() && presses[next_press].frame <= result.frames) {
            const HeadlessPress& press = presses[next_press++];
            computer->controllers.bytes[static_cast<size_t>(press.pad)] = press.buttons;
        }
        Computer_run_instructions(computer, cycles_per_frame);
        GPU_compose(&computer->gpu, picture);
        CPU_interrupt(cpu, 0);
        ++result.frames;
        if (!CPU_is_running(cpu)) {
            result.end = cpu->illegal_opcode ? HeadlessEnd::IllegalOpcode : HeadlessEnd::Stopped;
            break;
        }
    }
    cpu->hook = nullptr;
    trace_file = nullptr;
    if (options.trace) std::fflush(options.trace);
    return result;
}
