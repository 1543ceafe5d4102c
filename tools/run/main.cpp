// lumacor-run ROM [options]: see --help.
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
#include "cli.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "computer/snapshot.h"
#include "debug_info.h"
#include "headless.h"
#include "screenshot/screenshot.h"
#include "wav.h"

namespace {

constexpr int EXIT_STOPPED = 0;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FRAME_LIMIT = 3;
constexpr int EXIT_ILLEGAL_OPCODE = 4;

constexpr CliTool TOOL = {
    "lumacor-run",
    "Runs a cartridge headless and unthrottled through the same machine as the window, printing what "
    "the machine prints; writes the save file and, if asked, the last picture, the machine state and "
    "the sound.",
    "lumacor-run game.rom --frames 300 --press 60:start --screenshot last.png\n"
    "lumacor-run game.rom --frames 600 --no-save --wav game.wav --wav-format s16",
    "0  the program stopped itself (HALT, or RET at the outermost level)\n"
    "2  wrong usage, an unreadable ROM, state or debug information, or an output that could not be "
    "written\n"
    "3  the frame limit was reached\n"
    "4  the CPU met an illegal opcode",
};

struct Arguments {
    std::string rom_arg, screenshot_arg, load_state_arg, save_state_arg, save_arg, wav_arg, debug_info_arg;
    // The options given, null where absent.
    const char* rom = nullptr;
    const char* screenshot = nullptr;
    const char* load_state = nullptr;
    const char* save_state = nullptr;
    const char* save = nullptr;
    const char* wav = nullptr;
    const char* debug_info = nullptr;
    WavFormat wav_format = WavFormat::Float32;
    bool no_save = false;
    bool quiet = false;
    bool trace = false;
    HeadlessOptions options;
};

// The largest state file worth reading: anything longer is refused as too
// long by the loader all the same.
constexpr uint64_t STATE_FILE_LIMIT = 1 << 20;
constexpr uint64_t DEBUG_INFO_LIMIT = uint64_t{1} << 30;

// Counts and frame numbers: 0 or more (CLI11 refuses what is not a number).
const CLI::Validator WHOLE_NUMBER(
    [](const std::string& text) {
        return text.starts_with('-') ? std::string("needs a whole number, 0 or more") : std::string();
    },
    "");

// Returns the exit status when the program should end here (a usage error,
// or --help), or -1 to go on and run the ROM.
int parse_arguments(int argc, char** argv, Arguments* args) {
    CLI::App app;
    Cli_init(app, TOOL);
    std::vector<std::string> presses;
    std::string wav_format = "f32";
    app.add_option("ROM", args->rom_arg, "the ROM image to run")->required();
    app.add_option("--frames", args->options.frame_limit,
                   "stop after N frames if the program has not stopped (default 600)")
        ->type_name("N")
        ->check(WHOLE_NUMBER);
    app.add_option("--screenshot", args->screenshot_arg, "save the last frame as a 256x192 PNG")
        ->type_name("FILE.png");
    app.add_option("--press", presses,
                   "from frame FRAME (counted from 0) pad 1 holds exactly BUTTONS: up, down, left, right, "
                   "start, back, a, x joined by '+', or none; FRAME:2/BUTTONS sets pad 2 (0xFF0B) instead; "
                   "may repeat")
        ->type_name("FRAME:BUTTONS")
        ->allow_extra_args(false);
    app.add_flag(
        "--trace", args->trace,
        "print each instruction before it runs, each frame's start and the interrupts taken and left");
    auto* trace_from = app.add_option("--trace-from", args->options.trace_from,
                                      "trace from frame FRAME (counted from 0) on; implies --trace")
                           ->type_name("FRAME")
                           ->check(WHOLE_NUMBER);
    app.add_option("--debug-info", args->debug_info_arg,
                   "name labels in the trace from the assembler's debug information (lumacor-asm -g; "
                   "default ROM.dbg when it exists)")
        ->type_name("FILE");
    app.add_option("--load-state", args->load_state_arg,
                   "start from a machine state saved by --save-state or the window")
        ->type_name("FILE");
    app.add_option("--save-state", args->save_state_arg, "save the machine state after the last frame")
        ->type_name("FILE");
    auto* save =
        app.add_option("--save", args->save_arg, "read and write the save RAM in FILE instead of ROM.sav")
            ->type_name("FILE");
    app.add_flag("--no-save", args->no_save, "start with blank save RAM and write no save file")
        ->excludes(save);
    auto* wav = app.add_option("--wav", args->wav_arg, "write the run's sound (48 kHz, mono) as a WAV file")
                    ->type_name("FILE");
    app.add_option("--wav-format", wav_format,
                   "the WAV file's samples: f32 (32-bit float, the default) or s16 (16-bit integer)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"f32", "s16"}).description(""))
        ->needs(wav);
    app.add_flag("--quiet", args->quiet, "print no diagnostic lines, only errors");
    if (int status = Cli_parse(app, TOOL, argc, argv); status >= 0) return status;

    for (const std::string& text : presses) {
        HeadlessPress press{};
        std::string error;
        if (!Headless_parse_press(text, &press, &error)) return Cli_usage_error(app, TOOL, error);
        args->options.presses.push_back(press);
    }
    args->trace = args->trace || trace_from->count() > 0;
    args->wav_format = wav_format == "s16" ? WavFormat::Int16 : WavFormat::Float32;
    auto given = [](const std::string& text) { return text.empty() ? nullptr : text.c_str(); };
    args->rom = args->rom_arg.c_str();
    args->screenshot = given(args->screenshot_arg);
    args->load_state = given(args->load_state_arg);
    args->save_state = given(args->save_state_arg);
    args->save = save->count() ? args->save_arg.c_str() : nullptr;
    args->wav = given(args->wav_arg);
    args->debug_info = given(args->debug_info_arg);
    // An output whose folder is missing is refused now, not after a long run.
    for (const char* output : {args->screenshot, args->save_state, args->wav, args->save}) {
        if (!output) continue;
        std::error_code error;
        std::filesystem::path folder = std::filesystem::path(output).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
            return Cli_usage_error(app, TOOL,
                                   std::string("cannot write ") + output + ": no folder " + folder.string());
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
    if (args.wav) {
        std::vector<uint8_t> file;
        if (Wav_encode(sound, SOUND_RATE, args.wav_format, &file)) {
            written = write_file(args.wav, file, "sound") && written;
        } else {
            std::fprintf(stderr, "lumacor-run: could not write sound %s: too long for a WAV file\n",
                         args.wav);
            written = false;
        }
    }

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
