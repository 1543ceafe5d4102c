// The text of the output files beside the image: diagnostics, the symbols
// file and the make-style depfile.
#include "assembler.h"

#include <cstdio>

std::string AsmDiagnostic_format(const AsmDiagnostic& d) {
    if (d.line == 0) return d.file + ": error: " + d.message;
    return d.file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": error: " + d.message;
}

std::string Assembly_format_symbols(const Assembly& assembly) {
    std::string text;
    char buf[64];
    for (const AsmSymbol& s : assembly.symbols) {
        if (s.value >= 0 && s.value <= 0xFFFF) std::snprintf(buf, sizeof buf, " = 0x%04llX\n", static_cast<unsigned long long>(s.value));
        else if (s.value > 0) std::snprintf(buf, sizeof buf, " = 0x%llX\n", static_cast<unsigned long long>(s.value));
        else std::snprintf(buf, sizeof buf, " = %lld\n", static_cast<long long>(s.value));
        text += s.name;
        text += buf;
    }
    return text;
}

static std::string escape_make(const std::string& path) {
    std::string s;
    for (char c : path) {
        if (c == ' ' || c == '#') s += '\\';
        if (c == '$') s += '$';
        s += c;
    }
    return s;
}

std::string Assembly_format_depfile(const Assembly& assembly, const std::string& target) {
    std::string text = escape_make(target) + ":";
    for (const std::string& dep : assembly.dependencies) text += " \\\n  " + escape_make(dep);
    return text + "\n";
}
