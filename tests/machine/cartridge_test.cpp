// The cartridge: the fixed and banked ROM windows, bank selection, loading
// limits, and the save RAM read at load and written back at free.
#include "machine_test.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>

#include <sys/stat.h>

#include "process.h"

namespace {

namespace fs = std::filesystem;
using CartridgeBanks = MachineTest;
using CartridgeFiles = MachineTest;

std::vector<unsigned char> pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i ^ (i >> 8) ^ (i >> 14));
    return bytes;
}

// Loads with its stdout captured into `printed`.
void load(Cartridge* cartridge, const std::string& path, std::string* printed) {
    testing::internal::CaptureStdout();
    Cartridge_load(cartridge, path.c_str());
    *printed = testing::internal::GetCapturedStdout();
}

std::string free_cartridge(Cartridge* cartridge) {
    testing::internal::CaptureStdout();
    Cartridge_free(cartridge);
    return testing::internal::GetCapturedStdout();
}

TEST_F(CartridgeBanks, BankSwitchingThroughTheBus) {
    MemoryCartridge cart(0x8000);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    testing::internal::CaptureStdout();
    write(0x4000, 2);
    EXPECT_EQ(read(0x4000), 0); // image offset 0x8000 is past a 32 KiB image
    EXPECT_EQ(read(0x0000), cart.image[0]);
    write(0x5000, 0); // bank 0 cannot be selected
    write(0x2000, 3); // the fixed window ignores writes
    write(0x7FFF, 1);
    write(0x7FFF, 1); // the same bank again still prints
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Bank switched to: 2\nBank switched to: 1\nBank switched to: 1\n");
    EXPECT_EQ(cart.cartridge.bank, 1);
    EXPECT_EQ(read(0x4000), cart.image[0x4000]);
    EXPECT_EQ(cart.image[0x2000], static_cast<uint8_t>(0x2000 * 7 + 0x20)); // ROM unchanged
}

TEST_F(CartridgeBanks, StoreInstructionSelectsABank) {
    MemoryCartridge cart(0x10000);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    CPU_set_pair(cpu(), 0, 0x4000);
    testing::internal::CaptureStdout();
    run_one({0x14, 0x00, 0x03}); // ST [p0], 3
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bank switched to: 3\n");
    EXPECT_EQ(read(0x4001), cart.image[3 * 0x4000 + 1]);
    EXPECT_EQ(read(0x7FFF), cart.image[0xFFFF]);
}

TEST_F(CartridgeBanks, LastBankOfAFullImage) {
    MemoryCartridge cart(ROM_MAX_SIZE);
    Computer_attach_cartridge(&computer, &cart.cartridge);
    testing::internal::CaptureStdout();
    write(0x4000, 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Bank switched to: 255\n");
    EXPECT_EQ(read(0x7FFF), cart.image[4194303]);
    EXPECT_EQ(read(0x4000), cart.image[255 * 0x4000]);
}

// The handler answers only its own window, even when called past it.
TEST_F(CartridgeBanks, HandlerReadsZeroAboveTheRomWindow) {
    MemoryCartridge cart(0x10000);
    EXPECT_EQ(Cartridge_read_rom(&cart.cartridge, 0x7FFF), cart.image[0x7FFF]);
    EXPECT_EQ(Cartridge_read_rom(&cart.cartridge, 0x8000), 0);
    EXPECT_EQ(Cartridge_read_rom(&cart.cartridge, 0xBFFF), 0);
}

TEST_F(CartridgeFiles, LoadClearsTemporaryFilesLeftByAnInterruptedSaveWrite) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, pattern(64));
    write_bytes(rom + ".sav", std::vector<unsigned char>(SAVE_SIZE, 0x5A));
    write_bytes(rom + ".sav.tmp-a1B2c3", std::vector<unsigned char>(100, 1));
    write_bytes(rom + ".sav.tmp-keep", {1});          // not a name the save write makes
    write_bytes(dir.file("other.rom.sav.tmp-a1B2c3"), {1}); // another ROM's
    Cartridge cartridge{};
    std::string printed;
    load(&cartridge, rom, &printed);
    EXPECT_FALSE(fs::exists(rom + ".sav.tmp-a1B2c3"));
    EXPECT_TRUE(fs::exists(rom + ".sav.tmp-keep"));
    EXPECT_TRUE(fs::exists(dir.file("other.rom.sav.tmp-a1B2c3")));
    ASSERT_NE(cartridge.save, nullptr);
    EXPECT_EQ(cartridge.save[0], 0x5A);
    free_cartridge(&cartridge);
}

