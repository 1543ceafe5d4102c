// lumacor ROM: builds the machine, attaches a window, sound and game pads,
// loads the cartridge and runs it in real time until the program stops or the
// window is closed; then tears everything down, writing the save file.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "main/run.h"
#include "main/window_guard.h"

namespace {

// The display went away under a running game: its save RAM still goes to its file.
void save_on_lost_display(void* context) {
    auto* cartridge = static_cast<Cartridge*>(context);
    if (cartridge->save && Cartridge_write_save(cartridge))
        std::fprintf(stderr, "lumacor: save written to %s\n", Cartridge_save_path(cartridge).c_str());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) return -1;

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

    Cartridge_load(&cartridge, argv[1]);
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
