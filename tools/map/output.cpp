// What a converted map becomes: packed rooms, the assembler include, video
// memory for one room and the preview of them all.
#include <algorithm>
#include <cstdio>

#include "gpu/gpu.h"
#include "map.h"

namespace {

bool same_cell(std::span<const uint8_t, MAP_ROOM_BYTES> room, size_t a, size_t b) {
    return std::equal(&room[3 * a], &room[3 * a] + 3, &room[3 * b]);
}

void put_bytes(std::string* out, const uint8_t* bytes, size_t count) {
    char text[8];
    for (size_t i = 0; i < count; i += 24) {
        *out += "        .byte ";
        for (size_t k = i; k < std::min(count, i + 24); ++k) {
            std::snprintf(text, sizeof text, k + 1 < std::min(count, i + 24) ? "0x%02X," : "0x%02X",
                          bytes[k]);
            *out += text;
        }
        *out += '\n';
    }
}

std::string label(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return out;
}

} // namespace

std::vector<uint8_t> Map_pack(std::span<const uint8_t, MAP_ROOM_BYTES> room) {
    constexpr size_t CELLS = MAP_ROOM_BYTES / 3;
    std::vector<uint8_t> out;
    size_t literal_start = 0, literal_count = 0;
    auto flush = [&] {
        if (literal_count == 0) return;
        out.push_back(static_cast<uint8_t>(127 + literal_count));
        out.insert(out.end(), &room[3 * literal_start], &room[3 * literal_start] + 3 * literal_count);
        literal_count = 0;
    };
    for (size_t n = 0; n < CELLS;) {
        size_t run = 1;
        while (n + run < CELLS && run < MAP_PACK_RUN_MAX && same_cell(room, n, n + run)) ++run;
        if (run >= 2) {
            // Two equal cells already take less as a run (4 bytes) than as
            // they are (6).
            flush();
            out.push_back(static_cast<uint8_t>(run));
            out.insert(out.end(), &room[3 * n], &room[3 * n] + 3);
            n += run;
            continue;
        }
        if (literal_count == 0) literal_start = n;
        if (++literal_count == MAP_PACK_LITERAL_MAX) flush();
        ++n;
    }
    flush();
    out.push_back(0);
    return out;
}

std::string Map_include_text(const MapLevel& level, const std::string& name, const std::string& source,
                             bool pack) {
    std::string out =
        "; " + name + ": converted by lumacor-map from " + source + "; edit the map, not this file.\n";
    std::string art = Gfx_include_text(level.art, GFX_PART_TILES | GFX_PART_PALETTE, name, source);
    out += art.substr(art.find('\n') + 1);
    size_t rooms = level.rooms.size();
    out += "\n" + name + "_rooms_wide = " + std::to_string(level.rooms_wide) + "\n";
    out += name + "_rooms_high = " + std::to_string(level.rooms_high) + "\n";
    out += name + "_room_count = " + std::to_string(rooms) + "\n";
    out += name + "_packed = " + std::string(pack ? "1" : "0") + "\n";
    for (size_t t = 0; t < level.types.size(); ++t)
        out += name + "_type_" + label(level.types[t]) + " = " + std::to_string(t + 1) + "\n";
    out += "\n" + name + "_rooms:                 ; the rooms, left to right and then top to bottom\n";
    for (size_t r = 0; r < rooms; ++r) out += "        .word " + name + "_room_" + std::to_string(r) + "\n";
    out += name + "_objects:               ; each room's object table\n";
    for (size_t r = 0; r < rooms; ++r)
        out += "        .word " + name + "_room_" + std::to_string(r) + "_objects\n";
    for (size_t r = 0; r < rooms; ++r) {
        std::string room = name + "_room_" + std::to_string(r);
        out += "\n" + room + "_objects:        ; a count, then type, x, y, id an object\n";
        const auto& objects = level.objects[r];
        std::vector<uint8_t> bytes{static_cast<uint8_t>(objects.size())};
        for (const MapObject& o : objects)
            bytes.insert(bytes.end(), {static_cast<uint8_t>(o.type), static_cast<uint8_t>(o.x),
                                       static_cast<uint8_t>(o.y), static_cast<uint8_t>(o.id)});
        put_bytes(&out, bytes.data(), bytes.size());
        if (pack) {
            std::vector<uint8_t> packed = Map_pack(level.rooms[r]);
            out += room + ":                ; packed, " + std::to_string(packed.size()) +
                   " bytes (map_unpack)\n";
            put_bytes(&out, packed.data(), packed.size());
        } else {
            out += room + ":                ; tile, colors, attr a cell, row by row\n";
            put_bytes(&out, level.rooms[r].data(), MAP_ROOM_BYTES);
        }
    }
    return out;
}

void Map_room_vram(const MapLevel& level, int room, std::span<uint8_t, 8192> vram) {
    std::fill(vram.begin(), vram.end(), 0);
    for (size_t i = 0; i < level.art.patterns.size(); ++i) {
        size_t tile = static_cast<size_t>(level.art.first_tile) + i;
        std::copy(level.art.patterns[i].a.begin(), level.art.patterns[i].a.end(),
                  &vram[VRAM_PLANE_A + 8 * tile]);
        std::copy(level.art.patterns[i].b.begin(), level.art.patterns[i].b.end(),
                  &vram[VRAM_PLANE_B + 8 * tile]);
    }
    const auto& cells = level.rooms.at(static_cast<size_t>(room));
    std::copy(cells.begin(), cells.end(), &vram[VRAM_TILE_MAP]);
    for (size_t p = 0; p < level.art.palette.size() && p < COLOR_COUNT; ++p) {
        vram[VRAM_PALETTE + COLOR_SIZE * p] = level.art.palette[p].b;
        vram[VRAM_PALETTE + COLOR_SIZE * p + 1] = level.art.palette[p].g;
        vram[VRAM_PALETTE + COLOR_SIZE * p + 2] = level.art.palette[p].r;
    }
}

GfxPicture Map_preview(const MapLevel& level) {
    GfxPicture out{level.rooms_wide * FRAME_WIDTH, level.rooms_high * FRAME_HEIGHT, {}};
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    std::array<uint8_t, VRAM_SIZE> vram;
    for (int r = 0; r < static_cast<int>(level.rooms.size()); ++r) {
        Map_room_vram(level, r, vram);
        GfxPicture room = Gfx_vram_screen(vram);
        int x0 = r % level.rooms_wide * FRAME_WIDTH, y0 = r / level.rooms_wide * FRAME_HEIGHT;
        for (int y = 0; y < FRAME_HEIGHT; ++y) {
            uint8_t* row = &out.rgba[(static_cast<size_t>(y0 + y) * out.width + x0) * 4];
            std::copy_n(&room.rgba[static_cast<size_t>(y) * FRAME_PITCH], FRAME_PITCH, row);
            for (int x = 0; x < FRAME_WIDTH; ++x) row[4 * x + 3] = 255; // undrawn shows black
        }
    }
    return out;
}
