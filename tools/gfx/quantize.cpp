// Colour reduction for art not drawn for the machine: a median cut to 16
// colours, a choice of two colours per cell, and error diffusion.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "gfx.h"
#include "gfx_internal.h"

namespace {

using Rgb = std::array<int, 3>;

bool opaque(const uint8_t* p) { return p[3] >= 128; }

int distance(const Rgb& x, const Rgb& y) {
    int dr = x[0] - y[0], dg = x[1] - y[1], db = x[2] - y[2];
    return dr * dr + dg * dg + db * db;
}

// Median cut: the box with the widest channel is split at its median until
// there are `count` boxes; each box gives its mean colour.
std::vector<Rgb> median_cut(std::vector<Rgb> colors, int count) { // a copy: the cut reorders it
    struct Box {
        size_t begin, end;
    };
    std::vector<Box> boxes{{0, colors.size()}};
    auto widest = [&](const Box& box, int* channel) {
        int best = -1;
        for (int c = 0; c < 3; ++c) {
            auto [low, high] = std::minmax_element(colors.begin() + static_cast<long>(box.begin),
                                                   colors.begin() + static_cast<long>(box.end),
                                                   [c](const Rgb& x, const Rgb& y) { return x[c] < y[c]; });
            int range = (*high)[c] - (*low)[c];
            if (range > best) best = range, *channel = c;
        }
        return best;
    };
    while (static_cast<int>(boxes.size()) < count) {
        int split = -1, channel = 0, best = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            int c = 0;
            int range = boxes[i].end - boxes[i].begin > 1 ? widest(boxes[i], &c) : 0;
            if (range > best) best = range, split = static_cast<int>(i), channel = c;
        }
        if (split < 0) break; // every box holds one colour
        Box box = boxes[static_cast<size_t>(split)];
        auto first = colors.begin() + static_cast<long>(box.begin);
        auto middle = first + static_cast<long>((box.end - box.begin) / 2);
        std::nth_element(first, middle, colors.begin() + static_cast<long>(box.end),
                         [channel](const Rgb& x, const Rgb& y) { return x[channel] < y[channel]; });
        size_t cut = static_cast<size_t>(middle - colors.begin());
        boxes[static_cast<size_t>(split)] = {box.begin, cut};
        boxes.push_back({cut, box.end});
    }
    std::vector<Rgb> palette;
    for (const Box& box : boxes) {
        if (box.begin == box.end) continue;
        Rgb sum{0, 0, 0};
        for (size_t i = box.begin; i < box.end; ++i)
            for (int c = 0; c < 3; ++c) sum[c] += colors[i][c];
        int n = static_cast<int>(box.end - box.begin);
        palette.push_back({(sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n});
    }
    return palette;
}

} // namespace

