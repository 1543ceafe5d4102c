// Pass 2: operand values checked and written into the image; overlapping
// statements reported; the listing.
#include "asm_internal.h"

#include "computer/computer.h"

#include <algorithm>
#include <cstdio>

namespace asm_impl {

bool Assembler::value_of(const Arg& arg, const Site& site, int64_t here, int64_t& value) {
    uint32_t unused = 0;
    return evaluate(arg.expr, here, site, value, unused) == Eval::Ok;
}

bool Assembler::in_range(const Site& site, uint32_t col, int64_t value, int64_t low, int64_t high,
                         const char* what) {
    if (value >= low && value <= high) return true;
    error(site, col,
          std::string(what) + " " + std::to_string(value) + " is out of range (" + std::to_string(low) +
              ".." + std::to_string(high) + ")");
    return false;
}

void Assembler::emit(const Statement& st, std::vector<uint8_t>& image) {
    uint8_t* p = st.placed ? image.data() + st.offset : nullptr;
    const Site& site = st.site;
    int64_t here = st.address;
    int64_t v = 0;
    switch (st.kind) {
    case StmtKind::Line: break;
    case StmtKind::Instruction: {
        const InstructionInfo* info = instruction_for(st.opcode);
        std::array<Operand, 2> kinds = {info->a, info->b};
        std::array<int64_t, 2> values{};
        std::array<bool, 2> known{};
        size_t at = 1;
        if (p) p[0] = st.opcode;
        for (uint32_t i = 0; i < st.arg_count; ++i) {
            const Arg& arg = args[st.first_arg + i];
            if (!value_of(arg, site, here, v)) continue;
            values[i] = v;
            known[i] = true;
            bool ok = false;
            switch (kinds[i]) {
            case Operand::Reg: ok = in_range(site, arg.col, v, 0, MAX_REGISTER, "register"); break;
            case Operand::Pair: ok = in_range(site, arg.col, v, 0, MAX_PAIR, "pair"); break;
            case Operand::Imm8: ok = in_range(site, arg.col, v, -128, 255, "byte value"); break;
            case Operand::Imm16: ok = in_range(site, arg.col, v, -32768, 65535, "word value"); break;
            case Operand::Port: ok = in_range(site, arg.col, v, 0, 255, "port"); break;
            case Operand::None: break;
            }
            if (ok && p) {
                if (kinds[i] == Operand::Imm16)
                    p[at] = static_cast<uint8_t>(v >> 8), p[at + 1] = static_cast<uint8_t>(v);
                else
                    p[at] = static_cast<uint8_t>(v);
            }
            at += static_cast<size_t>(operand_size(kinds[i]));
        }
        check_instruction(st, *info, values, known);
        break;
    }
    case StmtKind::Bytes:
    case StmtKind::Words: {
        size_t at = 0;
        for (uint32_t i = 0; i < st.arg_count; ++i) {
            const Arg& arg = args[st.first_arg + i];
            if (arg.kind == ArgKind::String) {
                const std::string& s = strings[arg.string_index];
                if (p) std::copy(s.begin(), s.end(), p + at);
                at += s.size();
                continue;
            }
            bool word = st.kind == StmtKind::Words;
            if (value_of(arg, site, here, v) &&
                in_range(site, arg.col, v, word ? -32768 : -128, word ? 65535 : 255,
                         word ? "word value" : "byte value") &&
                p) {
                if (word)
                    p[at] = static_cast<uint8_t>(v >> 8), p[at + 1] = static_cast<uint8_t>(v);
                else
                    p[at] = static_cast<uint8_t>(v);
            }
            at += word ? 2 : 1;
        }
        break;
    }
    case StmtKind::Text:
        if (p) {
            const std::string& s = strings[args[st.first_arg].string_index];
            std::copy(s.begin(), s.end(), p);
            if (st.zero_end) p[s.size()] = 0;
        }
        break;
    case StmtKind::Fill:
        if (value_of(args[st.first_arg], site, here, v) &&
            in_range(site, args[st.first_arg].col, v, -128, 255, "fill value") && p)
            std::fill(p, p + st.size, static_cast<uint8_t>(v));
        break;
    case StmtKind::Incbin:
        if (p) {
            const std::string& s = strings[args[st.first_arg].string_index];
            std::copy(s.begin() + static_cast<std::ptrdiff_t>(st.data_start),
                      s.begin() + static_cast<std::ptrdiff_t>(st.data_start + st.size), p);
        }
        break;
    case StmtKind::Vector:
        if (value_of(args[st.first_arg], site, here, v) &&
            in_range(site, args[st.first_arg].col, v, 0, 65535, "vector address") && p)
            p[0] = static_cast<uint8_t>(v >> 8), p[1] = static_cast<uint8_t>(v);
        break;
    case StmtKind::Assert:
        if (value_of(args[st.first_arg], site, here, v) && v == 0) {
            std::string message =
                st.arg_count > 1 ? strings[args[st.first_arg + 1].string_index] : "assertion failed";
            error(site, site.col, message);
        }
        break;
    }
}

// Instructions that assemble but are probably not what was meant.
void Assembler::check_instruction(const Statement& st, const InstructionInfo& info,
                                  const std::array<int64_t, 2>& values, const std::array<bool, 2>& known) {
    if (st.arg_count == 0) return;
    uint32_t col = args[st.first_arg].col; // the first operand's
    bool loads_through_pair =
        info.a == Operand::Reg && info.b == Operand::Pair && info.b_access == Access::Memory;
    if (loads_through_pair && known[0] && known[1] &&
        (values[0] == values[1] || values[0] == values[1] + 1)) {
        std::string pair = "p" + std::to_string(values[1]);
        warn(st.site, col,
             "r" + std::to_string(values[0]) + " is part of " + pair + " (r" + std::to_string(values[1]) +
                 ":r" + std::to_string(values[1] + 1) +
                 "), the pair this load reads through: the load overwrites the address");
    }
    bool jump = info.a == Operand::Imm16 && (info.mnemonic[0] == 'J' || info.mnemonic == "CALL");
    uint16_t target = static_cast<uint16_t>(values[0]);
    // The assembler places code only in ROM, so code in RAM is whatever the
    // program copied there at run time.
    if (jump && known[0] && target >= RAM_FIRST && target <= RAM_LAST)
        warn(st.site, col,
             std::string(info.mnemonic) + " to " + hex(target) +
                 " in RAM, where no code is assembled: the program must copy code there first");
}

// A program that neither says where it starts nor places anything at the
// start address runs whatever the cartridge shows there.
void Assembler::check_start() {
    if (has_start) return;
    for (const Range& r : ranges)
        if (r.start <= START_ADDRESS && START_ADDRESS < r.end) return;
    warn(Site{0, 1, 1, 0}, 1,
         "no .start, and nothing placed at the start address " + hex(START_ADDRESS) +
             " where the machine begins");
}

void Assembler::check_overlaps() {
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
        return a.start != b.start ? a.start < b.start : a.statement < b.statement;
    });
    uint64_t covered_end = 0;
    uint32_t covering = 0;
    for (const Range& r : ranges) {
        if (r.start < covered_end) {
            const Statement& a = statements[covering];
            const Statement& b = statements[r.statement];
            const Statement& later = a.site.seq > b.site.seq ? a : b;
            const Statement& earlier = a.site.seq > b.site.seq ? b : a;
            error(later.site, later.site.col,
                  "ROM bytes " + hex(r.start) + ".." + hex(std::min(r.end, covered_end) - 1) +
                      " are already taken by " + where(earlier.site));
        }
        if (r.end > covered_end) covered_end = r.end, covering = r.statement;
    }
}

void Assembler::write_listing(const std::vector<uint8_t>& image) {
    std::string& l = out.listing;
    l.reserve(statements.size() * 64);
    l += "OFFSET  ADDR  BYTES                        LINE  SOURCE\n";
    uint32_t current_file = UINT32_MAX;
    char buf[96];
    for (const Statement& st : statements) {
        if (st.site.file != current_file) {
            current_file = st.site.file;
            l += "; " + files[current_file].path + "\n";
        }
        uint32_t shown = st.placed ? std::min<uint32_t>(st.size, 8) : 0;
        std::string bytes;
        for (uint32_t i = 0; i < shown; ++i) {
            std::snprintf(buf, sizeof buf, "%02X ", image[st.offset + i]);
            bytes += buf;
        }
        if (st.placed && st.size > 8) bytes += "...";
        std::snprintf(buf, sizeof buf, "%06llX  %04X  %-27s %5u  ",
                      static_cast<unsigned long long>(st.offset), st.address, bytes.c_str(), st.site.line);
        l += buf;
        l += st.text;
        l += '\n';
    }
}

} // namespace asm_impl
