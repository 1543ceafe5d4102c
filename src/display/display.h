// The host display: a 512 x 384 window titled "lumacor", an accelerated
// renderer and a 256 x 192 ARGB8888 streaming texture that the video unit
// composes into once per frame and that is drawn scaled 2 x over the window.
// A display whose creation failed keeps null handles; rendering and
// presenting it then change nothing.
#pragma once

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct GPU;

struct Display {
    GPU* video;
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
};

// Whether a window can be shown at all: on X11 and Wayland systems a display
// must be named (DISPLAY or WAYLAND_DISPLAY), or SDL's video driver chosen on
// purpose (SDL_VIDEODRIVER). Without either SDL would fall back to a driver
// that shows nothing, and the program would run unseen.
bool Display_in_reach();

int Display_create(Display* display, int window_width, int window_height, int texture_width,
                   int texture_height);
void Display_render(const GPU* gpu, Display* display);
// The texture's pixels for the machine to compose the next frame into, or
// null when the display has no texture; Display_unlock ends the access.
uint8_t* Display_lock(Display* display);
void Display_unlock(Display* display);
void Display_present(Display* display);
// Fullscreen on the desktop's resolution, the picture scaled by the largest
// whole factor that fits and centred on black; off restores the window.
void Display_set_fullscreen(Display* display, bool fullscreen);
void Display_set_title(Display* display, const char* title);
void Display_destroy(Display* display);
