// One walk over the image decides every line: what each run of bytes is
// (an instruction, data, a fill, a vector) and where instructions start. The
// lines are kept as small records; jump targets are resolved against the
// starts the walk found, and then the records are written out as text.
#include "disassembler.h"

#include "cartridge/cartridge.h"
#include "cpu/cpu.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t FIRST_32K_END = ROM_LAST + 1u;
constexpr size_t VECTOR_TABLE_END = 2 * VECTOR_COUNT;
constexpr size_t FILL_RUN = 16;      // equal bytes from which .fill is used
constexpr size_t BYTES_PER_LINE = 8; // for .byte data
constexpr int COMMENT_COLUMN = 32;

// Appends the source text of one operand.
int format_operand(char* text, size_t capacity, Operand kind, Access access, const uint8_t* p) {
    switch (kind) {
    case Operand::Reg:
        return p[0] == FLAGS ? std::snprintf(text, capacity, "FLAGS") : std::snprintf(text, capacity, "r%u", p[0]);
    case Operand::Pair: {
        unsigned pair = p[0] % REGISTER_COUNT; // the CPU masks the pair byte
        const char* open = access == Access::Memory ? "[" : "";
        const char* close = access == Access::Memory ? "]" : "";
        if (pair == PAIR_PC) return std::snprintf(text, capacity, "%sPC%s", open, close);
        if (pair == PAIR_SP) return std::snprintf(text, capacity, "%sSP%s", open, close);
        return std::snprintf(text, capacity, "%sp%u%s", open, pair, close);
    }
    case Operand::Imm8:
    case Operand::Port: return std::snprintf(text, capacity, "0x%02X", p[0]);
    case Operand::Imm16: return std::snprintf(text, capacity, "0x%02X%02X", p[0], p[1]);
    case Operand::None: break;
    }
    return 0;
}

// `word_text`, when given, replaces the word operand (a label for a target).
void format_instruction(const InstructionInfo& info, const uint8_t* p, char* text, size_t capacity,
                        const char* word_text = nullptr) {
    char a[16] = "", b[16] = "";
    const uint8_t* operand = p + 1;
    format_operand(a, sizeof a, info.a, info.a_access, operand);
    format_operand(b, sizeof b, info.b, info.b_access, operand + operand_size(info.a));
    if (word_text && info.a == Operand::Imm16) std::snprintf(a, sizeof a, "%s", word_text);
    int name_length = static_cast<int>(info.mnemonic.size());
    if (info.b != Operand::None) std::snprintf(text, capacity, "%.*s %s, %s", name_length, info.mnemonic.data(), a, b);
    else if (info.a != Operand::None) std::snprintf(text, capacity, "%.*s %s", name_length, info.mnemonic.data(), a);
    else std::snprintf(text, capacity, "%.*s", name_length, info.mnemonic.data());
}

bool is_jump(const InstructionInfo& info) {
    return info.a == Operand::Imm16 && (info.mnemonic[0] == 'J' || info.mnemonic == "CALL");
}

// A stretch of the image read as one address space: the first 32 KiB
// (bank -1), or one bank.
struct Window {
    int bank = -1;
    std::span<const uint8_t> bytes;
    size_t base_address = 0;
    size_t decode_from = 0;
    size_t first_line = 0;
    size_t end_line = 0;
    std::vector<bool> starts;  // an instruction starts here, by address
    std::vector<bool> targets; // and a jump, call or vector goes there
};

// Bank `bank` of the image, or the first 32 KiB for bank -1.
Window window_of_image(std::span<const uint8_t> image, int bank, size_t decode_from) {
    Window w;
    w.bank = bank;
    size_t first = bank > 0 ? static_cast<size_t>(bank) * BANK_SIZE : 0;
    size_t size = bank < 0 ? FIRST_32K_END : BANK_SIZE;
    w.bytes = image.subspan(first, std::min(size, image.size() - first));
    w.base_address = bank > 0 ? BANK_SIZE : 0;
    w.decode_from = bank > 0 ? 0 : decode_from;
    return w;
}

