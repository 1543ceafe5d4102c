// Two passes over the source. Pass 1 reads every line once (following
// includes), checks the syntax, picks each instruction's opcode from its
// operand kinds and lays the statements out: sizes never depend on values, so
// every label gets its address here. Pass 2 evaluates the operands and writes
// the bytes. Expressions are kept as small postfix programs so pass 2 does not
// look at the text again.
#include "assembler.h"

#include "cpu/isa.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <unordered_map>

namespace {

// Addresses and ROM offsets of the cartridge windows.
constexpr uint32_t BANK_SIZE = 0x4000;
constexpr uint32_t FIRST_32K_END = 0x8000;
constexpr uint32_t START_ADDRESS = 0x0100;
constexpr int MAX_BANK = static_cast<int>((ASM_MAX_IMAGE_SIZE - 1) / BANK_SIZE);
constexpr int MAX_INCLUDE_DEPTH = 64;
// -1 stands for the first 32 KiB, placed before any .bank.
constexpr int FIRST_32K = -1;

// ---------------------------------------------------------------- lexing

enum class Tok : uint8_t { End, Ident, Number, String, Dollar, LParen, RParen, LBracket, RBracket, Comma, Colon, Assign, Op };

struct Token {
    Tok kind = Tok::End;
    uint32_t col = 0;
    std::string_view text; // identifier, operator, or the raw inside of a string
    int64_t value = 0;
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 99;
}

struct LexError {
    uint32_t col = 0;
    std::string message;
};

// Decodes one escape or plain character starting at text[i]; advances i.
bool decode_char(std::string_view text, size_t& i, char& out) {
    char c = text[i++];
    if (c != '\\') {
        out = c;
        return true;
    }
    if (i >= text.size()) return false;
    char e = text[i++];
    switch (e) {
    case 'n': out = '\n'; return true;
    case 'r': out = '\r'; return true;
    case 't': out = '\t'; return true;
    case '0': out = '\0'; return true;
    case '\\': out = '\\'; return true;
    case '\'': out = '\''; return true;
    case '"': out = '"'; return true;
    case 'x': {
        if (i + 2 > text.size()) return false;
        int hi = digit_value(text[i]), lo = digit_value(text[i + 1]);
        if (hi > 15 || lo > 15) return false;
        out = static_cast<char>(hi * 16 + lo);
        i += 2;
        return true;
    }
    default: return false;
    }
}

bool lex_number(std::string_view line, size_t& i, Token& tok, LexError& err) {
    size_t start = i;
    int base = 10;
    if (line[i] == '0' && i + 1 < line.size() && (line[i + 1] == 'x' || line[i + 1] == 'X')) base = 16, i += 2;
    else if (line[i] == '0' && i + 1 < line.size() && (line[i + 1] == 'b' || line[i + 1] == 'B')) base = 2, i += 2;
    uint64_t value = 0;
    int digits = 0;
    bool overflow = false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '_') continue;
        int d = digit_value(c);
        if (!is_ident_char(c)) break;
        if (d >= base) {
            err = {static_cast<uint32_t>(start + 1), "malformed number '" + std::string(line.substr(start, i + 1 - start)) + "'"};
            return false;
        }
        if (value > (static_cast<uint64_t>(INT64_MAX) - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) overflow = true;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        ++digits;
    }
    if (digits == 0) {
        err = {static_cast<uint32_t>(start + 1), "malformed number '" + std::string(line.substr(start, i - start)) + "'"};
        return false;
    }
    if (overflow) {
        err = {static_cast<uint32_t>(start + 1), "number too large"};
        return false;
    }
    tok.kind = Tok::Number;
    tok.value = static_cast<int64_t>(value);
    tok.text = line.substr(start, i - start);
    return true;
}

// Splits one line into tokens; a ';' ends it. Fails on the first bad character.
bool lex_line(std::string_view line, std::vector<Token>& toks, LexError& err) {
    toks.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
            continue;
        }
        if (c == ';') break;
        Token tok;
        tok.col = static_cast<uint32_t>(i + 1);
        if (is_ident_start(c) || (c == '.' && i + 1 < line.size() && is_ident_start(line[i + 1]))) {
            size_t start = i++;
            while (i < line.size() && (is_ident_char(line[i]) || (line[i] == '.' && i + 1 < line.size() && is_ident_start(line[i + 1]))))
                ++i;
            tok.kind = Tok::Ident;
            tok.text = line.substr(start, i - start);
        } else if (is_digit(c)) {
            if (!lex_number(line, i, tok, err)) return false;
        } else if (c == '\'') {
            size_t j = i + 1;
            char value = 0;
            if (j >= line.size() || line[j] == '\'' || !decode_char(line, j, value) || j >= line.size() || line[j] != '\'') {
                err = {tok.col, "malformed character literal"};
                return false;
            }
            tok.kind = Tok::Number;
            tok.value = static_cast<uint8_t>(value);
            i = j + 1;
        } else if (c == '"') {
            size_t j = i + 1;
            while (j < line.size() && line[j] != '"') j += (line[j] == '\\' && j + 1 < line.size()) ? 2 : 1;
            if (j >= line.size()) {
                err = {tok.col, "unterminated string"};
                return false;
            }
            tok.kind = Tok::String;
            tok.text = line.substr(i + 1, j - i - 1);
            i = j + 1;
        } else {
            static constexpr std::array<std::string_view, 8> two_char_ops = {"<<", ">>", "<=", ">=", "==", "!=", "&&", "||"};
            std::string_view rest = line.substr(i);
            bool matched = false;
            for (std::string_view op : two_char_ops) {
                if (rest.substr(0, 2) == op) {
                    tok.kind = Tok::Op;
                    tok.text = rest.substr(0, 2);
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                ++i;
                tok.text = rest.substr(0, 1);
                switch (c) {
                case '$': tok.kind = Tok::Dollar; break;
                case '(': tok.kind = Tok::LParen; break;
                case ')': tok.kind = Tok::RParen; break;
                case '[': tok.kind = Tok::LBracket; break;
                case ']': tok.kind = Tok::RBracket; break;
                case ',': tok.kind = Tok::Comma; break;
                case ':': tok.kind = Tok::Colon; break;
                case '=': tok.kind = Tok::Assign; break;
                case '+': case '-': case '*': case '/': case '%': case '&': case '|': case '^': case '~': case '!': case '<': case '>':
                    tok.kind = Tok::Op;
                    break;
                default: {
                    char shown[16];
                    std::snprintf(shown, sizeof shown, (c >= 0x20 && c < 0x7F) ? "'%c'" : "0x%02X", static_cast<unsigned char>(c));
                    err = {tok.col, std::string("unexpected character ") + shown};
                    return false;
                }
                }
            }
        }
        toks.push_back(tok);
    }
    Token end;
    end.kind = Tok::End;
    end.col = static_cast<uint32_t>(line.size() + 1);
    toks.push_back(end);
    return true;
}

