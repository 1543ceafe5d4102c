// LUMA BREAK played in process, one Computer_run_frame at a time,
// and read back as a player sees it: the tile map's score bar and messages,
// the texels the sprites cover, the picture, the volume and save RAM. The
// game's own positions and tile numbers come from its symbol file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "controller/controller.h"
#include "cpu/cpu.h"
#include "gpu/gpu.h"
#include "process.h"

namespace {

int game(const std::string& name) {
    static const std::map<std::string, int> symbols = [] {
        std::map<std::string, int> read;
        std::ifstream in(DEMO_SYMBOLS_PATH);
        std::string symbol, equals, value;
        while (in >> symbol >> equals >> value) read[symbol] = std::stoi(value, nullptr, 16);
        return read;
    }();
    return symbols.at(name);
}

// The high score's save: "LBRK", five digits, then 0x5A plus the digits.
std::vector<unsigned char> save_of(const std::string& digits, int checksum_error = 0) {
    std::vector<unsigned char> save{'L', 'B', 'R', 'K'};
    int sum = 0x5A + checksum_error;
    for (char d : digits) save.push_back(static_cast<unsigned char>(d - '0')), sum += d - '0';
    save.push_back(static_cast<unsigned char>(sum));
    return save;
}

// The game's test-port traffic would bury a failure's message.
void errors_only(void*, bool is_error, const char* text) {
    if (is_error) std::fputs(text, stderr);
}

struct Box {
    int left = 256, top = 192, right = -1, bottom = -1;
};

// Inside the walls: map columns 0 and 31 and row 1 are wall, row 0 the score bar.
constexpr Box playfield{8, 16, 247, 191};

struct Demo {
    std::string rom; // the cartridge keeps the path for its save
    Computer computer{};
    Cartridge cartridge{};
    std::vector<uint8_t> picture = std::vector<uint8_t>(FRAME_BYTES);
    int64_t first_overrun = -1; // a frame whose work did not end within it
    // Effects and jingles play at volume 120 and up, the music below.
    int sound_frames = 0, music_frames = 0, sound_run = 0, longest_sound = 0;

    Demo(const TempDir& dir, const std::vector<unsigned char>& save) : rom(dir.file("demo.rom")) {
        write_bytes(rom, read_bytes(DEMO_ROM_PATH));
        if (!save.empty()) write_bytes(rom + ".sav", save);
        Log_set_sink(errors_only, nullptr);
        EXPECT_TRUE(Computer_init(&computer));
        Cartridge_load(&cartridge, rom.c_str());
        Computer_attach_cartridge(&computer, &cartridge);
        Computer_start(&computer);
    }
    ~Demo() {
        Computer_detach_cartridge(&computer);
        Cartridge_free(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }

    int64_t frame() const { return static_cast<int64_t>(computer.frame); }
    void run(int count, uint8_t buttons = 0) {
        for (int i = 0; i < count; ++i) {
            computer.controllers.bytes[0] = buttons;
            FrameEnd end = Computer_run_frame(&computer, picture.data());
            // The frame interrupt, raised at the frame's end, must find the
            // frame's work done: it enters the handler with only its return
            // address on the stack.
            if (first_overrun < 0 && (end != FrameEnd::Running || CPU_pc(&computer.cpu) != game("frame") ||
                                      CPU_sp(&computer.cpu) != 0xFFFD))
                first_overrun = frame();
            uint8_t volume = Bus_read(&computer.bus, APU_LAST);
            bool sounding = volume >= 120;
            music_frames += volume > 0 && !sounding;
            sound_frames += sounding;
            sound_run = sounding ? sound_run + 1 : 0;
            longest_sound = std::max(longest_sound, sound_run);
        }
    }
    void press(uint8_t buttons) { run(1, buttons), run(1); }

    uint8_t cell(int row, int col, int byte = 0) const {
        return computer.gpu.vram[VRAM_TILE_MAP + 3 * (MAP_COLUMNS * row + col) + byte];
    }
    std::string text(int row, int col, int count = 5) const {
        std::string shown;
        for (int c = col; c < col + count; ++c) shown += static_cast<char>(cell(row, c));
        return shown;
    }
    std::string score() const { return text(0, game("HUD_SCORE_COL")); }
    std::string high() const { return text(0, game("HUD_HI_COL")); }
    std::string title_high() const { return text(game("TITLE_HI_ROW"), game("TITLE_HI_COL")); }
    char level() const { return static_cast<char>(cell(0, game("HUD_LEVEL_COL"))); }
    int lives() const {
        return static_cast<int>(std::ranges::count(text(0, game("HUD_LIVES_COL"), 3), game("T_LIFE")));
    }
    // The front-layer text between the side walls.
    std::string message(int row = game("MESSAGE_ROW")) const {
        std::string shown;
        for (int c = 1; c < MAP_COLUMNS - 1; ++c)
            if (cell(row, c, 2) & ATTR_FRONT) shown += static_cast<char>(cell(row, c));
        return shown;
    }
    std::vector<unsigned char> save() const {
        std::vector<unsigned char> bytes;
        for (uint16_t i = 0; i < 10; ++i) bytes.push_back(Bus_read(&computer.bus, STORAGE_FIRST + i));
        return bytes;
    }

    // x, y, tile, colors, attr
    const uint8_t* sprite(int s) const { return &computer.gpu.vram[VRAM_SPRITES + 5 * s]; }
    // The texels covered by the visible sprites that show these tiles.
    Box drawn(std::vector<int> tiles) const {
        Box box;
        for (int s = 0; s < SPRITE_COUNT; ++s) {
            const uint8_t* e = sprite(s);
            if (!(e[4] & ATTR_VISIBLE) || std::find(tiles.begin(), tiles.end(), e[2]) == tiles.end())
                continue;
            for (int r = 0; r < 8; ++r)
                for (int k = 0; k < 8; ++k) {
                    if (!(computer.gpu.vram[VRAM_PLANE_B + 8 * e[2] + r] & (0x80 >> k))) continue;
                    int x = e[0] + ((e[4] & ATTR_FLIP_H) ? 7 - k : k);
                    int y = e[1] + ((e[4] & ATTR_FLIP_V) ? 7 - r : r);
                    box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                           std::max(box.bottom, y)};
                }
        }
        return box;
    }
    // Past column 248 a sprite's right columns show at the left edge.
    int sprites_wrapping() const {
        int count = 0;
        for (int s = 0; s < SPRITE_COUNT; ++s) count += (sprite(s)[4] & ATTR_VISIBLE) && sprite(s)[0] > 248;
        return count;
    }
    Box ball() const { return drawn({game("T_BALL")}); }
    Box paddle() const { return drawn({game("T_PAD_END"), game("T_PAD_MID")}); }

