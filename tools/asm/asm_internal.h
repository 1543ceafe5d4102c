// Inside the assembler: the records its stages share and the operations each
// stage file defines. Not for callers; they use assembler.h.
//
// Two passes over the source. Pass 1 (first_pass.cpp, instructions.cpp,
// directives.cpp) reads every line once, following includes, checks the
// syntax, picks each instruction's opcode from its operand kinds and lays the
// statements out: sizes never depend on values, so every label gets its
// address here. Pass 2 (emit.cpp) evaluates the operands and writes the
// bytes. Expressions (expressions.cpp) are kept as small postfix programs so
// pass 2 does not look at the text again. lexer.cpp splits lines into tokens;
// output_files.cpp formats the side files; assembler.cpp drives the passes.
#pragma once

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "cpu/cpu.h"
#include "cpu/isa.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace asm_impl {

// The cartridge windows: the fixed one below BANK_SIZE, the banked one
// above it up to the end of ROM.
constexpr uint32_t FIRST_32K_END = ROM_LAST + 1u;
constexpr int MAX_BANK = static_cast<int>((ASM_MAX_IMAGE_SIZE - 1) / BANK_SIZE);
// A register operand is a byte naming a cell; a pair operand names r(p):r(p+1).
constexpr int64_t MAX_REGISTER = 255;
constexpr int64_t MAX_PAIR = REGISTER_COUNT - 1;
constexpr int MAX_INCLUDE_DEPTH = 64;
// -1 stands for the first 32 KiB, placed before any .bank.
constexpr int FIRST_32K = -1;

// ---------------------------------------------------------------- lexing

enum class Tok : uint8_t {
    End,
    Ident,
    Number,
    String,
    Dollar,
    LParen,
    RParen,
    LBracket,
    RBracket,
    Comma,
    Colon,
    Assign,
    Op
};

struct Token {
    Tok kind = Tok::End;
    uint32_t col = 0;
    std::string_view text; // identifier, operator, or the raw inside of a string
    int64_t value = 0;
};

struct LexError {
    uint32_t col = 0;
    std::string message;
};

char lower(char c);
bool iequals(std::string_view a, std::string_view b);
// Decodes one escape or plain character starting at text[i]; advances i.
bool decode_char(std::string_view text, size_t& i, char& out);
// Splits one line into tokens; a ';' ends it. Fails on the first bad character.
bool lex_line(std::string_view line, std::vector<Token>& toks, LexError& err);

// Register names: r0..r255, p0..p15 and the aliases. Out-of-range numbers are
// still recognised (number > limit) so they can be reported as such.
enum class RegKind : uint8_t { None, Reg, Pair };

RegKind register_name(std::string_view name, int64_t& number);
bool is_reserved(std::string_view name);

// "0x" and at least `width` upper-case hex digits.
std::string hex(uint64_t value, int width = 4);

// ---------------------------------------------------------------- expressions

enum class Op : uint8_t {
    Num,
    Sym,
    Here,
    BankOf,
    Neg,
    BitNot,
    LogNot,
    Hi,
    Lo,
    Mul,
    Div,
    Mod,
    Add,
    Sub,
    Shl,
    Shr,
    Lt,
    Le,
    Gt,
    Ge,
    Eq,
    Ne,
    BitAnd,
    BitXor,
    BitOr,
    LogAnd,
    LogOr,
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

enum class Eval : uint8_t { Ok, Failed, Unknown };

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

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// An open .ifdef/.ifndef: whether the lines of its current branch are
// assembled. `outer` is whether the enclosing lines are; a branch inside a
// skipped one is skipped whatever its condition.
struct Conditional {
    Site site;
    std::string_view directive; // as written, for the error when .endif is missing
    bool outer = true;
    bool condition = false;
    bool in_else = false;
    bool taken() const { return outer && condition != in_else; }
};

// A position in the tokens of the line being read.
struct Cursor {
    size_t pos = 0;
};

// One assembly run. Built on the caller's stack around the Assembly it fills.
struct Assembler {
    const AsmOptions& options;
    AsmFileReader reader;
    Assembly& out;

    std::deque<SourceFile> files;
    std::vector<std::string> include_stack; // absolute normalised paths
    std::vector<uint32_t> diagnostic_seq;
    std::vector<uint32_t> warning_seq;

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
    std::vector<Conditional> conditionals;
    std::string scratch;

    // Layout state of pass 1.
    int bank = FIRST_32K;
    uint64_t pc = 0;
    bool overflow_reported = false;
    std::vector<int64_t> bank_pc = std::vector<int64_t>(MAX_BANK + 1, -1);
    int64_t first_32k_pc = -1;
    uint32_t seq = 0;
    bool final_pass = false;
    bool has_start = false;

    // Site of the line being read in pass 1.
    Site line_site;

    Assembler(const AsmOptions& o, Assembly& a);

