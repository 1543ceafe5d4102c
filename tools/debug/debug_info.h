// The assembler's debug information (lumacor-asm -g): which source line and
// column every instruction came from, where data bytes lie, every label and
// every constant. Text, one record a line:
//
//   lumacor-dbg 1
//   image <CRC-32> <SIZE>
//   file <F> <absolute path>
//   insn <BANK> <ADDR> <F> <LINE> <COL> <SIZE>
//   data <BANK> <ADDR> <SIZE>
//   label <NAME> <ADDR> <BANK>
//   const <NAME> <VALUE>
//
// The image record names the ROM image the rest describes (its CRC-32 in
// hex, its size in bytes); older files lack it.
// BANK is 0 for addresses below 0x4000 and the cartridge bank n >= 1 for
// code seen through the banked window; ADDR is the CPU address in hex.
//
// Use: DebugInfo_parse the file's text, then look things up by address and
// bank (where is this PC in the source, which label is it in) or by source
// line (which instructions does a line breakpoint land on).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct DebugInsn {
    uint8_t bank;
    uint16_t address;
    uint32_t file;
    uint32_t line;
    uint32_t column;
    uint8_t size;
};

struct DebugData {
    uint8_t bank;
    uint16_t address;
    uint32_t size;
};

struct DebugLabel {
    std::string name;
    uint16_t address;
    uint8_t bank;
};

struct DebugConst {
    std::string name;
    int64_t value;
};

struct DebugInfo {
    bool has_image;
    uint32_t image_crc;
    uint64_t image_size;
    std::vector<std::string> files; // by index
    std::vector<DebugInsn> insns;   // sorted by bank, then address
    std::vector<DebugData> data;
    std::vector<DebugLabel> labels; // sorted by bank, then address
    std::vector<DebugConst> constants;
};

// Fills `info` from the text of a debug information file. On a malformed
// line returns false with the line number and the fault in `error`.
bool DebugInfo_parse(std::string_view text, DebugInfo* info, std::string* error);

// Whether the information was made for the image of this CRC-32 and size;
// information without an image record is taken at its word. When not,
// `mismatch` says how they differ.
bool DebugInfo_describes(const DebugInfo* info, uint32_t image_crc, uint64_t image_size,
                         std::string* mismatch);

// The bank under which debug information records an address when cartridge
// bank `current` is selected; -1 for addresses outside the cartridge.
int DebugInfo_bank_of(uint16_t address, int current);

const DebugInsn* DebugInfo_insn_at(const DebugInfo* info, int bank, uint16_t address);

// The index of a source file by path, comparing paths with "." and ".."
// segments and repeated separators folded; -1 when the program has none.
int DebugInfo_file_index(const DebugInfo* info, std::string_view path);

// The instructions a breakpoint on `line` of file `file` lands on: those of
// the first line at or after `line` that holds any (one per place the line
// was assembled, e.g. an included file used twice). Empty when no line at or
// after it holds an instruction.
std::vector<const DebugInsn*> DebugInfo_insns_for_line(const DebugInfo* info, int file, uint32_t line);

const DebugLabel* DebugInfo_label_named(const DebugInfo* info, std::string_view name);
// The label at or closest below `address` in the same bank, or null.
const DebugLabel* DebugInfo_label_before(const DebugInfo* info, int bank, uint16_t address);
// The label exactly at `address` in `bank`, preferring a global one.
const DebugLabel* DebugInfo_label_at(const DebugInfo* info, int bank, uint16_t address);
std::optional<int64_t> DebugInfo_constant(const DebugInfo* info, std::string_view name);

// An address as the program names it: "label", "label+N" after the nearest
// label below it in the same bank, or "0x1234" where none is (or `info` is
// null).
std::string DebugInfo_name_of(const DebugInfo* info, int bank, uint16_t address);

// The instruction whose bytes start `bytes` (as many as the longest
// instruction takes), disassembled, with a jump or call target that has a
// label shown by its name; `bank` is the cartridge bank selected. `info`
// may be null. Returns the instruction's length.
int DebugInfo_format(const DebugInfo* info, std::span<const uint8_t> bytes, int bank, std::string* text);
