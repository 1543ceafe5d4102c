// lumacor-dis: prints a ROM image as assembly source that lumacor-asm turns
// back into the same bytes.
#include "disassembler.h"

#include "cartridge/cartridge.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static void usage() {
    std::fprintf(stderr, "usage: lumacor-dis ROM [--start ADDR] [--bank N] [--debug DEBUGINFO] [-o FILE]\n");
}

static bool read_file(const char* path, std::string& contents) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

static bool parse_number(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 0);
    return end != text && *end == '\0' && value >= low && value <= high;
}

int main(int argc, char** argv) {
    const char* rom = nullptr;
    const char* output = nullptr;
    const char* debug_path = nullptr;
    DisOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        long long value = 0;
        bool has_value = i + 1 < argc;
        if (std::strcmp(arg, "--start") == 0 && has_value && parse_number(argv[i + 1], 0, ROM_LAST, value)) {
            options.start = value;
            ++i;
        } else if (std::strcmp(arg, "--bank") == 0 && has_value &&
                   parse_number(argv[i + 1], 0, (ROM_MAX_SIZE - 1) / BANK_SIZE, value)) {
            options.bank = static_cast<int>(value);
            ++i;
        } else if (std::strcmp(arg, "--debug") == 0 && has_value) {
            debug_path = argv[++i];
        } else if (std::strcmp(arg, "-o") == 0 && has_value) {
            output = argv[++i];
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            usage();
            return 0;
        } else if (arg[0] != '-' && !rom) {
            rom = arg;
        } else {
            usage();
            return 1;
        }
    }
    if (!rom) {
        usage();
        return 1;
    }

    std::string rom_bytes;
    if (!read_file(rom, rom_bytes)) {
        std::fprintf(stderr, "%s: error: cannot open file\n", rom);
        return 1;
    }
    std::vector<uint8_t> image(rom_bytes.begin(), rom_bytes.end());
    DisDebugInfo debug;
    if (debug_path) {
        std::string text, error;
        if (!read_file(debug_path, text)) {
            std::fprintf(stderr, "%s: error: cannot open file\n", debug_path);
            return 1;
        }
        if (!DisDebugInfo_parse(text, &debug, &error)) {
            std::fprintf(stderr, "%s: error: %s\n", debug_path, error.c_str());
            return 1;
        }
        options.debug = &debug;
    }

    std::string text = Disassembler_disassemble_image(image, options);
    std::FILE* out = output ? std::fopen(output, "wb") : stdout;
    if (!out) {
        std::fprintf(stderr, "%s: error: cannot write file\n", output);
        return 1;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (output)
        ok = std::fclose(out) == 0 && ok;
    else
        ok = std::fflush(out) == 0 && ok;
    return ok ? 0 : 1;
}