    // assembler.cpp: diagnostics and the run
    static bool read_from_disk(const std::string& path, std::string& contents);
    void error(const Site& site, uint32_t col, std::string message);
    void error_at(uint32_t col, std::string message) { error(line_site, col, std::move(message)); }
    void warn(const Site& site, uint32_t col, std::string message);
    std::string where(const Site& site) const;
    void finish();
    void run(const std::string& name, std::string text);

    // first_pass.cpp: symbols, layout, source files
    uint32_t intern(std::string_view name);
    int bank_of_address(uint64_t address) const;
    int64_t define(const Token& name_tok, SymKind kind);
    uint64_t window_start() const { return bank > 0 ? BANK_SIZE : 0; }
    uint64_t window_end() const { return bank == 0 ? BANK_SIZE : FIRST_32K_END; }
    uint64_t offset_of(uint64_t address) const;
    std::string window_name() const;
    void switch_bank(int new_bank);
    void place(Statement st, uint64_t size, uint32_t col);
    Statement new_statement(StmtKind kind, std::string_view line);
    bool expect_end(const Cursor& c);
    bool decode_string(const Token& t, std::string& s);
    uint32_t add_string(const Token& t, bool& ok);
    std::string resolve_path(const std::string& including, const std::string& name, std::string& contents,
                             bool& found);
    void add_dependency(const std::string& path);
    static std::string identity(const std::string& path);
    void include(Cursor& c, uint32_t directive_col);
    bool assembling() const { return conditionals.empty() || conditionals.back().taken(); }
    bool conditional_line(Cursor& c, std::string_view line);
    void read_line(std::string_view line);
    void read_file(uint32_t file_index, const std::string& id);

    // instructions.cpp
    bool parse_operand(Cursor& c, Arg& arg);
    void instruction(Cursor& c, std::string_view line);

    // expressions.cpp
    bool parse_primary(Cursor& c);
    bool parse_unary(Cursor& c);
    bool parse_expr(Cursor& c, int min_precedence);
    bool parse_expression(Cursor& c, Expr& e);
    Expr constant_expr(int64_t value, uint32_t col);
    Eval resolve_constant(uint32_t index);
    Eval evaluate(Expr e, int64_t here, const Site& site, int64_t& result, uint32_t& unknown_col);
    bool evaluate_now(Expr e, int64_t& value, std::string_view what);
    uint32_t find_unknown(Expr e, uint32_t col) const;

    // directives.cpp
    bool value_list(Cursor& c, bool allow_strings, uint32_t& count, uint64_t& size, uint32_t item_size);
    bool layout_value(Cursor& c, int64_t& value, std::string_view what);
    bool string_arg(Cursor& c, std::string& s);
    void incbin(Cursor& c, std::string_view line, uint32_t directive_col);
    void constant(const Token& name_tok, Cursor& c, std::string_view line);
    void list_line(std::string_view line, uint32_t col);
    bool string_operand(Cursor& c, Arg& arg);
    void data_directive(Cursor& c, const Token& d, std::string_view line);
    void text_directive(Cursor& c, const Token& d, std::string_view line);
    void org_directive(Cursor& c, const Token& d, std::string_view line);
    void start_directive(Cursor& c, const Token& d, std::string_view line);
    void vector_directive(Cursor& c, const Token& d, std::string_view line);
    bool fill_value(Cursor& c, const Token& d, Arg& arg);
    void fill_directive(Cursor& c, const Token& d, std::string_view line);
    void skip_directive(Cursor& c, const Token& d, std::string_view line);
    void include_directive(Cursor& c, const Token& d, std::string_view line);
    void incbin_directive(Cursor& c, const Token& d, std::string_view line);
    void bank_directive(Cursor& c, const Token& d, std::string_view line);
    void equ_directive(Cursor& c, const Token&, std::string_view line);
    void assert_directive(Cursor& c, const Token& d, std::string_view line);
    void if_directive(Cursor& c, const Token& d, std::string_view line);
    void else_directive(Cursor& c, const Token& d, std::string_view line);
    void endif_directive(Cursor& c, const Token& d, std::string_view line);
    void directive(Cursor& c, std::string_view line);

    // emit.cpp: pass 2
    bool value_of(const Arg& arg, const Site& site, int64_t here, int64_t& value);
    bool in_range(const Site& site, uint32_t col, int64_t value, int64_t low, int64_t high, const char* what);
    void emit(const Statement& st, std::vector<uint8_t>& image);
    void check_instruction(const Statement& st, const InstructionInfo& info,
                           const std::array<int64_t, 2>& values, const std::array<bool, 2>& known);
    void check_start();
    void check_overlaps();
    void write_listing(const std::vector<uint8_t>& image);

    // output_files.cpp
    void write_debug_info(const std::vector<uint8_t>& image);
};

} // namespace asm_impl
