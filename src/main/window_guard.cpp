#include "main/window_guard.h"

#ifdef LUMACOR_HAVE_X11

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Xlib's handlers take no context, so the guard keeps its one window here.
::Window guarded = 0;
bool destroyed = false;
void (*lost_callback)(void*) = nullptr;
void* lost_context = nullptr;

int on_error(::Display*, XErrorEvent* error) {
    if (error->resourceid == guarded || error->error_code == BadWindow || error->error_code == BadDrawable)
        destroyed = true;
    return 0;
}

int on_io_error(::Display*) {
    std::fprintf(stderr, "lumacor: lost the connection to the display\n");
    if (lost_callback) lost_callback(lost_context);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

void WindowGuard_install(SDL_Window* window, void (*on_lost)(void* context), void* context) {
    if (!window) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    guarded = info.info.x11.window;
    lost_callback = on_lost;
    lost_context = context;
    XSetErrorHandler(on_error);
    XSetIOErrorHandler(on_io_error);
}

bool WindowGuard_window_destroyed() { return destroyed; }

#else

void WindowGuard_install(SDL_Window*, void (*)(void*), void*) {}
bool WindowGuard_window_destroyed() { return false; }

#endif
