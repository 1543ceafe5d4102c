#include "disassembler.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr size_t BANK_SIZE = 0x4000;
constexpr size_t FIRST_32K_END = 0x8000;
constexpr size_t VECTOR_TABLE_END = 0x20;
constexpr size_t FILL_RUN = 16;      // equal bytes from which .fill is used
constexpr size_t BYTES_PER_LINE = 8; // for .byte data
constexpr int COMMENT_COLUMN = 32;

// Appends the source text of one operand.
int format_operand(char* text, size_t capacity, Operand kind, Access access, const uint8_t* p) {
    switch (kind) {
    case Operand::Reg:
        return p[0] == 11 ? std::snprintf(text, capacity, "FLAGS") : std::snprintf(text, capacity, "r%u", p[0]);
    case Operand::Pair: {
        unsigned pair = p[0] & 0x0F;
        const char* open = access == Access::Memory ? "[" : "";
        const char* close = access == Access::Memory ? "]" : "";
        if (pair == 12) return std::snprintf(text, capacity, "%sPC%s", open, close);
        if (pair == 14) return std::snprintf(text, capacity, "%sSP%s", open, close);
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

// Jump, call and interrupt vector targets that land on a shown instruction
// get a label. Windows
// are named by bank, -1 for the first 32 KiB; a target in 0x4000-0x7FFF is
// taken to lie in the bank of the code that jumps there.
struct Labels {
    bool collecting = true;
    std::map<int, std::vector<bool>> starts; // instruction starts by window, indexed by address
    std::vector<std::pair<int, uint16_t>> jumps;
    std::set<std::pair<int, uint16_t>> targets;

    int window_of(int from, uint16_t target) const {
        std::vector<int> candidates;
        if (target < BANK_SIZE) candidates = {-1, 0};
        else if (target < FIRST_32K_END) candidates = {from == 0 ? 1 : from};
        for (int window : candidates) {
            auto it = starts.find(window);
            if (it != starts.end() && target < it->second.size() && it->second[target]) return window;
        }
        return INT32_MIN;
    }

    void resolve() {
        for (auto [from, target] : jumps) {
            int window = window_of(from, target);
            if (window != INT32_MIN) targets.insert({window, target});
        }
        collecting = false;
    }

    static void name(char* text, size_t capacity, int window, uint16_t address) {
        if (window < 0) std::snprintf(text, capacity, "L%04X", address);
        else std::snprintf(text, capacity, "B%d_%04X", window, address);
    }
};

bool is_jump(const InstructionInfo& info) {
    return info.a == Operand::Imm16 && (info.mnemonic[0] == 'J' || info.mnemonic == "CALL");
}

struct Writer {
    std::string& out;
    int bank; // -1 for the first 32 KiB
    Labels& labels;

    // One line: the statement, then a comment with its address, up to four of
    // its bytes and an optional note.
    void line(std::string_view statement, size_t address, const uint8_t* bytes, size_t count, std::string_view note = {}) {
        if (labels.collecting) return;
        size_t start = out.size();
        out += "        ";
        out += statement;
        size_t width = out.size() - start;
        if (width < COMMENT_COLUMN) out.append(COMMENT_COLUMN - width, ' ');
        else out += ' ';
        char buf[32];
        if (bank >= 0) std::snprintf(buf, sizeof buf, "; %02X:%04zX:", static_cast<unsigned>(bank), address);
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

    void bytes_line(const uint8_t* bytes, size_t count, size_t address, std::string_view note = {}) {
        std::string s = ".byte ";
        char buf[8];
        for (size_t i = 0; i < count; ++i) {
            std::snprintf(buf, sizeof buf, i ? ", 0x%02X" : "0x%02X", bytes[i]);
            s += buf;
        }
        line(s, address, bytes, 0, note);
    }
};

size_t run_length(std::span<const uint8_t> window, size_t at) {
    size_t end = at + 1;
    while (end < window.size() && window[end] == window[at]) ++end;
    return end - at;
}

// Disassembles one window of the image: `window` holds its bytes, the first
// of them at `base_address`. Decoding starts at `decode_from`.
void disassemble_window(Writer& w, std::span<const uint8_t> window, size_t base_address, size_t decode_from) {
    size_t at = 0;
    char text[96];
    while (at < window.size()) {
        size_t address = base_address + at;
        size_t run = run_length(window, at);
        if (run >= FILL_RUN) {
            std::snprintf(text, sizeof text, ".fill %zu, 0x%02X", run, window[at]);
            w.line(text, address, &window[at], 0);
            at += run;
            continue;
        }
        if (address < decode_from) {
            size_t limit = std::min(window.size(), decode_from - base_address);
            if (address < VECTOR_TABLE_END && address % 2 == 0 && at + 2 <= limit) {
                uint16_t handler = static_cast<uint16_t>(window[at] << 8 | window[at + 1]);
                int handler_window = w.labels.collecting ? INT32_MIN : w.labels.window_of(w.bank, handler);
                if (w.labels.collecting) w.labels.jumps.push_back({w.bank, handler});
                if (w.labels.targets.count({handler_window, handler})) {
                    char label[32];
                    Labels::name(label, sizeof label, handler_window, handler);
                    std::snprintf(text, sizeof text, ".word %s", label);
                } else {
                    std::snprintf(text, sizeof text, ".word 0x%04X", handler);
                }
                w.line(text, address, &window[at], 2, "vector " + std::to_string(address / 2));
                at += 2;
                continue;
            }
            size_t count = 1;
            while (count < BYTES_PER_LINE && at + count < limit && run_length(window, at + count) < FILL_RUN &&
                   !(base_address + at + count < VECTOR_TABLE_END && (base_address + at + count) % 2 == 0))
                ++count;
            w.bytes_line(&window[at], count, address);
            at += count;
            continue;
        }
        DisInstruction d = Disassembler_decode(window, at);
        if (d.info && d.exact) {
            Labels& labels = w.labels;
            uint16_t target = is_jump(*d.info) ? static_cast<uint16_t>(window[at + 1] << 8 | window[at + 2]) : 0;
            if (labels.collecting) {
                labels.starts[w.bank][address] = true;
                if (is_jump(*d.info)) labels.jumps.push_back({w.bank, target});
                at += static_cast<size_t>(d.length);
                continue;
            }
            char label[32];
            if (labels.targets.count({w.bank, static_cast<uint16_t>(address)})) {
                Labels::name(label, sizeof label, w.bank, static_cast<uint16_t>(address));
                w.out += label;
                w.out += ":\n";
            }
            const char* word_text = nullptr;
            if (is_jump(*d.info)) {
                int target_window = labels.window_of(w.bank, target);
                if (labels.targets.count({target_window, target})) {
                    Labels::name(label, sizeof label, target_window, target);
                    word_text = label;
                }
            }
            format_instruction(*d.info, &window[at], text, sizeof text, word_text);
            w.line(text, address, &window[at], static_cast<size_t>(d.length));
            at += static_cast<size_t>(d.length);
            continue;
        }
        if (d.info) {
            // Runs as shown, but the pair byte is not one the assembler writes.
            char shown[48], note[96];
            format_instruction(*d.info, &window[at], shown, sizeof shown);
            std::snprintf(note, sizeof note, "%s (pair byte above 15)", shown);
            w.bytes_line(&window[at], static_cast<size_t>(d.length), address, note);
            at += static_cast<size_t>(d.length);
            continue;
        }
        const InstructionInfo* cut = instruction_for(window[at]);
        if (cut) {
            size_t count = window.size() - at;
            std::snprintf(text, sizeof text, "%.*s cut off by the end of the %s", static_cast<int>(cut->mnemonic.size()),
                          cut->mnemonic.data(), w.bank >= 0 ? "bank" : "image");
            w.bytes_line(&window[at], count, address, text);
            at += count;
            continue;
        }
        // Neighbouring bytes that start no instruction share a line.
        size_t count = 1;
        while (count < BYTES_PER_LINE && at + count < window.size() && !instruction_for(window[at + count]) &&
               run_length(window, at + count) < FILL_RUN)
            ++count;
        w.bytes_line(&window[at], count, address, "no instruction");
        at += count;
    }
}

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
    struct Window {
        int bank; // -1 for the first 32 KiB
        std::span<const uint8_t> bytes;
        size_t base_address;
        size_t decode_from;
    };
    std::vector<Window> windows;
    size_t decode_from = options.start >= 0 ? static_cast<size_t>(options.start) : VECTOR_TABLE_END;
    if (options.bank >= 0) {
        size_t bank = static_cast<size_t>(options.bank);
        size_t first = bank * BANK_SIZE;
        if (first < image.size())
            windows.push_back({options.bank, image.subspan(first, std::min(BANK_SIZE, image.size() - first)), bank == 0 ? 0 : BANK_SIZE,
                               bank == 0 ? decode_from : 0});
    } else {
        // The first 32 KiB read as one piece, the way the machine shows them
        // at power-on (fixed window and bank 1); every later bank on its own.
        windows.push_back({-1, image.first(std::min(FIRST_32K_END, image.size())), 0, decode_from});
        for (size_t bank = 2; bank * BANK_SIZE < image.size(); ++bank) {
            size_t first = bank * BANK_SIZE;
            windows.push_back({static_cast<int>(bank), image.subspan(first, std::min(BANK_SIZE, image.size() - first)), BANK_SIZE, 0});
        }
    }

    // First walk: where the instructions start and where jumps go; second walk: the text.
    std::string out;
    Labels labels;
    for (const Window& window : windows) {
        labels.starts[window.bank].assign(window.base_address + window.bytes.size(), false);
        Writer w{out, window.bank, labels};
        disassemble_window(w, window.bytes, window.base_address, window.decode_from);
    }
    labels.resolve();

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
    for (const Window& window : windows) {
        if (window.bank >= 0 && options.bank < 0) {
            std::snprintf(buf, sizeof buf, "\n.bank %d\n", window.bank);
            out += buf;
        }
        Writer w{out, window.bank, labels};
        disassemble_window(w, window.bytes, window.base_address, window.decode_from);
    }
    return out;
}
