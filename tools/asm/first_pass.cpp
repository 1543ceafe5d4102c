// Pass 1: symbols, the layout of statements in the banks, and the source
// files with their includes, read line by line.
#include "asm_internal.h"

#include <algorithm>
#include <filesystem>

namespace asm_impl {

uint32_t Assembler::intern(std::string_view name) {
    std::string_view key = name;
    if (!name.empty() && name[0] == '.') {
        scratch.assign(scope);
        scratch.append(name);
        key = scratch;
    }
    auto it = symbol_index.find(key);
    if (it != symbol_index.end()) return it->second;
    uint32_t index = static_cast<uint32_t>(symbols.size());
    Symbol s;
    s.name = std::string(key);
    symbols.push_back(std::move(s));
    symbol_index.emplace(symbols.back().name, index);
    return index;
}

int Assembler::bank_of_address(uint64_t address) const {
    if (bank == FIRST_32K) return address < BANK_SIZE ? 0 : 1;
    return bank;
}

// Returns the symbol for a definition, or -1 after reporting why not.
int64_t Assembler::define(const Token& name_tok, SymKind kind) {
    std::string_view name = name_tok.text;
    if (is_reserved(name)) {
        error_at(name_tok.col, "'" + std::string(name) + "' is a reserved name and cannot be a symbol");
        return -1;
    }
    if (kind == SymKind::Label && name[0] != '.' && name.find('.') == std::string_view::npos)
        scope.assign(name);
    uint32_t index = intern(name);
    Symbol& s = symbols[index];
    if (s.kind != SymKind::Undefined) {
        error_at(name_tok.col, "duplicate symbol '" + s.name + "', first defined at " + where(s.site));
        return -1;
    }
    s.kind = kind;
    s.site = line_site;
    s.site.col = name_tok.col;
    return index;
}

uint64_t Assembler::offset_of(uint64_t address) const {
    return bank > 0 ? static_cast<uint64_t>(bank) * BANK_SIZE + (address - BANK_SIZE) : address;
}

std::string Assembler::window_name() const {
    std::string range = " (" + hex(window_start()) + "-" + hex(window_end() - 1) + ")";
    if (bank == FIRST_32K) return "the first 32 KiB" + range + "; continue under .bank";
    return "bank " + std::to_string(bank) + "'s window" + range;
}

void Assembler::switch_bank(int new_bank) {
    if (bank == FIRST_32K)
        first_32k_pc = static_cast<int64_t>(pc);
    else
        bank_pc[static_cast<size_t>(bank)] = static_cast<int64_t>(pc);
    bank = new_bank;
    int64_t saved = bank == FIRST_32K ? first_32k_pc : bank_pc[static_cast<size_t>(bank)];
    pc = saved >= 0 ? static_cast<uint64_t>(saved) : window_start();
    overflow_reported = false;
}

// Appends a statement that occupies `size` bytes at the current address.
void Assembler::place(Statement st, uint64_t size, uint32_t col) {
    st.address = static_cast<uint32_t>(pc);
    st.offset = offset_of(pc);
    st.site.col = col;
    st.size = static_cast<uint32_t>(std::min<uint64_t>(size, ASM_MAX_IMAGE_SIZE + 1));
    if (size > 0) {
        if (pc + size > window_end()) {
            if (!overflow_reported) error_at(col, "this runs past the end of " + window_name());
            overflow_reported = true;
        } else if (st.offset + size > ASM_MAX_IMAGE_SIZE) {
            error_at(col, "this runs past the largest image, 16,000,000 bytes");
        } else {
            st.placed = true;
            ranges.push_back({st.offset, st.offset + size, static_cast<uint32_t>(statements.size())});
        }
    }
    pc += size;
    statements.push_back(st);
}

Statement Assembler::new_statement(StmtKind kind, std::string_view line) {
    Statement st;
    st.kind = kind;
    st.site = line_site;
    st.text = line;
    st.first_arg = static_cast<uint32_t>(args.size());
    return st;
}

bool Assembler::expect_end(const Cursor& c) {
    if (toks[c.pos].kind == Tok::End) return true;
    error_at(toks[c.pos].col, "expected the end of the line, found '" + std::string(toks[c.pos].text) + "'");
    return false;
}

bool Assembler::decode_string(const Token& t, std::string& s) {
    s.clear();
    size_t i = 0;
    while (i < t.text.size()) {
        size_t at = i;
        char c = 0;
        if (!decode_char(t.text, i, c)) {
            error_at(t.col + 1 + static_cast<uint32_t>(at), "unknown escape in string");
            return false;
        }
        s.push_back(c);
    }
    return true;
}

uint32_t Assembler::add_string(const Token& t, bool& ok) {
    std::string s;
    ok = decode_string(t, s);
    strings.push_back(std::move(s));
    return static_cast<uint32_t>(strings.size() - 1);
}

std::string Assembler::resolve_path(const std::string& including, const std::string& name,
                                    std::string& contents, bool& found) {
    namespace fs = std::filesystem;
    fs::path name_path(name);
    std::vector<fs::path> candidates;
    if (name_path.is_absolute()) {
        candidates.push_back(name_path);
    } else {
        candidates.push_back(fs::path(including).parent_path() / name_path);
        for (const std::string& dir : options.include_dirs) candidates.push_back(fs::path(dir) / name_path);
    }
    for (const fs::path& p : candidates) {
        std::string s = p.lexically_normal().string();
        if (reader(s, contents)) {
            found = true;
            return s;
        }
    }
    found = false;
    return name;
}

void Assembler::add_dependency(const std::string& path) {
    if (std::find(out.dependencies.begin(), out.dependencies.end(), path) == out.dependencies.end())
        out.dependencies.push_back(path);
}

std::string Assembler::identity(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    return (ec ? fs::path(path) : p).lexically_normal().string();
}

void Assembler::include(Cursor& c, uint32_t directive_col) {
    uint32_t col = toks[c.pos].col;
    std::string name;
    if (!string_arg(c, name) || !expect_end(c)) return;
    if (include_stack.size() >= MAX_INCLUDE_DEPTH) {
        error_at(directive_col, "includes are nested too deeply");
        return;
    }
    std::string contents;
    bool found = false;
    std::string path = resolve_path(files[line_site.file].path, name, contents, found);
    if (!found) {
        error_at(col, "cannot open include file '" + name + "'");
        return;
    }
    std::string id = identity(path);
    auto cycle = std::find(include_stack.begin(), include_stack.end(), id);
    if (cycle != include_stack.end()) {
        std::string chain;
        for (auto it = cycle; it != include_stack.end(); ++it)
            chain += std::filesystem::path(*it).filename().string() + " -> ";
        error_at(col, "include cycle: " + chain + std::filesystem::path(id).filename().string());
        return;
    }
    add_dependency(path);
    files.push_back({path, std::move(contents)});
    Site saved = line_site;
    read_file(static_cast<uint32_t>(files.size() - 1), id);
    line_site = saved;
}

// In a skipped branch only the conditionals count: the other lines need not
// even be valid, since they may be written for another assembly.
bool Assembler::conditional_line(Cursor& c, std::string_view line) {
    if (toks[0].kind == Tok::Ident && toks[1].kind == Tok::Colon) c.pos = 2;
    const Token& t = toks[c.pos];
    for (std::string_view name : {".ifdef", ".ifndef", ".else", ".endif"}) {
        if (t.kind == Tok::Ident && iequals(t.text, name)) {
            directive(c, line);
            return true;
        }
    }
    return false;
}

void Assembler::read_line(std::string_view line) {
    LexError err;
    bool lexed = lex_line(line, toks, err);
    Cursor c;
    if (!assembling()) {
        if (!lexed || !conditional_line(c, line)) list_line(line, 0);
        return;
    }
    if (!lexed) {
        error_at(err.col, err.message);
        return;
    }
    if (toks[0].kind == Tok::Ident && toks[1].kind == Tok::Assign) {
        c.pos = 2;
        constant(toks[0], c, line);
        return;
    }
    if (toks[0].kind == Tok::Ident && toks[1].kind == Tok::Colon) {
        int64_t index = define(toks[0], SymKind::Label);
        if (index >= 0) {
            Symbol& s = symbols[static_cast<size_t>(index)];
            s.value = static_cast<int64_t>(pc);
            s.bank = bank_of_address(pc);
            s.state = SymState::Resolved;
        }
        c.pos = 2;
    }
    const Token& t = toks[c.pos];
    if (t.kind == Tok::End) {
        if (options.make_listing) place(new_statement(StmtKind::Line, line), 0, t.col);
        return;
    }
    if (t.kind != Tok::Ident) {
        error_at(t.col,
                 "expected a label, an instruction or a directive, found '" + std::string(t.text) + "'");
        return;
    }
    if (t.text[0] == '.')
        directive(c, line);
    else
        instruction(c, line);
}

void Assembler::read_file(uint32_t file_index, const std::string& id) {
    include_stack.push_back(id);
    size_t open_conditionals = conditionals.size();
    std::string_view text = files[file_index].text;
    uint32_t line_number = 0;
    size_t pos =
        text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0; // editors may start UTF-8 files with a byte order mark
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line_site = Site{file_index, ++line_number, 0, ++seq};
        read_line(line);
        pos = end + 1;
    }
    // A file closes the conditionals it opens, so an include cannot leave
    // its includer's lines skipped.
    while (conditionals.size() > open_conditionals) {
        const Conditional& cond = conditionals.back();
        error(cond.site, cond.site.col, std::string(cond.directive) + " without .endif");
        conditionals.pop_back();
    }
    include_stack.pop_back();
}

} // namespace asm_impl
