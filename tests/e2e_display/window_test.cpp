// The built lumacor program showing its picture: a window on an X server of
// the test's own, its screenshot compared pixel for pixel with the frame the
// test works out from the same video memory, scaled 2 x; and the runs where
// no picture can be had, which must go on without one.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "reference_frame.h"
#include "virtual_screen.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int WINDOW_X = 100;
constexpr int WINDOW_Y = 100;
constexpr int WINDOW_WIDTH = 512;
constexpr int WINDOW_HEIGHT = 384;

// The video memory that roms/picture.asm builds, as it stands once the frame
// handler has shown the last sprite.
std::vector<uint8_t> picture_vram() {
    std::vector<uint8_t> vram(8192, 0);
    for (int i = 0; i < 16; ++i) {
        vram[0x19C8 + 3 * i + 0] = uint8_t(16 * i + 1);
        vram[0x19C8 + 3 * i + 1] = uint8_t(255 - 16 * i);
        vram[0x19C8 + 3 * i + 2] = uint8_t(37 * i);
    }
    const uint8_t plane_a[24] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55,
                                 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0,
                                 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C};
    const uint8_t plane_b[24] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF,
                                 0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF};
    for (int i = 0; i < 24; ++i) {
        vram[0x0008 + i] = plane_a[i];
        vram[0x0808 + i] = plane_b[i];
    }
    for (int n = 0; n < 768; ++n) {
        vram[0x1000 + 3 * n + 0] = n % 2 == 0 ? 1 : 0;
        vram[0x1000 + 3 * n + 1] = uint8_t(n);
        vram[0x1000 + 3 * n + 2] = 0;
    }
    struct Cell {
        int n;
        uint8_t tile, colors, attr;
    };
    for (Cell c : {Cell{33, 2, 0x43, 0x00}, Cell{35, 2, 0x43, 0x20}, Cell{37, 2, 0x43, 0x40},
                   Cell{39, 2, 0x43, 0x60}, Cell{100, 3, 0x65, 0x80}, Cell{767, 3, 0x87, 0x9F}}) {
        vram[0x1000 + 3 * c.n + 0] = c.tile;
        vram[0x1000 + 3 * c.n + 1] = c.colors;
        vram[0x1000 + 3 * c.n + 2] = c.attr;
    }
    const uint8_t sprites[30] = {252, 10,  2, 0x9A, 0x80, 30,  22,  1, 0xBC, 0x80,
                                 34,  26,  2, 0xDE, 0x80, 250, 188, 1, 0xF1, 0x80,
                                 100, 100, 2, 0x12, 0x7F, 120, 120, 2, 0x34, 0xE0};
    for (int i = 0; i < 30; ++i) vram[0x1900 + i] = sprites[i];
    return vram;
}

// The window's pixels: each texel as a 2 x 2 block, its colour where it was
// drawn and black (the cleared window behind an untouched texel) elsewhere.
std::vector<uint8_t> expected_window(const std::vector<uint8_t>& vram) {
    std::vector<uint8_t> frame = reference::frame(vram.data());
    std::vector<uint8_t> rgb(WINDOW_WIDTH * WINDOW_HEIGHT * 3);
    for (int y = 0; y < WINDOW_HEIGHT; ++y)
        for (int x = 0; x < WINDOW_WIDTH; ++x) {
            const uint8_t* texel = &frame[4 * (256 * (y / 2) + x / 2)];
            uint8_t* pixel = &rgb[3 * (WINDOW_WIDTH * y + x)];
            bool drawn = texel[3] == 0xFF;
            pixel[0] = drawn ? texel[2] : 0;
            pixel[1] = drawn ? texel[1] : 0;
            pixel[2] = drawn ? texel[0] : 0;
        }
    return rgb;
}

std::string describe_difference(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got) {
    if (got.size() != want.size()) return "no screenshot could be taken";
    int differing = 0;
    std::ostringstream first;
    for (size_t i = 0; i < want.size(); i += 3) {
        if (want[i] == got[i] && want[i + 1] == got[i + 1] && want[i + 2] == got[i + 2]) continue;
        if (differing++ == 0) {
            int x = int(i / 3) % WINDOW_WIDTH;
            int y = int(i / 3) / WINDOW_WIDTH;
            first << " first at window pixel " << x << "," << y << ": want " << int(want[i]) << ","
                  << int(want[i + 1]) << "," << int(want[i + 2]) << " got " << int(got[i]) << ","
                  << int(got[i + 1]) << "," << int(got[i + 2]);
        }
    }
    return std::to_string(differing) + " pixels differ;" + first.str();
}

std::string copy_rom(const std::string& name, const TempDir& dir) {
    std::string to = dir.file(name + ".rom");
    fs::copy_file(std::string(DISPLAY_ROM_DIR) + "/" + name + ".rom", to);
    return to;
}

