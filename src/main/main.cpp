// lumacor ROM: builds the machine, attaches a window, sound and game pads,
// loads the cartridge and runs it in real time until the program stops or the
// window is closed; then tears everything down, writing the save file.
#include <SDL.h>

#include <cstdio>

#include "apu/audio_out.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "controller/gamepad.h"
#include "display/display.h"
#include "main/run.h"

int main(int argc, char* argv[]) {
    if (argc < 2) return -1;

    // The records live for the whole run; each starts all zero.
    static Computer computer{};
    static Display display{};
    static AudioOut audio{};
    static GamePad pads[2]{};
    static Cartridge cartridge{};

    std::printf("sizeof Computer: %lld byte\n", static_cast<long long>(sizeof(Computer)));
    if (!Computer_init(&computer)) {
        Computer_free(&computer);
        return 1;
    }

    Display_create(&display, 512, 384, 256, 192);
    display.video = &computer.gpu;
    computer.display = &display;

    // The callback renders silence until both the link and the rate are set.
    audio.apu.store(&computer.apu, std::memory_order_release);
    AudioOut_open(&audio);
    computer.apu.sample_rate.store(audio.spec.freq, std::memory_order_relaxed);
    computer.audio = &audio;

    GamePad_discover(&computer, &pads[0], &pads[1]);

    Cartridge_load(&cartridge, argv[1]);
    Computer_attach_cartridge(&computer, &cartridge);
    std::fflush(stdout);

    Computer_run(&computer);

    Computer_detach_cartridge(&computer);
    Cartridge_free(&cartridge);
    AudioOut_close(&audio);
    Display_destroy(&display);
    Computer_free(&computer);
    SDL_Quit();
    return 0;
}