// Register names: r0..r255, p0..p15 and the aliases. Out-of-range numbers are
// still recognised (number > limit) so they can be reported as such.
enum class RegKind : uint8_t { None, Reg, Pair };

RegKind register_name(std::string_view name, int64_t& number) {
    if (iequals(name, "flags")) return number = 11, RegKind::Reg;
    if (iequals(name, "pc")) return number = 12, RegKind::Pair;
    if (iequals(name, "sp")) return number = 14, RegKind::Pair;
    if (name.size() < 2 || name.size() > 12) return RegKind::None;
    char first = lower(name[0]);
    if (first != 'r' && first != 'p') return RegKind::None;
    int64_t n = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (!is_digit(name[i])) return RegKind::None;
        n = n * 10 + (name[i] - '0');
    }
    number = n;
    return first == 'r' ? RegKind::Reg : RegKind::Pair;
}

bool is_reserved(std::string_view name) {
    int64_t unused = 0;
    return register_name(name, unused) != RegKind::None || iequals(name, "r") || iequals(name, "p") ||
           iequals(name, "hi") || iequals(name, "lo") || iequals(name, "bank");
}

// ---------------------------------------------------------------- expressions

enum class Op : uint8_t {
    Num, Sym, Here, BankOf, Neg, BitNot, LogNot, Hi, Lo,
    Mul, Div, Mod, Add, Sub, Shl, Shr, Lt, Le, Gt, Ge, Eq, Ne, BitAnd, BitXor, BitOr, LogAnd, LogOr,
};

struct Node {
    Op op;
    uint32_t col;
    int64_t value; // number, or symbol index
};

struct Expr {
    uint32_t first = 0;
    uint32_t count = 0;
};

struct BinaryOp {
    std::string_view text;
    int precedence;
    Op op;
};

constexpr std::array<BinaryOp, 18> binary_ops = {{
    {"||", 1, Op::LogOr}, {"&&", 2, Op::LogAnd}, {"|", 3, Op::BitOr}, {"^", 4, Op::BitXor}, {"&", 5, Op::BitAnd},
    {"==", 6, Op::Eq}, {"!=", 6, Op::Ne}, {"<", 7, Op::Lt}, {"<=", 7, Op::Le}, {">", 7, Op::Gt}, {">=", 7, Op::Ge},
    {"<<", 8, Op::Shl}, {">>", 8, Op::Shr}, {"+", 9, Op::Add}, {"-", 9, Op::Sub}, {"*", 10, Op::Mul},
    {"/", 10, Op::Div}, {"%", 10, Op::Mod},
}};

// ---------------------------------------------------------------- statements

enum class SymKind : uint8_t { Undefined, Label, Constant };
enum class SymState : uint8_t { Unresolved, Resolving, Resolved, Failed };

struct Site {
    uint32_t file = 0;
    uint32_t line = 0;
    uint32_t col = 0;
    uint32_t seq = 0; // position of the line in the whole assembly, to sort diagnostics
};

struct Symbol {
    std::string name;
    SymKind kind = SymKind::Undefined;
    SymState state = SymState::Unresolved;
    int64_t value = 0;
    int bank = 0;
    Expr expr;
    int64_t here = 0; // $ where a constant is defined
    Site site;
};

enum class ArgKind : uint8_t { Reg, Pair, Mem, Imm, String };

struct Arg {
    ArgKind kind;
    uint32_t col;
    Expr expr;
    uint32_t string_index; // for String
};

enum class StmtKind : uint8_t { Line, Instruction, Bytes, Words, Text, Fill, Incbin, Vector, Assert };

struct Statement {
    StmtKind kind = StmtKind::Line;
    uint8_t opcode = 0;
    bool placed = false;   // has ROM bytes of its own
    bool zero_end = false; // .asciz: a 0 after the text
    Site site;
    uint32_t address = 0;
    uint64_t offset = 0;
    uint32_t size = 0;
    uint32_t first_arg = 0;
    uint32_t arg_count = 0;
    uint64_t data_start = 0; // .incbin: first byte of the file used
    std::string_view text;   // the source line, for the listing
};

struct Range {
    uint64_t start;
    uint64_t end;
    uint32_t statement;
};

struct SourceFile {
    std::string path;
    std::string text;
};

struct Mnemonic {
    std::string_view name;
    std::array<int, 4> rows; // into instruction_set
    int row_count;
};

