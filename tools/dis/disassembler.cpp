// One walk over the image decides every line: what each run of bytes is
// (an instruction, data, a fill, a vector) and where instructions start. The
// lines are kept as small records; jump targets are resolved against the
// starts the walk found, and then the records are written out as text.
// With debug information the walk follows the assembler's records instead of
// guessing, and labels come from the program.
#include "disassembler.h"

#include "cartridge/cartridge.h"
#include "cpu/cpu.h"

#include <algorithm>
#include <array>
#include <charconv>
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
        return p[0] == FLAGS ? std::snprintf(text, capacity, "FLAGS")
                             : std::snprintf(text, capacity, "r%u", p[0]);
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

// `word_text`, when not empty, replaces the word operand (a label for a target).
std::string format_instruction(const InstructionInfo& info, const uint8_t* p,
                               std::string_view word_text = {}) {
    char a[16] = "", b[16] = "";
    const uint8_t* operand = p + 1;
    format_operand(a, sizeof a, info.a, info.a_access, operand);
    format_operand(b, sizeof b, info.b, info.b_access, operand + operand_size(info.a));
    std::string text(info.mnemonic);
    if (info.a != Operand::None) text += ' ';
    if (!word_text.empty() && info.a == Operand::Imm16)
        text += word_text;
    else
        text += a;
    if (info.b != Operand::None) text += std::string(", ") + b;
    return text;
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
    size_t image_first = 0; // image offset of bytes[0]
    size_t first_line = 0;
    size_t end_line = 0;
    std::vector<bool> starts;      // an instruction starts here, by address
    std::vector<bool> targets;     // and a jump, call or vector goes there
    std::vector<bool> line_starts; // a line starts here, by address
    std::vector<bool> named;       // the debug information has a label here
};