enum class LineKind : uint8_t { Fill, Vector, Data, Instruction, Inexact, CutOff, NoInstruction };

// One line of output: `count` bytes from window offset `at`.
struct Line {
    LineKind kind;
    uint32_t at;
    uint32_t count;
};

size_t run_length(std::span<const uint8_t> window, size_t at) {
    size_t end = at + 1;
    while (end < window.size() && window[end] == window[at]) ++end;
    return end - at;
}

// The walk: classifies the bytes of one window into lines and marks where
// instructions start.
void walk_window(Window& w, std::vector<Line>& lines) {
    std::span<const uint8_t> bytes = w.bytes;
    w.starts.assign(w.base_address + bytes.size(), false);
    w.targets.assign(w.starts.size(), false);
    w.first_line = lines.size();
    size_t at = 0;
    auto add = [&](LineKind kind, size_t count) {
        lines.push_back({kind, static_cast<uint32_t>(at), static_cast<uint32_t>(count)});
        at += count;
    };
    while (at < bytes.size()) {
        size_t address = w.base_address + at;
        size_t run = run_length(bytes, at);
        if (run >= FILL_RUN) {
            add(LineKind::Fill, run);
            continue;
        }
        if (address < w.decode_from) {
            size_t limit = std::min(bytes.size(), w.decode_from - w.base_address);
            if (address < VECTOR_TABLE_END && address % 2 == 0 && at + 2 <= limit) {
                add(LineKind::Vector, 2);
                continue;
            }
            size_t count = 1;
            while (count < BYTES_PER_LINE && at + count < limit && run_length(bytes, at + count) < FILL_RUN &&
                   !(w.base_address + at + count < VECTOR_TABLE_END && (w.base_address + at + count) % 2 == 0))
                ++count;
            add(LineKind::Data, count);
            continue;
        }
        DisInstruction d = Disassembler_decode(bytes, at);
        if (d.info && d.exact) {
            w.starts[address] = true;
            add(LineKind::Instruction, static_cast<size_t>(d.length));
        } else if (d.info) {
            add(LineKind::Inexact, static_cast<size_t>(d.length));
        } else if (instruction_for(bytes[at])) {
            add(LineKind::CutOff, bytes.size() - at);
        } else {
            // Neighbouring bytes that start no instruction share a line.
            size_t count = 1;
            while (count < BYTES_PER_LINE && at + count < bytes.size() && !instruction_for(bytes[at + count]) &&
                   run_length(bytes, at + count) < FILL_RUN)
                ++count;
            add(LineKind::NoInstruction, count);
        }
    }
    w.end_line = lines.size();
}

struct Listing {
    std::vector<Window> windows;
    std::vector<Line> lines;
    std::string& out;
    std::vector<int> by_bank; // window index by bank + 1, -1 for none

    void index_windows() {
        for (size_t i = 0; i < windows.size(); ++i) {
            size_t slot = static_cast<size_t>(windows[i].bank + 1);
            if (by_bank.size() <= slot) by_bank.resize(slot + 1, -1);
            by_bank[slot] = static_cast<int>(i);
        }
    }

    // The window a jump from bank `from` to `target` lands in, if an
    // instruction starts there: below 0x4000 the fixed window, above it the
    // bank of the code that jumps.
    Window* window_of(int from, uint16_t target) {
        std::array<int, 2> candidates = {INT32_MIN, INT32_MIN};
        if (target < BANK_SIZE) candidates = {-1, 0};
        else if (target < FIRST_32K_END) candidates[0] = from == 0 ? 1 : from;
        for (int bank : candidates) {
            if (bank == INT32_MIN) continue;
            size_t slot = static_cast<size_t>(bank + 1);
            if (slot >= by_bank.size() || by_bank[slot] < 0) continue;
            Window& w = windows[static_cast<size_t>(by_bank[slot])];
            if (target < w.starts.size() && w.starts[target]) return &w;
        }
        return nullptr;
    }