// Distinct mnemonics with their rows, built once from the instruction table.
const std::vector<Mnemonic>& mnemonic_table() {
    static const std::vector<Mnemonic> table = [] {
        std::vector<Mnemonic> t;
        for (int row = 0; row < INSTRUCTION_COUNT; ++row) {
            std::string_view name = instruction_set[static_cast<size_t>(row)].mnemonic;
            auto it = std::find_if(t.begin(), t.end(), [&](const Mnemonic& m) { return m.name == name; });
            if (it == t.end()) {
                t.push_back(Mnemonic{name, {}, 0});
                it = t.end() - 1;
            }
            it->rows[static_cast<size_t>(it->row_count++)] = row;
        }
        return t;
    }();
    return table;
}

const Mnemonic* find_mnemonic(std::string_view name) {
    for (const Mnemonic& m : mnemonic_table())
        if (iequals(m.name, name)) return &m;
    return nullptr;
}

bool arg_fits(ArgKind kind, Operand operand, Access access) {
    switch (operand) {
    case Operand::Reg: return kind == ArgKind::Reg;
    case Operand::Pair: return kind == (access == Access::Memory ? ArgKind::Mem : ArgKind::Pair);
    case Operand::Imm8:
    case Operand::Imm16:
    case Operand::Port: return kind == ArgKind::Imm;
    case Operand::None: return false;
    }
    return false;
}

int operand_count(const InstructionInfo& info) { return (info.a != Operand::None) + (info.b != Operand::None); }

std::string describe_operand(Operand operand, Access access, char letter) {
    switch (operand) {
    case Operand::Reg: return std::string("r") + letter;
    case Operand::Pair: return access == Access::Memory ? std::string("[p") + letter + "]" : std::string("p") + letter;
    case Operand::Imm8: return "n";
    case Operand::Imm16: return "nn";
    case Operand::Port: return "port";
    case Operand::None: return "";
    }
    return "";
}

std::string describe_form(const InstructionInfo& info) {
    std::string s(info.mnemonic);
    if (info.a != Operand::None) s += " " + describe_operand(info.a, info.a_access, 'X');
    if (info.b != Operand::None) s += ", " + describe_operand(info.b, info.b_access, 'Y');
    return s;
}

const char* describe_arg(ArgKind kind) {
    switch (kind) {
    case ArgKind::Reg: return "a register";
    case ArgKind::Pair: return "a pair";
    case ArgKind::Mem: return "a memory operand";
    case ArgKind::Imm: return "a value";
    case ArgKind::String: return "a string";
    }
    return "";
}

std::string hex(uint64_t value, int width = 4) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", width, static_cast<unsigned long long>(value));
    return buf;
}

