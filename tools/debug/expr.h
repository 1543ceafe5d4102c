// The debugger's expression language, shared by breakpoint conditions, log
// messages, hit conditions and the evaluate request: the assembler's integer
// expressions plus the machine's state.
//
//   numbers    123, 0x7F, 0b1010_0101, 'A'
//   registers  r0..r255 (r16 up are stack bytes), FLAGS, p0..p15, PC, SP
//   flags      Z, C (0 or 1)
//   memory     [addr] a byte, word(addr) a big-endian word (high byte first,
//              as STW stores it), stackword(addr) a word as the stack keeps
//              it (low byte first, as CALL and PUSH leave it)
//   symbols    labels (their address) and constants of the debug information
//   functions  hi(x), lo(x), bank(label); bank alone is the selected bank,
//              frame the number of frames run
//   reserved   $frame, $bank, $interrupts, $Z, $C: the machine's values,
//              whatever symbols the program defines
//   operators  || && | ^ & == != < <= > >= << >> + - * / % and unary - ~ ! +,
//              loosest first, as in the assembler
//
// Register names are case-insensitive, symbol names are not. Names resolve
// when the text is compiled, so a condition is parsed once and evaluated on
// every hit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct DebugInfo;
struct CPU;

// clang-format off
enum class ExprOp : uint8_t {
    Const, Cell, Pair, FlagZ, FlagC, Bank, Frame, Interrupts,
    Byte, Word, StackWord, Hi, Lo, Neg, Not, LNot,
    Mul, Div, Mod, Add, Sub, Shl, Shr,
    Lt, Le, Gt, Ge, Eq, Ne, And, Xor, Or, LAnd, LOr,
};
// clang-format on

struct ExprNode {
    ExprOp op;
    int64_t value; // Const: the value; Cell, Pair: the index
    int32_t a;     // operand nodes, -1 when unused
    int32_t b;
};

struct Expr {
    std::vector<ExprNode> nodes;
    int32_t root = -1;
};

// What an expression reads: the CPU's cells, memory through `peek` (which
// must have no side effects and trigger no watch), the bank and frame.
struct ExprMachine {
    const CPU* cpu;
    uint8_t (*peek)(void* context, uint16_t address);
    void* context;
    int bank;
    uint64_t frame;
};

// `info` may be null (no debug information: no symbols). On failure returns
// false with a message that names the position.
bool Expr_compile(std::string_view text, const DebugInfo* info, Expr* out, std::string* error);

// False on a division or remainder by zero, or a memory address outside
// 0x0000-0xFFFF.
bool Expr_evaluate(const Expr& expr, const ExprMachine& machine, int64_t* value, std::string* error);
