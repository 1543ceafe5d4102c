// lumacor-run ROM [options]: see USAGE below.
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
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "debug_info.h"
#include "headless.h"
#include "screenshot/screenshot.h"

namespace {

constexpr int EXIT_STOPPED = 0;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FRAME_LIMIT = 3;
constexpr int EXIT_ILLEGAL_OPCODE = 4;

constexpr const char* USAGE =
    "usage: lumacor-run ROM [options]\n"
    "  --frames N             stop after N frames if the program has not stopped (default 600)\n"
    "  --screenshot FILE.png  save the last frame as a 256x192 PNG\n"
    "  --press FRAME:BUTTONS  from frame FRAME (counted from 0) pad 1 holds exactly BUTTONS:\n"
    "                         up, down, left, right, start, back, a, x joined by '+', or none;\n"
    "                         FRAME:2/BUTTONS sets pad 2 (0xFF0B) instead\n"
    "  --trace                print each instruction before it runs, each frame's start\n"
    "                         and the interrupts taken and left\n"
    "  --trace-from FRAME     trace from frame FRAME (counted from 0) on; implies --trace\n"
    "  --debug-info FILE      name labels in the trace from the assembler's debug\n"
    "                         information (lumacor-asm -g; default ROM.dbg when it exists)\n"
    "  --load-state FILE      start from a machine state saved by --save-state or the window\n"
    "  --save-state FILE      save the machine state after the last frame\n"
    "  --save FILE            read and write the save RAM in FILE instead of ROM.sav\n"
    "  --no-save              start with blank save RAM and write no save file\n"
    "  --wav FILE             write the run's sound (48 kHz, 32-bit float, mono) as a WAV file\n"
    "  --quiet                print no diagnostic lines, only errors\n"
    "exit status: 0 the program stopped itself, 3 frame limit reached, 4 illegal opcode,\n"
    "             2 bad arguments or unreadable ROM\n";

struct Arguments {
    const char* rom = nullptr;
    const char* screenshot = nullptr;
    const char* load_state = nullptr;
    const char* save_state = nullptr;
    const char* save = nullptr;
    const char* wav = nullptr;
    const char* debug_info = nullptr;
    bool no_save = false;
    bool quiet = false;
    bool trace = false;
    HeadlessOptions options;
};

// The largest state file worth reading: anything longer is refused as too
// long by the loader all the same.
constexpr uint64_t STATE_FILE_LIMIT = 1 << 20;
constexpr uint64_t DEBUG_INFO_LIMIT = uint64_t{1} << 30;

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
        } else if (arg == "--trace-from") {
            if (!has_value || !parse_count(argv[++i], &args->options.trace_from))
                return usage_error("--trace-from needs a frame number");
            args->trace = true;
        } else if (arg == "--debug-info") {
            if (!has_value) return usage_error("--debug-info needs a file name");
            args->debug_info = argv[++i];
        } else if (arg == "--load-state" || arg == "--save-state" || arg == "--save" || arg == "--wav") {
            if (!has_value) return usage_error(arg + " needs a file name");
            const char* file = argv[++i];
            if (arg == "--load-state")
                args->load_state = file;
            else if (arg == "--save-state")
                args->save_state = file;
            else if (arg == "--save")
                args->save = file;
            else
                args->wav = file;
        } else if (arg == "--no-save") {
            args->no_save = true;
        } else if (arg == "--quiet") {
            args->quiet = true;
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
    if (args->save && args->no_save) return usage_error("--save and --no-save exclude each other");
    // An output whose folder is missing is refused now, not after a long run.
    for (const char* output : {args->screenshot, args->save_state, args->wav, args->save}) {
        if (!output) continue;
        std::error_code error;
        std::filesystem::path folder = std::filesystem::path(output).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
            return usage_error(std::string("cannot write ") + output + ": no folder " + folder.string());
    }
    return -1;
}

