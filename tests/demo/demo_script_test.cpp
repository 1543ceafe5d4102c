// The demo cartridge under lumacor-run with scripted presses: the title, a
// game's start, the paddle, bricks breaking into score, pause, giving up, a
// game lost to the end, and the high score's way through save RAM into the
// next run's title.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demo_picture.h"
#include "process.h"

namespace {

const std::string runner = LUMACOR_RUN_PATH;

// Save RAM layout of the high score.
constexpr size_t SAVE_SIGNATURE = 0;
constexpr size_t SAVE_DIGITS = 4;
constexpr size_t SAVE_CHECKSUM = 9;

// Events the game reports on the test port.
constexpr int EVENT_TITLE = 0x01;
constexpr int EVENT_START = 0x02;
constexpr int EVENT_LAUNCH = 0x03;
constexpr int EVENT_BALL_LOST = 0x04;
constexpr int EVENT_GAME_OVER = 0x06;
constexpr int EVENT_HIGH_SCORE = 0x07;
constexpr int EVENT_BRICK = 0x08;

// Where the score bar and the title show their numbers (map cells).
constexpr int HUD_SCORE_COL = 7;
constexpr int HUD_HI_COL = 16;
constexpr int HUD_LEVEL_COL = 25;
constexpr int HUD_LIVES_COL = 27;
constexpr int TITLE_HI_ROW = 15;
constexpr int TITLE_HI_COL = 19;

constexpr int PADDLE_START = 112;

struct DemoRun {
    ProcessResult result;
    Picture picture;
    std::vector<int> events;

    int count(int event) const {
        int n = 0;
        for (int e : events) n += e == event;
        return n;
    }
    std::string score() const { return Picture_read_digits(picture, 0, HUD_SCORE_COL, 5, demo_colour::yellow); }
    std::string high() const { return Picture_read_digits(picture, 0, HUD_HI_COL, 5, demo_colour::yellow); }
    std::string title_high() const {
        return Picture_read_digits(picture, TITLE_HI_ROW, TITLE_HI_COL, 5, demo_colour::white);
    }
};

// A copy of the cartridge in its own directory, so its save file lands there.
std::string demo_in(const TempDir& dir) {
    std::string path = dir.file("demo.rom");
    write_bytes(path, read_bytes(DEMO_ROM_PATH));
    return path;
}

std::vector<int> test_port_events(const std::string& out) {
    std::vector<int> events;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "out[0x80] <- 0x%X", &value) == 1) events.push_back(static_cast<int>(value));
    }
    return events;
}

// A sanitizer build runs the machine many times slower; long runs get room.
DemoRun run_demo(const std::string& rom, int frames, const std::vector<std::string>& presses = {},
                 std::chrono::seconds time_limit = std::chrono::seconds(60)) {
    std::string picture_path = rom + ".png";
    std::vector<std::string> args{runner, rom, "--frames", std::to_string(frames), "--screenshot", picture_path};
    for (const std::string& press : presses) {
        args.push_back("--press");
        args.push_back(press);
    }
    DemoRun run;
    ProcessOptions options;
    options.timeout = time_limit;
    run.result = Process_run(args, options);
    EXPECT_TRUE(run.result.exited) << run.result.err;
    // The game never stops by itself: every run ends at its frame limit.
    EXPECT_EQ(run.result.exit_code, 3) << run.result.err;
    EXPECT_TRUE(Picture_load_png(picture_path, &run.picture)) << picture_path;
    run.events = test_port_events(run.result.out);
    return run;
}

// Starts a game at frame 10.
std::vector<std::string> start_game(std::vector<std::string> more = {}) {
    std::vector<std::string> presses{"10:start", "11:none"};
    presses.insert(presses.end(), more.begin(), more.end());
    return presses;
}

