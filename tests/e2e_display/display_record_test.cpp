// The Display record's operations in the test's own process: what SDL is
// asked for when a window can be had (on the test's own X server), and what
// is left behind when it cannot.
#include <gtest/gtest.h>

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "gpu/gpu.h"
#include "virtual_screen.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
// The X and GL driver libraries keep allocations the leak checker cannot
// read (the GL driver is unloaded before it reports); what SDL allocates
// while one of these lives is left out of the report.
struct DriverAllocations {
    DriverAllocations() { __lsan_disable(); }
    ~DriverAllocations() { __lsan_enable(); }
};
#else
struct DriverAllocations {
    DriverAllocations() {}
};
#endif

// The test executable is linked with these SDL calls wrapped, so that the
// order in which the display hands its objects back can be checked.
std::vector<std::string> sdl_calls;

extern "C" {
void __real_SDL_DestroyWindow(SDL_Window* window);
void __real_SDL_DestroyRenderer(SDL_Renderer* renderer);
void __real_SDL_Quit();
void __real_SDL_DestroyTexture(SDL_Texture* texture);
void __wrap_SDL_DestroyTexture(SDL_Texture* texture) {
    if (texture) sdl_calls.push_back("SDL_DestroyTexture");
    __real_SDL_DestroyTexture(texture);
}
void __wrap_SDL_DestroyWindow(SDL_Window* window) {
    if (window) sdl_calls.push_back("SDL_DestroyWindow");
    __real_SDL_DestroyWindow(window);
}
void __wrap_SDL_DestroyRenderer(SDL_Renderer* renderer) {
    if (renderer) sdl_calls.push_back("SDL_DestroyRenderer");
    __real_SDL_DestroyRenderer(renderer);
}
void __wrap_SDL_Quit() {
    sdl_calls.push_back("SDL_Quit");
    __real_SDL_Quit();
}
}

namespace {

using Calls = std::vector<std::string>;

// What the process prints on standard output while one of these lives.
struct StandardOutput {
    StandardOutput() : file(std::tmpfile()) {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        dup2(fileno(file), STDOUT_FILENO);
    }
    ~StandardOutput() {
        restore();
        std::fclose(file);
    }
    void restore() {
        if (saved < 0) return;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
    }
    std::string text() {
        restore();
        std::string all;
        std::rewind(file);
        for (int c; (c = std::fgetc(file)) != EOF;) all += char(c);
        return all;
    }
    std::FILE* file;
    int saved = -1;
};

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

class DisplayRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(GPU_init(&gpu));
        // Something to compose, so that a stray composition would show.
        for (int i = 0; i < VRAM_SIZE; ++i) gpu.vram[i] = uint8_t(i * 13);
        vram_before.assign(gpu.vram, gpu.vram + VRAM_SIZE);
    }
    void TearDown() override { GPU_free(&gpu); }

    // A record whose creation failed keeps exactly what it held before.
    void expect_failed_creation_kept_the_record(const Display& display) {
        EXPECT_EQ(display.video, &gpu);
        EXPECT_EQ(display.window, nullptr);
        EXPECT_EQ(display.renderer, nullptr);
        EXPECT_EQ(display.texture, nullptr);
    }
    // Rendering, presenting and destroying (twice) a display without
    // handles change nothing and crash nothing.
    void expect_handleless_display_is_inert(Display* display) {
        Display_render(&gpu, display);
        Display_present(display);
        EXPECT_EQ(std::memcmp(vram_before.data(), gpu.vram, VRAM_SIZE), 0);
        Display_destroy(display);
        Display_destroy(display);
        EXPECT_EQ(display->video, nullptr);
        EXPECT_EQ(display->window, nullptr);
        EXPECT_EQ(display->renderer, nullptr);
        EXPECT_EQ(display->texture, nullptr);
    }

    GPU gpu{};
    std::vector<uint8_t> vram_before;
};

TEST_F(DisplayRecord, WithoutRendererCreationFailsAndLeavesNothingBehind) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    Display display{};
    display.video = &gpu;
    StandardOutput out;
    sdl_calls.clear();
    EXPECT_EQ(Display_create(&display, 512, 384, 256, 192), -1);
    EXPECT_EQ(sdl_calls, (Calls{"SDL_DestroyWindow", "SDL_Quit"}));
    std::string printed = out.text();
    EXPECT_TRUE(starts_with(printed, "SDL_CreateRenderer Error: ")) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
    expect_failed_creation_kept_the_record(display);
    // The window was destroyed and the video subsystem shut down again.
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    expect_handleless_display_is_inert(&display);
}

TEST_F(DisplayRecord, WithoutVideoCreationFailsAndLeavesNothingBehind) {
    setenv("SDL_VIDEODRIVER", "no-such-video-driver", 1);
    Display display{};
    display.video = &gpu;
    StandardOutput out;
    sdl_calls.clear();
    EXPECT_EQ(Display_create(&display, 512, 384, 256, 192), -1);
    EXPECT_EQ(sdl_calls, Calls{});
    std::string printed = out.text();
    EXPECT_EQ(printed, "SDL_Init Error: no-such-video-driver not available\n");
    expect_failed_creation_kept_the_record(display);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    expect_handleless_display_is_inert(&display);
}

