// The instruction set as data: every defined opcode with its mnemonic and
// operand kinds, in encoding order. The CPU installs its handlers from this
// table, and the assembler, the disassembler and the tests read it too, so an
// encoding lives in exactly one place.
//
// Operand bytes follow the opcode in the order listed. A register operand is
// a full byte naming one of the 272 cells (r0..r15, then the stack page); a
// pair operand is masked to 0..15; immediate words are big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

enum class Operand : uint8_t {
    None,
    Reg,   // 1 byte, register cell 0..255
    Pair,  // 1 byte, pair 0..15 (the CPU masks the byte with 0x0F)
    Imm8,  // 1 byte immediate
    Imm16, // 2 bytes, high byte first
    Port,  // 1 byte port number
};

// What an operand means to the instruction, beyond its encoding: LD r, [p]
// reads memory through the pair, ST [p], r writes through it.
enum class Access : uint8_t { Value, Memory };

struct InstructionInfo {
    uint8_t opcode;
    std::string_view mnemonic;
    Operand a;
    Operand b;
    Access a_access;
    Access b_access;
};

constexpr int operand_size(Operand kind) {
    switch (kind) {
    case Operand::None: return 0;
    case Operand::Imm16: return 2;
    default: return 1;
    }
}

constexpr int instruction_size(const InstructionInfo& info) {
    return 1 + operand_size(info.a) + operand_size(info.b);
}

namespace isa_detail {
constexpr InstructionInfo op(uint8_t code, std::string_view m, Operand a = Operand::None,
                             Operand b = Operand::None, Access aa = Access::Value,
                             Access ba = Access::Value) {
    return InstructionInfo{code, m, a, b, aa, ba};
}
} // namespace isa_detail

constexpr int INSTRUCTION_COUNT = 53;

// clang-format off
constexpr std::array<InstructionInfo, INSTRUCTION_COUNT> instruction_set = [] {
    using isa_detail::op;
    using O = Operand;
    constexpr Access M = Access::Memory;
    constexpr Access V = Access::Value;
    return std::array<InstructionInfo, INSTRUCTION_COUNT>{{
        op(0x00, "NOP"),
        op(0x10, "LD",   O::Reg,  O::Imm8),
        op(0x11, "MOV",  O::Reg,  O::Reg),
        op(0x12, "LD",   O::Reg,  O::Pair, V, M),   // rX := [pY]
        op(0x13, "ST",   O::Pair, O::Reg,  M, V),   // [pX] := rY
        op(0x14, "ST",   O::Pair, O::Imm8, M, V),   // [pX] := n
        op(0x15, "LDW",  O::Pair, O::Imm16),
        op(0x16, "MOVW", O::Pair, O::Pair),
        op(0x17, "STW",  O::Pair, O::Pair, M, V),   // [pX], [pX+1] := pY, high first
        op(0x1F, "XCHG", O::Reg,  O::Reg),
        op(0x20, "PUSH", O::Pair),
        op(0x21, "PUSH", O::Imm16),
        op(0x22, "POP",  O::Pair),
        op(0x30, "JMP",  O::Imm16),
        op(0x31, "JC",   O::Imm16),
        op(0x32, "JNC",  O::Imm16),
        op(0x33, "JZ",   O::Imm16),
        op(0x34, "JNZ",  O::Imm16),
        op(0x40, "CALL", O::Imm16),
        op(0x41, "RET"),
        op(0x42, "RETI"),
        op(0x50, "AND",  O::Reg,  O::Imm8),
        op(0x51, "AND",  O::Reg,  O::Reg),
        op(0x52, "OR",   O::Reg,  O::Imm8),
        op(0x53, "OR",   O::Reg,  O::Reg),
        op(0x54, "XOR",  O::Reg,  O::Imm8),
        op(0x55, "XOR",  O::Reg,  O::Reg),
        op(0x56, "NOT",  O::Reg),
        op(0x60, "ADD",  O::Reg,  O::Imm8),
        op(0x61, "ADD",  O::Reg,  O::Reg),
        op(0x62, "ADDW", O::Pair, O::Imm16),
        op(0x63, "ADDW", O::Pair, O::Pair),
        op(0x64, "SUB",  O::Reg,  O::Imm8),
        op(0x65, "SUB",  O::Reg,  O::Reg),
        op(0x66, "SUBW", O::Pair, O::Imm16),
        op(0x67, "SUBW", O::Pair, O::Pair),
        op(0x68, "INC",  O::Reg),
        op(0x69, "INCW", O::Pair),
        op(0x6A, "DEC",  O::Reg),
        op(0x6B, "DECW", O::Pair),
        op(0x6C, "SHL",  O::Reg,  O::Imm8),
        op(0x6D, "SHR",  O::Reg,  O::Imm8),
        op(0x70, "CMP",  O::Reg,  O::Imm8),
        op(0x72, "CMP",  O::Reg,  O::Reg),
        op(0x73, "CMPW", O::Pair, O::Imm16),
        op(0x74, "CMPW", O::Pair, O::Pair),
        op(0x80, "IN",   O::Reg,  O::Port),
        op(0x81, "IN",   O::Reg,  O::Reg),
        op(0x82, "OUT",  O::Port, O::Reg),
        op(0x83, "OUT",  O::Reg,  O::Reg),
        op(0xFD, "DI"),
        op(0xFE, "EI"),
        op(0xFF, "HALT"),
    }};
}();
// clang-format on

// Index of each opcode's row in instruction_set, or -1 for codes without one.
constexpr std::array<int16_t, 256> instruction_index = [] {
    std::array<int16_t, 256> index{};
    for (auto& i : index) i = -1;
    for (int row = 0; row < INSTRUCTION_COUNT; ++row)
        index[instruction_set[row].opcode] = static_cast<int16_t>(row);
    return index;
}();

constexpr const InstructionInfo* instruction_for(uint8_t opcode) {
    int row = instruction_index[opcode];
    return row < 0 ? nullptr : &instruction_set[static_cast<size_t>(row)];
}

// The longest encoding in the set, opcode included.
constexpr int MAX_INSTRUCTION_SIZE = [] {
    int longest = 0;
    for (const InstructionInfo& info : instruction_set)
        longest = instruction_size(info) > longest ? instruction_size(info) : longest;
    return longest;
}();