TEST_F(CartridgeFiles, A32KiBImageReadsInOrder) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    std::vector<unsigned char> bytes = pattern(0x8000);
    write_bytes(rom, bytes);
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(cart.bank, 1);
    EXPECT_EQ(cart.image_size, 0x8000u);
    EXPECT_EQ(cart.save_size, SAVE_SIZE);
    Computer_attach_cartridge(&computer, &cart);
    for (uint32_t a = 0; a < 0x8000; ++a) ASSERT_EQ(read(static_cast<uint16_t>(a)), bytes[a]) << a;
    Computer_detach_cartridge(&computer);
    free_cartridge(&cart);
    EXPECT_EQ(cart.image, nullptr);
    EXPECT_EQ(cart.save, nullptr);
    EXPECT_EQ(cart.path, nullptr);
}

TEST_F(CartridgeFiles, ShortAndEmptyImagesReadZeroPastTheirEnd) {
    TempDir dir;
    // The cartridge borrows its path: keep both alive.
    const std::string short_rom = dir.file("short.rom"), empty_rom = dir.file("empty.rom");
    write_bytes(short_rom, pattern(100));
    write_bytes(empty_rom, {});
    Cartridge cart{};
    std::string printed;
    load(&cart, short_rom, &printed);
    Computer_attach_cartridge(&computer, &cart);
    EXPECT_EQ(read(0x0063), pattern(100)[99]);
    EXPECT_EQ(read(0x0064), 0);
    EXPECT_EQ(read(0x3FFF), 0);
    EXPECT_EQ(read(0x4000), 0);
    free_cartridge(&cart);

    load(&cart, empty_rom, &printed);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(cart.image_size, 0u);
    EXPECT_EQ(read(0x0000), 0);
    write(0xE123, 0x5A); // storage works without an image
    EXPECT_EQ(read(0xE123), 0x5A);
    free_cartridge(&cart);
}

TEST_F(CartridgeFiles, OnlyTheFirst16MillionBytesLoad) {
    TempDir dir;
    std::string rom = dir.file("big.rom");
    write_bytes(rom, {});
    fs::resize_file(rom, 20000000);
    {
        FILE* f = std::fopen(rom.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 15999999, SEEK_SET);
        std::fputc(0x77, f);
        std::fputc(0x88, f);
        std::fclose(f);
    }
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(cart.image_size, ROM_MAX_SIZE);
    EXPECT_EQ(cart.image[15999999], 0x77);
    free_cartridge(&cart);
}

TEST_F(CartridgeFiles, SaveRamRoundTrip) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, pattern(0x200));
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    Computer_attach_cartridge(&computer, &cart);
    for (uint32_t a = 0xE000; a <= 0xEFFF; ++a) ASSERT_EQ(read(static_cast<uint16_t>(a)), 0);
    write(0xE000, 0x11);
    write(0xE7FF, 0x22);
    write(0xEFFF, 0x33);
    Computer_detach_cartridge(&computer);
    EXPECT_EQ(free_cartridge(&cart), "Writing save to " + rom + ".sav\n");

    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_EQ(saved[0], 0x11);
    EXPECT_EQ(saved[0x7FF], 0x22);
    EXPECT_EQ(saved[0xFFF], 0x33);
    // An ordinary file, as the umask allows, not the temporary file's 0600.
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<unsigned>(fs::status(rom + ".sav").permissions()), 0666u & ~mask);
    // Nothing but the ROM and its save is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);

    load(&cart, rom, &printed);
    Computer_attach_cartridge(&computer, &cart);
    EXPECT_EQ(read(0xE000), 0x11);
    EXPECT_EQ(read(0xE7FF), 0x22);
    EXPECT_EQ(read(0xEFFF), 0x33);
    EXPECT_EQ(read(0xE001), 0x00);
    Computer_detach_cartridge(&computer);
    free_cartridge(&cart);
}