std::vector<unsigned char> save_with_high_score(const std::string& digits, int checksum_error = 0) {
    std::vector<unsigned char> save(4096, 0);
    save[0] = 'L';
    save[1] = 'B';
    save[2] = 'R';
    save[3] = 'K';
    int sum = 0x5A;
    for (size_t i = 0; i < 5; ++i) {
        save[SAVE_DIGITS + i] = static_cast<unsigned char>(digits[i] - '0');
        sum += digits[i] - '0';
    }
    save[SAVE_CHECKSUM] = static_cast<unsigned char>(sum + checksum_error);
    return save;
}

std::string saved_digits(const std::vector<unsigned char>& save) {
    std::string digits;
    for (size_t i = 0; i < 5; ++i) digits += static_cast<char>('0' + save[SAVE_DIGITS + i]);
    return digits;
}

// The score the missing bricks of the first wall are worth: 60 points for
// the top row down to 10 for the sixth.
std::string score_of_missing_bricks(const Picture& picture) {
    int score = 0;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < DEMO_BRICK_COLUMNS; ++column)
            if (Picture_brick(picture, row, column) == demo_colour::background) score += (6 - row) * 10;
    char text[16];
    std::snprintf(text, sizeof text, "%05d", score);
    return text;
}

int texels_differing(const Picture& a, const Picture& b) {
    int differing = 0;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) differing += !(Picture_at(a, x, y) == Picture_at(b, x, y));
    return differing;
}

TEST(DemoTitle, FirstRunShowsTheNameAndAZeroHighScore) {
    TempDir dir;
    DemoRun run = run_demo(demo_in(dir), 40);
    EXPECT_EQ(run.events, std::vector<int>{EVENT_TITLE});
    // "LUMA" in brick letters: the L's top brick is red, its foot cyan.
    EXPECT_EQ(Picture_at(run.picture, 7 * 8 + 4, 3 * 8 + 3), demo_colour::red);
    EXPECT_EQ(Picture_at(run.picture, 7 * 8 + 4, 7 * 8 + 3), demo_colour::cyan);
    EXPECT_EQ(run.title_high(), "00000");
    EXPECT_EQ(Picture_paddle_left(run.picture), -1) << "no paddle on the title";
}

TEST(DemoTitle, TheSecondWordCyclesThroughColours) {
    TempDir dir;
    std::string rom = demo_in(dir);
    // The top-left brick of the B of "BREAK", four frames apart.
    Rgb first = Picture_at(run_demo(rom, 40).picture, 6 * 8 + 4, 9 * 8 + 3);
    Rgb second = Picture_at(run_demo(rom, 44).picture, 6 * 8 + 4, 9 * 8 + 3);
    EXPECT_FALSE(first == second);
    EXPECT_FALSE(first == demo_colour::background);
    EXPECT_FALSE(second == demo_colour::background);
}

TEST(DemoGame, StartBuildsTheWallAndServesFromThePaddle) {
    TempDir dir;
    DemoRun run = run_demo(demo_in(dir), 40, start_game());
    EXPECT_EQ(run.events, (std::vector<int>{EVENT_TITLE, EVENT_START}));
    EXPECT_EQ(Picture_count_bricks(run.picture), 60);
    const Rgb row_colours[] = {demo_colour::red, demo_colour::orange, demo_colour::yellow, demo_colour::green};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < DEMO_BRICK_COLUMNS; ++column)
            EXPECT_EQ(Picture_brick(run.picture, row, column), row_colours[row]) << row << "," << column;
    EXPECT_EQ(Picture_paddle_left(run.picture), PADDLE_START);
    // The ball waits on the paddle's middle.
    EXPECT_EQ(Picture_at(run.picture, PADDLE_START + 13, 165), demo_colour::white);
    EXPECT_EQ(Picture_at(run.picture, PADDLE_START + 18, 165), demo_colour::white);
    EXPECT_EQ(run.score(), "00000");
    EXPECT_EQ(run.high(), "00000");
    EXPECT_EQ(Picture_read_digits(run.picture, 0, HUD_LEVEL_COL, 1, demo_colour::yellow), "1");
    for (int life = 0; life < 3; ++life)
        EXPECT_EQ(Picture_at(run.picture, (HUD_LIVES_COL + life) * 8 + 3, 3), demo_colour::white) << life;
}

