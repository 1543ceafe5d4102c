#include "disassembler.h"

#include <algorithm>
#include <cstdio>

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

void format_instruction(const InstructionInfo& info, const uint8_t* p, char* text, size_t capacity) {
    char a[16] = "", b[16] = "";
    const uint8_t* operand = p + 1;
    format_operand(a, sizeof a, info.a, info.a_access, operand);
    format_operand(b, sizeof b, info.b, info.b_access, operand + operand_size(info.a));
    int name_length = static_cast<int>(info.mnemonic.size());
    if (info.b != Operand::None) std::snprintf(text, capacity, "%.*s %s, %s", name_length, info.mnemonic.data(), a, b);
    else if (info.a != Operand::None) std::snprintf(text, capacity, "%.*s %s", name_length, info.mnemonic.data(), a);
    else std::snprintf(text, capacity, "%.*s", name_length, info.mnemonic.data());
}

struct Writer {
    std::string& out;
    int bank; // -1 for the first 32 KiB

    // One line: the statement, then a comment with its address, up to four of
    // its bytes and an optional note.
    void line(std::string_view statement, size_t address, const uint8_t* bytes, size_t count, std::string_view note = {}) {
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
                std::snprintf(text, sizeof text, ".word 0x%02X%02X", window[at], window[at + 1]);
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
            format_instruction(*d.info, &window[at], text, sizeof text);
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
    std::string out;
    out.reserve(image.size() * 12 + 256);
    char buf[128];
    std::snprintf(buf, sizeof buf, "; %zu bytes of ROM image\n", image.size());
    out += buf;
    size_t decode_from = options.start >= 0 ? static_cast<size_t>(options.start) : VECTOR_TABLE_END;

    if (options.bank >= 0) {
        size_t bank = static_cast<size_t>(options.bank);
        size_t first = bank * BANK_SIZE;
        size_t base = bank == 0 ? 0 : BANK_SIZE;
        std::snprintf(buf, sizeof buf, ".bank %zu\n", bank);
        out += buf;
        if (first >= image.size()) {
            out += "; this bank lies past the end of the image\n";
            return out;
        }
        Writer w{out, static_cast<int>(bank)};
        disassemble_window(w, image.subspan(first, std::min(BANK_SIZE, image.size() - first)), base, bank == 0 ? decode_from : 0);
        return out;
    }

    // The first 32 KiB read as one piece, the way the machine shows them at
    // power-on (fixed window and bank 1); every later bank on its own.
    out += ".org 0x0000\n";
    Writer first32k{out, -1};
    disassemble_window(first32k, image.first(std::min(FIRST_32K_END, image.size())), 0, decode_from);
    for (size_t bank = 2; bank * BANK_SIZE < image.size(); ++bank) {
        std::snprintf(buf, sizeof buf, "\n.bank %zu\n", bank);
        out += buf;
        Writer w{out, static_cast<int>(bank)};
        size_t first = bank * BANK_SIZE;
        disassemble_window(w, image.subspan(first, std::min(BANK_SIZE, image.size() - first)), BANK_SIZE, 0);
    }
    return out;
}
