#include "window.h"

#include <SDL.h>

#include <cstring>
#include <vector>

#include "controller/keyboard.h"
#include "main/pacing.h"
#include "main/run.h"
#include "main/timer.h"

namespace {

struct Window {
    Host host;
    FramePacer pacer;
    std::vector<SDL_Event> held; // input that waits for the next frame
    std::vector<uint8_t> picture;
    bool closed;
    bool exposed; // the desktop asks for the window's picture again
    bool silent;  // the sound is paused while the program is stopped
};

Window window{};

bool is_input(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
    case SDL_CONTROLLERDEVICEADDED:
    case SDL_CONTROLLERDEVICEREMOVED: return true;
    default: return false;
    }
}

void poll(Session* session) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT)
            window.closed = true;
        else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED)
            window.exposed = true;
        else if (is_input(event))
            window.held.push_back(event);
    }
    (void)session;
}

// Before a frame's first instruction the input held since the last one is
// applied, as lumacor applies events between frames. Only the machine's
// input: the window program's own keys (states, rewinding, pausing) would
// change the machine behind the debugger's back, which does those itself.
void frame_start(void*, Session* session) {
    for (const SDL_Event& event : window.held) {
        switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: Keyboard_handle_event(&session->computer.controllers, &event.key); break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP: GamePad_handle_event(&window.host.pads, &event.cbutton); break;
        case SDL_CONTROLLERDEVICEADDED: GamePad_handle_added(&window.host.pads, &event.cdevice); break;
        case SDL_CONTROLLERDEVICEREMOVED: GamePad_handle_removed(&window.host.pads, &event.cdevice); break;
        default: break;
        }
    }
    window.held.clear();
}

} // namespace

bool Window_open(Session* s, std::string* error) {
    Display_create(&window.host.display, 512, 384, 256, 192);
    if (!window.host.display.window) {
        *error = SDL_GetError();
        return false;
    }
    window.host.display.video = &s->computer.gpu;
    window.host.audio.apu.store(&s->computer.apu, std::memory_order_release);
    AudioOut_open(&window.host.audio);
    s->computer.apu.sample_rate.store(window.host.audio.spec.freq, std::memory_order_relaxed);
    GamePad_discover(&window.host.pads, &s->computer.controllers);
    window.picture.assign(FRAME_BYTES, 0);
    s->picture = window.picture.data();
    s->host = SessionHost{nullptr, frame_start};
    Timer_init();
    FramePacer_start(&window.pacer, Timer_now_ms(), s->computer.gpu.refresh_rate);
    return true;
}

void Window_close(Session* session) {
    session->picture = nullptr;
    session->host = SessionHost{};
    AudioOut_close(&window.host.audio);
    Display_destroy(&window.host.display);
    GamePad_close_all(&window.host.pads);
    SDL_Quit();
}

namespace {

void set_silent(bool silent) {
    if (window.silent == silent || !window.host.audio.device) return;
    SDL_PauseAudioDevice(window.host.audio.device, silent ? 1 : 0);
    window.silent = silent;
}

} // namespace

void Window_frame_shown(Session* session) {
    set_silent(false);
    if (uint8_t* pixels = Display_lock(&window.host.display)) {
        std::memcpy(pixels, window.picture.data(), FRAME_BYTES);
        Display_unlock(&window.host.display);
    }
    Display_present(&window.host.display);
    poll(session);
    if (window.closed) session->computer.cpu.running = 0;
    int64_t sleep_ms = FramePacer_next(&window.pacer, Timer_now_ms());
    if (sleep_ms > 0) SDL_Delay(static_cast<Uint32>(sleep_ms));
}

bool Window_poll(Session* session) {
    poll(session);
    // A stopped program's window is redrawn from its last picture (still in
    // the texture) when the desktop asks; its sound holds no note; and the
    // pacing starts afresh when it runs on.
    if (window.exposed) Display_present(&window.host.display);
    window.exposed = false;
    set_silent(true);
    FramePacer_start(&window.pacer, Timer_now_ms(), session->computer.gpu.refresh_rate);
    return window.closed;
}