double Gfx_quantize(GfxPicture* picture, const GfxOptions& options) {
    GfxMode mode = options.mode;
    const int width = picture->width, height = picture->height;
    if (width <= 0 || height <= 0 || width % GFX_TILE || height % GFX_TILE) return 0;
    std::vector<uint8_t>& rgba = picture->rgba;
    const std::vector<uint8_t> original = rgba;
    // On a screen black costs nothing (it is left undrawn), so it is offered
    // in every cell beside the 16 colours and left out of the cut.
    bool free_black = mode == GfxMode::screen;

    std::vector<Rgb> colors;
    for (size_t i = 0; i < rgba.size(); i += 4)
        if (opaque(&rgba[i]) && !(free_black && !rgba[i] && !rgba[i + 1] && !rgba[i + 2]))
            colors.push_back({rgba[i], rgba[i + 1], rgba[i + 2]});
    std::vector<Rgb> palette = median_cut(colors, GFX_MAX_COLORS);
    if (palette.empty()) palette.push_back({0, 0, 0});
    // A few rounds of k-means move each colour to the mean of the pixels
    // nearest to it, which the cut's boxes only approximate.
    for (int round = 0; round < 4; ++round) {
        std::vector<std::array<long, 4>> sums(palette.size(), {0, 0, 0, 0});
        for (const Rgb& c : colors) {
            size_t nearest = 0;
            for (size_t p = 1; p < palette.size(); ++p)
                if (distance(c, palette[p]) < distance(c, palette[nearest])) nearest = p;
            for (int k = 0; k < 3; ++k) sums[nearest][k] += c[k];
            ++sums[nearest][3];
        }
        for (size_t p = 0; p < palette.size(); ++p)
            if (sums[p][3])
                for (int k = 0; k < 3; ++k) palette[p][k] = int((sums[p][k] + sums[p][3] / 2) / sums[p][3]);
    }
    std::sort(palette.begin(), palette.end());
    palette.erase(std::unique(palette.begin(), palette.end()), palette.end());

    // Each cell's pair: the two palette colours that together come nearest
    // to the cell's pixels.
    const int columns = width / GFX_TILE, rows = height / GFX_TILE;
    std::vector<std::array<int, 2>> pairs(static_cast<size_t>(columns) * rows);
    std::vector<std::vector<int>> nearest_cost(palette.size(), std::vector<int>(GFX_TILE * GFX_TILE));
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            std::array<Rgb, GFX_TILE * GFX_TILE> cell;
            std::array<bool, GFX_TILE * GFX_TILE> used{};
            for (int i = 0; i < GFX_TILE * GFX_TILE; ++i) {
                size_t at = (static_cast<size_t>(row * GFX_TILE + i / GFX_TILE) * width + column * GFX_TILE +
                             i % GFX_TILE) *
                            4;
                used[i] = opaque(&rgba[at]);
                cell[i] = {rgba[at], rgba[at + 1], rgba[at + 2]};
            }
            for (size_t p = 0; p < palette.size(); ++p)
                for (int i = 0; i < GFX_TILE * GFX_TILE; ++i) {
                    int d = used[i] ? distance(cell[i], palette[p]) : 0;
                    if (free_black) d = std::min(d, distance(cell[i], Rgb{0, 0, 0}));
                    nearest_cost[p][i] = d;
                }
            long best = -1;
            std::array<int, 2> choice{0, 0};
            for (size_t p = 0; p < palette.size(); ++p)
                for (size_t q = p; q < palette.size(); ++q) {
                    long cost = 0;
                    for (int i = 0; i < GFX_TILE * GFX_TILE; ++i)
                        cost += std::min(nearest_cost[p][i], nearest_cost[q][i]);
                    if (best < 0 || cost < best) best = cost, choice = {int(p), int(q)};
                }
            pairs[static_cast<size_t>(row) * columns + column] = choice;
        }

    // Floyd-Steinberg over the whole picture, each pixel choosing among its
    // cell's colours, so the error of one cell is carried into the next.
    std::vector<std::array<float, 3>> error(static_cast<size_t>(width) * height, {0, 0, 0});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            size_t index = static_cast<size_t>(y) * width + x;
            uint8_t* p = &rgba[index * 4];
            if (!opaque(p)) continue;
            Rgb want;
            for (int c = 0; c < 3; ++c)
                want[c] = std::clamp(static_cast<int>(std::lround(p[c] + error[index][c])), 0, 255);
            const auto& pair = pairs[static_cast<size_t>(y / GFX_TILE) * columns + x / GFX_TILE];
            Rgb got = palette[static_cast<size_t>(pair[0])];
            if (distance(want, palette[static_cast<size_t>(pair[1])]) < distance(want, got))
                got = palette[static_cast<size_t>(pair[1])];
            if (free_black && distance(want, Rgb{0, 0, 0}) < distance(want, got)) got = {0, 0, 0};
            auto spread = [&](int dx, int dy, float share) {
                int nx = x + dx, ny = y + dy;
                if (nx < 0 || nx >= width || ny >= height) return;
                auto& e = error[static_cast<size_t>(ny) * width + nx];
                for (int c = 0; c < 3; ++c) e[c] += static_cast<float>(want[c] - got[c]) * share;
            };
            spread(1, 0, 7 / 16.f);
            spread(-1, 1, 3 / 16.f);
            spread(0, 1, 5 / 16.f);
            spread(1, 1, 1 / 16.f);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(got[c]);
            p[3] = 255;
        }

    // A screen of dithered cells has more patterns than tiles: the least used
    // ones give way to the nearest others.
    GfxOptions unlimited = options;
    unlimited.palette.clear();
    int limit = GFX_MAX_PATTERNS - options.first_tile;
    // Redrawn, a merged cell can meet its colours differently (two palette
    // colours alike, a texel gone black), so the picture is checked again.
    for (int round = 0; mode == GfxMode::screen && round < 8; ++round) {
        GfxArt art;
        if (!gfx_convert(*picture, unlimited, &art, false) || static_cast<int>(art.patterns.size()) <= limit)
            break;
        gfx_merge_patterns(&art, limit);
        GfxPicture shown = Gfx_preview(art);
        for (size_t i = 0; i < rgba.size(); i += 4) {
            if (!opaque(&original[i])) continue;
            std::copy(&shown.rgba[i], &shown.rgba[i + 3], &rgba[i]);
            rgba[i + 3] = 255; // undrawn black stays opaque black
        }
    }

    long total = 0, channels = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        if (!opaque(&original[i])) continue;
        for (int c = 0; c < 3; ++c) total += std::abs(int(rgba[i + c]) - int(original[i + c]));
        channels += 3;
    }
    return channels ? static_cast<double>(total) / static_cast<double>(channels) : 0;
}
