#include "debug_info.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "cartridge/cartridge.h"
#include "disassembler.h"

namespace {

std::vector<std::string_view> fields_of(std::string_view line, size_t max_fields) {
    std::vector<std::string_view> fields;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size()) break;
        if (fields.size() + 1 == max_fields) {
            // The last field is the rest of the line: a path may hold spaces.
            fields.push_back(line.substr(at));
            break;
        }
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

bool number_of(std::string_view text, int base, int64_t min, int64_t max, int64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    std::string copy(text);
    char* end = nullptr;
    long long parsed = std::strtoll(copy.c_str(), &end, base);
    if (*end || parsed < min || parsed > max) return false;
    *value = parsed;
    return true;
}

bool bank_and_address(std::string_view bank_text, std::string_view address_text, uint8_t* bank,
                      uint16_t* address) {
    int64_t b = 0, a = 0;
    if (!number_of(bank_text, 10, 0, 255, &b) || !number_of(address_text, 16, 0, 0xFFFF, &a)) return false;
    *bank = static_cast<uint8_t>(b);
    *address = static_cast<uint16_t>(a);
    return true;
}

std::string folded_path(std::string_view path) {
    std::vector<std::string_view> parts;
    bool absolute = !path.empty() && path[0] == '/';
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

auto place(const DebugInsn& i) { return std::make_tuple(i.bank, i.address); }

} // namespace

bool DebugInfo_parse(std::string_view text, DebugInfo* info, std::string* error) {
    *info = DebugInfo{};
    int line_number = 0;
    bool seen_header = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::vector<std::string_view> f = fields_of(line, 8);
        if (f.empty() || f[0][0] == '#') continue;
        auto bad = [&](const char* what) {
            *error = "line " + std::to_string(line_number) + ": " + what;
            return false;
        };
        if (!seen_header) {
            if (f.size() != 2 || f[0] != "lumacor-dbg") return bad("not lumacor debug information");
            if (f[1] != "1") return bad("unknown version");
            seen_header = true;
            continue;
        }
        int64_t n[4] = {};
        if (f[0] == "file") {
            std::vector<std::string_view> g = fields_of(line, 3);
            if (g.size() != 3 || !number_of(g[1], 10, 0, 1 << 20, &n[0])) return bad("bad file record");
            if (static_cast<size_t>(n[0]) >= info->files.size())
                info->files.resize(static_cast<size_t>(n[0]) + 1);
            info->files[static_cast<size_t>(n[0])] = std::string(g[2]);
        } else if (f[0] == "insn") {
            DebugInsn insn{};
            if (f.size() != 7 || !bank_and_address(f[1], f[2], &insn.bank, &insn.address) ||
                !number_of(f[3], 10, 0, 1 << 20, &n[0]) || !number_of(f[4], 10, 1, 1 << 30, &n[1]) ||
                !number_of(f[5], 10, 0, 1 << 30, &n[2]) || !number_of(f[6], 10, 1, 4, &n[3]))
                return bad("bad insn record");
            insn.file = static_cast<uint32_t>(n[0]);
            insn.line = static_cast<uint32_t>(n[1]);
            insn.column = static_cast<uint32_t>(n[2]);
            insn.size = static_cast<uint8_t>(n[3]);
            info->insns.push_back(insn);
        } else if (f[0] == "data") {
            DebugData data{};
            if (f.size() != 4 || !bank_and_address(f[1], f[2], &data.bank, &data.address) ||
                !number_of(f[3], 10, 0, ROM_MAX_SIZE, &n[0]))
                return bad("bad data record");
            data.size = static_cast<uint32_t>(n[0]);
            info->data.push_back(data);
        } else if (f[0] == "label") {
            DebugLabel label{};
            if (f.size() != 4 || !bank_and_address(f[3], f[2], &label.bank, &label.address))
                return bad("bad label record");
            label.name = std::string(f[1]);
            info->labels.push_back(std::move(label));
        } else if (f[0] == "image") {
            if (f.size() != 3 || f[1].size() != 8 || !number_of(f[1], 16, 0, UINT32_MAX, &n[0]) ||
                !number_of(f[2], 10, 0, ROM_MAX_SIZE, &n[1]))
                return bad("bad image record");
            info->has_image = true;
            info->image_crc = static_cast<uint32_t>(n[0]);
            info->image_size = static_cast<uint64_t>(n[1]);
        } else if (f[0] == "const") {
            if (f.size() != 3 || !number_of(f[2], 10, INT64_MIN, INT64_MAX, &n[0]))
                return bad("bad const record");
            info->constants.push_back(DebugConst{std::string(f[1]), n[0]});
        } else {
            return bad("unknown record");
        }
    }
    if (!seen_header) {
        *error = "empty debug information";
        return false;
    }
    for (const DebugInsn& insn : info->insns) {
        if (insn.file >= info->files.size()) {
            *error = "an instruction names a file that is not listed";
            return false;
        }
    }
    std::stable_sort(info->insns.begin(), info->insns.end(),
                     [](const DebugInsn& a, const DebugInsn& b) { return place(a) < place(b); });
    std::stable_sort(info->labels.begin(), info->labels.end(), [](const DebugLabel& a, const DebugLabel& b) {
        return std::tie(a.bank, a.address) < std::tie(b.bank, b.address);
    });
    return true;
}

