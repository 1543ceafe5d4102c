// What each instruction does, in words, for the people writing programs: a
// line per encoding (its effect and the flags it writes) and a line per
// mnemonic (a summary and an example). The studio's reference and its hover
// help are written from these tables; the compile-time checks below keep them
// in step with instruction_set.
#pragma once

#include "cpu/isa.h"

struct FormHelp {
    uint8_t opcode;
    std::string_view effect;
    std::string_view flags; // the flags written, in the order written; "" for none
};

struct MnemonicHelp {
    std::string_view mnemonic;
    std::string_view summary;
    std::string_view example; // one line of assembly, with a comment saying what it does
};

// clang-format off
constexpr std::array<FormHelp, INSTRUCTION_COUNT> form_help = {{
    {0x00, "nothing", ""},
    {0x10, "rX := n", ""},
    {0x11, "rX := rY", ""},
    {0x12, "rX := the byte at the address in pY", ""},
    {0x13, "the byte at the address in pX := rY", ""},
    {0x14, "the byte at the address in pX := n", ""},
    {0x15, "pX := nn", ""},
    {0x16, "pX := pY", ""},
    {0x17, "the bytes at pX and pX + 1 := pY, high byte first", ""},
    {0x1F, "rX and rY swap values", ""},
    {0x20, "push pX", ""},
    {0x21, "push nn", ""},
    {0x22, "pX := the word popped", ""},
    {0x30, "PC := nn", ""},
    {0x31, "PC := nn if C is 1", ""},
    {0x32, "PC := nn if C is 0", ""},
    {0x33, "PC := nn if Z is 1", ""},
    {0x34, "PC := nn if Z is 0", ""},
    {0x40, "push the address after the CALL, then PC := nn", ""},
    {0x41, "PC := the word popped; with SP = 0xFFFF the machine stops", ""},
    {0x42, "PC := the word popped, then interrupts are enabled", ""},
    {0x50, "rX := rX AND n", "Z"},
    {0x51, "rX := rX AND rY", "Z"},
    {0x52, "rX := rX OR n", "Z"},
    {0x53, "rX := rX OR rY", "Z"},
    {0x54, "rX := rX XOR n", "Z"},
    {0x55, "rX := rX XOR rY", "Z"},
    {0x56, "rX := rX with every bit inverted", "Z"},
    {0x60, "rX := rX + n; C is the carry out", "C Z"},
    {0x61, "rX := rX + rY; C is the carry out", "C Z"},
    {0x62, "pX := pX + nn", ""},
    {0x63, "pX := pX + pY", ""},
    {0x64, "rX := rX - n; C is the borrow", "C Z"},
    {0x65, "rX := rX - rY; C is the borrow", "C Z"},
    {0x66, "pX := pX - nn", ""},
    {0x67, "pX := pX - pY", ""},
    {0x68, "rX := rX + 1; C is set when rX was 0xFF", "C Z"},
    {0x69, "pX := pX + 1", ""},
    {0x6A, "rX := rX - 1; C is set when rX was 0", "C Z"},
    {0x6B, "pX := pX - 1", ""},
    {0x6C, "rX shifted left n places (n mod 32), zeros in; C is the last bit out", "C Z"},
    {0x6D, "rX shifted right n places (n mod 32), zeros in; C is the last bit out", "C Z"},
    {0x70, "compare rX with n: Z if equal, C if rX < n", "Z C"},
    {0x72, "compare rX with rY: Z if equal, C if rX < rY", "Z C"},
    {0x73, "compare pX with nn: Z if equal, C if pX < nn", "Z C"},
    {0x74, "compare pX with pY: Z if equal, C if pX < pY", "Z C"},
    {0x80, "rX := the value read from the port", ""},
    {0x81, "rX := the value read from the port numbered rY", ""},
    {0x82, "write rY to the port", ""},
    {0x83, "write rY to the port numbered rX", ""},
    {0xFD, "interrupts disabled", ""},
    {0xFE, "interrupts enabled", ""},
    {0xFF, "the machine stops", ""},
}};

