// lumacor-dis: prints a ROM image as assembly source that lumacor-asm turns
// back into the same bytes.
#include "cli.h"
#include "disassembler.h"

#include "cartridge/cartridge.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

constexpr CliTool TOOL = {
    "lumacor-dis",
    "Prints a ROM image as assembly source that lumacor-asm turns back into the same bytes.",
    "lumacor-dis game.rom -o game.asm\n"
    "lumacor-dis game.rom --debug game.dbg --bank 2",
    "0  the source was written\n"
    "1  a file could not be read or written, or the debug information is not valid\n"
    "2  wrong usage",
};

int main(int argc, char** argv) {
    std::string rom, output, debug_path;
    DisOptions options;
    CLI::App app;
    Cli_init(app, TOOL);
    app.add_option("ROM", rom, "the ROM image")->required();
    app.add_option("--start", options.start,
                   "decode instructions from ADDR (in the first 32 KiB) on; the bytes before it are data "
                   "(default 0x0020, after the interrupt vectors)")
        ->type_name("ADDR")
        ->check(CLI::Range(0, static_cast<int>(ROM_LAST)).description(""));
    app.add_option("--bank", options.bank, "only bank N (0: the fixed window); default the whole image")
        ->type_name("N")
        ->check(CLI::Range(0, static_cast<int>((ROM_MAX_SIZE - 1) / BANK_SIZE)).description(""));
    app.add_option("--debug", debug_path,
                   "take labels and what is code from the assembler's debug information (lumacor-asm -g)")
        ->type_name("DEBUGINFO");
    app.add_option("-o", output, "write the source to FILE instead of standard output")->type_name("FILE");
    if (int status = Cli_parse(app, TOOL, argc, argv); status >= 0) return status;

    std::string rom_bytes;
    if (!read_file(rom.c_str(), rom_bytes)) {
        std::fprintf(stderr, "%s: error: cannot open file\n", rom.c_str());
        return 1;
    }
    std::vector<uint8_t> image(rom_bytes.begin(), rom_bytes.end());
    DisDebugInfo debug;
    if (!debug_path.empty()) {
        std::string text, error;
        if (!read_file(debug_path.c_str(), text)) {
            std::fprintf(stderr, "%s: error: cannot open file\n", debug_path.c_str());
            return 1;
        }
        if (!DisDebugInfo_parse(text, &debug, &error)) {
            std::fprintf(stderr, "%s: error: %s\n", debug_path.c_str(), error.c_str());
            return 1;
        }
        options.debug = &debug;
    }

    std::string text = Disassembler_disassemble_image(image, options);
    std::FILE* out = !output.empty() ? std::fopen(output.c_str(), "wb") : stdout;
    if (!out) {
        std::fprintf(stderr, "%s: error: cannot write file\n", output.c_str());
        return 1;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (!output.empty())
        ok = std::fclose(out) == 0 && ok;
    else
        ok = std::fflush(out) == 0 && ok;
    return ok ? 0 : 1;
}