bool DebugInfo_describes(const DebugInfo* info, uint32_t image_crc, uint64_t image_size,
                         std::string* mismatch) {
    if (!info->has_image || (info->image_crc == image_crc && info->image_size == image_size)) return true;
    char text[128];
    std::snprintf(text, sizeof text,
                  "describes an image of %llu bytes with CRC-32 %08X, not this one (%llu bytes, %08X)",
                  static_cast<unsigned long long>(info->image_size), info->image_crc,
                  static_cast<unsigned long long>(image_size), image_crc);
    *mismatch = text;
    return false;
}

int DebugInfo_bank_of(uint16_t address, int current) {
    if (address < BANK_SIZE) return 0;
    if (address <= ROM_LAST) return current;
    return -1;
}

const DebugInsn* DebugInfo_insn_at(const DebugInfo* info, int bank, uint16_t address) {
    if (bank < 0) return nullptr;
    DebugInsn key{};
    key.bank = static_cast<uint8_t>(bank);
    key.address = address;
    auto found = std::lower_bound(info->insns.begin(), info->insns.end(), key,
                                  [](const DebugInsn& a, const DebugInsn& b) { return place(a) < place(b); });
    if (found == info->insns.end() || found->bank != bank || found->address != address) return nullptr;
    return &*found;
}

int DebugInfo_file_index(const DebugInfo* info, std::string_view path) {
    std::string wanted = folded_path(path);
    for (size_t i = 0; i < info->files.size(); ++i)
        if (folded_path(info->files[i]) == wanted) return static_cast<int>(i);
    return -1;
}

std::vector<const DebugInsn*> DebugInfo_insns_for_line(const DebugInfo* info, int file, uint32_t line) {
    uint32_t best = UINT32_MAX;
    for (const DebugInsn& insn : info->insns)
        if (static_cast<int>(insn.file) == file && insn.line >= line && insn.line < best) best = insn.line;
    std::vector<const DebugInsn*> found;
    for (const DebugInsn& insn : info->insns)
        if (static_cast<int>(insn.file) == file && insn.line == best) found.push_back(&insn);
    return found;
}

const DebugLabel* DebugInfo_label_named(const DebugInfo* info, std::string_view name) {
    for (const DebugLabel& label : info->labels)
        if (label.name == name) return &label;
    return nullptr;
}

const DebugLabel* DebugInfo_label_before(const DebugInfo* info, int bank, uint16_t address) {
    const DebugLabel* best = nullptr;
    for (const DebugLabel& label : info->labels) {
        if (label.bank != bank || label.address > address) continue;
        // Of labels at one address the global one names the routine.
        bool global = label.name.find('.') == std::string::npos;
        if (!best || label.address > best->address || (label.address == best->address && global))
            best = &label;
    }
    return best;
}

const DebugLabel* DebugInfo_label_at(const DebugInfo* info, int bank, uint16_t address) {
    const DebugLabel* label = DebugInfo_label_before(info, bank, address);
    return label && label->address == address ? label : nullptr;
}

std::optional<int64_t> DebugInfo_constant(const DebugInfo* info, std::string_view name) {
    for (const DebugConst& c : info->constants)
        if (c.name == name) return c.value;
    return std::nullopt;
}

std::string DebugInfo_name_of(const DebugInfo* info, int bank, uint16_t address) {
    const DebugLabel* label = info ? DebugInfo_label_before(info, bank, address) : nullptr;
    if (!label) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", address);
        return text;
    }
    if (label->address == address) return label->name;
    return label->name + "+" + std::to_string(address - label->address);
}

int DebugInfo_format(const DebugInfo* info, std::span<const uint8_t> bytes, int bank, std::string* text) {
    char plain[48];
    int length = Disassembler_format(bytes, 0, plain, sizeof plain);
    *text = plain;
    DisInstruction decoded = Disassembler_decode(bytes, 0);
    if (info && decoded.info && decoded.info->a == Operand::Imm16) {
        uint16_t target = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
        if (const DebugLabel* label = DebugInfo_label_at(info, DebugInfo_bank_of(target, bank), target))
            *text = std::string(decoded.info->mnemonic) + " " + label->name;
    }
    return length;
}