constexpr std::array<MnemonicHelp, 39> mnemonic_help = {{
    {"NOP",  "No operation: one instruction's time passes.", "NOP"},
    {"LD",   "Load a register with a byte or with the byte a pair points at.", "LD r0, [p2]        ; r0 := the byte at p2"},
    {"MOV",  "Copy one register into another.", "MOV r1, r0          ; r1 := r0"},
    {"ST",   "Store a register or a byte at the address a pair holds.", "ST [p2], r0         ; the byte at p2 := r0"},
    {"LDW",  "Load a pair with a 16-bit word.", "LDW p2, 0x9000      ; p2 := 0x9000"},
    {"MOVW", "Copy one pair into another.", "MOVW p4, p2         ; p4 := p2"},
    {"STW",  "Store a pair's word, high byte first, at the address another pair holds.", "STW [p2], p4        ; the bytes at p2 := p4"},
    {"XCHG", "Swap two registers.", "XCHG r0, r1         ; r0 and r1 swap"},
    {"PUSH", "Push a pair or a word on the stack.", "PUSH p0             ; save p0"},
    {"POP",  "Pop a word from the stack into a pair.", "POP p0              ; restore p0"},
    {"JMP",  "Jump to an address.", "JMP 0x0100          ; go on at 0x0100"},
    {"JC",   "Jump if the carry flag C is set: after CMP, when the left side was below the right.", "JC 0x0100           ; jump when C is 1"},
    {"JNC",  "Jump if the carry flag C is clear: after CMP, when the left side was not below the right.", "JNC 0x0100          ; jump when C is 0"},
    {"JZ",   "Jump if the zero flag Z is set: after CMP, when both sides were equal.", "JZ 0x0100           ; jump when Z is 1"},
    {"JNZ",  "Jump if the zero flag Z is clear: after DEC, while the count is not yet 0.", "JNZ 0x0100          ; jump when Z is 0"},
    {"CALL", "Call a subroutine: push the return address and jump.", "CALL 0x0200         ; RET comes back here"},
    {"RET",  "Return from a subroutine; RET with an empty stack stops the machine.", "RET"},
    {"RETI", "Return from an interrupt handler and enable interrupts again.", "RETI"},
    {"AND",  "Bitwise AND: keep only the bits set in both.", "AND r0, PAD_A        ; Z is set when A is not held"},
    {"OR",   "Bitwise OR: set the bits set in either.", "OR r0, 0x80         ; set bit 7"},
    {"XOR",  "Bitwise exclusive OR: flip the bits set in the second.", "XOR r0, 0x01        ; flip bit 0"},
    {"NOT",  "Invert every bit of a register.", "NOT r0              ; r0 := 0xFF - r0"},
    {"ADD",  "Add to a register; C is the carry out of bit 7.", "ADD r0, 2           ; r0 := r0 + 2"},
    {"ADDW", "Add to a pair; the flags are not changed.", "ADDW p2, 3          ; p2 := p2 + 3"},
    {"SUB",  "Subtract from a register; C is the borrow.", "SUB r0, 2           ; r0 := r0 - 2"},
    {"SUBW", "Subtract from a pair; the flags are not changed.", "SUBW p2, 32         ; p2 := p2 - 32"},
    {"INC",  "Add one to a register.", "INC r0              ; r0 := r0 + 1"},
    {"INCW", "Add one to a pair; the flags are not changed.", "INCW p2             ; p2 := p2 + 1"},
    {"DEC",  "Subtract one from a register; Z tells when it reaches 0.", "DEC r0              ; r0 := r0 - 1"},
    {"DECW", "Subtract one from a pair; the flags are not changed.", "DECW p2             ; p2 := p2 - 1"},
    {"SHL",  "Shift a register left, zeros coming in.", "SHL r0, 1           ; r0 := r0 * 2"},
    {"SHR",  "Shift a register right, zeros coming in.", "SHR r0, 4           ; the high nibble to the low"},
    {"CMP",  "Compare a register with a byte or register: Z if equal, C if below.", "CMP r0, 10          ; Z if r0 = 10, C if r0 < 10"},
    {"CMPW", "Compare a pair with a word or pair: Z if equal, C if below.", "CMPW p2, 0x9300     ; C while p2 < 0x9300"},
    {"IN",   "Read a byte from a port.", "IN r0, TEST_PORT     ; r0 := the port's value"},
    {"OUT",  "Write a byte to a port; the port comes first.", "OUT TEST_PORT, r0    ; write r0 to the port"},
    {"DI",   "Disable interrupts.", "DI"},
    {"EI",   "Enable interrupts: the frame interrupt is taken after each picture.", "EI"},
    {"HALT", "Stop the machine.", "HALT"},
}};
// clang-format on

namespace isa_detail {
constexpr bool forms_follow_instruction_set() {
    for (int i = 0; i < INSTRUCTION_COUNT; ++i)
        if (form_help[i].opcode != instruction_set[i].opcode) return false;
    return true;
}

constexpr const MnemonicHelp* mnemonic_help_for(std::string_view mnemonic) {
    for (const MnemonicHelp& help : mnemonic_help)
        if (help.mnemonic == mnemonic) return &help;
    return nullptr;
}

constexpr bool every_mnemonic_helped() {
    for (const InstructionInfo& info : instruction_set)
        if (!mnemonic_help_for(info.mnemonic)) return false;
    for (const MnemonicHelp& help : mnemonic_help) {
        bool used = false;
        for (const InstructionInfo& info : instruction_set) used = used || info.mnemonic == help.mnemonic;
        if (!used) return false;
    }
    return true;
}
} // namespace isa_detail

static_assert(isa_detail::forms_follow_instruction_set(),
              "form_help must list instruction_set's opcodes in order");
static_assert(isa_detail::every_mnemonic_helped(), "each mnemonic needs one mnemonic_help row, and no other");

constexpr const MnemonicHelp* mnemonic_help_for(std::string_view mnemonic) {
    return isa_detail::mnemonic_help_for(mnemonic);
}
