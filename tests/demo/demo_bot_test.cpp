// The demo cartridge played in process by a bot that follows the ball, for
// as long as it takes to clear two walls: every frame's work must end inside
// the frame with the stack empty, the ball must stay in the playfield, a
// cleared wall must be followed by the next layout, and sounds must stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "demo_picture.h"
#include "gpu/gpu.h"
#include "process.h"

namespace {

constexpr uint16_t SPRITES = 0x9900;
constexpr int PADDLE_SPRITE = 0; // its left end
constexpr int BALL_SPRITE = 8;

std::map<std::string, uint32_t> read_symbols(const std::string& path) {
    std::map<std::string, uint32_t> symbols;
    std::ifstream in(path);
    std::string name, equals, value;
    while (in >> name >> equals >> value) symbols[name] = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
    return symbols;
}

struct Sprite {
    int x, y, tile, attr;
};

Sprite sprite(Computer* computer, int index) {
    uint16_t base = static_cast<uint16_t>(SPRITES + 5 * index);
    return {Bus_read(&computer->bus, base), Bus_read(&computer->bus, base + 1),
            Bus_read(&computer->bus, base + 2), Bus_read(&computer->bus, base + 4)};
}

// Moves the paddle to where the falling ball will come down (it reckons the
// bounces off the side walls), aiming a little off the paddle's middle in a
// slow cycle so the bounces vary; starts games and launches balls.
struct Bot {
    Sprite last_ball{};

    uint8_t buttons(Computer* computer, int64_t frame) {
        Sprite ball = sprite(computer, BALL_SPRITE);
        Sprite paddle = sprite(computer, PADDLE_SPRITE);
        Sprite last = last_ball;
        last_ball = ball;
        if (!(paddle.attr & 0x80)) return (frame & 1) ? PAD_START : 0; // the title
        int x = ball.x;
        int dx = ball.x - last.x;
        int dy = ball.y - last.y;
        if (dy > 0 && dy < 8 && dx > -8 && dx < 8) {
            for (int y = ball.y; y < 163; y += dy) {
                x += dx;
                if (x < 4) x = 8 - x, dx = -dx;
                if (x > 244) x = 488 - x, dx = -dx;
            }
        }
        static const int aims[] = {-9, -3, 4, 10};
        int target = x + 4 - 16 + aims[(frame / 300) % 4];
        uint8_t buttons = (frame % 16 == 0) ? PAD_A : 0;
        if (paddle.x < target - 2) buttons |= PAD_RIGHT;
        if (paddle.x > target + 2) buttons |= PAD_LEFT;
        return buttons;
    }
};

struct DemoMachine {
    Computer computer{};
    Cartridge cartridge{};
    std::vector<uint8_t> frame = std::vector<uint8_t>(FRAME_BYTES);
    std::string rom;

    explicit DemoMachine(const TempDir& dir) : rom(dir.file("demo.rom")) {
        write_bytes(rom, read_bytes(DEMO_ROM_PATH));
        EXPECT_TRUE(Computer_init(&computer));
        Cartridge_load(&cartridge, rom.c_str());
        Computer_attach_cartridge(&computer, &cartridge);
        CPU_set_pc(&computer.cpu, 0x0100);
        CPU_start(&computer.cpu);
    }
    ~DemoMachine() {
        Computer_detach_cartridge(&computer);
        Cartridge_free(&cartridge);
        Computer_free(&computer);
    }
    // One frame as the frame loops run it: the burst, the picture, then
    // (with interrupt_frame) interrupt 0.
    void run_burst(uint8_t buttons) {
        computer.controllers.bytes[0] = buttons;
        Computer_run_instructions(&computer, Computer_cycles_per_frame(&computer));
        GPU_compose(&computer.gpu, frame.data());
    }
    void interrupt_frame() { CPU_interrupt(&computer.cpu, 0); }
    Picture picture() const { return Picture_from_frame(frame.data()); }
    int level() const { return Picture_read_digits(picture(), 0, 25, 1, demo_colour::yellow)[0] - '0'; }
};

TEST(DemoBot, ClearsTheFirstWallsWithinTheFrameBudget) {
    std::map<std::string, uint32_t> symbols = read_symbols(DEMO_SYMBOLS_PATH);
    ASSERT_TRUE(symbols.count("idle")) << DEMO_SYMBOLS_PATH;
    const uint16_t idle = static_cast<uint16_t>(symbols["idle"]);

    TempDir dir;
    DemoMachine machine(dir);
    Computer* computer = &machine.computer;
    int level = 1;
    int64_t frame = 0;
    std::vector<int> bricks_at_level_start;
    Bot bot;
    int sounding_frames = 0;
    int longest_sound = 0;
    int sound_run = 0;
    for (; frame < 40000 && level < 3; ++frame) {
        machine.run_burst(bot.buttons(computer, frame));
        ASSERT_TRUE(CPU_is_running(&computer->cpu)) << "frame " << frame;
        // The idle loop is where the frame interrupt finds the program: a
        // frame's work that ran past the budget would be caught elsewhere.
        ASSERT_EQ(CPU_pc(&computer->cpu), idle) << "frame " << frame;
        ASSERT_EQ(CPU_sp(&computer->cpu), 0xFFFF) << "frame " << frame;
        if (Bus_read(&computer->bus, 0xFF09) != 0) {
            ++sounding_frames;
            longest_sound = std::max(longest_sound, ++sound_run);
        } else {
            sound_run = 0;
        }
        Sprite ball = sprite(computer, BALL_SPRITE);
        if (ball.attr & 0x80) {
            ASSERT_GE(ball.x, 4) << "frame " << frame;
            ASSERT_LE(ball.x, 244) << "frame " << frame;
            ASSERT_GE(ball.y, 12) << "frame " << frame;
        }
        if (frame % 8 == 0 && Picture_paddle_left(machine.picture()) >= 0) {
            int shown = machine.level();
            if (shown != level) {
                ASSERT_EQ(shown, level + 1) << "frame " << frame;
                level = shown;
                // The wall is built in the frame that shows the new level.
                bricks_at_level_start.push_back(Picture_count_bricks(machine.picture()));
                if (level == 2) {
                    Picture wall = machine.picture();
                    EXPECT_EQ(Picture_brick(wall, 0, 5), demo_colour::background);
                    EXPECT_EQ(Picture_brick(wall, 0, 6), demo_colour::red);
                    EXPECT_EQ(Picture_brick(wall, 2, 7), demo_colour::grey) << "a strong brick";
                }
            }
        }
        machine.interrupt_frame();
    }
    ASSERT_EQ(level, 3) << "the bot did not clear two walls in " << frame << " frames";
    EXPECT_EQ(bricks_at_level_start, (std::vector<int>{54, 53}));
    // Effects and tunes play, and each one ends: the volume goes back to 0
    // (the longest tune lasts under two seconds).
    EXPECT_GT(sounding_frames, 200);
    EXPECT_LT(longest_sound, 125);
}

} // namespace