    // Bricks are pairs of cells, worth 60 points in the top row down to 10
    // in the sixth.
    int bricks(int* worth = nullptr) const {
        const int first_row = game("BRICK_MAP_ROW"), brick = game("T_BRICK");
        int count = 0, points = 0;
        for (int row = 0; row < 6; ++row)
            for (int col = 1; col < MAP_COLUMNS - 1; col += 2)
                if (cell(first_row + row, col) == brick) ++count, points += (6 - row) * 10;
        if (worth) *worth = points;
        return count;
    }
};

// From the title through the serve, the paddle at the walls, play that
// follows the ball through the first wall, and balls lost to the end: the
// high score on the way and the save it leaves.
TEST(Demo, AGameFromTitleToSavedHighScore) {
    TempDir dir;
    const std::vector<unsigned char> old_save = save_of("00050");
    Demo demo(dir, old_save);
    demo.run(30);
    const uint8_t* cycling = &demo.computer.gpu.vram[VRAM_PALETTE + 3 * game("C_CYCLE")];
    std::vector<uint8_t> colour(cycling, cycling + 3);
    demo.run(4);
    EXPECT_NE(std::vector<uint8_t>(cycling, cycling + 3), colour) << "the title's letters cycle";

    demo.press(PAD_START);
    int wall_worth = 0;
    EXPECT_EQ(demo.bricks(&wall_worth), 60);
    EXPECT_EQ(demo.score(), "00000");
    EXPECT_EQ(demo.high(), "00050");
    EXPECT_EQ(demo.level(), '1');
    Box paddle = demo.paddle();
    EXPECT_EQ(paddle.left + paddle.right, 255) << "the paddle starts in the middle";
    // The ball waits on the paddle's middle until the player launches it.
    demo.run(600);
    EXPECT_EQ(demo.message(), "GET READY");
    Box ball = demo.ball();
    EXPECT_EQ(ball.left + ball.right, paddle.left + paddle.right);
    EXPECT_EQ(ball.bottom + 1, paddle.top);
    EXPECT_EQ(demo.lives(), 3);
    demo.run(10, PAD_RIGHT);
    EXPECT_EQ(demo.paddle().left, paddle.left + 50) << "5 texels a frame";
    EXPECT_EQ(demo.ball().left, ball.left + 50);

    // START pauses the serve: nothing moves, whatever is held.
    demo.press(PAD_START);
    EXPECT_EQ(demo.message(), "PAUSED");
    std::vector<uint8_t> paused = demo.picture;
    demo.run(30, PAD_RIGHT | PAD_A);
    EXPECT_TRUE(demo.picture == paused) << "the picture moved while paused";
    demo.press(PAD_START);
    EXPECT_EQ(demo.message(), "GET READY");

    demo.run(60, PAD_LEFT);
    EXPECT_EQ(demo.paddle().left, playfield.left);
    demo.run(60, PAD_RIGHT);
    EXPECT_EQ(demo.paddle().right, playfield.right);

    // Follow the ball until the first wall is cleared and the ball has
    // touched both side walls and the ceiling.
    demo.press(PAD_A);
    EXPECT_EQ(demo.message(), "");
    Box reach = demo.ball();
    int second_wall = -1;
    bool paused_in_play = false;
    while (demo.frame() < 9000 && (demo.level() == '1' || reach.left != playfield.left ||
                                   reach.right != playfield.right || reach.top != playfield.top)) {
        Box now = demo.ball();
        int aim = (now.left + now.right) - (demo.paddle().left + demo.paddle().right);
        uint8_t steer = aim > 4 ? PAD_RIGHT : aim < -4 ? PAD_LEFT : 0;
        demo.run(1, static_cast<uint8_t>(steer | (demo.frame() % 16 ? 0 : PAD_A)));
        now = demo.ball();
        reach = {std::min(reach.left, now.left), std::min(reach.top, now.top),
                 std::max(reach.right, now.right)};
        // HI follows a score that passes it; save RAM waits for the game's end.
        ASSERT_EQ(demo.high(), std::max(demo.score(), std::string("00050"))) << "frame " << demo.frame();
        ASSERT_EQ(demo.save(), old_save) << "frame " << demo.frame();
        ASSERT_EQ(demo.sprites_wrapping(), 0) << "frame " << demo.frame();
        int worth_left = 0;
        demo.bricks(&worth_left);
        if (demo.level() == '1') {
            ASSERT_EQ(std::stoi(demo.score()), wall_worth - worth_left) << "frame " << demo.frame();
        } else if (second_wall < 0) {
            second_wall = demo.bricks();
        }
        if (!paused_in_play && demo.score() > "00100") {
            paused_in_play = true;
            demo.press(PAD_START);
            paused = demo.picture;
            demo.run(30, PAD_LEFT);
            EXPECT_TRUE(demo.picture == paused) << "the picture moved while paused";
            demo.press(PAD_START);
            EXPECT_EQ(demo.message(), "");
        }
    }
    EXPECT_EQ(std::tie(reach.left, reach.right, reach.top),
              std::tie(playfield.left, playfield.right, playfield.top));
    EXPECT_TRUE(paused_in_play);
    EXPECT_EQ(second_wall, 54) << "the diamond follows the first wall";

    // Let every ball fall: the game ends and saves its high score.
    while (demo.frame() < 12000 && demo.message() != "GAME OVER") demo.run(1, demo.frame() % 16 ? 0 : PAD_A);
    std::string final_score = demo.score();
    EXPECT_EQ(demo.high(), final_score);
    EXPECT_EQ(demo.lives(), 0);
    EXPECT_EQ(demo.message(game("MESSAGE_ROW") + 2), "NEW HIGH SCORE!");
    EXPECT_EQ(demo.save(), save_of(final_score));
    demo.run(300);
    EXPECT_EQ(demo.title_high(), final_score);

    // Buttons at random through more games: every frame's work still
    // ends inside its frame, and sounds still stop.
    for (uint32_t seed = 2026; demo.frame() < 8000; seed = seed * 1103515245 + 12345)
        demo.run(1 + static_cast<int>(seed >> 8) % 60, static_cast<uint8_t>(seed >> 20));
    EXPECT_EQ(demo.first_overrun, -1);
    EXPECT_GT(demo.sound_frames, 200);
    EXPECT_LT(demo.longest_sound, 125) << "the longest effect lasts under two seconds";
    EXPECT_GT(demo.music_frames, 1000) << "the music goes on under the effects";
}

// Saves as the title reads them; then BACK at once, which ends a game with
// no points and leaves save RAM as it was.
TEST(Demo, SavedHighScores) {
    std::vector<unsigned char> digit_of_ten = save_of("12345", 7), wrong_signature = save_of("12345");
    digit_of_ten[6] = 10;
    wrong_signature[3] = 'X';
    const struct {
        const char* what;
        std::vector<unsigned char> save;
        const char* title_high;
    } cases[] = {
        {"no save", {}, "00000"},
        {"a valid save", save_of("98760"), "98760"},
        {"checksum off by one", save_of("12345", 1), "00000"},
        {"a digit of 10", digit_of_ten, "00000"},
        {"signature LBRX", wrong_signature, "00000"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Demo demo(dir, c.save);
        demo.run(30);
        EXPECT_EQ(demo.title_high(), c.title_high) << c.what;
        std::vector<unsigned char> before = demo.save();
        demo.press(PAD_START);
        demo.press(PAD_BACK);
        EXPECT_EQ(demo.message(), "GAME OVER") << c.what;
        EXPECT_EQ(demo.high(), c.title_high) << c.what;
        EXPECT_EQ(demo.save(), before) << c.what;
    }
}

} // namespace