TEST_F(CartridgeFiles, ShortSaveFillsTheStartAndIsRewrittenWhole) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, pattern(0x200));
    write_bytes(rom + ".sav", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    Computer_attach_cartridge(&computer, &cart);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(read(static_cast<uint16_t>(0xE000 + i)), i + 1);
    EXPECT_EQ(read(0xE00A), 0);
    EXPECT_EQ(read(0xEFFF), 0);
    Computer_detach_cartridge(&computer);
    free_cartridge(&cart);
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_EQ(saved[9], 10);
    EXPECT_EQ(saved[10], 0);
}

TEST_F(CartridgeFiles, LongSaveUsesOnlyItsFirst4096Bytes) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, {0xFF});
    std::vector<unsigned char> long_save(5000, 0xEE);
    write_bytes(rom + ".sav", long_save);
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    EXPECT_EQ(cart.save[4095], 0xEE);
    free_cartridge(&cart);
    EXPECT_EQ(read_bytes(rom + ".sav").size(), 4096u);
}

TEST_F(CartridgeFiles, PathsLongerThan190BytesGetTheirSave) {
    TempDir dir;
    std::string deep = dir.path + "/" + std::string(100, 'd') + "/" + std::string(100, 'e');
    fs::create_directories(deep);
    std::string rom = deep + "/" + std::string(60, 'r') + ".rom";
    ASSERT_GT(rom.size(), 190u);
    write_bytes(rom, {0xFF});
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    ASSERT_NE(cart.save, nullptr);
    cart.save[5] = 0x42;
    EXPECT_EQ(free_cartridge(&cart), "Writing save to " + rom + ".sav\n");
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_EQ(saved[5], 0x42);
}

TEST_F(CartridgeFiles, MissingFileOrDirectoryLeavesAnEmptyCartridge) {
    TempDir dir;
    fs::create_directory(dir.file("folder.rom"));
    for (const std::string& rom : {dir.file("missing.rom"), dir.file("folder.rom")}) {
        Cartridge cart{};
        std::string printed;
        load(&cart, rom, &printed);
        EXPECT_EQ(printed, "File could not be opened: " + rom + "\n");
        EXPECT_EQ(cart.image, nullptr);
        EXPECT_EQ(cart.save, nullptr);
        Computer_attach_cartridge(&computer, &cart);
        EXPECT_EQ(read(0x0100), 0);
        write(0xE000, 9);
        EXPECT_EQ(read(0xE000), 0);
        Computer_detach_cartridge(&computer);
        EXPECT_EQ(free_cartridge(&cart), "");
        EXPECT_FALSE(fs::exists(rom + ".sav")) << rom;
    }
}

TEST_F(CartridgeFiles, FailedSaveWriteIsReportedOnceWithTheReason) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, {0xFF});
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    ASSERT_NE(cart.save, nullptr);
    fs::create_directory(rom + ".sav"); // a directory cannot be replaced by the save
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Cartridge_write_save(&cart));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(rom + ".sav"), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(EISDIR)), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.back(), '\n');
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);
    // Free still reports the attempt and releases the save RAM.
    testing::internal::CaptureStderr();
    EXPECT_EQ(free_cartridge(&cart), "Writing save to " + rom + ".sav\n");
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(cart.save, nullptr);
}

TEST_F(CartridgeFiles, SaveIntoAVanishedDirectoryFails) {
    TempDir dir;
    fs::create_directory(dir.file("sub"));
    std::string rom = dir.file("sub/game.rom");
    write_bytes(rom, {0xFF});
    Cartridge cart{};
    std::string printed;
    load(&cart, rom, &printed);
    fs::remove_all(dir.file("sub"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Cartridge_write_save(&cart));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(rom + ".sav"), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(ENOENT)), std::string::npos) << err;
    testing::internal::CaptureStderr();
    free_cartridge(&cart);
    testing::internal::GetCapturedStderr();
}

TEST(CartridgeSave, NothingToSaveIsNotAFailure) {
    Cartridge cart{};
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Cartridge_write_save(&cart));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