enum class Eval : uint8_t { Ok, Failed, Unknown };

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Assembler {
    const AsmOptions& options;
    AsmFileReader reader;
    Assembly& out;

    std::deque<SourceFile> files;
    std::vector<std::string> include_stack; // absolute normalised paths
    std::vector<uint32_t> diagnostic_seq;

    std::vector<Token> toks;
    std::vector<Node> nodes;
    std::vector<Arg> args;
    std::vector<std::string> strings;
    std::vector<Statement> statements;
    std::vector<Range> ranges;
    std::vector<Symbol> symbols;
    std::unordered_map<std::string, uint32_t, StringHash, std::equal_to<>> symbol_index;
    std::vector<int64_t> stack;
    std::string scope; // last global label, for local labels
    std::string scratch;

    // Layout state of pass 1.
    int bank = FIRST_32K;
    uint64_t pc = 0;
    bool overflow_reported = false;
    std::vector<int64_t> bank_pc = std::vector<int64_t>(MAX_BANK + 1, -1);
    int64_t first_32k_pc = -1;
    uint32_t seq = 0;
    bool final_pass = false;

    // Site of the line being read in pass 1.
    Site line_site;

    Assembler(const AsmOptions& o, Assembly& a) : options(o), out(a) {
        reader = o.read_file ? o.read_file : read_from_disk;
    }

    static bool read_from_disk(const std::string& path, std::string& contents) {
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

    void error(const Site& site, uint32_t col, std::string message) {
        AsmDiagnostic d;
        d.file = files[site.file].path;
        d.line = site.line;
        d.column = col;
        d.message = std::move(message);
        out.diagnostics.push_back(std::move(d));
        diagnostic_seq.push_back(site.seq);
    }
    void error_at(uint32_t col, std::string message) { error(line_site, col, std::move(message)); }

    std::string where(const Site& site) const {
        return files[site.file].path + ":" + std::to_string(site.line);
    }

    // ------------------------------------------------------------ symbols

    uint32_t intern(std::string_view name) {
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

    int bank_of_address(uint64_t address) const {
        if (bank == FIRST_32K) return address < BANK_SIZE ? 0 : 1;
        return bank;
    }

    // Returns the symbol for a definition, or -1 after reporting why not.
    int64_t define(const Token& name_tok, SymKind kind) {
        std::string_view name = name_tok.text;
        if (is_reserved(name)) {
            error_at(name_tok.col, "'" + std::string(name) + "' is a reserved name and cannot be a symbol");
            return -1;
        }
        if (kind == SymKind::Label && name[0] != '.' && name.find('.') == std::string_view::npos) scope.assign(name);
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

    // ------------------------------------------------------------ expression parsing

    struct Cursor {
        size_t pos = 0;
    };

    bool parse_primary(Cursor& c) {
        const Token& t = toks[c.pos];
        switch (t.kind) {
        case Tok::Number:
            nodes.push_back({Op::Num, t.col, t.value});
            ++c.pos;
            return true;
        case Tok::Dollar:
            nodes.push_back({Op::Here, t.col, 0});
            ++c.pos;
            return true;
        case Tok::LParen:
            ++c.pos;
            if (!parse_expr(c, 1)) return false;
            if (toks[c.pos].kind != Tok::RParen) {
                error_at(toks[c.pos].col, "expected ')'");
                return false;
            }
            ++c.pos;
            return true;
        case Tok::Ident: {
            bool call = toks[c.pos + 1].kind == Tok::LParen;
            if (call && (iequals(t.text, "hi") || iequals(t.text, "lo"))) {
                c.pos += 2;
                if (!parse_expr(c, 1)) return false;
                if (toks[c.pos].kind != Tok::RParen) {
                    error_at(toks[c.pos].col, "expected ')'");
                    return false;
                }
                ++c.pos;
                nodes.push_back({iequals(t.text, "hi") ? Op::Hi : Op::Lo, t.col, 0});
                return true;
            }
            if (call && iequals(t.text, "bank")) {
                const Token& arg = toks[c.pos + 2];
                if (arg.kind != Tok::Ident || is_reserved(arg.text) || toks[c.pos + 3].kind != Tok::RParen) {
                    error_at(arg.col, "bank() takes a label");
                    return false;
                }
                nodes.push_back({Op::BankOf, arg.col, intern(arg.text)});
                c.pos += 4;
                return true;
            }
            if (is_reserved(t.text)) {
                error_at(t.col, "'" + std::string(t.text) + "' cannot be used in an expression");
                return false;
            }
            nodes.push_back({Op::Sym, t.col, intern(t.text)});
            ++c.pos;
            return true;
        }
        case Tok::End: error_at(t.col, "expected a value"); return false;
        default: error_at(t.col, "expected a value, found '" + std::string(t.text) + "'"); return false;
        }
    }

    bool parse_unary(Cursor& c) {
        const Token& t = toks[c.pos];
        if (t.kind == Tok::Op && t.text.size() == 1 && (t.text[0] == '-' || t.text[0] == '~' || t.text[0] == '!' || t.text[0] == '+')) {
            ++c.pos;
            if (!parse_unary(c)) return false;
            if (t.text[0] == '-') nodes.push_back({Op::Neg, t.col, 0});
            else if (t.text[0] == '~') nodes.push_back({Op::BitNot, t.col, 0});
            else if (t.text[0] == '!') nodes.push_back({Op::LogNot, t.col, 0});
            return true;
        }
        return parse_primary(c);
    }

    bool parse_expr(Cursor& c, int min_precedence) {
        if (!parse_unary(c)) return false;
        for (;;) {
            const Token& t = toks[c.pos];
            if (t.kind != Tok::Op) return true;
            const BinaryOp* found = nullptr;
            for (const BinaryOp& b : binary_ops)
                if (b.text == t.text) found = &b;
            if (!found || found->precedence < min_precedence) return true;
            ++c.pos;
            if (!parse_expr(c, found->precedence + 1)) return false;
            nodes.push_back({found->op, t.col, 0});
        }
    }

    bool parse_expression(Cursor& c, Expr& e) {
        e.first = static_cast<uint32_t>(nodes.size());
        bool ok = parse_expr(c, 1);
        e.count = static_cast<uint32_t>(nodes.size()) - e.first;
        return ok;
    }

    Expr constant_expr(int64_t value, uint32_t col) {
        Expr e{static_cast<uint32_t>(nodes.size()), 1};
        nodes.push_back({Op::Num, col, value});
        return e;
    }

    // ------------------------------------------------------------ evaluation

    Eval resolve_constant(uint32_t index) {
        Symbol& s = symbols[index];
        switch (s.state) {
        case SymState::Resolved: return Eval::Ok;
        case SymState::Failed: return Eval::Failed;
        case SymState::Resolving:
            error(s.site, s.site.col, "constant '" + s.name + "' depends on itself");
            s.state = SymState::Failed;
            return Eval::Failed;
        case SymState::Unresolved: break;
        }
        s.state = SymState::Resolving;
        int64_t value = 0;
        uint32_t unknown_col = 0;
        Eval result = evaluate(s.expr, s.here, s.site, value, unknown_col);
        if (s.state == SymState::Failed) return Eval::Failed; // a cycle through this constant
        if (result == Eval::Ok) s.value = value, s.state = SymState::Resolved;
        else if (result == Eval::Failed) s.state = SymState::Failed;
        else s.state = SymState::Unresolved;
        return result;
    }

    // Evaluates a postfix expression. Before the end of pass 1 a symbol that
    // is not defined yet gives Unknown (its column in unknown_col); after it,
    // an error.
    Eval evaluate(Expr e, int64_t here, const Site& site, int64_t& result, uint32_t& unknown_col) {
        if (e.count == 0) return Eval::Failed;
        size_t base = stack.size();
        Eval status = Eval::Ok;
        for (uint32_t i = e.first; i < e.first + e.count && status == Eval::Ok; ++i) {
            const Node n = nodes[i];
            auto pop = [&] {
                int64_t v = stack.back();
                stack.pop_back();
                return v;
            };
            switch (n.op) {
            case Op::Num: stack.push_back(n.value); break;
            case Op::Here: stack.push_back(here); break;
            case Op::Sym:
            case Op::BankOf: {
                uint32_t index = static_cast<uint32_t>(n.value);
                SymKind kind = symbols[index].kind;
                if (kind == SymKind::Undefined) {
                    if (!final_pass) {
                        unknown_col = n.col;
                        status = Eval::Unknown;
                    } else {
                        error(site, n.col, "undefined symbol '" + symbols[index].name + "'");
                        status = Eval::Failed;
                    }
                    break;
                }
                if (n.op == Op::BankOf) {
                    if (kind != SymKind::Label) {
                        error(site, n.col, "bank() takes a label, and '" + symbols[index].name + "' is a constant");
                        status = Eval::Failed;
                        break;
                    }
                    stack.push_back(symbols[index].bank);
                    break;
                }
                if (kind == SymKind::Constant) {
                    Eval r = resolve_constant(index);
                    if (r == Eval::Unknown) unknown_col = n.col;
                    if (r != Eval::Ok) {
                        status = r;
                        break;
                    }
                }
                stack.push_back(symbols[index].value);
                break;
            }
            case Op::Neg: stack.back() = static_cast<int64_t>(0 - static_cast<uint64_t>(stack.back())); break;
            case Op::BitNot: stack.back() = ~stack.back(); break;
            case Op::LogNot: stack.back() = stack.back() == 0; break;
            case Op::Hi: stack.back() = (stack.back() >> 8) & 0xFF; break;
            case Op::Lo: stack.back() = stack.back() & 0xFF; break;
            default: {
                int64_t b = pop();
                int64_t a = pop();
                uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
                int64_t r = 0;
                switch (n.op) {
                case Op::Mul: r = static_cast<int64_t>(ua * ub); break;
                case Op::Div:
                case Op::Mod:
                    if (b == 0) {
                        error(site, n.col, n.op == Op::Div ? "division by zero" : "remainder by zero");
                        status = Eval::Failed;
                        break;
                    }
                    if (a == INT64_MIN && b == -1) r = n.op == Op::Div ? a : 0;
                    else r = n.op == Op::Div ? a / b : a % b;
                    break;
                case Op::Add: r = static_cast<int64_t>(ua + ub); break;
                case Op::Sub: r = static_cast<int64_t>(ua - ub); break;
                case Op::Shl:
                case Op::Shr:
                    if (b < 0 || b > 63) {
                        error(site, n.col, "shift count " + std::to_string(b) + " is out of range (0..63)");
                        status = Eval::Failed;
                        break;
                    }
                    r = n.op == Op::Shl ? static_cast<int64_t>(ua << b) : a >> b;
                    break;
                case Op::Lt: r = a < b; break;
                case Op::Le: r = a <= b; break;
                case Op::Gt: r = a > b; break;
                case Op::Ge: r = a >= b; break;
                case Op::Eq: r = a == b; break;
                case Op::Ne: r = a != b; break;
                case Op::BitAnd: r = a & b; break;
                case Op::BitXor: r = a ^ b; break;
                case Op::BitOr: r = a | b; break;
                case Op::LogAnd: r = a != 0 && b != 0; break;
                case Op::LogOr: r = a != 0 || b != 0; break;
                default: break;
                }
                stack.push_back(r);
            }
            }
        }
        if (status == Eval::Ok) result = stack.back();
        stack.resize(base);
        return status;
    }

    // Pass 1 evaluation for values that decide the layout.
    bool evaluate_now(Expr e, int64_t& value, std::string_view what) {
        uint32_t unknown_col = 0;
        Eval r = evaluate(e, static_cast<int64_t>(pc), line_site, value, unknown_col);
        if (r == Eval::Unknown)
            error_at(unknown_col, std::string(what) + " must be known here, but '" +
                                      symbols[static_cast<uint32_t>(nodes[find_unknown(e, unknown_col)].value)].name +
                                      "' is not defined above");
        return r == Eval::Ok;
    }

    uint32_t find_unknown(Expr e, uint32_t col) const {
        for (uint32_t i = e.first; i < e.first + e.count; ++i)
            if ((nodes[i].op == Op::Sym || nodes[i].op == Op::BankOf) && nodes[i].col == col) return i;
        return e.first;
    }

    // ------------------------------------------------------------ layout

    uint64_t window_start() const { return bank > 0 ? BANK_SIZE : 0; }
    uint64_t window_end() const { return bank == 0 ? BANK_SIZE : FIRST_32K_END; }
    uint64_t offset_of(uint64_t address) const {
        return bank > 0 ? static_cast<uint64_t>(bank) * BANK_SIZE + (address - BANK_SIZE) : address;
    }
    std::string window_name() const {
        if (bank == FIRST_32K) return "the first 32 KiB (0x0000-0x7FFF); continue under .bank";
        if (bank == 0) return "bank 0's window (0x0000-0x3FFF)";
        return "bank " + std::to_string(bank) + "'s window (0x4000-0x7FFF)";
    }

    void switch_bank(int new_bank) {
        if (bank == FIRST_32K) first_32k_pc = static_cast<int64_t>(pc);
        else bank_pc[static_cast<size_t>(bank)] = static_cast<int64_t>(pc);
        bank = new_bank;
        int64_t saved = bank == FIRST_32K ? first_32k_pc : bank_pc[static_cast<size_t>(bank)];
        pc = saved >= 0 ? static_cast<uint64_t>(saved) : window_start();
        overflow_reported = false;
    }

    // Appends a statement that occupies `size` bytes at the current address.
    void place(Statement st, uint64_t size, uint32_t col) {
        st.address = static_cast<uint32_t>(pc);
        st.offset = offset_of(pc);
        st.site.col = col;
        st.size = static_cast<uint32_t>(std::min<uint64_t>(size, ASM_MAX_IMAGE_SIZE + 1));
        if (size > 0) {
            if (pc + size > window_end()) {
                if (!overflow_reported)
                    error_at(col, "this runs past the end of " + window_name());
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

    Statement new_statement(StmtKind kind, std::string_view line) {
        Statement st;
        st.kind = kind;
        st.site = line_site;
        st.text = line;
        st.first_arg = static_cast<uint32_t>(args.size());
        return st;
    }

    // ------------------------------------------------------------ pass 1

    bool expect_end(const Cursor& c) {
        if (toks[c.pos].kind == Tok::End) return true;
        error_at(toks[c.pos].col, "expected the end of the line, found '" + std::string(toks[c.pos].text) + "'");
        return false;
    }

    bool decode_string(const Token& t, std::string& s) {
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

    uint32_t add_string(const Token& t, bool& ok) {
        std::string s;
        ok = decode_string(t, s);
        strings.push_back(std::move(s));
        return static_cast<uint32_t>(strings.size() - 1);
    }

    // One operand of an instruction.
    bool parse_operand(Cursor& c, Arg& arg) {
        const Token& t = toks[c.pos];
        arg.col = t.col;
        arg.string_index = 0;
        if (t.kind == Tok::LBracket) {
            ++c.pos;
            Arg inner{};
            if (!parse_operand(c, inner)) return false;
            if (inner.kind != ArgKind::Pair) {
                error_at(inner.col, "memory is reached through a pair, like [p2]");
                return false;
            }
            if (toks[c.pos].kind != Tok::RBracket) {
                error_at(toks[c.pos].col, "expected ']'");
                return false;
            }
            ++c.pos;
            arg.kind = ArgKind::Mem;
            arg.expr = inner.expr;
            return true;
        }
        if (t.kind == Tok::Ident) {
            bool computed = toks[c.pos + 1].kind == Tok::LParen && (iequals(t.text, "r") || iequals(t.text, "p"));
            int64_t number = 0;
            RegKind kind = computed ? (lower(t.text[0]) == 'r' ? RegKind::Reg : RegKind::Pair) : register_name(t.text, number);
            if (kind != RegKind::None) {
                arg.kind = kind == RegKind::Reg ? ArgKind::Reg : ArgKind::Pair;
                if (computed) {
                    c.pos += 2;
                    if (!parse_expression(c, arg.expr)) return false;
                    if (toks[c.pos].kind != Tok::RParen) {
                        error_at(toks[c.pos].col, "expected ')'");
                        return false;
                    }
                    ++c.pos;
                    return true;
                }
                int64_t limit = kind == RegKind::Reg ? 255 : 15;
                if (number > limit) {
                    error_at(t.col, std::string(kind == RegKind::Reg ? "register" : "pair") + " '" + std::string(t.text) +
                                        "' is out of range (" + (kind == RegKind::Reg ? "r0..r255)" : "p0..p15)"));
                    return false;
                }
                arg.expr = constant_expr(number, t.col);
                ++c.pos;
                return true;
            }
        }
        arg.kind = ArgKind::Imm;
        return parse_expression(c, arg.expr);
    }

    void instruction(Cursor& c, std::string_view line) {
        const Token& mnemonic_tok = toks[c.pos++];
        const Mnemonic* m = find_mnemonic(mnemonic_tok.text);
        if (!m) {
            error_at(mnemonic_tok.col, "unknown mnemonic '" + std::string(mnemonic_tok.text) + "'");
            return;
        }
        std::array<Arg, 2> operands{};
        int count = 0;
        if (toks[c.pos].kind != Tok::End) {
            for (;;) {
                Arg arg{};
                if (!parse_operand(c, arg)) return;
                if (count < 2) operands[static_cast<size_t>(count)] = arg;
                ++count;
                if (toks[c.pos].kind == Tok::Comma) {
                    ++c.pos;
                    continue;
                }
                if (!expect_end(c)) return;
                break;
            }
        }
        const InstructionInfo* chosen = nullptr;
        int expected_count = operand_count(instruction_set[static_cast<size_t>(m->rows[0])]);
        std::string forms;
        for (int r = 0; r < m->row_count; ++r) {
            const InstructionInfo& info = instruction_set[static_cast<size_t>(m->rows[static_cast<size_t>(r)])];
            forms += (r ? " or " : "") + describe_form(info);
            if (operand_count(info) != count) continue;
            if ((count < 1 || arg_fits(operands[0].kind, info.a, info.a_access)) &&
                (count < 2 || arg_fits(operands[1].kind, info.b, info.b_access)))
                chosen = &info;
        }
        if (!chosen) {
            if (count != expected_count) {
                error_at(mnemonic_tok.col, std::string(m->name) + " takes " + std::to_string(expected_count) + " operand" +
                                               (expected_count == 1 ? "" : "s") + ", not " + std::to_string(count) + ": " + forms);
                return;
            }
            // Point at the first operand that no form accepts in its place.
            size_t bad = 0;
            for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
                bool any = false;
                for (int r = 0; r < m->row_count; ++r) {
                    const InstructionInfo& info = instruction_set[static_cast<size_t>(m->rows[static_cast<size_t>(r)])];
                    bool prefix_ok = true;
                    for (size_t j = 0; j <= i; ++j)
                        prefix_ok = prefix_ok && arg_fits(operands[j].kind, j == 0 ? info.a : info.b, j == 0 ? info.a_access : info.b_access);
                    any = any || prefix_ok;
                }
                if (!any) {
                    bad = i;
                    break;
                }
            }
            error_at(operands[bad].col, std::string(m->name) + " does not take " + describe_arg(operands[bad].kind) +
                                            " as operand " + std::to_string(bad + 1) + ": " + forms);
            return;
        }
        Statement st = new_statement(StmtKind::Instruction, line);
        st.opcode = chosen->opcode;
        for (int i = 0; i < count; ++i) args.push_back(operands[static_cast<size_t>(i)]);
        st.arg_count = static_cast<uint32_t>(count);
        place(st, static_cast<uint64_t>(instruction_size(*chosen)), mnemonic_tok.col);
    }

    // Comma-separated values and strings, for .byte, .word and friends.
    bool value_list(Cursor& c, bool allow_strings, uint32_t& count, uint64_t& size, uint32_t item_size) {
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

    bool layout_value(Cursor& c, int64_t& value, std::string_view what) {
        Expr e;
        if (!parse_expression(c, e)) return false;
        return evaluate_now(e, value, what);
    }

    bool string_arg(Cursor& c, std::string& s) {
        if (toks[c.pos].kind != Tok::String) {
            error_at(toks[c.pos].col, "expected a string in double quotes");
            return false;
        }
        return decode_string(toks[c.pos++], s);
    }

    std::string resolve_path(const std::string& including, const std::string& name, std::string& contents, bool& found) {
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

    void add_dependency(const std::string& path) {
        if (std::find(out.dependencies.begin(), out.dependencies.end(), path) == out.dependencies.end())
            out.dependencies.push_back(path);
    }

    static std::string identity(const std::string& path) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path p = fs::absolute(fs::path(path), ec);
        return (ec ? fs::path(path) : p).lexically_normal().string();
    }

    void include(Cursor& c, uint32_t directive_col) {
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
            for (auto it = cycle; it != include_stack.end(); ++it) chain += std::filesystem::path(*it).filename().string() + " -> ";
            error_at(col, "include cycle: " + chain + std::filesystem::path(id).filename().string());
            return;
        }
        add_dependency(path);
        files.push_back({path, std::move(contents)});
        Site saved = line_site;
        read_file(static_cast<uint32_t>(files.size() - 1), id);
        line_site = saved;
    }

    void incbin(Cursor& c, std::string_view line, uint32_t directive_col) {
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
            error_at(col, "offset " + std::to_string(start) + " lies outside '" + name + "' (" + std::to_string(file_size) + " bytes)");
            return;
        }
        if (length < 0) length = file_size - start;
        if (length > file_size - start) {
            error_at(col, "'" + name + "' has only " + std::to_string(file_size - start) + " bytes from offset " + std::to_string(start));
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

    void constant(const Token& name_tok, Cursor& c, std::string_view line) {
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

    // ------------------------------------------------------------ directives

    // For the listing: lines that place nothing still show where they stand.
    void list_line(std::string_view line, uint32_t col) {
        if (options.make_listing) place(new_statement(StmtKind::Line, line), 0, col);
    }

    bool string_operand(Cursor& c, Arg& arg) {
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
    void data_directive(Cursor& c, const Token& d, std::string_view line) {
        bool bytes = iequals(d.text, ".byte") || iequals(d.text, ".db");
        Statement st = new_statement(bytes ? StmtKind::Bytes : StmtKind::Words, line);
        uint64_t size = 0;
        if (!value_list(c, bytes, st.arg_count, size, bytes ? 1 : 2)) return;
        place(st, size, d.col);
    }

    // .ascii, and .asciz or .string with a terminating 0
    void text_directive(Cursor& c, const Token& d, std::string_view line) {
        Statement st = new_statement(StmtKind::Text, line);
        st.zero_end = !iequals(d.text, ".ascii");
        Arg arg;
        if (!string_operand(c, arg) || !expect_end(c)) return;
        args.push_back(arg);
        st.arg_count = 1;
        place(st, strings[arg.string_index].size() + (st.zero_end ? 1 : 0), d.col);
    }

    void org_directive(Cursor& c, const Token& d, std::string_view line) {
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

    void start_directive(Cursor& c, const Token& d, std::string_view line) {
        if (!expect_end(c)) return;
        switch_bank(FIRST_32K);
        pc = START_ADDRESS;
        list_line(line, d.col);
    }

    void vector_directive(Cursor& c, const Token& d, std::string_view line) {
        uint32_t col = toks[c.pos].col;
        int64_t vector = 0;
        if (!layout_value(c, vector, "the vector number")) return;
        if (vector < 0 || vector > 15) {
            error_at(col, "vector " + std::to_string(vector) + " is out of range (0..15)");
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
    bool fill_value(Cursor& c, const Token& d, Arg& arg) {
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

    void fill_directive(Cursor& c, const Token& d, std::string_view line) {
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
    void skip_directive(Cursor& c, const Token& d, std::string_view line) {
        bool align = iequals(d.text, ".align");
        uint32_t col = toks[c.pos].col;
        int64_t value = 0;
        if (!layout_value(c, value, align ? "the alignment" : "the .res count")) return;
        if (align ? (value < 1 || value > 0x10000) : (value < 0 || static_cast<uint64_t>(value) > ASM_MAX_IMAGE_SIZE)) {
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

    void include_directive(Cursor& c, const Token& d, std::string_view line) {
        list_line(line, d.col);
        include(c, d.col);
    }

    void incbin_directive(Cursor& c, const Token& d, std::string_view line) { incbin(c, line, d.col); }

    void bank_directive(Cursor& c, const Token& d, std::string_view line) {
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

    void equ_directive(Cursor& c, const Token&, std::string_view line) {
        if (toks[c.pos].kind != Tok::Ident || toks[c.pos + 1].kind != Tok::Comma) {
            error_at(toks[c.pos].col, "expected a name, ',' and a value");
            return;
        }
        const Token& name_tok = toks[c.pos];
        c.pos += 2;
        constant(name_tok, c, line);
    }

    void assert_directive(Cursor& c, const Token& d, std::string_view line) {
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

    void directive(Cursor& c, std::string_view line) {
        using Handler = void (Assembler::*)(Cursor&, const Token&, std::string_view);
        struct Entry {
            std::string_view name;
            Handler handle;
        };
        static const std::array<Entry, 18> table = {{
            {".byte", &Assembler::data_directive},     {".db", &Assembler::data_directive},
            {".word", &Assembler::data_directive},     {".dw", &Assembler::data_directive},
            {".ascii", &Assembler::text_directive},    {".asciz", &Assembler::text_directive},
            {".string", &Assembler::text_directive},   {".org", &Assembler::org_directive},
            {".start", &Assembler::start_directive},   {".vector", &Assembler::vector_directive},
            {".fill", &Assembler::fill_directive},     {".res", &Assembler::skip_directive},
            {".align", &Assembler::skip_directive},    {".include", &Assembler::include_directive},
            {".incbin", &Assembler::incbin_directive}, {".bank", &Assembler::bank_directive},
            {".equ", &Assembler::equ_directive},       {".assert", &Assembler::assert_directive},
        }};
        const Token& d = toks[c.pos++];
        for (const Entry& e : table) {
            if (iequals(d.text, e.name)) {
                (this->*e.handle)(c, d, line);
                return;
            }
        }
        error_at(d.col, "unknown directive '" + std::string(d.text) + "'");
    }

    void read_line(std::string_view line) {
        LexError err;
        if (!lex_line(line, toks, err)) {
            error_at(err.col, err.message);
            return;
        }
        Cursor c;
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
            error_at(t.col, "expected a label, an instruction or a directive, found '" + std::string(t.text) + "'");
            return;
        }
        if (t.text[0] == '.') directive(c, line);
        else instruction(c, line);
    }

    void read_file(uint32_t file_index, const std::string& id) {
        include_stack.push_back(id);
        std::string_view text = files[file_index].text;
        uint32_t line_number = 0;
        size_t pos = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0; // editors may start UTF-8 files with a byte order mark
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(pos, end - pos);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            line_site = Site{file_index, ++line_number, 0, ++seq};
            read_line(line);
            pos = end + 1;
        }
        include_stack.pop_back();
    }

    // ------------------------------------------------------------ pass 2

    bool value_of(const Arg& arg, const Site& site, int64_t here, int64_t& value) {
        uint32_t unused = 0;
        return evaluate(arg.expr, here, site, value, unused) == Eval::Ok;
    }

    bool in_range(const Site& site, uint32_t col, int64_t value, int64_t low, int64_t high, const char* what) {
        if (value >= low && value <= high) return true;
        error(site, col, std::string(what) + " " + std::to_string(value) + " is out of range (" + std::to_string(low) + ".." +
                             std::to_string(high) + ")");
        return false;
    }

    void emit(const Statement& st, std::vector<uint8_t>& image) {
        uint8_t* p = st.placed ? image.data() + st.offset : nullptr;
        const Site& site = st.site;
        int64_t here = st.address;
        int64_t v = 0;
        switch (st.kind) {
        case StmtKind::Line: break;
        case StmtKind::Instruction: {
            const InstructionInfo* info = instruction_for(st.opcode);
            std::array<Operand, 2> kinds = {info->a, info->b};
            size_t at = 1;
            if (p) p[0] = st.opcode;
            for (uint32_t i = 0; i < st.arg_count; ++i) {
                const Arg& arg = args[st.first_arg + i];
                if (!value_of(arg, site, here, v)) continue;
                bool ok = false;
                switch (kinds[i]) {
                case Operand::Reg: ok = in_range(site, arg.col, v, 0, 255, "register"); break;
                case Operand::Pair: ok = in_range(site, arg.col, v, 0, 15, "pair"); break;
                case Operand::Imm8: ok = in_range(site, arg.col, v, -128, 255, "byte value"); break;
                case Operand::Imm16: ok = in_range(site, arg.col, v, -32768, 65535, "word value"); break;
                case Operand::Port: ok = in_range(site, arg.col, v, 0, 255, "port"); break;
                case Operand::None: break;
                }
                if (ok && p) {
                    if (kinds[i] == Operand::Imm16) p[at] = static_cast<uint8_t>(v >> 8), p[at + 1] = static_cast<uint8_t>(v);
                    else p[at] = static_cast<uint8_t>(v);
                }
                at += static_cast<size_t>(operand_size(kinds[i]));
            }
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
                    in_range(site, arg.col, v, word ? -32768 : -128, word ? 65535 : 255, word ? "word value" : "byte value") && p) {
                    if (word) p[at] = static_cast<uint8_t>(v >> 8), p[at + 1] = static_cast<uint8_t>(v);
                    else p[at] = static_cast<uint8_t>(v);
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
            if (value_of(args[st.first_arg], site, here, v) && in_range(site, args[st.first_arg].col, v, -128, 255, "fill value") && p)
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
            if (value_of(args[st.first_arg], site, here, v) && in_range(site, args[st.first_arg].col, v, 0, 65535, "vector address") && p)
                p[0] = static_cast<uint8_t>(v >> 8), p[1] = static_cast<uint8_t>(v);
            break;
        case StmtKind::Assert:
            if (value_of(args[st.first_arg], site, here, v) && v == 0) {
                std::string message = st.arg_count > 1 ? strings[args[st.first_arg + 1].string_index] : "assertion failed";
                error(site, site.col, message);
            }
            break;
        }
    }

    void check_overlaps() {
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

    void write_listing(const std::vector<uint8_t>& image) {
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
            std::snprintf(buf, sizeof buf, "%06llX  %04X  %-27s %5u  ", static_cast<unsigned long long>(st.offset), st.address,
                          bytes.c_str(), st.site.line);
            l += buf;
            l += st.text;
            l += '\n';
        }
    }

    void finish() {
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

        // Diagnostics in source order; pass 1 and pass 2 find them at different times.
        std::vector<size_t> order(out.diagnostics.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return diagnostic_seq[a] < diagnostic_seq[b]; });
        std::vector<AsmDiagnostic> sorted;
        sorted.reserve(order.size());
        for (size_t i : order) sorted.push_back(std::move(out.diagnostics[i]));
        out.diagnostics = std::move(sorted);

        if (out.diagnostics.empty()) out.image = std::move(image);
    }

    void run(const std::string& name, std::string text) {
        out.dependencies.push_back(name);
        files.push_back({name, std::move(text)});
        stack.reserve(64);
        read_file(0, identity(name));
        finish();
    }
};

} // namespace

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
