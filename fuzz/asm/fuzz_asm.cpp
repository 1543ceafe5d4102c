// Feeds arbitrary text to the assembler. Every file it asks for (.include,
// .incbin) reads as the input itself, so inclusion, include cycles and binary
// inclusion are reached without touching the file system. A successful
// assembly must give an image the cartridge can hold; either way every
// output text is formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    AsmOptions options;
    options.make_listing = true;
    options.read_file = [&text](const std::string&, std::string& contents) {
        contents = text;
        return true;
    };
    Assembly assembly = Assembler_assemble_text("fuzz.asm", text, options);
    if (Assembly_ok(assembly)) {
        if (assembly.image.size() > ASM_MAX_IMAGE_SIZE) std::abort();
        Assembly_format_symbols(assembly);
        Assembly_format_depfile(assembly, "fuzz.rom");
    } else {
        if (!assembly.image.empty()) std::abort();
        for (const AsmDiagnostic& diagnostic : assembly.diagnostics) AsmDiagnostic_format(diagnostic);
    }
    return 0;
}
