// Directives in pass 1: each one parses its operands, evaluates what decides
// the layout and places its statement.
#include "asm_internal.h"
#include "directive_help.h"

namespace asm_impl {

// Comma-separated values and strings, for .byte, .word and friends.
bool Assembler::value_list(Cursor& c, bool allow_strings, uint32_t& count, uint64_t& size,
                           uint32_t item_size) {
    count = 0;
    size = 0;
    if (toks[c.pos].kind == Tok::End) {
        error_at(toks[c.pos].col, "expected a value");
        return false;
    }
    for (;;) {
        Arg arg{};
        arg.col = toks[c.pos].col;
        if (toks[c.pos].kind == Tok::String) {
            if (!allow_strings) {
                error_at(arg.col, "strings go in .byte, .ascii or .asciz");
                return false;
            }
            bool ok = true;
            arg.kind = ArgKind::String;
            arg.string_index = add_string(toks[c.pos], ok);
            if (!ok) return false;
            size += strings[arg.string_index].size();
            ++c.pos;
        } else {
            arg.kind = ArgKind::Imm;
            if (!parse_expression(c, arg.expr)) return false;
            size += item_size;
        }
        args.push_back(arg);
        ++count;
        if (toks[c.pos].kind == Tok::Comma) {
            ++c.pos;
            continue;
        }
        return expect_end(c);
    }
}

bool Assembler::layout_value(Cursor& c, int64_t& value, std::string_view what) {
    Expr e;
    if (!parse_expression(c, e)) return false;
    return evaluate_now(e, value, what);
}

bool Assembler::string_arg(Cursor& c, std::string& s) {
    if (toks[c.pos].kind != Tok::String) {
        error_at(toks[c.pos].col, "expected a string in double quotes");
        return false;
    }
    return decode_string(toks[c.pos++], s);
}

void Assembler::incbin(Cursor& c, std::string_view line, uint32_t directive_col) {
    uint32_t col = toks[c.pos].col;
    std::string name;
    if (!string_arg(c, name)) return;
    int64_t start = 0, length = -1;
    if (toks[c.pos].kind == Tok::Comma) {
        ++c.pos;
        if (!layout_value(c, start, "the .incbin offset")) return;
        if (toks[c.pos].kind == Tok::Comma) {
            ++c.pos;
            if (!layout_value(c, length, "the .incbin length")) return;
        }
    }
    if (!expect_end(c)) return;
    std::string contents;
    bool found = false;
    std::string path = resolve_path(files[line_site.file].path, name, contents, found);
    if (!found) {
        error_at(col, "cannot open file '" + name + "'");
        return;
    }
    add_dependency(path);
    int64_t file_size = static_cast<int64_t>(contents.size());
    if (start < 0 || start > file_size) {
        error_at(col, "offset " + std::to_string(start) + " lies outside '" + name + "' (" +
                          std::to_string(file_size) + " bytes)");
        return;
    }
    if (length < 0) length = file_size - start;
    if (length > file_size - start) {
        error_at(col, "'" + name + "' has only " + std::to_string(file_size - start) + " bytes from offset " +
                          std::to_string(start));
        return;
    }
    Statement st = new_statement(StmtKind::Incbin, line);
    strings.push_back(std::move(contents));
    Arg arg{};
    arg.kind = ArgKind::String;
    arg.col = col;
    arg.string_index = static_cast<uint32_t>(strings.size() - 1);
    args.push_back(arg);
    st.arg_count = 1;
    st.data_start = static_cast<uint64_t>(start);
    place(st, static_cast<uint64_t>(length), directive_col);
}

void Assembler::constant(const Token& name_tok, Cursor& c, std::string_view line) {
    int64_t index = define(name_tok, SymKind::Constant);
    Expr e;
    bool ok = parse_expression(c, e) && expect_end(c);
    if (index >= 0) {
        Symbol& s = symbols[static_cast<size_t>(index)];
        s.expr = e;
        s.here = static_cast<int64_t>(pc);
        if (!ok) s.state = SymState::Failed; // already reported; uses stay quiet
    }
    if (!ok) return;
    if (options.make_listing) place(new_statement(StmtKind::Line, line), 0, name_tok.col);
}

// For the listing: lines that place nothing still show where they stand.
void Assembler::list_line(std::string_view line, uint32_t col) {
    if (options.make_listing) place(new_statement(StmtKind::Line, line), 0, col);
}

bool Assembler::string_operand(Cursor& c, Arg& arg) {
    if (toks[c.pos].kind != Tok::String) {
        error_at(toks[c.pos].col, "expected a string in double quotes");
        return false;
    }
    bool ok = true;
    arg = Arg{};
    arg.kind = ArgKind::String;
    arg.col = toks[c.pos].col;
    arg.string_index = add_string(toks[c.pos++], ok);
    return ok;
}

// .byte, .db, .word, .dw
void Assembler::data_directive(Cursor& c, const Token& d, std::string_view line) {
    bool bytes = iequals(d.text, ".byte") || iequals(d.text, ".db");
    Statement st = new_statement(bytes ? StmtKind::Bytes : StmtKind::Words, line);
    uint64_t size = 0;
    if (!value_list(c, bytes, st.arg_count, size, bytes ? 1 : 2)) return;
    place(st, size, d.col);
}

// .ascii, and .asciz or .string with a terminating 0
void Assembler::text_directive(Cursor& c, const Token& d, std::string_view line) {
    Statement st = new_statement(StmtKind::Text, line);
    st.zero_end = !iequals(d.text, ".ascii");
    Arg arg;
    if (!string_operand(c, arg) || !expect_end(c)) return;
    args.push_back(arg);
    st.arg_count = 1;
    place(st, strings[arg.string_index].size() + (st.zero_end ? 1 : 0), d.col);
}

void Assembler::org_directive(Cursor& c, const Token& d, std::string_view line) {
    uint32_t col = toks[c.pos].col;
    int64_t value = 0;
    if (!layout_value(c, value, "the .org address") || !expect_end(c)) return;
    if (value < static_cast<int64_t>(window_start()) || value > static_cast<int64_t>(window_end())) {
        error_at(col, "address " + hex(static_cast<uint64_t>(value)) + " lies outside " + window_name());
        return;
    }
    pc = static_cast<uint64_t>(value);
    overflow_reported = false;
    list_line(line, d.col);
}

void Assembler::start_directive(Cursor& c, const Token& d, std::string_view line) {
    if (!expect_end(c)) return;
    switch_bank(FIRST_32K);
    pc = START_ADDRESS;
    has_start = true;
    list_line(line, d.col);
}

void Assembler::vector_directive(Cursor& c, const Token& d, std::string_view line) {
    uint32_t col = toks[c.pos].col;
    int64_t vector = 0;
    if (!layout_value(c, vector, "the vector number")) return;
    if (vector < 0 || vector >= VECTOR_COUNT) {
        error_at(col, "vector " + std::to_string(vector) + " is out of range (0.." +
                          std::to_string(VECTOR_COUNT - 1) + ")");
        return;
    }
    if (toks[c.pos].kind != Tok::Comma) {
        error_at(toks[c.pos].col, "expected ',' and the handler's address");
        return;
    }
    ++c.pos;
    Statement st = new_statement(StmtKind::Vector, line);
    Arg arg{};
    arg.kind = ArgKind::Imm;
    arg.col = toks[c.pos].col;
    if (!parse_expression(c, arg.expr) || !expect_end(c)) return;
    args.push_back(arg);
    st.arg_count = 1;
    // The vector table sits at the start of the image, wherever this line stands.
    int saved_bank = bank;
    uint64_t saved_pc = pc;
    bool saved_overflow = overflow_reported;
    bank = FIRST_32K;
    pc = static_cast<uint64_t>(vector) * 2;
    place(st, 2, d.col);
    bank = saved_bank;
    pc = saved_pc;
    overflow_reported = saved_overflow;
}

// The optional fill value of .fill and .align; 0 when absent.
bool Assembler::fill_value(Cursor& c, const Token& d, Arg& arg) {
    arg = Arg{};
    arg.kind = ArgKind::Imm;
    arg.col = d.col;
    if (toks[c.pos].kind != Tok::Comma) {
        arg.expr = constant_expr(0, d.col);
        return expect_end(c);
    }
    ++c.pos;
    arg.col = toks[c.pos].col;
    return parse_expression(c, arg.expr) && expect_end(c);
}

void Assembler::fill_directive(Cursor& c, const Token& d, std::string_view line) {
    uint32_t col = toks[c.pos].col;
    int64_t count = 0;
    if (!layout_value(c, count, "the .fill count")) return;
    if (count < 0 || static_cast<uint64_t>(count) > ASM_MAX_IMAGE_SIZE) {
        error_at(col, "fill count " + std::to_string(count) + " is out of range");
        return;
    }
    Statement st = new_statement(StmtKind::Fill, line);
    Arg arg;
    if (!fill_value(c, d, arg)) return;
    args.push_back(arg);
    st.arg_count = 1;
    place(st, static_cast<uint64_t>(count), d.col);
}

// .res skips bytes; .align skips to a multiple, or fills up to it when given a value.
void Assembler::skip_directive(Cursor& c, const Token& d, std::string_view line) {
    bool align = iequals(d.text, ".align");
    uint32_t col = toks[c.pos].col;
    int64_t value = 0;
    if (!layout_value(c, value, align ? "the alignment" : "the .res count")) return;
    if (align ? (value < 1 || value > 0x10000)
              : (value < 0 || static_cast<uint64_t>(value) > ASM_MAX_IMAGE_SIZE)) {
        error_at(col, (align ? "alignment " : "reserve count ") + std::to_string(value) + " is out of range");
        return;
    }
    uint64_t n = static_cast<uint64_t>(value);
    uint64_t skip = align ? (n - pc % n) % n : n;
    if (align && toks[c.pos].kind == Tok::Comma) {
        Statement st = new_statement(StmtKind::Fill, line);
        Arg arg;
        if (!fill_value(c, d, arg)) return;
        args.push_back(arg);
        st.arg_count = 1;
        place(st, skip, d.col);
        return;
    }
    if (!expect_end(c)) return;
    if (pc + skip > window_end()) {
        error_at(d.col, "this runs past the end of " + window_name());
        overflow_reported = true;
    }
    // Skipped bytes are not written: they do not lengthen the image.
    list_line(line, d.col);
    pc += skip;
}

void Assembler::include_directive(Cursor& c, const Token& d, std::string_view line) {
    list_line(line, d.col);
    include(c, d.col);
}

void Assembler::incbin_directive(Cursor& c, const Token& d, std::string_view line) { incbin(c, line, d.col); }

void Assembler::bank_directive(Cursor& c, const Token& d, std::string_view line) {
    uint32_t col = toks[c.pos].col;
    int64_t value = 0;
    if (!layout_value(c, value, "the bank number") || !expect_end(c)) return;
    if (value < 0 || value > MAX_BANK) {
        error_at(col, "bank " + std::to_string(value) + " is out of range (0.." + std::to_string(MAX_BANK) +
                          ", the banks of a 16,000,000-byte image)");
        return;
    }
    switch_bank(static_cast<int>(value));
    list_line(line, d.col);
}

void Assembler::equ_directive(Cursor& c, const Token&, std::string_view line) {
    if (toks[c.pos].kind != Tok::Ident || toks[c.pos + 1].kind != Tok::Comma) {
        error_at(toks[c.pos].col, "expected a name, ',' and a value");
        return;
    }
    const Token& name_tok = toks[c.pos];
    c.pos += 2;
    constant(name_tok, c, line);
}

void Assembler::assert_directive(Cursor& c, const Token& d, std::string_view line) {
    Statement st = new_statement(StmtKind::Assert, line);
    Arg condition{};
    condition.kind = ArgKind::Imm;
    condition.col = toks[c.pos].col;
    if (!parse_expression(c, condition.expr)) return;
    args.push_back(condition);
    st.arg_count = 1;
    if (toks[c.pos].kind == Tok::Comma) {
        ++c.pos;
        Arg message;
        if (!string_operand(c, message)) return;
        args.push_back(message);
        st.arg_count = 2;
    }
    if (!expect_end(c)) return;
    place(st, 0, d.col);
}

// Pass 1 reads each line once, so a name counts as defined only when its
// definition comes above the test; one defined further down is not seen.
void Assembler::if_directive(Cursor& c, const Token& d, std::string_view line) {
    Conditional cond;
    cond.site = line_site;
    cond.site.col = d.col;
    cond.directive = d.text;
    cond.outer = assembling();
    conditionals.push_back(cond); // pushed before any error so .endif still pairs with it
    list_line(line, d.col);
    if (!cond.outer) return;
    const Token& name = toks[c.pos];
    if (name.kind != Tok::Ident || name.text[0] == '.') {
        error_at(name.col, "expected a symbol name after " + std::string(d.text));
        return;
    }
    ++c.pos;
    if (!expect_end(c)) return;
    auto it = symbol_index.find(name.text);
    bool defined = it != symbol_index.end() && symbols[it->second].kind != SymKind::Undefined;
    conditionals.back().condition = defined == iequals(d.text, ".ifdef");
}

void Assembler::else_directive(Cursor& c, const Token& d, std::string_view line) {
    if (conditionals.empty()) {
        error_at(d.col, ".else without .ifdef or .ifndef");
        return;
    }
    Conditional& cond = conditionals.back();
    if (cond.in_else) {
        error_at(d.col, "a second .else for the .ifdef or .ifndef at " + where(cond.site));
        return;
    }
    cond.in_else = true;
    list_line(line, d.col);
    if (cond.outer) expect_end(c);
}

void Assembler::endif_directive(Cursor& c, const Token& d, std::string_view line) {
    if (conditionals.empty()) {
        error_at(d.col, ".endif without .ifdef or .ifndef");
        return;
    }
    bool outer = conditionals.back().outer;
    conditionals.pop_back();
    list_line(line, d.col);
    if (outer) expect_end(c);
}

void Assembler::directive(Cursor& c, std::string_view line) {
    using Handler = void (Assembler::*)(Cursor&, const Token&, std::string_view);
    struct Entry {
        std::string_view name;
        Handler handle;
    };
    // clang-format off
    static constexpr std::array<Entry, directive_help.size()> table = {{
        {".byte", &Assembler::data_directive},
        {".db", &Assembler::data_directive},
        {".word", &Assembler::data_directive},
        {".dw", &Assembler::data_directive},
        {".ascii", &Assembler::text_directive},
        {".asciz", &Assembler::text_directive},
        {".string", &Assembler::text_directive},
        {".org", &Assembler::org_directive},
        {".start", &Assembler::start_directive},
        {".vector", &Assembler::vector_directive},
        {".fill", &Assembler::fill_directive},
        {".res", &Assembler::skip_directive},
        {".align", &Assembler::skip_directive},
        {".include", &Assembler::include_directive},
        {".incbin", &Assembler::incbin_directive},
        {".bank", &Assembler::bank_directive},
        {".equ", &Assembler::equ_directive},
        {".assert", &Assembler::assert_directive},
        {".ifdef", &Assembler::if_directive},
        {".ifndef", &Assembler::if_directive},
        {".else", &Assembler::else_directive},
        {".endif", &Assembler::endif_directive},
    }};
    // clang-format on
    // The help lists the directives the assembler knows, in this order.
    static_assert([] {
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i].name != directive_help[i].name) return false;
        return true;
    }());
    const Token& d = toks[c.pos++];
    for (const Entry& e : table) {
        if (iequals(d.text, e.name)) {
            (this->*e.handle)(c, d, line);
            return;
        }
    }
    error_at(d.col, "unknown directive '" + std::string(d.text) + "'");
}

} // namespace asm_impl