TEST(DemoGame, ArrowsMoveThePaddleAndTheWaitingBallWithIt) {
    TempDir dir;
    std::string rom = demo_in(dir);
    // Ten frames of right at five texels a frame.
    DemoRun right = run_demo(rom, 40, start_game({"20:right", "30:none"}));
    EXPECT_EQ(Picture_paddle_left(right.picture), PADDLE_START + 50);
    EXPECT_EQ(Picture_at(right.picture, PADDLE_START + 50 + 13, 165), demo_colour::white);
    DemoRun left = run_demo(rom, 40, start_game({"20:left", "25:none"}));
    EXPECT_EQ(Picture_paddle_left(left.picture), PADDLE_START - 25);
}

TEST(DemoGame, ThePaddleSlidesUnderTheFrontLayerWalls) {
    TempDir dir;
    std::string rom = demo_in(dir);
    DemoRun right = run_demo(rom, 100, start_game({"20:right"}));
    EXPECT_EQ(Picture_paddle_left(right.picture), 220);
    // The wall's slabs cover the paddle's end; through the gap between two
    // slabs the paddle shows.
    EXPECT_EQ(Picture_at(right.picture, 250, DEMO_PADDLE_ROW - 1), demo_colour::steel);
    EXPECT_EQ(Picture_at(right.picture, 250, DEMO_PADDLE_ROW), demo_colour::cyan);
    DemoRun left = run_demo(rom, 100, start_game({"20:left"}));
    EXPECT_EQ(Picture_paddle_left(left.picture), 4);
    EXPECT_EQ(Picture_at(left.picture, 5, DEMO_PADDLE_ROW - 1), demo_colour::steel);
    EXPECT_EQ(Picture_at(left.picture, 5, DEMO_PADDLE_ROW), demo_colour::cyan);
}

TEST(DemoGame, TheBallBreaksBricksAndTheScoreCountsThem) {
    TempDir dir;
    DemoRun run = run_demo(demo_in(dir), 200, start_game({"20:a", "21:none"}));
    ASSERT_GE(run.count(EVENT_LAUNCH), 1);
    int broken = run.count(EVENT_BRICK);
    ASSERT_GE(broken, 1);
    EXPECT_EQ(Picture_count_bricks(run.picture), 60 - broken);
    EXPECT_NE(run.score(), "00000");
    EXPECT_EQ(run.score(), score_of_missing_bricks(run.picture));
}

TEST(DemoGame, PauseFreezesThePlayfield) {
    TempDir dir;
    std::string rom = demo_in(dir);
    std::vector<std::string> pause_at_60 = start_game({"20:a", "21:none", "60:start", "61:none"});
    EXPECT_EQ(texels_differing(run_demo(rom, 90, pause_at_60).picture, run_demo(rom, 130, pause_at_60).picture), 0);
    // Unpaused, the same stretch of frames moves the ball.
    std::vector<std::string> no_pause = start_game({"20:a", "21:none"});
    EXPECT_GT(texels_differing(run_demo(rom, 90, no_pause).picture, run_demo(rom, 130, no_pause).picture), 0);
}

TEST(DemoGame, BackGivesUpWithoutTouchingTheHighScore) {
    TempDir dir;
    std::string rom = demo_in(dir);
    DemoRun run = run_demo(rom, 40, start_game({"20:back", "21:none"}));
    EXPECT_EQ(run.count(EVENT_GAME_OVER), 1);
    EXPECT_EQ(run.count(EVENT_HIGH_SCORE), 0) << "a score of 0 beats nothing";
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(std::string(save.begin(), save.begin() + 4), std::string(4, '\0'));
}

