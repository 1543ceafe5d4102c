// The assembler's driver: one Assembler record per run, pass 1 over the
// source, then pass 2 and the results.
#include "asm_internal.h"

#include <algorithm>
#include <cstdio>

namespace asm_impl {

std::string hex(uint64_t value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", width, static_cast<unsigned long long>(value));
    return buf;
}

Assembler::Assembler(const AsmOptions& o, Assembly& a) : options(o), out(a) {
    reader = o.read_file ? o.read_file : read_from_disk;
}

bool Assembler::read_from_disk(const std::string& path, std::string& contents) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    contents.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void Assembler::error(const Site& site, uint32_t col, std::string message) {
    out.diagnostics.push_back({files[site.file].path, site.line, col, std::move(message), false});
    diagnostic_seq.push_back(site.seq);
}

void Assembler::warn(const Site& site, uint32_t col, std::string message) {
    out.warnings.push_back({files[site.file].path, site.line, col, std::move(message), true});
    warning_seq.push_back(site.seq);
}

// Diagnostics in source order; pass 1 and pass 2 find them at different times.
static void sort_by_source(std::vector<AsmDiagnostic>& diagnostics, const std::vector<uint32_t>& seq) {
    std::vector<size_t> order(diagnostics.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return seq[a] < seq[b]; });
    std::vector<AsmDiagnostic> sorted;
    sorted.reserve(order.size());
    for (size_t i : order) sorted.push_back(std::move(diagnostics[i]));
    diagnostics = std::move(sorted);
}

std::string Assembler::where(const Site& site) const {
    return files[site.file].path + ":" + std::to_string(site.line);
}

void Assembler::finish() {
    final_pass = true;
    for (uint32_t i = 0; i < symbols.size(); ++i)
        if (symbols[i].kind == SymKind::Constant) resolve_constant(i);
    check_overlaps();
    uint64_t size = 0;
    for (const Range& r : ranges) size = std::max(size, r.end);
    std::vector<uint8_t> image(size, 0);
    for (const Statement& st : statements) emit(st, image);
    if (options.make_listing) write_listing(image);

    for (const Symbol& s : symbols)
        if (s.kind == SymKind::Label || (s.kind == SymKind::Constant && s.state == SymState::Resolved))
            out.symbols.push_back({s.name, s.value, s.kind == SymKind::Label});
    std::sort(out.symbols.begin(), out.symbols.end(), [](const AsmSymbol& a, const AsmSymbol& b) {
        return a.value != b.value ? a.value < b.value : a.name < b.name;
    });

    sort_by_source(out.diagnostics, diagnostic_seq);
    if (out.diagnostics.empty()) check_start(); // judges the finished layout
    sort_by_source(out.warnings, warning_seq);

    if (!out.diagnostics.empty()) return;
    if (options.make_debug_info) write_debug_info(image);
    out.image = std::move(image);
}

void Assembler::run(const std::string& name, std::string text) {
    out.dependencies.push_back(name);
    files.push_back({name, std::move(text)});
    stack.reserve(64);
    read_file(0, identity(name));
    finish();
}

} // namespace asm_impl

using asm_impl::Assembler;

Assembly Assembler_assemble_text(const std::string& name, std::string_view text, const AsmOptions& options) {
    Assembly result;
    Assembler a(options, result);
    a.run(name, std::string(text));
    return result;
}

Assembly Assembler_assemble_file(const std::string& path, const AsmOptions& options) {
    Assembly result;
    Assembler a(options, result);
    std::string text;
    if (!a.reader(path, text)) {
        result.diagnostics.push_back({path, 0, 0, "cannot open source file"});
        return result;
    }
    a.run(path, std::move(text));
    return result;
}

bool Assembly_ok(const Assembly& assembly) { return assembly.diagnostics.empty(); }
