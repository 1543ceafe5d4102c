// F12 in the window: the frame loop's event handler saves the picture beside
// the ROM under the next free number and says where.
#include <SDL.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "main/run.h"
#include "process.h"

std::vector<uint8_t> RunTest_random_vram(uint32_t seed);
void RunTest_expect_png_matches_frame(const std::string& path, const std::vector<uint8_t>& frame);

namespace {

struct ScreenshotKey : ::testing::Test {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    Computer computer{};
    Host host{};
    Cartridge cartridge{};

    void SetUp() override {
        ASSERT_TRUE(Computer_init(&computer));
        cartridge.path = rom.c_str();
        Computer_attach_cartridge(&computer, &cartridge);
    }
    void TearDown() override {
        Computer_detach_cartridge(&computer);
        Computer_free(&computer);
    }
    std::string key(SDL_Scancode scancode, bool down, bool repeat = false) {
        SDL_Event event;
        SDL_zero(event);
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat ? 1 : 0;
        event.key.keysym.scancode = scancode;
        testing::internal::CaptureStdout();
        Host_handle_event(&host, &computer, event);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(ScreenshotKey, F12SavesTheCurrentPictureUnderTheNextNumber) {
    std::vector<uint8_t> vram = RunTest_random_vram(99);
    for (int i = 0; i < VRAM_SIZE; ++i) computer.gpu.vram[i] = vram[static_cast<size_t>(i)];
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&computer.gpu, frame.data());

    write_bytes(rom + ".shot-0001.png", {'o', 'l', 'd'});
    EXPECT_EQ(key(SDL_SCANCODE_F12, true), "Screenshot saved to " + rom + ".shot-0002.png\n");
    RunTest_expect_png_matches_frame(rom + ".shot-0002.png", frame);
    EXPECT_EQ(read_file(rom + ".shot-0001.png"), "old");

    EXPECT_EQ(key(SDL_SCANCODE_F12, false), "");
    EXPECT_EQ(key(SDL_SCANCODE_F12, true, true), "") << "auto-repeat takes no picture";
    EXPECT_EQ(key(SDL_SCANCODE_F12, true), "Screenshot saved to " + rom + ".shot-0003.png\n");
    EXPECT_EQ(computer.controllers.bytes[0], 0) << "F12 is no button";
}

TEST_F(ScreenshotKey, OtherKeysTakeNoPicture) {
    EXPECT_EQ(key(SDL_SCANCODE_F11, true), "");
    EXPECT_EQ(key(SDL_SCANCODE_Z, true), "");
    EXPECT_FALSE(std::ifstream(rom + ".shot-0001.png").good());
}

} // namespace