// Bank `bank` of the image, or the first 32 KiB for bank -1.
Window window_of_image(std::span<const uint8_t> image, int bank, size_t decode_from) {
    Window w;
    w.bank = bank;
    size_t first = bank > 0 ? static_cast<size_t>(bank) * BANK_SIZE : 0;
    size_t size = bank < 0 ? FIRST_32K_END : BANK_SIZE;
    w.bytes = image.subspan(first, std::min(size, image.size() - first));
    w.image_first = first;
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

// What the debug information says of an image byte.
enum class ByteClass : uint8_t { Data, DataStart, Instruction, InstructionStart };

// The walk: classifies the bytes of one window into lines and marks where
// instructions start.
void walk_window(Window& w, std::vector<Line>& lines, const ByteClass* classes) {
    std::span<const uint8_t> bytes = w.bytes;
    w.starts.assign(w.base_address + bytes.size(), false);
    w.targets.assign(w.starts.size(), false);
    w.line_starts.assign(w.starts.size(), false);
    w.first_line = lines.size();
    size_t at = 0;
    auto add = [&](LineKind kind, size_t count) {
        w.line_starts[w.base_address + at] = true;
        lines.push_back({kind, static_cast<uint32_t>(at), static_cast<uint32_t>(count)});
        at += count;
    };
    size_t segment_end = 0; // with debug information: where the current data run ends
    while (at < bytes.size()) {
        size_t address = w.base_address + at;
        if (classes && classes[at] != ByteClass::InstructionStart) {
            // A data run ends where an instruction, another data directive's
            // bytes or a label begins.
            if (segment_end <= at) {
                segment_end = at + 1;
                while (segment_end < bytes.size() &&
                       (classes[segment_end] == ByteClass::Data ||
                        classes[segment_end] == ByteClass::Instruction) &&
                       !w.named[w.base_address + segment_end])
                    ++segment_end;
            }
            size_t run = std::min(run_length(bytes, at), segment_end - at);
            if (run >= FILL_RUN) {
                add(LineKind::Fill, run);
            } else if (address < VECTOR_TABLE_END && address % 2 == 0 && at + 2 <= segment_end) {
                add(LineKind::Vector, 2);
            } else {
                size_t count = 1;
                while (count < BYTES_PER_LINE && at + count < segment_end &&
                       std::min(run_length(bytes, at + count), segment_end - at - count) < FILL_RUN &&
                       !(address + count < VECTOR_TABLE_END && (address + count) % 2 == 0))
                    ++count;
                add(LineKind::Data, count);
            }
            continue;
        }
        size_t run = classes ? 0 : run_length(bytes, at);
        if (run >= FILL_RUN) {
            add(LineKind::Fill, run);
            continue;
        }
        if (!classes && address < w.decode_from) {
            size_t limit = std::min(bytes.size(), w.decode_from - w.base_address);
            if (address < VECTOR_TABLE_END && address % 2 == 0 && at + 2 <= limit) {
                add(LineKind::Vector, 2);
                continue;
            }
            size_t count = 1;
            while (
                count < BYTES_PER_LINE && at + count < limit && run_length(bytes, at + count) < FILL_RUN &&
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
            while (!classes && count < BYTES_PER_LINE && at + count < bytes.size() &&
                   !instruction_for(bytes[at + count]) && run_length(bytes, at + count) < FILL_RUN)
                ++count;
            add(LineKind::NoInstruction, count);
        }
    }
    w.end_line = lines.size();
}

// The image offset a debug record's bank and address stand for, or SIZE_MAX.
size_t image_offset(int bank, uint16_t address) {
    if (bank == 0) return address < BANK_SIZE ? address : SIZE_MAX;
    if (bank < 0 || address < BANK_SIZE || address >= FIRST_32K_END) return SIZE_MAX;
    return static_cast<size_t>(bank) * BANK_SIZE + (address - BANK_SIZE);
}

struct Listing {
    std::vector<Window> windows;
    std::vector<Line> lines;
    std::string& out;
    std::vector<int> by_bank; // window index by bank + 1, -1 for none
    const DisDebugInfo* debug = nullptr;
    std::vector<ByteClass> classes;            // by image offset
    using LabelAt = std::pair<size_t, size_t>; // image offset, index in debug->labels
    std::vector<LabelAt> labels;               // by image offset

    explicit Listing(std::string& text) : out(text) {}

    void read_debug_info(size_t image_size) {
        classes.assign(image_size, ByteClass::Data);
        // A data run starts a line, and so do the bytes after it that no
        // directive wrote (a gap left by .org or .res).
        for (const DisDebugRun& run : debug->data) {
            size_t at = image_offset(run.bank, run.address);
            if (at < image_size) classes[at] = ByteClass::DataStart;
            if (at < image_size && at + run.size < image_size && classes[at + run.size] == ByteClass::Data)
                classes[at + run.size] = ByteClass::DataStart;
        }
        for (const DisDebugRun& run : debug->instructions) {
            size_t at = image_offset(run.bank, run.address);
            if (at >= image_size || run.size == 0) continue;
            classes[at] = ByteClass::InstructionStart;
            for (size_t i = at + 1; i < std::min<size_t>(at + run.size, image_size); ++i)
                classes[i] = ByteClass::Instruction;
        }
        for (size_t i = 0; i < debug->labels.size(); ++i) {
            size_t at = image_offset(debug->labels[i].bank, debug->labels[i].address);
            if (at < image_size) labels.push_back({at, i});
        }
        std::stable_sort(labels.begin(), labels.end(),
                         [](const LabelAt& a, const LabelAt& b) { return a.first < b.first; });
        for (Window& w : windows) {
            w.named.assign(w.base_address + w.bytes.size(), false);
            auto first = std::lower_bound(labels.begin(), labels.end(), LabelAt{w.image_first, 0});
            for (auto it = first; it != labels.end() && it->first < w.image_first + w.bytes.size(); ++it)
                w.named[w.base_address + (it->first - w.image_first)] = true;
        }
    }

    // The program's labels at an address of a window.
    std::span<const LabelAt> labels_at(const Window& w, size_t address) const {
        size_t at = w.image_first + (address - w.base_address);
        auto range = std::equal_range(labels.begin(), labels.end(), LabelAt{at, 0},
                                      [](const LabelAt& a, const LabelAt& b) { return a.first < b.first; });
        // Pointer and count: older standard libraries (emscripten's) lack
        // the span constructor from two iterators.
        return {labels.data() + (range.first - labels.begin()),
                static_cast<size_t>(range.second - range.first)};
    }

    void index_windows() {
        for (size_t i = 0; i < windows.size(); ++i) {
            size_t slot = static_cast<size_t>(windows[i].bank + 1);
            if (by_bank.size() <= slot) by_bank.resize(slot + 1, -1);
            by_bank[slot] = static_cast<int>(i);
        }
    }

    // The window a jump from bank `from` to `target` lands in, if a label
    // can stand there (an instruction starts there or, with debug
    // information, a line with a label): below 0x4000 the fixed window, above
    // it the bank of the code that jumps.
    Window* window_of(int from, uint16_t target) {
        std::array<int, 2> candidates = {INT32_MIN, INT32_MIN};
        if (target < BANK_SIZE)
            candidates = {-1, 0};
        else if (target < FIRST_32K_END)
            candidates[0] = from == 0 ? 1 : from;
        for (int bank : candidates) {
            if (bank == INT32_MIN) continue;
            size_t slot = static_cast<size_t>(bank + 1);
            if (slot >= by_bank.size() || by_bank[slot] < 0) continue;
            Window& w = windows[static_cast<size_t>(by_bank[slot])];
            if (target >= w.starts.size()) continue;
            if (debug ? w.line_starts[target] && w.named[target] : w.starts[target]) return &w;
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
    std::string label_for(int from, uint16_t target) {
        Window* to = window_of(from, target);
        if (!to) return {};
        if (debug) return debug->labels[labels_at(*to, target).front().second].name;
        char text[32];
        if (to->bank < 0)
            std::snprintf(text, sizeof text, "L%04X", target);
        else
            std::snprintf(text, sizeof text, "B%d_%04X", to->bank, target);
        return text;
    }

    // One line: the statement, then a comment with its address, up to four of
    // its bytes and an optional note.
    void line(const Window& w, std::string_view statement, size_t address, const uint8_t* bytes, size_t count,
              std::string_view note = {}) {
        size_t start = out.size();
        out += "        ";
        out += statement;
        size_t width = out.size() - start;
        if (width < COMMENT_COLUMN)
            out.append(COMMENT_COLUMN - width, ' ');
        else
            out += ' ';
        char buf[32];
        if (w.bank >= 0)
            std::snprintf(buf, sizeof buf, "; %02X:%04zX:", static_cast<unsigned>(w.bank), address);
        else
            std::snprintf(buf, sizeof buf, "; %04zX:", address);
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

    void bytes_line(const Window& w, const uint8_t* bytes, size_t count, size_t address,
                    std::string_view note = {}) {
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
        char text[96];
        std::string label;
        if (debug)
            for (const LabelAt& at : labels_at(w, address)) {
                out += debug->labels[at.second].name;
                out += ":\n";
            }
        switch (l.kind) {
        case LineKind::Fill:
            std::snprintf(text, sizeof text, ".fill %u, 0x%02X", l.count, p[0]);
            line(w, text, address, p, 0);
            break;
        case LineKind::Vector: {
            uint16_t handler = word_at(w, l, 0);
            label = label_for(w.bank, handler);
            if (label.empty()) std::snprintf(text, sizeof text, "0x%04X", handler);
            line(w, ".word " + (label.empty() ? std::string(text) : label), address, p, 2,
                 "vector " + std::to_string(address / 2));
            break;
        }
        case LineKind::Data: bytes_line(w, p, l.count, address); break;
        case LineKind::Instruction: {
            if (!debug && w.targets[address]) {
                out += label_for(w.bank, static_cast<uint16_t>(address));
                out += ":\n";
            }
            const InstructionInfo& info = *instruction_for(p[0]);
            if (is_jump(info)) label = label_for(w.bank, word_at(w, l, 1));
            line(w, format_instruction(info, p, label), address, p, l.count);
            break;
        }
        case LineKind::Inexact: {
            // Runs as shown, but the pair byte is not one the assembler writes.
            bytes_line(w, p, l.count, address,
                       format_instruction(*instruction_for(p[0]), p) + " (pair byte above 15)");
            break;
        }
        case LineKind::CutOff: {
            const InstructionInfo& cut = *instruction_for(p[0]);
            std::snprintf(text, sizeof text, "%.*s cut off by the end of the %s",
                          static_cast<int>(cut.mnemonic.size()), cut.mnemonic.data(),
                          w.bank >= 0 ? "bank" : "image");
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
    if (d.info)
        std::snprintf(text, capacity, "%s", format_instruction(*d.info, &bytes[at]).c_str());
    else
        std::snprintf(text, capacity, ".byte 0x%02X", bytes[at]);
    return d.length;
}

std::string Disassembler_disassemble_image(std::span<const uint8_t> image, const DisOptions& options) {
    std::string out;
    Listing listing(out);
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
    listing.debug = options.debug;
    if (listing.debug) listing.read_debug_info(image.size());
    for (Window& w : windows)
        walk_window(w, listing.lines, listing.debug ? listing.classes.data() + w.image_first : nullptr);
    if (!listing.debug) listing.mark_targets();

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
