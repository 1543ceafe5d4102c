// lumacor-asm: assembles a source file into a ROM image.
#include "assembler.h"

#include <cstdio>
#include <cstring>
#include <string>

static void usage() {
    std::fprintf(stderr, "usage: lumacor-asm SOURCE -o ROM [-l LISTING] [-s SYMBOLS] [-I DIR]... [-d DEPFILE]\n");
}

static bool write_file(const std::string& path, const void* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "%s: error: cannot write file\n", path.c_str());
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::fprintf(stderr, "%s: error: cannot write file\n", path.c_str());
    return ok;
}

int main(int argc, char** argv) {
    std::string source, output, listing, symbols, depfile;
    AsmOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (std::strcmp(arg, "-o") == 0) ok = value(output);
        else if (std::strcmp(arg, "-l") == 0) ok = value(listing);
        else if (std::strcmp(arg, "-s") == 0) ok = value(symbols);
        else if (std::strcmp(arg, "-d") == 0) ok = value(depfile);
        else if (std::strcmp(arg, "-I") == 0) ok = value(options.include_dirs.emplace_back());
        else if (std::strncmp(arg, "-I", 2) == 0) options.include_dirs.emplace_back(arg + 2);
        else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            usage();
            return 0;
        } else if (arg[0] == '-' || !source.empty()) ok = false;
        else source = arg;
        if (!ok) {
            usage();
            return 1;
        }
    }
    if (source.empty() || output.empty()) {
        usage();
        return 1;
    }
    options.make_listing = !listing.empty();

    Assembly assembly = Assembler_assemble_file(source, options);
    if (!Assembly_ok(assembly)) {
        for (const AsmDiagnostic& d : assembly.diagnostics) std::fprintf(stderr, "%s\n", AsmDiagnostic_format(d).c_str());
        return 1;
    }
    bool ok = write_file(output, assembly.image.data(), assembly.image.size());
    if (ok && !listing.empty()) ok = write_file(listing, assembly.listing.data(), assembly.listing.size());
    if (ok && !symbols.empty()) {
        std::string text = Assembly_format_symbols(assembly);
        ok = write_file(symbols, text.data(), text.size());
    }
    if (ok && !depfile.empty()) {
        std::string text = Assembly_format_depfile(assembly, output);
        ok = write_file(depfile, text.data(), text.size());
    }
    return ok ? 0 : 1;
}
