// Instructions in pass 1: operands parsed, and the opcode chosen from the
// instruction table by the kinds of the operands.
#include "asm_internal.h"

#include "cpu/isa.h"

#include <algorithm>

namespace asm_impl {

namespace {

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

int operand_count(const InstructionInfo& info) {
    return (info.a != Operand::None) + (info.b != Operand::None);
}

std::string describe_operand(Operand operand, Access access, char letter) {
    switch (operand) {
    case Operand::Reg: return std::string("r") + letter;
    case Operand::Pair:
        return access == Access::Memory ? std::string("[p") + letter + "]" : std::string("p") + letter;
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

} // namespace

// One operand of an instruction.
bool Assembler::parse_operand(Cursor& c, Arg& arg) {
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
        RegKind kind = computed ? (lower(t.text[0]) == 'r' ? RegKind::Reg : RegKind::Pair)
                                : register_name(t.text, number);
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
            bool is_reg = kind == RegKind::Reg;
            int64_t limit = is_reg ? MAX_REGISTER : MAX_PAIR;
            if (number > limit) {
                error_at(t.col, std::string(is_reg ? "register" : "pair") + " '" + std::string(t.text) +
                                    "' is out of range (" + (is_reg ? "r0..r" : "p0..p") +
                                    std::to_string(limit) + ")");
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

void Assembler::instruction(Cursor& c, std::string_view line) {
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
            error_at(mnemonic_tok.col, std::string(m->name) + " takes " + std::to_string(expected_count) +
                                           " operand" + (expected_count == 1 ? "" : "s") + ", not " +
                                           std::to_string(count) + ": " + forms);
            return;
        }
        // Point at the first operand that no form accepts in its place.
        size_t bad = 0;
        for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
            bool any = false;
            for (int r = 0; r < m->row_count; ++r) {
                const InstructionInfo& info =
                    instruction_set[static_cast<size_t>(m->rows[static_cast<size_t>(r)])];
                bool prefix_ok = true;
                for (size_t j = 0; j <= i; ++j)
                    prefix_ok = prefix_ok && arg_fits(operands[j].kind, j == 0 ? info.a : info.b,
                                                      j == 0 ? info.a_access : info.b_access);
                any = any || prefix_ok;
            }
            if (!any) {
                bad = i;
                break;
            }
        }
        error_at(operands[bad].col, std::string(m->name) + " does not take " +
                                        describe_arg(operands[bad].kind) + " as operand " +
                                        std::to_string(bad + 1) + ": " + forms);
        return;
    }
    Statement st = new_statement(StmtKind::Instruction, line);
    st.opcode = chosen->opcode;
    for (int i = 0; i < count; ++i) args.push_back(operands[static_cast<size_t>(i)]);
    st.arg_count = static_cast<uint32_t>(count);
    place(st, static_cast<uint64_t>(instruction_size(*chosen)), mnemonic_tok.col);
}

} // namespace asm_impl
