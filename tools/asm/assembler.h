// The lumacor assembler: turns assembly source (docs/assembly.md) into a ROM
// image. Instruction encodings come from instruction_set in cpu/isa.h only.
//
// Use: fill an AsmOptions (include directories, optionally a file reader so
// sources can come from memory), call Assembler_assemble_file or
// Assembler_assemble_text, and check Assembly_ok. On success `image` holds the
// ROM bytes; otherwise `diagnostics` lists every error found, in source order,
// and `image` is empty. `warnings` lists, in source order, what assembles but
// is probably a mistake. The assembler never throws and never prints.
#pragma once

#include "cartridge/cartridge.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The largest image the cartridge loads.
constexpr uint64_t ASM_MAX_IMAGE_SIZE = ROM_MAX_SIZE;

struct AsmDiagnostic {
    std::string file;
    uint32_t line = 0;   // 1-based
    uint32_t column = 0; // 1-based, in bytes
    std::string message;
    bool warning = false;
};

struct AsmSymbol {
    std::string name; // local labels appear as "scope.local"
    int64_t value = 0;
    bool is_label = false;
};

// Reads a whole file (source or binary) into `contents`; false if it cannot.
using AsmFileReader = std::function<bool(const std::string& path, std::string& contents)>;

struct AsmOptions {
    std::vector<std::string> include_dirs; // searched after the including file's directory
    AsmFileReader read_file;               // empty: read from the file system
    bool make_listing = false;
    bool make_debug_info = false;
};

struct Assembly {
    std::vector<uint8_t> image;
    std::vector<AsmDiagnostic> diagnostics;
    std::vector<AsmDiagnostic> warnings;
    std::vector<AsmSymbol> symbols;        // sorted by value, then name
    std::vector<std::string> dependencies; // every file read, the main source first
    std::string listing;                   // filled when AsmOptions::make_listing is set
    std::string debug_info; // filled when AsmOptions::make_debug_info is set; see docs/assembly.md
};

Assembly Assembler_assemble_file(const std::string& path, const AsmOptions& options = {});
// `name` is the file name used in diagnostics and for resolving includes.
Assembly Assembler_assemble_text(const std::string& name, std::string_view text,
                                 const AsmOptions& options = {});

bool Assembly_ok(const Assembly& assembly);
// "FILE:LINE:COLUMN: error: MESSAGE", or "warning:" for a warning
std::string AsmDiagnostic_format(const AsmDiagnostic& diagnostic);
// Symbols as "name = 0xVALUE" lines, which are themselves valid source.
std::string Assembly_format_symbols(const Assembly& assembly);
// A make rule "target: dependencies...".
std::string Assembly_format_depfile(const Assembly& assembly, const std::string& target);
