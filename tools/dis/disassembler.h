// The lumacor disassembler: turns machine code back into assembly source
// (the syntax of docs/assembly.md). Encodings come from instruction_set in
// cpu/isa.h only.
//
// Two levels of use:
// - Disassembler_format decodes one instruction and formats it as a line of
//   text, for tracing a running machine: copy the bytes at PC (up to 4) into
//   a small array and pass it with at = 0.
// - Disassembler_disassemble_image turns a whole ROM image into a source that
//   lumacor-asm assembles back into exactly the same bytes.
#pragma once

#include "cpu/isa.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct DisInstruction {
    const InstructionInfo* info = nullptr; // null: bytes[at] starts no instruction
    int length = 0;                        // bytes it takes: 1..4 (1 for a non-instruction)
    // False when a pair operand byte is above 15: the CPU masks it, but the
    // assembler only writes 0..15, so such bytes must stay data to round-trip.
    bool exact = false;
};

// Decodes the instruction that starts at bytes[at]. An opcode without an
// instruction, or an instruction cut off by the end of the span, gives a
// null info and length 1. At or past the end of the span the length is 0.
DisInstruction Disassembler_decode(std::span<const uint8_t> bytes, size_t at);

// Formats the instruction that starts at bytes[at] into `text`, e.g.
// "LD r0, 0x12" or "JMP 0x0100" (a pair byte above 15 shows the pair the CPU
// uses); a non-instruction gives ".byte 0xNN". The text is always
// NUL-terminated and cut to `capacity`; 32 bytes always suffice. Returns the
// number of bytes the instruction takes (see Disassembler_decode).
int Disassembler_format(std::span<const uint8_t> bytes, size_t at, char* text, size_t capacity);

struct DisOptions {
    // Address in the first 32 KiB where decoding starts; the bytes before it
    // are shown as data. -1: 0x0020, just after the interrupt vectors.
    int64_t start = -1;
    // -1: the whole image. Otherwise only bank N (0 is the fixed window).
    int bank = -1;
};

// The whole image (or one bank) as assembly source.
std::string Disassembler_disassemble_image(std::span<const uint8_t> image, const DisOptions& options = {});
