// Expressions: parsed into postfix programs of Nodes in pass 1, evaluated
// when their symbols are known (constants on demand, the rest in pass 2).
#include "asm_internal.h"

namespace asm_impl {

namespace {

struct BinaryOp {
    std::string_view text;
    int precedence;
    Op op;
};

constexpr std::array<BinaryOp, 18> binary_ops = {{
    {"||", 1, Op::LogOr},
    {"&&", 2, Op::LogAnd},
    {"|", 3, Op::BitOr},
    {"^", 4, Op::BitXor},
    {"&", 5, Op::BitAnd},
    {"==", 6, Op::Eq},
    {"!=", 6, Op::Ne},
    {"<", 7, Op::Lt},
    {"<=", 7, Op::Le},
    {">", 7, Op::Gt},
    {">=", 7, Op::Ge},
    {"<<", 8, Op::Shl},
    {">>", 8, Op::Shr},
    {"+", 9, Op::Add},
    {"-", 9, Op::Sub},
    {"*", 10, Op::Mul},
    {"/", 10, Op::Div},
    {"%", 10, Op::Mod},
}};
} // namespace

bool Assembler::parse_primary(Cursor& c) {
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

bool Assembler::parse_unary(Cursor& c) {
    const Token& t = toks[c.pos];
    if (t.kind == Tok::Op && t.text.size() == 1 &&
        (t.text[0] == '-' || t.text[0] == '~' || t.text[0] == '!' || t.text[0] == '+')) {
        ++c.pos;
        if (!parse_unary(c)) return false;
        if (t.text[0] == '-')
            nodes.push_back({Op::Neg, t.col, 0});
        else if (t.text[0] == '~')
            nodes.push_back({Op::BitNot, t.col, 0});
        else if (t.text[0] == '!')
            nodes.push_back({Op::LogNot, t.col, 0});
        return true;
    }
    return parse_primary(c);
}

bool Assembler::parse_expr(Cursor& c, int min_precedence) {
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

bool Assembler::parse_expression(Cursor& c, Expr& e) {
    e.first = static_cast<uint32_t>(nodes.size());
    bool ok = parse_expr(c, 1);
    e.count = static_cast<uint32_t>(nodes.size()) - e.first;
    return ok;
}

Expr Assembler::constant_expr(int64_t value, uint32_t col) {
    Expr e{static_cast<uint32_t>(nodes.size()), 1};
    nodes.push_back({Op::Num, col, value});
    return e;
}

Eval Assembler::resolve_constant(uint32_t index) {
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
    if (result == Eval::Ok)
        s.value = value, s.state = SymState::Resolved;
    else if (result == Eval::Failed)
        s.state = SymState::Failed;
    else
        s.state = SymState::Unresolved;
    return result;
}

// Evaluates a postfix expression. Before the end of pass 1 a symbol that
// is not defined yet gives Unknown (its column in unknown_col); after it,
// an error.
Eval Assembler::evaluate(Expr e, int64_t here, const Site& site, int64_t& result, uint32_t& unknown_col) {
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
                    error(site, n.col,
                          "bank() takes a label, and '" + symbols[index].name + "' is a constant");
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
                if (a == INT64_MIN && b == -1)
                    r = n.op == Op::Div ? a : 0;
                else
                    r = n.op == Op::Div ? a / b : a % b;
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
bool Assembler::evaluate_now(Expr e, int64_t& value, std::string_view what) {
    uint32_t unknown_col = 0;
    Eval r = evaluate(e, static_cast<int64_t>(pc), line_site, value, unknown_col);
    if (r == Eval::Unknown)
        error_at(unknown_col,
                 std::string(what) + " must be known here, but '" +
                     symbols[static_cast<uint32_t>(nodes[find_unknown(e, unknown_col)].value)].name +
                     "' is not defined above");
    return r == Eval::Ok;
}

uint32_t Assembler::find_unknown(Expr e, uint32_t col) const {
    for (uint32_t i = e.first; i < e.first + e.count; ++i)
        if ((nodes[i].op == Op::Sym || nodes[i].op == Op::BankOf) && nodes[i].col == col) return i;
    return e.first;
}

} // namespace asm_impl
