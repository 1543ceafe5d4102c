// Reading the debug information lumacor-asm writes with -g (the format is in
// docs/assembly.md): the disassembler keeps the instruction and data runs
// and the labels; file and constant records carry nothing it shows.
#include "disassembler.h"

#include <charconv>

namespace {

std::string_view next_field(std::string_view& rest) {
    size_t space = rest.find(' ');
    std::string_view field = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    return field;
}

template <typename T>
bool parse_field(std::string_view& rest, T& value, int base = 10) {
    std::string_view field = next_field(rest);
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, base);
    return !field.empty() && ec == std::errc() && end == field.data() + field.size();
}

} // namespace

bool DisDebugInfo_parse(std::string_view text, DisDebugInfo* info, std::string* error) {
    *info = {};
    size_t number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (++number == 1) {
            if (line == "lumacor-dbg 1") continue;
            *error = "line 1: not lumacor debug information of version 1";
            return false;
        }
        std::string_view rest = line;
        std::string_view kind = next_field(rest);
        bool ok = true;
        if (kind == "insn" || kind == "data") {
            DisDebugRun run;
            uint32_t source = 0; // file, line and column: not shown
            ok = parse_field(rest, run.bank) && parse_field(rest, run.address, 16);
            for (int i = 0; ok && kind == "insn" && i < 3; ++i) ok = parse_field(rest, source);
            ok = ok && parse_field(rest, run.size) && rest.empty();
            (kind == "insn" ? info->instructions : info->data).push_back(run);
        } else if (kind == "label") {
            DisDebugLabel label;
            label.name = next_field(rest);
            ok = !label.name.empty() && parse_field(rest, label.address, 16) &&
                 parse_field(rest, label.bank) && rest.empty();
            info->labels.push_back(std::move(label));
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + ": malformed " + std::string(kind) + " record";
            return false;
        }
    }
    if (number > 0) return true;
    *error = "line 1: not lumacor debug information of version 1";
    return false;
}