// The leak checker of sanitizer builds cannot read the allocations that the
// X and GL driver libraries keep (the GL driver is unloaded before the
// report), so it is off for runs that open a real window; the runs without a
// window keep it.
std::string options_without_leak_check() {
    const char* current = std::getenv("ASAN_OPTIONS");
    std::string options = current ? current : "";
    return options + (options.empty() ? "" : ":") + "detect_leaks=0";
}

class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(VirtualScreen_start(&screen, &error)) << error;
    }
    void TearDown() override { VirtualScreen_stop(&screen); }

    ProcessOptions on_screen() const {
        ProcessOptions options;
        options.env = {{"DISPLAY", screen.display},
                       {"SDL_VIDEODRIVER", "x11"},
                       {"SDL_AUDIODRIVER", "dummy"},
                       {"ASAN_OPTIONS", options_without_leak_check()}};
        return options;
    }

    VirtualScreen screen;
    TempDir dir;
};

TEST_F(Window, ShowsEachComposedFrameScaledTwice) {
    std::string rom = copy_rom("picture", dir);
    ChildProcess lumacor;
    ASSERT_TRUE(Process_start(&lumacor, {LUMACOR_PATH, rom}, on_screen()));

    // The last sprite appears only after ten frame interrupts, so a match
    // also shows that frames go on being composed and interrupted.
    std::vector<uint8_t> want = expected_window(picture_vram());
    std::vector<uint8_t> got;
    auto deadline = Clock::now() + 30s;
    do {
        got = VirtualScreen_capture(&screen, WINDOW_X, WINDOW_Y, WINDOW_WIDTH, WINDOW_HEIGHT);
        Process_poll_output(&lumacor);
    } while (got != want && Clock::now() < deadline && lumacor.out_fd >= 0);
    EXPECT_TRUE(got == want) << describe_difference(want, got);

    // Title, place and size, shown, and not resizable (SDL pins the minimum
    // and maximum size to the size of a fixed window).
    ProcessResult info = VirtualScreen_run(&screen, {XWININFO_PATH, "-name", "lumacor"});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("\"lumacor\""), std::string::npos) << info.out;
    for (const char* line : {"Absolute upper-left X: +100\n", "Absolute upper-left Y: +100\n"})
        EXPECT_TRUE(std::regex_search(info.out, std::regex(line))) << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Width: 512\n"))) << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Height: 384\n"))) << info.out;
    EXPECT_NE(info.out.find("Map State: IsViewable"), std::string::npos) << info.out;
    ProcessResult hints =
        VirtualScreen_run(&screen, {XPROP_PATH, "-name", "lumacor", "WM_NORMAL_HINTS"});
    EXPECT_NE(hints.out.find("minimum size: 512 by 384"), std::string::npos) << hints.out;
    EXPECT_NE(hints.out.find("maximum size: 512 by 384"), std::string::npos) << hints.out;

    Process_signal(&lumacor, SIGTERM);
    ProcessResult run = Process_wait(&lumacor, 30s);
    EXPECT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.err;
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out.find("Error"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Refresh time: 16 ms\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Writing save to " + rom + ".sav\n"), std::string::npos) << run.out;
}

// Runs that cannot have a picture: the failing set-up step prints its line
// among the start-up lines, and the machine runs on with its frame
// interrupts (the display stays attached, only without its handles).
struct NoPicture {
    const char* name;
    const char* video_driver;
    const char* line;
};

void PrintTo(const NoPicture& no_picture, std::ostream* out) { *out << no_picture.name; }

class WithoutPicture : public ::testing::TestWithParam<NoPicture> {};

TEST_P(WithoutPicture, MachineRunsOnAndTakesItsFrameInterrupts) {
    TempDir dir;
    std::string rom = copy_rom("frames", dir);
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", GetParam().video_driver}, {"SDL_AUDIODRIVER", "dummy"}};
    options.timeout = 30s;
    ProcessResult run = Process_run({LUMACOR_PATH, rom}, options);
    EXPECT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.err;
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // The error line sits right after the memory map, before the clock lines.
    std::string after_map = "0080-0080 2 test (1)\n" + std::string(GetParam().line);
    EXPECT_NE(run.out.find(after_map), std::string::npos) << run.out;
    EXPECT_LT(run.out.find(GetParam().line), run.out.find("CPU clock rate: 1000000 Hz\n"));
    // The ROM stops after its 30th frame interrupt and reports the count.
    EXPECT_NE(run.out.find("out[0x80] <- 0x1E\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Writing save to " + rom + ".sav\n"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Display, WithoutPicture,
    ::testing::Values(NoPicture{"NoRenderer", "dummy", "SDL_CreateRenderer Error: "},
                      NoPicture{"NoVideo", "no-such-video-driver", "SDL_Init Error: "}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