    uint16_t word_at(const Window& w, const Line& line, size_t skip) const {
        return static_cast<uint16_t>(w.bytes[line.at + skip] << 8 | w.bytes[line.at + skip + 1]);
    }

    bool jumps(const Window& w, const Line& line) const {
        return line.kind == LineKind::Instruction && is_jump(*instruction_for(w.bytes[line.at]));
    }

    void mark_targets() {
        for (Window& w : windows)
            for (size_t i = w.first_line; i < w.end_line; ++i) {
                const Line& line = lines[i];
                if (line.kind != LineKind::Vector && !jumps(w, line)) continue;
                uint16_t target = word_at(w, line, line.kind == LineKind::Vector ? 0 : 1);
                if (Window* to = window_of(w.bank, target)) to->targets[target] = true;
            }
    }

    // The label text for a jump to `target`, if it has one.
    bool label_for(int from, uint16_t target, char* text, size_t capacity) {
        Window* to = window_of(from, target);
        if (!to) return false;
        if (to->bank < 0) std::snprintf(text, capacity, "L%04X", target);
        else std::snprintf(text, capacity, "B%d_%04X", to->bank, target);
        return true;
    }

    // One line: the statement, then a comment with its address, up to four of
    // its bytes and an optional note.
    void line(const Window& w, std::string_view statement, size_t address, const uint8_t* bytes, size_t count,
              std::string_view note = {}) {
        size_t start = out.size();
        out += "        ";
        out += statement;
        size_t width = out.size() - start;
        if (width < COMMENT_COLUMN) out.append(COMMENT_COLUMN - width, ' ');
        else out += ' ';
        char buf[32];
        if (w.bank >= 0) std::snprintf(buf, sizeof buf, "; %02X:%04zX:", static_cast<unsigned>(w.bank), address);
        else std::snprintf(buf, sizeof buf, "; %04zX:", address);
        out += buf;
        for (size_t i = 0; i < std::min<size_t>(count, 4); ++i) {
            std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
            out += buf;
        }
        if (count > 4) out += " ...";
        if (!note.empty()) {
            out += "  ";
            out += note;
        }
        out += '\n';
    }

    void bytes_line(const Window& w, const uint8_t* bytes, size_t count, size_t address, std::string_view note = {}) {
        std::string s = ".byte ";
        char buf[8];
        for (size_t i = 0; i < count; ++i) {
            std::snprintf(buf, sizeof buf, i ? ", 0x%02X" : "0x%02X", bytes[i]);
            s += buf;
        }
        line(w, s, address, bytes, 0, note);
    }

    void write(const Window& w, const Line& l) {
        const uint8_t* p = &w.bytes[l.at];
        size_t address = w.base_address + l.at;
        char text[96], label[32];
        switch (l.kind) {
        case LineKind::Fill:
            std::snprintf(text, sizeof text, ".fill %u, 0x%02X", l.count, p[0]);
            line(w, text, address, p, 0);
            break;
        case LineKind::Vector: {
            uint16_t handler = word_at(w, l, 0);
            if (label_for(w.bank, handler, label, sizeof label)) std::snprintf(text, sizeof text, ".word %s", label);
            else std::snprintf(text, sizeof text, ".word 0x%04X", handler);
            line(w, text, address, p, 2, "vector " + std::to_string(address / 2));
            break;
        }
        case LineKind::Data: bytes_line(w, p, l.count, address); break;
        case LineKind::Instruction: {
            if (w.targets[address]) {
                label_for(w.bank, static_cast<uint16_t>(address), label, sizeof label);
                out += label;
                out += ":\n";
            }
            const InstructionInfo& info = *instruction_for(p[0]);
            bool named = is_jump(info) && label_for(w.bank, word_at(w, l, 1), label, sizeof label);
            format_instruction(info, p, text, sizeof text, named ? label : nullptr);
            line(w, text, address, p, l.count);
            break;
        }
        case LineKind::Inexact: {
            // Runs as shown, but the pair byte is not one the assembler writes.
            char shown[48];
            format_instruction(*instruction_for(p[0]), p, shown, sizeof shown);
            std::snprintf(text, sizeof text, "%s (pair byte above 15)", shown);
            bytes_line(w, p, l.count, address, text);
            break;
        }
        case LineKind::CutOff: {
            const InstructionInfo& cut = *instruction_for(p[0]);
            std::snprintf(text, sizeof text, "%.*s cut off by the end of the %s", static_cast<int>(cut.mnemonic.size()),
                          cut.mnemonic.data(), w.bank >= 0 ? "bank" : "image");
            bytes_line(w, p, l.count, address, text);
            break;
        }
        case LineKind::NoInstruction: bytes_line(w, p, l.count, address, "no instruction"); break;
        }
    }
};

} // namespace

