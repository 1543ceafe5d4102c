// The text of the output files beside the image: diagnostics, the symbols
// file, the make-style depfile and the debug information.
#include "asm_internal.h"

#include <algorithm>
#include <cstdio>

std::string AsmDiagnostic_format(const AsmDiagnostic& d) {
    const char* kind = d.warning ? ": warning: " : ": error: ";
    if (d.line == 0) return d.file + kind + d.message;
    return d.file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + kind + d.message;
}

std::string Assembly_format_symbols(const Assembly& assembly) {
    std::string text;
    char buf[64];
    for (const AsmSymbol& s : assembly.symbols) {
        if (s.value >= 0 && s.value <= 0xFFFF)
            std::snprintf(buf, sizeof buf, " = 0x%04llX\n", static_cast<unsigned long long>(s.value));
        else if (s.value > 0)
            std::snprintf(buf, sizeof buf, " = 0x%llX\n", static_cast<unsigned long long>(s.value));
        else
            std::snprintf(buf, sizeof buf, " = %lld\n", static_cast<long long>(s.value));
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

// CRC-32 as zlib, PNG and the cartridge compute it: a debugger checks with
// it that the information belongs to the image it is given.
static uint32_t crc32_of(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

namespace asm_impl {

// Line-oriented and versioned, for debuggers; the format is described in
// docs/assembly.md. Banks follow the cartridge: an image offset's bank is
// the offset divided by the bank size, for both windows.
void Assembler::write_debug_info(const std::vector<uint8_t>& image) {
    std::string& d = out.debug_info;
    char buf[96];
    d += "lumacor-dbg 1\n";
    std::snprintf(buf, sizeof buf, "image %08X %zu\n", crc32_of(image), image.size());
    d += buf;
    for (size_t i = 0; i < files.size(); ++i)
        d += "file " + std::to_string(i) + " " + identity(files[i].path) + "\n";
    for (const Statement& st : statements) {
        if (!st.placed) continue;
        unsigned bank = static_cast<unsigned>(st.offset / BANK_SIZE);
        if (st.kind == StmtKind::Instruction)
            std::snprintf(buf, sizeof buf, "insn %u %04X %u %u %u %u\n", bank, st.address, st.site.file,
                          st.site.line, st.site.col, st.size);
        else if (st.kind != StmtKind::Line && st.kind != StmtKind::Assert)
            std::snprintf(buf, sizeof buf, "data %u %04X %u\n", bank, st.address, st.size);
        else
            continue;
        d += buf;
    }
    // Symbols in the order of their definitions.
    std::vector<const Symbol*> defined;
    for (const Symbol& s : symbols)
        if (s.kind == SymKind::Label || (s.kind == SymKind::Constant && s.state == SymState::Resolved))
            defined.push_back(&s);
    std::sort(defined.begin(), defined.end(), [](const Symbol* a, const Symbol* b) {
        return a->site.seq != b->site.seq ? a->site.seq < b->site.seq : a->site.col < b->site.col;
    });
    for (const Symbol* s : defined) {
        if (s->kind == SymKind::Label)
            std::snprintf(buf, sizeof buf, " %04X %d\n", static_cast<unsigned>(s->value), s->bank);
        else
            std::snprintf(buf, sizeof buf, " %lld\n", static_cast<long long>(s->value));
        d += s->kind == SymKind::Label ? "label " : "const ";
        d += s->name;
        d += buf;
    }
}

} // namespace asm_impl
