// lumacor-run ROM [--frames N] [--screenshot FILE.png] [--press FRAME:BUTTONS ...] [--trace]
//
// Runs a cartridge headless and unthrottled through the same machine and
// frame sequence as the window, prints what the machine prints (memory map,
// test-port traffic, bank switches, the save line) exactly as the window
// program does, writes the save file and optionally the last picture as PNG.
// The window's size and clock lines are left out: they describe the window
// and its pacing, which the runner has not. The exit status tells how the
// run ended.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "headless.h"
#include "screenshot/screenshot.h"

namespace {

constexpr int EXIT_STOPPED = 0;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FRAME_LIMIT = 3;
constexpr int EXIT_ILLEGAL_OPCODE = 4;

constexpr const char* USAGE =
    "usage: lumacor-run ROM [--frames N] [--screenshot FILE.png] [--press FRAME:BUTTONS ...] [--trace]\n"
    "  --frames N             stop after N frames if the program has not stopped (default 600)\n"
    "  --screenshot FILE.png  save the last frame as a 256x192 PNG\n"
    "  --press FRAME:BUTTONS  from frame FRAME (counted from 0) pad 1 holds exactly BUTTONS:\n"
    "                         up, down, left, right, start, back, a, x joined by '+', or none;\n"
    "                         FRAME:2/BUTTONS sets pad 2 (0xFF0B) instead\n"
    "  --trace                print each instruction before it runs\n"
    "exit status: 0 the program stopped itself, 3 frame limit reached, 4 illegal opcode,\n"
    "             2 bad arguments or unreadable ROM\n";

struct Arguments {
    const char* rom = nullptr;
    const char* screenshot = nullptr;
    bool trace = false;
    HeadlessOptions options;
};

int usage_error(const std::string& message) {
    std::fprintf(stderr, "lumacor-run: %s\n%s", message.c_str(), USAGE);
    return EXIT_USAGE;
}

bool parse_count(const char* text, int64_t* value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text, &end, 10);
    if (*end || errno || parsed < 0) return false;
    *value = parsed;
    return true;
}

// Returns the exit status when the program should end here (a usage error,
// or --help), or -1 to go on and run the ROM.
int parse_arguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--frames") {
            if (!has_value || !parse_count(argv[++i], &args->options.frame_limit))
                return usage_error("--frames needs a whole number of frames");
        } else if (arg == "--screenshot") {
            if (!has_value) return usage_error("--screenshot needs a file name");
            args->screenshot = argv[++i];
        } else if (arg == "--press") {
            if (!has_value) return usage_error("--press needs FRAME:BUTTONS");
            HeadlessPress press{};
            std::string error;
            if (!Headless_parse_press(argv[++i], &press, &error)) return usage_error(error);
            args->options.presses.push_back(press);
        } else if (arg == "--trace") {
            args->trace = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return EXIT_STOPPED;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (!args->rom) {
            args->rom = argv[i];
        } else {
            return usage_error("only one ROM can be run");
        }
    }
    if (!args->rom) return usage_error("no ROM given");
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    int status = parse_arguments(argc, argv, &args);
    if (status >= 0) return status;

    // The same records as the window's entry, less the host attachments.
    static Computer computer{};
    static Cartridge cartridge{};
    static uint8_t picture[FRAME_BYTES];

    if (!Computer_init(&computer)) {
        Computer_free(&computer);
        return EXIT_USAGE;
    }
    Cartridge_load(&cartridge, args.rom);
    if (!cartridge.image && !cartridge.save) {
        // The file did not open (the cartridge printed why): running an empty
        // slot would test nothing.
        std::fprintf(stderr, "lumacor-run: ROM could not be loaded: %s\n", args.rom);
        Cartridge_free(&cartridge);
        Computer_free(&computer);
        return EXIT_USAGE;
    }
    Computer_attach_cartridge(&computer, &cartridge);

    args.options.trace = args.trace ? stdout : nullptr;
    HeadlessResult result = Headless_run(&computer, args.options, picture);
    std::fflush(stdout);

    Computer_detach_cartridge(&computer);
    Cartridge_free(&cartridge);
    Computer_free(&computer);

    bool shot_failed = args.screenshot && !Screenshot_write_png(args.screenshot, picture);
    if (shot_failed) return EXIT_USAGE;
    switch (result.end) {
    case HeadlessEnd::Stopped: return EXIT_STOPPED;
    case HeadlessEnd::FrameLimit: return EXIT_FRAME_LIMIT;
    case HeadlessEnd::IllegalOpcode: return EXIT_ILLEGAL_OPCODE;
    }
    return EXIT_STOPPED;
}
