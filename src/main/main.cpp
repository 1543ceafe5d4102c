// lumacor ROM: builds the machine, attaches a window, sound and game pads,
// loads the cartridge and runs it in real time until the program stops or the
// window is closed; then tears everything down, writing the save file.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cartridge/cartridge_file.h"
#include "cli.h"
#include "computer/computer.h"
#include "display/display.h"
#include "main/run.h"
#include "main/window_guard.h"

namespace {

// The display went away under a running game: its save RAM still goes to its file.
void save_on_lost_display(void* context) {
    auto* cartridge = static_cast<Cartridge*>(context);
    if (cartridge->save && Cartridge_write_save(cartridge))
        std::fprintf(stderr, "lumacor: save written to %s\n", Cartridge_save_path(cartridge).c_str());
}

constexpr int EXIT_NO_DISPLAY = 1;

constexpr CliTool TOOL = {
    "lumacor",
    "Plays a lumacor cartridge in a window, with sound and game pads, until its program stops or the "
    "window is closed. The save RAM is kept in ROM.sav beside the image. Arguments after the ROM are "
    "ignored.",
    "lumacor game.rom\n"
    "SDL_VIDEODRIVER=dummy lumacor game.rom    (no window: the machine runs unseen)",
    "0    the program stopped, or the window was closed\n"
    "1    there is no display to show the window on\n"
    "2    wrong usage\n"
    "255  no ROM was given (nothing is printed)",
};

void say_no_display() {
    std::fprintf(
        stderr,
        "lumacor: there is no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
        "  Start it from a desktop session, over ssh with 'ssh -X', or on a virtual X server:\n"
        "    xvfb-run lumacor GAME.rom\n"
        "  SDL_VIDEODRIVER chooses SDL's video driver yourself (kmsdrm on a console, dummy for none).\n"
        "  To run a cartridge without a window, use lumacor-run GAME.rom (see lumacor-run --help).\n");
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) return -1;
    CLI::App app;
    Cli_init(app, TOOL);
    std::string rom;
    CLI::Option* rom_given = app.add_option("ROM", rom, "the ROM image to play");
    // The first argument that is not an option is the ROM; what follows it
    // is not read.
    int read = 1;
    while (read < argc && argv[read][0] == '-' && argv[read][1] != '\0') ++read;
    read = std::min(read + 1, argc);
    if (int status = Cli_parse(app, TOOL, read, argv); status >= 0) return status;
    if (!rom_given->count()) return Cli_usage_error(app, TOOL, "no ROM given");
    if (!Display_in_reach()) {
        say_no_display();
        return EXIT_NO_DISPLAY;
    }

    // The records live for the whole run; each starts all zero.
    static Computer computer{};
    static Host host{};
    static Cartridge cartridge{};

    std::printf("sizeof Computer: %lld byte\n", static_cast<long long>(sizeof(Computer)));
    if (!Computer_init(&computer)) {
        Computer_free(&computer);
        return 1;
    }

    Display_create(&host.display, 512, 384, 256, 192);
    host.display.video = &computer.gpu;

    // The callback renders silence until both the link and the rate are set.
    host.audio.apu.store(&computer.apu, std::memory_order_release);
    AudioOut_open(&host.audio);
    computer.apu.sample_rate.store(host.audio.spec.freq, std::memory_order_relaxed);

    GamePad_discover(&host.pads, &computer.controllers);

    Cartridge_load(&cartridge, rom.c_str());
    Computer_attach_cartridge(&computer, &cartridge);
    WindowGuard_install(host.display.window, save_on_lost_display, &cartridge);
    std::fflush(stdout);

    Computer_run(&computer, &host);

    Computer_detach_cartridge(&computer);
    Cartridge_free(&cartridge);
    AudioOut_close(&host.audio);
    // Taking down a window that no longer exists would only raise X errors,
    // which the windowing library's own handler turns into a failed exit.
    if (WindowGuard_window_destroyed()) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    Display_destroy(&host.display);
    GamePad_close_all(&host.pads);
    Computer_free(&computer);
    SDL_Quit();
    return 0;
}
