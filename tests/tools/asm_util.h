// Assembling sources held in memory, include files coming from a map
// instead of the disk.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "assembler.h"

inline AsmOptions memory_files(const std::map<std::string, std::string>& files) {
    AsmOptions options;
    options.read_file = [files](const std::string& path, std::string& contents) {
        auto it = files.find(path);
        if (it != files.end()) contents = it->second;
        return it != files.end();
    };
    return options;
}

inline Assembly assemble(const std::string& text, const AsmOptions& options = memory_files({})) {
    return Assembler_assemble_text("test.asm", text, options);
}

// The diagnostics, one formatted line each.
inline std::string errors(const Assembly& a) {
    std::string text;
    for (const AsmDiagnostic& d : a.diagnostics) text += AsmDiagnostic_format(d) + "\n";
    return text;
}
