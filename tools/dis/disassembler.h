// The lumacor disassembler: turns machine code back into assembly source
// (the syntax of docs/assembly.md). Encodings come from instruction_set in
// cpu/isa.h only.
//
// Two levels of use:
// - Disassembler_format decodes one instruction and formats it as a line of
//   text, for tracing a running machine: copy the bytes at PC (up to 4) into
//   a small array and pass it with at = 0.
// - Disassembler_disassemble_image turns a whole ROM image into a source that
//   lumacor-asm assembles back into exactly the same bytes. Given the debug
//   information the assembler wrote for the image (DisDebugInfo_parse), it
//   decodes only the assembler's instructions, shows every other byte as
//   data and names addresses with the program's labels.
#pragma once

#include "cpu/isa.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// What a debug information file (lumacor-asm -g, docs/assembly.md) says
// about an image. Banks as in the file: 0 for 0x0000-0x3FFF, n >= 1 for
// image offset n * 0x4000 + (address - 0x4000) seen at 0x4000-0x7FFF.
struct DisDebugRun {
    int bank = 0;
    uint16_t address = 0;
    uint32_t size = 0;
};

struct DisDebugLabel {
    std::string name;
    uint16_t address = 0;
    int bank = 0;
};

struct DisDebugInfo {
    std::vector<DisDebugRun> instructions;
    std::vector<DisDebugRun> data;
    std::vector<DisDebugLabel> labels; // in the file's order
};

// Reads the text of a debug information file of version 1. Records of kinds
// it does not know are skipped. On a malformed file returns false with the
// reason, naming the line, in `error`.
bool DisDebugInfo_parse(std::string_view text, DisDebugInfo* info, std::string* error);

struct DisOptions {
    // Address in the first 32 KiB where decoding starts; the bytes before it
    // are shown as data. -1: 0x0020, just after the interrupt vectors.
    int64_t start = -1;
    // -1: the whole image. Otherwise only bank N (0 is the fixed window).
    int bank = -1;
    // When set, `start` is not used: what is code comes from the debug information.
    const DisDebugInfo* debug = nullptr;
};

// The whole image (or one bank) as assembly source.
std::string Disassembler_disassemble_image(std::span<const uint8_t> image, const DisOptions& options = {});
