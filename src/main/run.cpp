#include "main/run.h"

#include <SDL.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "computer/snapshot.h"
#include "controller/keyboard.h"
#include "main/autosave.h"
#include "main/pacing.h"
#include "main/timer.h"
#include "main/window_guard.h"
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

std::string Host_state_path(const Computer* computer, int slot) {
    const Cartridge* cartridge = computer->cartridge;
    if (!cartridge || !cartridge->path) return {};
    return std::string(cartridge->path) + ".state" + std::to_string(slot);
}

namespace {

// A state file is a little over 29 KiB; a longer one is refused as too long
// by the loader, which only needs to see that there is more.
constexpr uint64_t STATE_FILE_LIMIT = 1 << 20;

void save_state(Computer* computer, int slot) {
    std::string path = Host_state_path(computer, slot);
    if (path.empty()) return;
    std::vector<uint8_t> state;
    Computer_save_state(computer, &state);
    std::string reason;
    if (!File_replace(path, state, &reason)) {
        std::fprintf(stderr, "Could not save state %s: %s\n", path.c_str(), reason.c_str());
        return;
    }
    std::printf("State saved to %s\n", path.c_str());
    std::fflush(stdout);
}

void load_state(Host* host, Computer* computer, int slot) {
    std::string path = Host_state_path(computer, slot);
    if (path.empty()) return;
    std::vector<uint8_t> state;
    std::string reason;
    if (!File_read(path, STATE_FILE_LIMIT, &state, &reason) ||
        !Computer_load_state(computer, state, &reason)) {
        std::fprintf(stderr, "Could not load state %s: %s\n", path.c_str(), reason.c_str());
        return;
    }
    // Recorded like a frame, so rewinding takes the load back.
    History_record(&host->history, computer);
    host->redraw = true;
    std::printf("State loaded from %s\n", path.c_str());
    std::fflush(stdout);
}

// Keys of the window itself rather than of the machine's controller.
void handle_window_key(Host* host, Computer* computer, const SDL_KeyboardEvent& key) {
    const bool down = key.state == SDL_PRESSED;
    const SDL_Scancode code = key.keysym.scancode;
    if (code == SDL_SCANCODE_GRAVE) host->rewinding = down;
    if (code == SDL_SCANCODE_TAB) host->hurrying = down;
    if (!down || key.repeat) return;
    if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F4) {
        int slot = code - SDL_SCANCODE_F1 + 1;
        if (key.keysym.mod & KMOD_SHIFT)
            save_state(computer, slot);
        else
            load_state(host, computer, slot);
    } else if (code == SDL_SCANCODE_F5) {
        host->reload = true;
    } else if (code == SDL_SCANCODE_F11) {
        host->fullscreen = !host->fullscreen;
        Display_set_fullscreen(&host->display, host->fullscreen);
    } else if (code == SDL_SCANCODE_P) {
        host->paused = !host->paused;
        Display_set_title(&host->display, host->paused ? "lumacor (paused)" : "lumacor");
    } else if (code == SDL_SCANCODE_N && host->paused) {
        host->advance = true;
    }
}

} // namespace

void Host_handle_event(Host* host, Computer* computer, const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN && event.key.keysym.scancode == SDL_SCANCODE_F12 && !event.key.repeat)
        save_screenshot(computer);
    if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) handle_window_key(host, computer, event.key);
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

// F5: the cartridge read again from its file, its save RAM from the save file
// just written, and the machine started afresh; a file that cannot be read
// leaves the running cartridge as it is.
void reload_cartridge(Host* host, Computer* computer) {
    Cartridge* cartridge = computer->cartridge;
    if (!cartridge || !cartridge->path) return;
    std::vector<uint8_t> check;
    std::string reason;
    if (!File_read(cartridge->path, 1, &check, &reason)) {
        std::fprintf(stderr, "Could not reload %s: %s; the running cartridge stays\n", cartridge->path,
                     reason.c_str());
        return;
    }
    Cartridge_write_save(cartridge);
    Cartridge fresh{};
    Cartridge_load(&fresh, cartridge->path, cartridge->save_path);
    if (!fresh.image) {
        std::fprintf(stderr, "Could not reload %s; the running cartridge stays\n", cartridge->path);
        return;
    }
    Cartridge_free_image(cartridge);
    *cartridge = fresh;
    Computer_reset(computer);
    Computer_start(computer);
    History_clear(&host->history);
    std::printf("Reloaded %s\n", cartridge->path);
    std::fflush(stdout);
}

} // namespace

void Host_advance(Host* host, Computer* computer, int64_t refresh_ms) {
    Display* display = &host->display;
    if (host->rewinding) {
        if (History_step_back(&host->history, computer)) Display_render(&computer->gpu, display);
        return;
    }
    if (host->paused && !host->advance) {
        if (host->redraw) Display_render(&computer->gpu, display);
        host->redraw = false;
        return;
    }
    host->advance = false;
    host->redraw = false;
    if (host->hurrying) {
        // Frames run unshown until a refresh's time is spent; the last one is
        // composed for the display.
        int64_t until = Timer_now_ms() + refresh_ms;
        do {
            FrameEnd end = Computer_run_frame(computer, nullptr);
            History_record(&host->history, computer);
            if (end != FrameEnd::Running) break;
        } while (Timer_now_ms() < until);
        Display_render(&computer->gpu, display);
        return;
    }
    Computer_run_frame(computer, Display_lock(display));
    Display_unlock(display);
    History_record(&host->history, computer);
}

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

    History_init(&host->history, REWIND_FRAMES, REWIND_BYTES);
    bool rewinding_before = false;
    do {
        if (host->reload) {
            host->reload = false;
            reload_cartridge(host, computer);
            SaveSchedule_start(&saves, Timer_now_ms(), computer->cartridge->save_changes);
        }
        AudioOut_set_silent(&host->audio, host->paused || host->rewinding || host->hurrying);
        Host_advance(host, computer, pacer.refresh_ms);
        handle_events(host, computer);
        if (WindowGuard_window_destroyed()) {
            std::printf("The window was destroyed; closing\n");
            cpu->running = 0;
            break;
        }
        Display_present(display);
        // What the frame printed shows as it happens, also through a pipe.
        std::fflush(stdout);
        if (CPU_is_running(cpu)) save_if_due(computer, &saves);
        if (host->hurrying) {
            // No catching up afterwards: the schedule starts again from now.
            FramePacer_start(&pacer, Timer_now_ms(), computer->gpu.refresh_rate);
            continue;
        }
        // Rewinding steps back one frame a refresh from the press on: frames
        // a slow host fell behind by are not made up as a burst backwards.
        if (host->rewinding && !rewinding_before)
            FramePacer_start(&pacer, Timer_now_ms(), computer->gpu.refresh_rate);
        rewinding_before = host->rewinding;
        int64_t sleep_ms = FramePacer_next(&pacer, Timer_now_ms());
        if (sleep_ms > 0) SDL_Delay(static_cast<Uint32>(sleep_ms));
    } while (CPU_is_running(cpu));
    History_free(&host->history);
}