TEST_F(DisplayRecord, OnAScreenItHoldsTheWindowRendererAndTextureAskedFor) {
    VirtualScreen screen;
    std::string error;
    ASSERT_TRUE(VirtualScreen_start(&screen, &error)) << error;
    setenv("DISPLAY", screen.display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    {
        DriverAllocations driver_allocations;
        Display display{};
        ASSERT_EQ(Display_create(&display, 512, 384, 256, 192), 0) << SDL_GetError();
        ASSERT_NE(display.window, nullptr);
        ASSERT_NE(display.renderer, nullptr);
        ASSERT_NE(display.texture, nullptr);

        EXPECT_STREQ(SDL_GetWindowTitle(display.window), "lumacor");
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(display.window, &x, &y);
        SDL_GetWindowSize(display.window, &w, &h);
        EXPECT_EQ(x, 100);
        EXPECT_EQ(y, 100);
        EXPECT_EQ(w, 512);
        EXPECT_EQ(h, 384);
        Uint32 flags = SDL_GetWindowFlags(display.window);
        EXPECT_TRUE(flags & SDL_WINDOW_SHOWN);
        EXPECT_FALSE(flags & (SDL_WINDOW_RESIZABLE | SDL_WINDOW_FULLSCREEN |
                              SDL_WINDOW_FULLSCREEN_DESKTOP));

        SDL_RendererInfo info{};
        ASSERT_EQ(SDL_GetRendererInfo(display.renderer, &info), 0);
        EXPECT_TRUE(info.flags & SDL_RENDERER_ACCELERATED) << info.name;
        EXPECT_FALSE(info.flags & SDL_RENDERER_PRESENTVSYNC) << info.name;

        Uint32 format = 0;
        int access = 0;
        ASSERT_EQ(SDL_QueryTexture(display.texture, &format, &access, &w, &h), 0);
        EXPECT_EQ(format, Uint32(SDL_PIXELFORMAT_ARGB8888));
        EXPECT_EQ(access, int(SDL_TEXTUREACCESS_STREAMING));
        EXPECT_EQ(w, 256);
        EXPECT_EQ(h, 192);
        // Each machine pixel is a sharp 2 x 2 block.
        SDL_ScaleMode scale = SDL_ScaleModeLinear;
        ASSERT_EQ(SDL_GetTextureScaleMode(display.texture, &scale), 0);
        EXPECT_EQ(scale, SDL_ScaleModeNearest);

        // The composed frame lands in the texture: drawn over the window
        // (without presenting, so it can be read back) it is the frame
        // scaled 2 x, black where no texel was drawn.
        Display_render(&gpu, &display);
        SDL_RenderClear(display.renderer);
        SDL_RenderCopy(display.renderer, display.texture, nullptr, nullptr);
        std::vector<uint8_t> window(512 * 384 * 4);
        ASSERT_EQ(SDL_RenderReadPixels(display.renderer, nullptr, SDL_PIXELFORMAT_ARGB8888,
                                       window.data(), 512 * 4), 0) << SDL_GetError();
        std::vector<uint8_t> frame(FRAME_BYTES);
        GPU_compose(&gpu, frame.data());
        int differing = 0;
        for (int py = 0; py < 384; ++py)
            for (int px = 0; px < 512; ++px) {
                const uint8_t* texel = &frame[(py / 2) * FRAME_PITCH + 4 * (px / 2)];
                const uint8_t* pixel = &window[4 * (512 * py + px)];
                for (int c = 0; c < 3; ++c)
                    differing += pixel[c] != (texel[3] == 0xFF ? texel[c] : 0);
            }
        EXPECT_EQ(differing, 0);
        Display_present(&display);

        display.video = &gpu;
        sdl_calls.clear();
        Display_destroy(&display);
        EXPECT_EQ(sdl_calls,
                  (Calls{"SDL_DestroyTexture", "SDL_DestroyRenderer", "SDL_DestroyWindow"}));
        EXPECT_EQ(display.video, nullptr);
        EXPECT_EQ(display.window, nullptr);
        EXPECT_EQ(display.renderer, nullptr);
        EXPECT_EQ(display.texture, nullptr);
        // Destroying leaves SDL itself running; the entry quits it.
        EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
        Display_destroy(&display);
        SDL_Quit();
    }
    VirtualScreen_stop(&screen);
}

// A texture larger than the renderer allows fails after the window and the
// renderer exist: both are destroyed before SDL is shut down.
TEST_F(DisplayRecord, FailedTextureTakesDownTheWindowAndRenderer) {
    VirtualScreen screen;
    std::string error;
    ASSERT_TRUE(VirtualScreen_start(&screen, &error)) << error;
    setenv("DISPLAY", screen.display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    {
        DriverAllocations driver_allocations;
        Display display{};
        display.video = &gpu;
        StandardOutput out;
        sdl_calls.clear();
        EXPECT_EQ(Display_create(&display, 512, 384, 1 << 20, 192), -1);
        EXPECT_EQ(sdl_calls, (Calls{"SDL_DestroyRenderer", "SDL_DestroyWindow", "SDL_Quit"}));
        std::string printed = out.text();
        EXPECT_TRUE(starts_with(printed, "SDL_CreateTexture Error: ")) << printed;
        expect_failed_creation_kept_the_record(display);
        EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
        expect_handleless_display_is_inert(&display);
    }
    VirtualScreen_stop(&screen);
}

} // namespace
