// The files the host keeps for the machine: the ROM image and its save file,
// and the PNG pictures of the window's F12 and the runner's --screenshot.
#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "main/run.h"
#include "process.h"
#include "screenshot/screenshot.h"

namespace fs = std::filesystem;

namespace {

std::string load(Cartridge* cartridge, const std::string& path) {
    testing::internal::CaptureStdout();
    Cartridge_load(cartridge, path.c_str());
    return testing::internal::GetCapturedStdout();
}

std::string free_cartridge(Cartridge* cartridge) {
    testing::internal::CaptureStdout();
    Cartridge_free(cartridge);
    return testing::internal::GetCapturedStdout();
}

TEST(CartridgeFiles, TheSaveFileIsReadAtLoadAndWrittenWholeAtFree) {
    TempDir dir;
    const std::string rom = dir.file("game.rom"), save = rom + ".sav";
    write_bytes(rom, {1, 2, 3});
    write_bytes(save + ".tmp-a1B2c3", {1}); // left by a save write that was killed
    write_bytes(save + ".tmp-keep", {1});   // not a name the save write makes
    Cartridge c{};
    EXPECT_EQ(load(&c, rom), "");
    EXPECT_EQ(c.image_size, 3u);
    EXPECT_EQ(c.save[0] | c.save[SAVE_SIZE - 1], 0) << "no save file yet: blank save RAM";
    EXPECT_FALSE(fs::exists(save + ".tmp-a1B2c3"));
    EXPECT_TRUE(fs::exists(save + ".tmp-keep"));
    c.save[0] = 0x11;
    c.save[SAVE_SIZE - 1] = 0x33;
    EXPECT_EQ(free_cartridge(&c), "Writing save to " + save + "\n");
    std::vector<uint8_t> saved = read_bytes(save);
    ASSERT_EQ(saved.size(), SAVE_SIZE);
    EXPECT_EQ(saved[0], 0x11);
    EXPECT_EQ(saved[SAVE_SIZE - 1], 0x33);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<unsigned>(fs::status(save).permissions()), 0666u & ~mask) << "an ordinary file";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 3)
        << "no temporary file left";

    for (size_t length : {size_t{10}, size_t{5000}}) { // short and long save files
        write_bytes(save, std::vector<uint8_t>(length, 0x5A));
        load(&c, rom);
        EXPECT_EQ(c.save[9], 0x5A);
        EXPECT_EQ(c.save[SAVE_SIZE - 1], length > SAVE_SIZE ? 0x5A : 0);
        free_cartridge(&c);
        EXPECT_EQ(read_bytes(save).size(), SAVE_SIZE);
    }
}

TEST(CartridgeFiles, OnlyTheFirst16MillionBytesOfAnImageLoad) {
    TempDir dir;
    const std::string rom = dir.file("huge.rom");
    write_bytes(rom, {});
    fs::resize_file(rom, 20'000'000);
    Cartridge c{};
    load(&c, rom);
    EXPECT_EQ(c.image_size, ROM_MAX_SIZE);
    Cartridge_free_image(&c);
}

TEST(CartridgeFiles, WhatCannotBeReadIsReportedAndNeverReplaced) {
    TempDir dir;
    fs::create_directory(dir.file("folder.rom"));
    ASSERT_EQ(mkfifo(dir.file("pipe.rom").c_str(), 0644),
              0); // opening it for reading would wait for a writer
    for (const std::string& rom : {dir.file("missing.rom"), dir.file("folder.rom"), dir.file("pipe.rom")}) {
        Cartridge c{};
        EXPECT_EQ(load(&c, rom), "File could not be opened: " + rom + "\n");
        EXPECT_EQ(c.image, nullptr);
        EXPECT_EQ(free_cartridge(&c), "");
        EXPECT_FALSE(fs::exists(rom + ".sav"));
    }
    const std::string rom = dir.file("game.rom");
    write_bytes(rom, {0});
    fs::create_directory(rom + ".sav");
    Cartridge c{};
    testing::internal::CaptureStderr();
    load(&c, rom);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not read save " + rom + ".sav: not a regular file; it is left as it is\n");
    std::string error;
    EXPECT_FALSE(Cartridge_store_save(&c, &error));
    EXPECT_EQ(error,
              "Could not write save " + rom + ".sav: it could not be read at start and is left as it is");
    EXPECT_TRUE(fs::is_directory(rom + ".sav"));
    c.keep_save_file = false; // a directory where the save goes: the write fails with the reason
    EXPECT_FALSE(Cartridge_store_save(&c, &error));
    EXPECT_NE(error.find(std::strerror(EISDIR)), std::string::npos) << error;
    Cartridge_free_image(&c);
}

// The PNG at `path` as RGB, 256 x 192, or empty.
std::vector<uint8_t> decode(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    bool ok = image.width == FRAME_WIDTH && image.height == FRAME_HEIGHT &&
              png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr);
    png_image_free(&image);
    return ok ? rgb : std::vector<uint8_t>{};
}

// The frame as a picture shows it: red, green, blue, and black where nothing was drawn.
std::vector<uint8_t> shown(const uint8_t* frame) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i, frame += 4)
        for (int c : {2, 1, 0}) rgb.push_back(frame[3] ? frame[c] : 0);
    return rgb;
}

TEST(Screenshot, F12SavesTheComposedPictureUnderTheNextFreeNumber) {
    TempDir dir;
    const std::string rom = dir.file("game.rom");
    Log_set_sink([](void*, bool, const char*) {}, nullptr);
    Computer computer{};
    ASSERT_TRUE(Computer_init(&computer));
    Cartridge cartridge{};
    cartridge.path = rom.c_str();
    Computer_attach_cartridge(&computer, &cartridge);
    std::mt19937 random(7);
    for (int i = 0; i < VRAM_SIZE; ++i) computer.gpu.vram[i] = static_cast<uint8_t>(random());
    std::vector<uint8_t> frame(FRAME_BYTES);
    GPU_compose(&computer.gpu, frame.data());
    write_bytes(rom + ".shot-0001.png", {'o', 'l', 'd'});
    Host host{};
    auto key = [&](bool down, bool repeat) {
        SDL_Event event;
        SDL_zero(event);
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.repeat = repeat;
        event.key.keysym.scancode = SDL_SCANCODE_F12;
        testing::internal::CaptureStdout();
        Host_handle_event(&host, &computer, event);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(key(true, false), "Screenshot saved to " + rom + ".shot-0002.png\n");
    EXPECT_EQ(decode(rom + ".shot-0002.png"), shown(frame.data()));
    EXPECT_EQ(read_file(rom + ".shot-0001.png"), "old");
    EXPECT_EQ(key(false, false), "");
    EXPECT_EQ(key(true, true), "") << "a key repeat takes no picture";
    EXPECT_EQ(key(true, false), "Screenshot saved to " + rom + ".shot-0003.png\n");
    EXPECT_EQ(computer.controllers.bytes[0], 0) << "F12 is no button";
    Computer_detach_cartridge(&computer);
    Computer_free(&computer);
    Log_set_sink(nullptr, nullptr);
    std::vector<uint8_t> blank(FRAME_BYTES, 0); // long runs of one colour
    ASSERT_TRUE(Screenshot_write_png(dir.file("blank.png").c_str(), blank.data()));
    EXPECT_EQ(decode(dir.file("blank.png")), shown(blank.data()));
    EXPECT_FALSE(Screenshot_write_png(dir.file("missing/shot.png").c_str(), frame.data()));
}

} // namespace
