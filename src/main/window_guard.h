// The last save when the window goes away other than by a close request. A
// window destroyed from outside (a window manager's kill, `xdotool
// windowclose`) turns every later drawing call into an X error, and a lost
// connection to the display into an X I/O error, which by default end the
// process at once without the final save. The guard takes both: a destroyed
// window is reported, so the frame loop can end as after a close; a lost
// display calls `on_lost` (which writes the save and says so) before the
// process exits with status 1, since nothing can be drawn any more.
// Without X11 (another video driver, a build without Xlib) it does nothing.
#pragma once

struct SDL_Window;

void WindowGuard_install(SDL_Window* window, void (*on_lost)(void* context), void* context);
// True once an X error named the window: it no longer exists.
bool WindowGuard_window_destroyed();