TEST(DemoGame, LosingEveryBallEndsTheGameAndTheNextRunShowsItsHighScore) {
    TempDir dir;
    std::string rom = demo_in(dir);
    // No input after the start: the serve goes by itself and the paddle
    // stays where it is, so sooner or later each ball falls past it.
    DemoRun game = run_demo(rom, 1000, start_game());
    EXPECT_EQ(game.count(EVENT_BALL_LOST), 3);
    EXPECT_EQ(game.count(EVENT_GAME_OVER), 1);
    EXPECT_EQ(game.count(EVENT_HIGH_SCORE), 1);
    EXPECT_EQ(game.events.back(), EVENT_HIGH_SCORE);
    for (int life = 0; life < 3; ++life)
        EXPECT_EQ(Picture_at(game.picture, (HUD_LIVES_COL + life) * 8 + 3, 3), demo_colour::black) << life;
    std::string score = game.score();
    EXPECT_NE(score, "00000");
    EXPECT_EQ(game.high(), score);

    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(std::string(save.begin() + SAVE_SIGNATURE, save.begin() + SAVE_SIGNATURE + 4), "LBRK");
    EXPECT_EQ(saved_digits(save), score);
    int sum = 0x5A;
    for (size_t i = 0; i < 5; ++i) sum += save[SAVE_DIGITS + i];
    EXPECT_EQ(save[SAVE_CHECKSUM], sum & 0xFF);

    DemoRun next = run_demo(rom, 40);
    EXPECT_EQ(next.title_high(), score);
    EXPECT_EQ(read_bytes(rom + ".sav"), save);
}

TEST(DemoSave, AValidSaveIsShownAndALowerScoreLeavesIt) {
    TempDir dir;
    std::string rom = demo_in(dir);
    std::vector<unsigned char> save = save_with_high_score("98760");
    write_bytes(rom + ".sav", save);
    EXPECT_EQ(run_demo(rom, 40).title_high(), "98760");
    DemoRun game = run_demo(rom, 1000, start_game());
    EXPECT_EQ(game.count(EVENT_GAME_OVER), 1);
    EXPECT_EQ(game.count(EVENT_HIGH_SCORE), 0);
    EXPECT_EQ(game.high(), "98760");
    EXPECT_EQ(read_bytes(rom + ".sav"), save);
}

TEST(DemoSave, DamagedSavesReadAsAZeroHighScore) {
    TempDir dir;
    std::string rom = demo_in(dir);
    write_bytes(rom + ".sav", save_with_high_score("12345", 1));
    EXPECT_EQ(run_demo(rom, 40).title_high(), "00000") << "checksum off by one";
    std::vector<unsigned char> digit_out_of_range = save_with_high_score("12345");
    digit_out_of_range[SAVE_DIGITS + 2] = 10;
    digit_out_of_range[SAVE_CHECKSUM] += 7; // keep the sum matching
    write_bytes(rom + ".sav", digit_out_of_range);
    EXPECT_EQ(run_demo(rom, 40).title_high(), "00000") << "a digit of 10";
    std::vector<unsigned char> wrong_signature = save_with_high_score("12345");
    wrong_signature[3] = 'X';
    write_bytes(rom + ".sav", wrong_signature);
    EXPECT_EQ(run_demo(rom, 40).title_high(), "00000") << "signature LBRX";
}

} // namespace

namespace {

TEST(DemoRobustness, RandomButtonsForFourMinutesNeverStopTheProgram) {
    TempDir dir;
    std::mt19937 random(2026);
    const char* names[] = {"up", "down", "left", "right", "start", "back", "a", "x"};
    std::vector<std::string> presses;
    for (int frame = 5; frame < 15000; frame += 1 + static_cast<int>(random() % 120)) {
        std::string buttons;
        for (const char* name : names)
            if (random() % 4 == 0) buttons += (buttons.empty() ? "" : "+") + std::string(name);
        presses.push_back(std::to_string(frame) + ":" + (buttons.empty() ? "none" : buttons));
    }
    // run_demo expects the frame limit to end the run: no illegal opcode,
    // no stop.
    DemoRun run = run_demo(demo_in(dir), 15000, presses, std::chrono::seconds(600));
    EXPECT_GE(run.count(EVENT_START), 5);
    EXPECT_GE(run.count(EVENT_GAME_OVER), run.count(EVENT_START) - 1);
}

} // namespace
