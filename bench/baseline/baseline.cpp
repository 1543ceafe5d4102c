// lumacor-baseline: the least a program can do to show lumacor's picture.
// The same window (512 x 384 at 100, 100), the same accelerated renderer and
// the same 256 x 192 ARGB8888 streaming texture, filled once, then presented
// on lumacor's absolute schedule of one frame every 16 ms, sleeping with
// SDL_Delay in between, until the window is closed or SIGINT arrives.
// Measuring lumacor beside it tells what the emulation itself costs.
#include <SDL.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr int WINDOW_WIDTH = 512;
constexpr int WINDOW_HEIGHT = 384;
constexpr int TEXTURE_WIDTH = 256;
constexpr int TEXTURE_HEIGHT = 192;
constexpr Uint64 REFRESH_MS = 16;

// Eight colour bars, so that a screenshot shows the window is alive.
void fill_texture(SDL_Texture* texture) {
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0) return;
    for (int y = 0; y < TEXTURE_HEIGHT; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(pixels) + y * pitch);
        for (int x = 0; x < TEXTURE_WIDTH; ++x) {
            int bar = x / (TEXTURE_WIDTH / 8);
            row[x] = 0xFF000000u | (bar & 4 ? 0xFF0000u : 0) | (bar & 2 ? 0x00FF00u : 0) |
                     (bar & 1 ? 0x0000FFu : 0);
        }
    }
    SDL_UnlockTexture(texture);
}

} // namespace

int main(int, char**) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::printf("SDL_Init Error: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window* window =
        SDL_CreateWindow("lumacor-baseline", 100, 100, WINDOW_WIDTH, WINDOW_HEIGHT, SDL_WINDOW_SHOWN);
    SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED) : nullptr;
    SDL_Texture* texture = renderer
                               ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                                   SDL_TEXTUREACCESS_STREAMING, TEXTURE_WIDTH, TEXTURE_HEIGHT)
                               : nullptr;
    if (!texture) {
        std::printf("SDL Error: %s\n", SDL_GetError());
        if (renderer) SDL_DestroyRenderer(renderer);
        if (window) SDL_DestroyWindow(window);
        SDL_Quit();
        return 1;
    }
    fill_texture(texture);

    Uint64 deadline = SDL_GetTicks64();
    unsigned long frames = 0;
    for (bool running = true; running;) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            if (event.type == SDL_QUIT) running = false;
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
        ++frames;
        deadline += REFRESH_MS;
        Uint64 now = SDL_GetTicks64();
        if (deadline > now) SDL_Delay(static_cast<Uint32>(deadline - now));
    }
    std::printf("frames: %lu\n", frames);

    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
