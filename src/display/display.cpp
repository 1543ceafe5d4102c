#include "display/display.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "gpu/gpu.h"

bool Display_in_reach() {
#if defined(_WIN32) || defined(__APPLE__) || defined(__ANDROID__) || defined(__EMSCRIPTEN__)
    return true; // the system's own window server is always there
#else
    for (const char* name : {"SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
#endif
}

int Display_create(Display* display, int window_width, int window_height, int texture_width,
                   int texture_height) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::printf("SDL_Init Error: %s\n", SDL_GetError());
        return -1;
    }
    SDL_Window* window = SDL_CreateWindow("lumacor", 100, 100, window_width, window_height, SDL_WINDOW_SHOWN);
    if (!window) {
        std::printf("SDL_CreateWindow Error: %s\n", SDL_GetError());
        SDL_Quit();
        return -1;
    }
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) {
        std::printf("SDL_CreateRenderer Error: %s\n", SDL_GetError());
        SDL_DestroyWindow(window);
        SDL_Quit();
        return -1;
    }
    SDL_Texture* texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                             texture_width, texture_height);
    if (!texture) {
        std::printf("SDL_CreateTexture Error: %s\n", SDL_GetError());
        // Nothing else will ever release these two.
        SDL_DestroyRenderer(renderer);
        SDL_DestroyWindow(window);
        SDL_Quit();
        return -1;
    }
    // The picture keeps its shape whatever size the window is given: scaled
    // to fit, centred, the rest black.
    SDL_RenderSetLogicalSize(renderer, texture_width, texture_height);
    display->texture = texture;
    display->window = window;
    display->renderer = renderer;
    return 0;
}

void Display_render(const GPU* gpu, Display* display) {
    // A display without a texture has no memory to compose into.
    if (!display->texture) return;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(display->texture, nullptr, &pixels, &pitch) != 0 || !pixels) return;
    GPU_compose(gpu, static_cast<uint8_t*>(pixels));
    SDL_UnlockTexture(display->texture);
}

uint8_t* Display_lock(Display* display) {
    if (!display->texture) return nullptr;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(display->texture, nullptr, &pixels, &pitch) != 0) return nullptr;
    return static_cast<uint8_t*>(pixels);
}

void Display_unlock(Display* display) {
    if (display->texture) SDL_UnlockTexture(display->texture);
}

void Display_present(Display* display) {
    SDL_RenderClear(display->renderer);
    SDL_RenderCopy(display->renderer, display->texture, nullptr, nullptr);
    SDL_RenderPresent(display->renderer);
}

void Display_set_fullscreen(Display* display, bool fullscreen) {
    if (!display->window) return;
    // Whole multiples only on the desktop's screen, so every texel is the
    // same size; the window goes back to its own size and place after.
    SDL_SetWindowFullscreen(display->window, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    SDL_RenderSetIntegerScale(display->renderer, fullscreen ? SDL_TRUE : SDL_FALSE);
}

void Display_set_title(Display* display, const char* title) {
    if (display->window) SDL_SetWindowTitle(display->window, title);
}

void Display_destroy(Display* display) {
    display->video = nullptr;
    if (display->texture) {
        SDL_DestroyTexture(display->texture);
        display->texture = nullptr;
    }
    if (display->renderer) {
        SDL_DestroyRenderer(display->renderer);
        display->renderer = nullptr;
    }
    if (display->window) {
        SDL_DestroyWindow(display->window);
        display->window = nullptr;
    }
}
