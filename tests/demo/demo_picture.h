// Reading the demo cartridge's picture back: its colours, the digits of the
// score bar and the title, the bricks of the wall and the paddle's place.
// Pictures come from lumacor-run's PNG or straight from a composed frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// The cartridge's palette entries that the tests look for.
namespace demo_colour {
constexpr Rgb background{16, 18, 44};
constexpr Rgb white{255, 255, 255};
constexpr Rgb red{230, 60, 60};
constexpr Rgb orange{240, 140, 40};
constexpr Rgb yellow{240, 220, 60};
constexpr Rgb green{80, 200, 80};
constexpr Rgb cyan{60, 200, 220};
constexpr Rgb purple{170, 80, 220};
constexpr Rgb grey{170, 180, 200};
constexpr Rgb steel{110, 120, 150};
constexpr Rgb steel_light{200, 210, 235};
constexpr Rgb black{0, 0, 0};
} // namespace demo_colour

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // 3 bytes a texel, rows top to bottom
};

bool Picture_load_png(const std::string& path, Picture* picture);
// A composed frame: 256 x 192 texels of blue, green, red, alpha.
Picture Picture_from_frame(const uint8_t* frame);
Rgb Picture_at(const Picture& picture, int x, int y);

// The digits in `count` cells of map row `row` from column `col`, drawn in
// `ink`; a cell that shows no digit reads as '?'.
std::string Picture_read_digits(const Picture& picture, int row, int col, int count, Rgb ink);

// Wall geometry: brick rows 0-5 lie on map rows 4-9, brick b covers map
// columns 2b + 1 and 2b + 2.
constexpr int DEMO_BRICK_ROWS = 6;
constexpr int DEMO_BRICK_COLUMNS = 15;
// The colour a brick shows at its middle, or the background where none is.
Rgb Picture_brick(const Picture& picture, int brick_row, int brick_column);
int Picture_count_bricks(const Picture& picture);

// The paddle's left texel column, found on a row where it is solid cyan;
// -1 when no paddle shows.
int Picture_paddle_left(const Picture& picture);
constexpr int DEMO_PADDLE_ROW = 171;
