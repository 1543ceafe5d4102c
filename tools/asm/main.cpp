// lumacor-asm: assembles a source file into a ROM image.
#include "assembler.h"
#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A build tool that is interrupted must not leave a half-written file that
// looks up to date: the bytes go to a temporary file beside the target,
// which then replaces it. Targets that are not regular files (a terminal,
// /dev/null) are written in place.
static bool write_file(const std::string& path, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        int fd = ::open(path.c_str(), O_WRONLY);
        bool ok = fd >= 0 && write_all(fd, bytes, size);
        ok = (fd >= 0 && ::close(fd) == 0) && ok;
        if (!ok) std::fprintf(stderr, "%s: error: cannot write file\n", path.c_str());
        return ok;
    }
    std::string temp = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0 && write_all(fd, bytes, size);
    if (fd >= 0) {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask); // mkstemp makes the file private; outputs are ordinary files
        ok = ::close(fd) == 0 && ok;
    }
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        if (fd >= 0) ::unlink(temp.c_str());
        std::fprintf(stderr, "%s: error: cannot write file\n", path.c_str());
    }
    return ok;
}

// The hardware include ships in "include" beside the executable in the build
// tree, and in share/lumacor/include beside the bin folder once installed.
static std::string shipped_include_dir(const char* argv0) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) exe = fs::absolute(argv0, ec);
    fs::path beside = exe.parent_path() / "include";
    if (fs::is_directory(beside, ec)) return beside.string();
    return (exe.parent_path().parent_path() / "share" / "lumacor" / "include").string();
}

constexpr CliTool TOOL = {
    "lumacor-asm",
    "Assembles a lumacor source file into a ROM image.",
    "lumacor-asm game.asm -o game.rom -g game.dbg\n"
    "lumacor-asm game.asm -o game.rom -l game.lst -s game.sym -I art",
    "0  the ROM and every file asked for were written\n"
    "1  the source has errors, or a file could not be written (the reasons are on standard error)\n"
    "2  wrong usage",
};

int main(int argc, char** argv) {
    std::string source, output, listing, symbols, depfile, debug_info;
    AsmOptions options;
    CLI::App app;
    Cli_init(app, TOOL);
    app.add_option("SOURCE", source, "the assembly source file")->required();
    app.add_option("-o", output, "the ROM image to write")->required()->type_name("ROM");
    app.add_option("-l", listing, "also write a listing: address, bytes and source line")
        ->type_name("LISTING");
    app.add_option("-s", symbols, "also write the symbols and their values")->type_name("SYMBOLS");
    app.add_option("-g", debug_info, "also write debug information for lumacor-debug and lumacor-run")
        ->type_name("DEBUGINFO");
    app.add_option("-I", options.include_dirs,
                   "look for .include and .incbin files in DIR too (before the shipped includes); may repeat")
        ->type_name("DIR")
        ->allow_extra_args(false);
    app.add_option("-d", depfile, "also write a make depfile naming the files the ROM was built from")
        ->type_name("DEPFILE");
    if (int status = Cli_parse(app, TOOL, argc, argv); status >= 0) return status;
    options.make_listing = !listing.empty();
    options.make_debug_info = !debug_info.empty();
    options.include_dirs.push_back(shipped_include_dir(argv[0]));

    Assembly assembly = Assembler_assemble_file(source, options);
    for (const AsmDiagnostic& d : assembly.warnings)
        std::fprintf(stderr, "%s\n", AsmDiagnostic_format(d).c_str());
    if (!Assembly_ok(assembly)) {
        for (const AsmDiagnostic& d : assembly.diagnostics)
            std::fprintf(stderr, "%s\n", AsmDiagnostic_format(d).c_str());
        return 1;
    }
    bool ok = write_file(output, assembly.image.data(), assembly.image.size());
    if (ok && !listing.empty()) ok = write_file(listing, assembly.listing.data(), assembly.listing.size());
    if (ok && !symbols.empty()) {
        std::string text = Assembly_format_symbols(assembly);
        ok = write_file(symbols, text.data(), text.size());
    }
    if (ok && !debug_info.empty())
        ok = write_file(debug_info, assembly.debug_info.data(), assembly.debug_info.size());
    if (ok && !depfile.empty()) {
        std::string text = Assembly_format_depfile(assembly, output);
        ok = write_file(depfile, text.data(), text.size());
    }
    return ok ? 0 : 1;
}