DisInstruction Disassembler_decode(std::span<const uint8_t> bytes, size_t at) {
    DisInstruction d;
    if (at >= bytes.size()) return d;
    d.length = 1;
    const InstructionInfo* info = instruction_for(bytes[at]);
    if (!info) return d;
    int size = instruction_size(*info);
    if (at + static_cast<size_t>(size) > bytes.size()) return d;
    d.info = info;
    d.length = size;
    d.exact = true;
    size_t operand = at + 1;
    for (Operand kind : {info->a, info->b}) {
        if (kind == Operand::Pair && bytes[operand] > 15) d.exact = false;
        operand += static_cast<size_t>(operand_size(kind));
    }
    return d;
}

int Disassembler_format(std::span<const uint8_t> bytes, size_t at, char* text, size_t capacity) {
    DisInstruction d = Disassembler_decode(bytes, at);
    if (capacity == 0) return d.length;
    text[0] = '\0';
    if (d.length == 0) return 0;
    if (d.info) format_instruction(*d.info, &bytes[at], text, capacity);
    else std::snprintf(text, capacity, ".byte 0x%02X", bytes[at]);
    return d.length;
}

std::string Disassembler_disassemble_image(std::span<const uint8_t> image, const DisOptions& options) {
    std::string out;
    Listing listing{{}, {}, out, {}};
    std::vector<Window>& windows = listing.windows;
    size_t decode_from = options.start >= 0 ? static_cast<size_t>(options.start) : VECTOR_TABLE_END;
    if (options.bank >= 0) {
        if (static_cast<size_t>(options.bank) * BANK_SIZE < image.size())
            windows.push_back(window_of_image(image, options.bank, decode_from));
    } else {
        // The first 32 KiB read as one piece, the way the machine shows them
        // at power-on (fixed window and bank 1); every later bank on its own.
        windows.push_back(window_of_image(image, -1, decode_from));
        for (size_t bank = 2; bank * BANK_SIZE < image.size(); ++bank)
            windows.push_back(window_of_image(image, static_cast<int>(bank), decode_from));
    }
    listing.index_windows();
    for (Window& w : windows) walk_window(w, listing.lines);
    listing.mark_targets();

    out.reserve(image.size() * 12 + 256);
    char buf[128];
    std::snprintf(buf, sizeof buf, "; %zu bytes of ROM image\n", image.size());
    out += buf;
    if (options.bank >= 0) {
        std::snprintf(buf, sizeof buf, ".bank %d\n", options.bank);
        out += buf;
        if (windows.empty()) out += "; this bank lies past the end of the image\n";
    } else {
        out += ".org 0x0000\n";
    }
    for (const Window& w : windows) {
        if (w.bank >= 0 && options.bank < 0) {
            std::snprintf(buf, sizeof buf, "\n.bank %d\n", w.bank);
            out += buf;
        }
        for (size_t i = w.first_line; i < w.end_line; ++i) listing.write(w, listing.lines[i]);
    }
    return out;
}
