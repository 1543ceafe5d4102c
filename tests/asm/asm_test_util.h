// Helpers for the assembler and disassembler tests: assembling text held in
// memory, with include files from a map instead of the disk.
#pragma once

#include "assembler.h"

#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline AsmOptions memory_files(const std::map<std::string, std::string>& files) {
    AsmOptions options;
    options.read_file = [files](const std::string& path, std::string& contents) {
        auto it = files.find(path);
        if (it == files.end()) return false;
        contents = it->second;
        return true;
    };
    return options;
}

inline Assembly assemble(const std::string& text, const AsmOptions& options = memory_files({})) {
    return Assembler_assemble_text("test.asm", text, options);
}

// Bytes of a program that must assemble; empty (and a test failure) if not.
inline Bytes bytes_of(const std::string& text, const AsmOptions& options = memory_files({})) {
    Assembly a = assemble(text, options);
    std::string errors;
    for (const AsmDiagnostic& d : a.diagnostics) errors += AsmDiagnostic_format(d) + "\n";
    EXPECT_TRUE(Assembly_ok(a)) << text << "\n" << errors;
    return a.image;
}

// The formatted diagnostics of a program that must fail.
inline std::vector<std::string> errors_of(const std::string& text, const AsmOptions& options = memory_files({})) {
    Assembly a = assemble(text, options);
    EXPECT_FALSE(Assembly_ok(a)) << text;
    EXPECT_TRUE(a.image.empty());
    std::vector<std::string> lines;
    for (const AsmDiagnostic& d : a.diagnostics) lines.push_back(AsmDiagnostic_format(d));
    return lines;
}

// The bytes a program places from `address` on, in a program starting there.
inline Bytes code(const std::string& text) {
    Bytes image = bytes_of(".org 0x200\n" + text);
    if (image.size() < 0x200) return {};
    return Bytes(image.begin() + 0x200, image.end());
}