// The debug information that names the trace's labels: the file given, or
// ROM.dbg when there is one. Only a file given by name must be readable.
bool load_debug_info(const Arguments& args, DebugInfo* info, bool* loaded) {
    std::string path = args.debug_info ? args.debug_info : std::string(args.rom) + ".dbg";
    std::vector<uint8_t> bytes;
    std::string reason;
    *loaded = false;
    if (!File_read(path, DEBUG_INFO_LIMIT, &bytes, &reason)) {
        if (!args.debug_info) return true;
        std::fprintf(stderr, "lumacor-run: could not read debug information %s: %s\n", path.c_str(),
                     reason.c_str());
        return false;
    }
    if (!DebugInfo_parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), info,
                         &reason)) {
        std::fprintf(stderr, "lumacor-run: debug information %s: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    *loaded = true;
    return true;
}

void errors_only(void*, bool is_error, const char* text) {
    if (is_error) std::fputs(text, stderr);
}

bool write_file(const char* path, std::span<const uint8_t> bytes, const char* what) {
    std::string reason;
    if (File_replace(path, bytes, &reason)) return true;
    std::fprintf(stderr, "lumacor-run: could not write %s %s: %s\n", what, path, reason.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    int status = parse_arguments(argc, argv, &args);
    if (status >= 0) return status;
    static DebugInfo debug_info;
    bool have_debug_info = false;
    if (args.trace && !load_debug_info(args, &debug_info, &have_debug_info)) return EXIT_USAGE;

    // The same records as the window's entry, less the host attachments.
    static Computer computer{};
    static Cartridge cartridge{};
    static uint8_t picture[FRAME_BYTES];

    if (args.quiet) Log_set_sink(errors_only, nullptr);
    if (!Computer_init(&computer)) {
        Computer_free(&computer);
        return EXIT_USAGE;
    }
    Cartridge_load(&cartridge, args.rom, args.no_save ? "" : args.save);
    if (!cartridge.image && !cartridge.save) {
        // The file did not open (the cartridge printed why): running an empty
        // slot would test nothing.
        std::fprintf(stderr, "lumacor-run: ROM could not be loaded: %s\n", args.rom);
        Cartridge_free(&cartridge);
        Computer_free(&computer);
        return EXIT_USAGE;
    }
    Computer_attach_cartridge(&computer, &cartridge);
    // Labels of another image would name the wrong places.
    std::string mismatch;
    if (have_debug_info &&
        !DebugInfo_describes(&debug_info, cartridge.image_crc, cartridge.image_size, &mismatch)) {
        std::fprintf(stderr, "lumacor-run: the debug information %s: the trace shows addresses\n",
                     mismatch.c_str());
        have_debug_info = false;
    }

    if (args.load_state) {
        std::vector<uint8_t> state;
        std::string reason;
        Computer_start(&computer);
        if (!File_read(args.load_state, STATE_FILE_LIMIT, &state, &reason) ||
            !Computer_load_state(&computer, state, &reason)) {
            std::fprintf(stderr, "lumacor-run: could not load state %s: %s\n", args.load_state,
                         reason.c_str());
            Computer_detach_cartridge(&computer);
            cartridge.save_path = ""; // nothing ran: leave the save file as it is
            Cartridge_free(&cartridge);
            Computer_free(&computer);
            return EXIT_USAGE;
        }
        args.options.resume = true;
    }
    std::vector<float> sound;
    if (args.wav) args.options.sound = &sound;
    args.options.trace = args.trace ? stdout : nullptr;
    args.options.trace_info = have_debug_info ? &debug_info : nullptr;
    HeadlessResult result = Headless_run(&computer, args.options, picture);
    std::fflush(stdout);
    bool written = true;
    if (args.save_state) {
        std::vector<uint8_t> state;
        Computer_save_state(&computer, &state);
        written = write_file(args.save_state, state, "state");
    }
    if (args.wav) written = write_file(args.wav, Headless_wav_file(sound), "sound") && written;

    Computer_detach_cartridge(&computer);
    Cartridge_free(&cartridge);
    Computer_free(&computer);

    bool shot_failed = args.screenshot && !Screenshot_write_png(args.screenshot, picture);
    if (shot_failed || !written) return EXIT_USAGE;
    switch (result.end) {
    case HeadlessEnd::Stopped: return EXIT_STOPPED;
    case HeadlessEnd::FrameLimit: return EXIT_FRAME_LIMIT;
    case HeadlessEnd::IllegalOpcode: return EXIT_ILLEGAL_OPCODE;
    }
    return EXIT_STOPPED;
}
