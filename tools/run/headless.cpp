#include "headless.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "computer/computer.h"
#include "controller/buttons.h"
#include "cpu/cpu.h"
#include "cpu/isa.h"
#include "disassembler.h"

namespace {

void trace_hook(void* file, CPU* cpu) {
    std::string line = Headless_trace_line(cpu);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), static_cast<std::FILE*>(file));
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

std::string Headless_trace_line(CPU* cpu) {
    uint16_t pc = CPU_pc(cpu);
    std::array<uint8_t, MAX_INSTRUCTION_SIZE> bytes{};
    for (int i = 0; i < MAX_INSTRUCTION_SIZE; ++i)
        bytes[static_cast<size_t>(i)] = Bus_read(cpu->bus, static_cast<uint16_t>(pc + i));

    char text_buffer[48];
    int length = Disassembler_format(bytes, 0, text_buffer, sizeof text_buffer);
    std::string_view text(text_buffer);

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

    cpu->hook = options.trace ? trace_hook : nullptr;
    cpu->hook_context = options.trace;
    if (!options.resume) Computer_start(computer);
    if (options.sound) computer->apu.sample_rate.store(SOUND_RATE, std::memory_order_relaxed);

    HeadlessResult result{HeadlessEnd::FrameLimit, 0};
    while (result.frames < options.frame_limit) {
        while (next_press < presses.size() && presses[next_press].frame <= result.frames) {
            const HeadlessPress& press = presses[next_press++];
            computer->controllers.bytes[static_cast<size_t>(press.pad)] = press.buttons;
        }
        FrameEnd end = Computer_run_frame(computer, picture);
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
