// Feeds arbitrary images to the disassembler. Every offset is decoded and
// formatted into buffers of every size up to 32 bytes (the text must stay
// terminated inside its buffer), and the whole image is disassembled and
// assembled again, which must give back exactly the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "assembler.h"
#include "disassembler.h"

namespace {

[[noreturn]] void fail(const char* what, const Assembly& assembly) {
    std::fprintf(stderr, "round trip: %s\n", what);
    for (const AsmDiagnostic& diagnostic : assembly.diagnostics)
        std::fprintf(stderr, "%s\n", AsmDiagnostic_format(diagnostic).c_str());
    std::abort();
}

void check_format(std::span<const uint8_t> bytes, size_t at) {
    char text[33];
    for (size_t capacity = 1; capacity <= 32; ++capacity) {
        std::memset(text, 0x55, sizeof text);
        int length = Disassembler_format(bytes, at, text, capacity);
        if (length < 1 || length > 4) std::abort();
        if (std::memchr(text, 0, capacity) == nullptr) std::abort();
        if (text[capacity] != 0x55) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> image(data, size);
    for (size_t at = 0; at < size; ++at) {
        DisInstruction instruction = Disassembler_decode(image, at);
        if (instruction.length < 1 || instruction.length > 4) std::abort();
        if (at < 64) check_format(image, at);
    }

    std::string source = Disassembler_disassemble_image(image);
    AsmOptions options;
    options.read_file = [](const std::string&, std::string&) { return false; };
    Assembly assembly = Assembler_assemble_text("dis.asm", source, options);
    if (!Assembly_ok(assembly)) fail("the source does not assemble", assembly);
    if (assembly.image.size() != size) fail("the image length differs", assembly);
    if (size > 0 && std::memcmp(assembly.image.data(), data, size) != 0) fail("the bytes differ", assembly);
    return 0;
}
