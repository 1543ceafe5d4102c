#include "main/run.h"

#include <SDL.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "controller/keyboard.h"
#include "main/autosave.h"
#include "main/pacing.h"
#include "main/timer.h"
#include "screenshot/screenshot.h"

namespace {

// F12: the picture as it stands, composed afresh from video memory so it does
// not depend on reading the texture back, saved beside the ROM.
void save_screenshot(Computer* computer) {
    const Cartridge* cartridge = computer->cartridge;
    if (!cartridge || !cartridge->path) return;
    std::vector<uint8_t> pixels(FRAME_BYTES);
    GPU_compose(&computer->gpu, pixels.data());
    std::string path = Screenshot_save_next(cartridge->path, pixels.data());
    if (path.empty()) return;
    std::printf("Screenshot saved to %s\n", path.c_str());
    std::fflush(stdout);
}

} // namespace

void Host_handle_event(Host* host, Computer* computer, const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN && event.key.keysym.scancode == SDL_SCANCODE_F12 && !event.key.repeat)
        save_screenshot(computer);
    switch (event.type) {
    case SDL_QUIT: computer->cpu.running = 0; break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: GamePad_handle_event(&host->pads, &event.cbutton); break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: Keyboard_handle_event(&computer->controllers, &event.key); break;
    case SDL_CONTROLLERDEVICEADDED: GamePad_handle_added(&host->pads, &event.cdevice); break;
    case SDL_CONTROLLERDEVICEREMOVED: GamePad_handle_removed(&host->pads, &event.cdevice); break;
    default: break;
    }
}

namespace {

void handle_events(Host* host, Computer* computer) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) Host_handle_event(host, computer, event);
}

// Save RAM that changed goes to its file while the machine runs, silently, so
// a crash or a kill loses at most about a second of it. The write at exit
// still happens as before.
void save_if_due(const Computer* computer, SaveSchedule* schedule) {
    const Cartridge* cartridge = computer->cartridge;
    if (!cartridge || !cartridge->save) return;
    int64_t now = Timer_now_ms();
    if (!SaveSchedule_due(schedule, now, cartridge->save_changes)) return;
    std::string error;
    bool written = Cartridge_store_save(cartridge, &error);
    if (SaveSchedule_done(schedule, now, cartridge->save_changes, written))
        std::fprintf(stderr, "%s\n", error.c_str());
}

} // namespace

void Computer_run(Computer* computer, Host* host) {
    Display* display = &host->display;
    CPU* cpu = &computer->cpu;
    Timer_init();
    Computer_start(computer);
    FramePacer pacer;
    FramePacer_start(&pacer, Timer_now_ms(), computer->gpu.refresh_rate);
    SaveSchedule saves;
    SaveSchedule_start(&saves, Timer_now_ms(), computer->cartridge ? computer->cartridge->save_changes : 0);
    std::printf("CPU clock rate: %ld Hz\n", static_cast<long>(cpu->clock_rate));
    std::printf("Video refresh rate: %ld Hz\n", static_cast<long>(computer->gpu.refresh_rate));
    std::printf("CPU cycles per frame: %ld\n", static_cast<long>(Computer_cycles_per_frame(computer)));
    std::printf("Refresh time: %lld ms\n", static_cast<long long>(pacer.refresh_ms));
    std::fflush(stdout);

    do {
        Computer_run_frame(computer, Display_lock(display));
        Display_unlock(display);
        handle_events(host, computer);
        Display_present(display);
        if (CPU_is_running(cpu)) save_if_due(computer, &saves);
        int64_t sleep_ms = FramePacer_next(&pacer, Timer_now_ms());
        if (sleep_ms > 0) SDL_Delay(static_cast<Uint32>(sleep_ms));
    } while (CPU_is_running(cpu));
}
