#include "expr.h"

#include <cctype>
#include <optional>

#include "cpu/cpu.h"
#include "debug_info.h"

namespace {

struct Compiler {
    std::string_view text;
    size_t at;
    const DebugInfo* info;
    Expr* out;
    std::string* error;
};

bool fail(Compiler* c, const std::string& what) {
    *c->error = what + " at column " + std::to_string(c->at + 1);
    return false;
}

void skip_space(Compiler* c) {
    while (c->at < c->text.size() && std::isspace(static_cast<unsigned char>(c->text[c->at]))) ++c->at;
}

bool take(Compiler* c, std::string_view token) {
    skip_space(c);
    if (c->text.substr(c->at, token.size()) != token) return false;
    c->at += token.size();
    return true;
}

int32_t add(Compiler* c, ExprOp op, int64_t value = 0, int32_t a = -1, int32_t b = -1) {
    c->out->nodes.push_back(ExprNode{op, value, a, b});
    return static_cast<int32_t>(c->out->nodes.size() - 1);
}

bool is_name_char(char ch, bool first) {
    return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_' || ch == '.' ||
           (!first && std::isdigit(static_cast<unsigned char>(ch)));
}

bool equals_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "r12" -> 12 when the digits give 0..limit.
std::optional<int64_t> indexed_name(std::string_view name, char prefix, int64_t limit) {
    if (name.size() < 2 || name.size() > 4 || std::tolower(static_cast<unsigned char>(name[0])) != prefix)
        return std::nullopt;
    int64_t n = 0;
    for (char ch : name.substr(1)) {
        if (!std::isdigit(static_cast<unsigned char>(ch))) return std::nullopt;
        n = n * 10 + (ch - '0');
    }
    if (name.size() > 2 && name[1] == '0') return std::nullopt;
    return n <= limit ? std::optional<int64_t>(n) : std::nullopt;
}

bool parse_expr(Compiler* c, int32_t* node, int level);

bool parse_number(Compiler* c, int32_t* node) {
    size_t start = c->at;
    int base = 10;
    if (c->text.substr(c->at, 2) == "0x" || c->text.substr(c->at, 2) == "0X")
        base = 16, c->at += 2;
    else if (c->text.substr(c->at, 2) == "0b" || c->text.substr(c->at, 2) == "0B")
        base = 2, c->at += 2;
    uint64_t value = 0;
    int digits = 0;
    while (c->at < c->text.size()) {
        char ch = c->text[c->at];
        int digit = std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0'
                    : std::isxdigit(static_cast<unsigned char>(ch))
                        ? std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10
                        : -1;
        if (ch == '_') {
            ++c->at;
            continue;
        }
        if (digit < 0 && !std::isalpha(static_cast<unsigned char>(ch))) break;
        if (digit < 0 || digit >= base) {
            c->at = start;
            return fail(c, "bad number");
        }
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
            c->at = start;
            return fail(c, "number too large");
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        ++digits;
        ++c->at;
    }
    if (digits == 0) {
        c->at = start;
        return fail(c, "bad number");
    }
    *node = add(c, ExprOp::Const, static_cast<int64_t>(value));
    return true;
}

bool parse_name(Compiler* c, int32_t* node) {
    size_t start = c->at;
    while (c->at < c->text.size() && is_name_char(c->text[c->at], c->at == start)) ++c->at;
    std::string_view name = c->text.substr(start, c->at - start);

    // Functions take one argument in parentheses.
    static constexpr std::pair<std::string_view, ExprOp> functions[] = {
        {"hi", ExprOp::Hi},     {"lo", ExprOp::Lo}, {"word", ExprOp::Word}, {"stackword", ExprOp::StackWord},
        {"byte", ExprOp::Byte},
    };
    for (const auto& [fname, op] : functions) {
        if (!equals_folded(name, fname)) continue;
        if (!take(c, "(")) return fail(c, "expected '(' after " + std::string(fname));
        int32_t arg = -1;
        if (!parse_expr(c, &arg, 0)) return false;
        if (!take(c, ")")) return fail(c, "expected ')'");
        *node = add(c, op, 0, arg);
        return true;
    }
    if (equals_folded(name, "bank")) {
        skip_space(c);
        if (!take(c, "(")) {
            *node = add(c, ExprOp::Bank);
            return true;
        }
        skip_space(c);
        size_t label_start = c->at;
        while (c->at < c->text.size() && is_name_char(c->text[c->at], c->at == label_start)) ++c->at;
        std::string_view label_name = c->text.substr(label_start, c->at - label_start);
        const DebugLabel* label = c->info ? DebugInfo_label_named(c->info, label_name) : nullptr;
        if (!label) {
            c->at = label_start;
            return fail(c, "bank() needs a label");
        }
        if (!take(c, ")")) return fail(c, "expected ')'");
        *node = add(c, ExprOp::Const, label->bank);
        return true;
    }
    if (equals_folded(name, "FLAGS")) return *node = add(c, ExprOp::Cell, FLAGS), true;
    if (equals_folded(name, "PC")) return *node = add(c, ExprOp::Pair, PAIR_PC), true;
    if (equals_folded(name, "SP")) return *node = add(c, ExprOp::Pair, PAIR_SP), true;
    if (auto r = indexed_name(name, 'r', 255)) return *node = add(c, ExprOp::Cell, *r), true;
    if (auto p = indexed_name(name, 'p', 15)) return *node = add(c, ExprOp::Pair, *p), true;
    // The names above are reserved by the assembler; a program may call its
    // own symbols frame, Z or C (a frame interrupt handler often is), and a
    // symbol of the program wins, as hovering over it in the source expects.
    if (c->info) {
        if (const DebugLabel* label = DebugInfo_label_named(c->info, name))
            return *node = add(c, ExprOp::Const, label->address), true;
        if (auto value = DebugInfo_constant(c->info, name))
            return *node = add(c, ExprOp::Const, *value), true;
    }
    if (equals_folded(name, "frame")) return *node = add(c, ExprOp::Frame), true;
    if (name == "Z" || name == "z") return *node = add(c, ExprOp::FlagZ), true;
    if (name == "C" || name == "c") return *node = add(c, ExprOp::FlagC), true;
    c->at = start;
    return fail(c, "unknown name '" + std::string(name) + "'");
}

// The debugger's own names for the machine's values, which no symbol of a
// program can hide: an assembler name never starts with '$'.
bool parse_reserved(Compiler* c, int32_t* node) {
    size_t start = c->at++;
    while (c->at < c->text.size() && is_name_char(c->text[c->at], false)) ++c->at;
    std::string_view name = c->text.substr(start + 1, c->at - start - 1);
    static constexpr std::pair<std::string_view, ExprOp> names[] = {
        {"frame", ExprOp::Frame}, {"bank", ExprOp::Bank}, {"interrupts", ExprOp::Interrupts},
        {"Z", ExprOp::FlagZ},     {"C", ExprOp::FlagC},
    };
    for (const auto& [reserved, op] : names)
        if (equals_folded(name, reserved)) return *node = add(c, op), true;
    c->at = start;
    return fail(c, "unknown name '$" + std::string(name) + "'");
}

bool parse_primary(Compiler* c, int32_t* node) {
    skip_space(c);
    if (c->at >= c->text.size()) return fail(c, "expected a value");
    char ch = c->text[c->at];
    if (take(c, "(")) {
        if (!parse_expr(c, node, 0)) return false;
        return take(c, ")") || fail(c, "expected ')'");
    }
    if (take(c, "[")) {
        int32_t address = -1;
        if (!parse_expr(c, &address, 0)) return false;
        if (!take(c, "]")) return fail(c, "expected ']'");
        *node = add(c, ExprOp::Byte, 0, address);
        return true;
    }
    static constexpr std::pair<char, ExprOp> unary[] = {
        {'-', ExprOp::Neg}, {'~', ExprOp::Not}, {'!', ExprOp::LNot}, {'+', ExprOp::Const}};
    for (const auto& [sign, op] : unary) {
        if (ch != sign) continue;
        ++c->at;
        int32_t operand = -1;
        if (!parse_primary(c, &operand)) return false;
        *node = op == ExprOp::Const ? operand : add(c, op, 0, operand);
        return true;
    }
    if (ch == '\'') {
        if (c->at + 2 < c->text.size() && c->text[c->at + 2] == '\'' && c->text[c->at + 1] != '\\') {
            *node = add(c, ExprOp::Const, static_cast<unsigned char>(c->text[c->at + 1]));
            c->at += 3;
            return true;
        }
        return fail(c, "bad character");
    }
    if (std::isdigit(static_cast<unsigned char>(ch))) return parse_number(c, node);
    if (is_name_char(ch, true)) return parse_name(c, node);
    if (ch == '$') return parse_reserved(c, node);
    return fail(c, std::string("unexpected '") + ch + "'");
}

struct Binary {
    std::string_view token;
    ExprOp op;
};

// Levels from the loosest; longer tokens first where one starts another.
const std::vector<std::vector<Binary>> levels = {
    {{"||", ExprOp::LOr}},
    {{"&&", ExprOp::LAnd}},
    {{"|", ExprOp::Or}},
    {{"^", ExprOp::Xor}},
    {{"&", ExprOp::And}},
    {{"==", ExprOp::Eq}, {"!=", ExprOp::Ne}},
    {{"<=", ExprOp::Le}, {">=", ExprOp::Ge}, {"<", ExprOp::Lt}, {">", ExprOp::Gt}},
    {{"<<", ExprOp::Shl}, {">>", ExprOp::Shr}},
    {{"+", ExprOp::Add}, {"-", ExprOp::Sub}},
    {{"*", ExprOp::Mul}, {"/", ExprOp::Div}, {"%", ExprOp::Mod}},
};

// A single '|' or '&' must not eat the first half of '||' or '&&', and '<'
// not the first half of '<<'.
bool take_operator(Compiler* c, std::string_view token) {
    skip_space(c);
    if (c->text.substr(c->at, token.size()) != token) return false;
    if (token.size() == 1 && c->at + 1 < c->text.size()) {
        char next = c->text[c->at + 1];
        if ((token == "|" && next == '|') || (token == "&" && next == '&') || (token == "<" && next == '<') ||
            (token == ">" && next == '>'))
            return false;
    }
    c->at += token.size();
    return true;
}

bool parse_expr(Compiler* c, int32_t* node, int level) {
    if (level == static_cast<int>(levels.size())) return parse_primary(c, node);
    if (!parse_expr(c, node, level + 1)) return false;
    while (true) {
        const Binary* matched = nullptr;
        for (const Binary& b : levels[static_cast<size_t>(level)])
            if (take_operator(c, b.token)) {
                matched = &b;
                break;
            }
        if (!matched) return true;
        int32_t right = -1;
        if (!parse_expr(c, &right, level + 1)) return false;
        *node = add(c, matched->op, 0, *node, right);
    }
}

struct Evaluator {
    const Expr* expr;
    const ExprMachine* machine;
    std::string* error;
    bool ok;
};

// Memory is 64 KiB: an address past it is an error, not a wrap.
uint8_t peek(Evaluator* e, int64_t address) {
    if (address < 0 || address > 0xFFFF) {
        if (e->ok)
            *e->error =
                "address " + std::to_string(address) + " is outside the address space (0x0000-0xFFFF)";
        e->ok = false;
        return 0;
    }
    return e->machine->peek(e->machine->context, static_cast<uint16_t>(address));
}

int64_t eval(Evaluator* e, int32_t index) {
    const ExprNode& n = e->expr->nodes[static_cast<size_t>(index)];
    const CPU* cpu = e->machine->cpu;
    switch (n.op) {
    case ExprOp::Const: return n.value;
    case ExprOp::Cell: return cpu->cells[static_cast<size_t>(n.value)];
    case ExprOp::Pair: return CPU_pair(cpu, static_cast<int>(n.value));
    case ExprOp::FlagZ: return (cpu->cells[FLAGS] & FLAG_Z) ? 1 : 0;
    case ExprOp::FlagC: return (cpu->cells[FLAGS] & FLAG_C) ? 1 : 0;
    case ExprOp::Bank: return e->machine->bank;
    case ExprOp::Frame: return static_cast<int64_t>(e->machine->frame);
    case ExprOp::Interrupts: return cpu->interrupt_enable;
    default: break;
    }
    int64_t a = eval(e, n.a);
    switch (n.op) {
    case ExprOp::Byte: return peek(e, a);
    case ExprOp::Word: return peek(e, a) << 8 | peek(e, a + 1);
    case ExprOp::StackWord: return peek(e, a) | peek(e, a + 1) << 8;
    case ExprOp::Hi: return (a >> 8) & 0xFF;
    case ExprOp::Lo: return a & 0xFF;
    case ExprOp::Neg: return static_cast<int64_t>(0 - static_cast<uint64_t>(a));
    case ExprOp::Not: return ~a;
    case ExprOp::LNot: return !a;
    default: break;
    }
    // Short circuits, so `p0 != 0 && [p0] == 1` reads nothing through a null pointer.
    if (n.op == ExprOp::LAnd) return a && eval(e, n.b);
    if (n.op == ExprOp::LOr) return a || eval(e, n.b);
    int64_t b = eval(e, n.b);
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    switch (n.op) {
    case ExprOp::Mul: return static_cast<int64_t>(ua * ub);
    case ExprOp::Div:
    case ExprOp::Mod:
        if (b == 0) {
            if (e->ok) *e->error = "division by zero";
            e->ok = false;
            return 0;
        }
        if (b == -1) return n.op == ExprOp::Div ? static_cast<int64_t>(0 - ua) : 0;
        return n.op == ExprOp::Div ? a / b : a % b;
    case ExprOp::Add: return static_cast<int64_t>(ua + ub);
    case ExprOp::Sub: return static_cast<int64_t>(ua - ub);
    case ExprOp::Shl: return b < 0 || b > 63 ? 0 : static_cast<int64_t>(ua << b);
    case ExprOp::Shr: return b < 0 || b > 63 ? (a < 0 ? -1 : 0) : a >> b;
    case ExprOp::Lt: return a < b;
    case ExprOp::Le: return a <= b;
    case ExprOp::Gt: return a > b;
    case ExprOp::Ge: return a >= b;
    case ExprOp::Eq: return a == b;
    case ExprOp::Ne: return a != b;
    case ExprOp::And: return a & b;
    case ExprOp::Xor: return a ^ b;
    case ExprOp::Or: return a | b;
    default: return 0;
    }
}

} // namespace

bool Expr_compile(std::string_view text, const DebugInfo* info, Expr* out, std::string* error) {
    *out = Expr{};
    Compiler c{text, 0, info, out, error};
    int32_t root = -1;
    if (!parse_expr(&c, &root, 0)) return false;
    skip_space(&c);
    if (c.at != text.size()) return fail(&c, "unexpected '" + std::string(text.substr(c.at, 1)) + "'");
    out->root = root;
    return true;
}

bool Expr_evaluate(const Expr& expr, const ExprMachine& machine, int64_t* value, std::string* error) {
    Evaluator e{&expr, &machine, error, true};
    int64_t result = eval(&e, expr.root);
    if (!e.ok) return false;
    *value = result;
    return true;
}
