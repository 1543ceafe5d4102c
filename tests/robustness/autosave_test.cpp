// The periodic save: the cartridge counting the changes to its save RAM (the
// CPU's and the DMA controller's writes both arrive through the bus), the
// schedule's once-a-second and about-a-second rules on an injected clock, and
// the write that refuses to replace a save file that could not be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "main/autosave.h"
#include "process.h"

namespace {

struct LoadedMachine {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    Computer computer{};
    Cartridge cartridge{};

    LoadedMachine() {
        write_bytes(rom, std::vector<unsigned char>(0x200, 0));
        Computer_init(&computer);
        Cartridge_load(&cartridge, rom.c_str());
        Computer_attach_cartridge(&computer, &cartridge);
    }
    // Released without Cartridge_free, which would write a save file.
    ~LoadedMachine() {
        Computer_detach_cartridge(&computer);
        std::free(cartridge.image);
        std::free(cartridge.save);
        Computer_free(&computer);
    }
};

TEST(SaveChanges, CountOnlyWritesThatChangeAByte) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, {0});
    write_bytes(rom + ".sav", {7, 7, 7});
    Cartridge cartridge{};
    Cartridge_load(&cartridge, rom.c_str());
    EXPECT_EQ(cartridge.save_changes, 0u);

    Cartridge_write_storage(&cartridge, 0xE000, 7); // what the file already gave
    Cartridge_write_storage(&cartridge, 0xE003, 0);
    EXPECT_EQ(cartridge.save_changes, 0u);
    Cartridge_write_storage(&cartridge, 0xE000, 8);
    Cartridge_write_storage(&cartridge, 0xEFFF, 1);
    Cartridge_write_storage(&cartridge, 0xEFFF, 1);
    EXPECT_EQ(cartridge.save_changes, 2u);
    std::free(cartridge.image);
    std::free(cartridge.save);
}

TEST(SaveChanges, CpuAndDmaWritesThroughTheBusCount) {
    LoadedMachine machine;
    Bus* bus = &machine.computer.bus;
    Bus_write(bus, 0xE010, 0x42);
    EXPECT_EQ(machine.cartridge.save_changes, 1u);

    // DMA: copy 4 bytes of work RAM (0x11 each) into save RAM at 0xE100.
    for (uint16_t a = 0xA000; a < 0xA004; ++a) Bus_write(bus, a, 0x11);
    const uint8_t registers[] = {0xA0, 0x00, 0xE1, 0x00, 0x00, 0x04, 0x01};
    for (int i = 0; i < 7; ++i) Bus_write(bus, static_cast<uint16_t>(DMA_FIRST + i), registers[i]);
    DMA_update(&machine.computer.dma);
    EXPECT_EQ(machine.cartridge.save_changes, 5u);
    EXPECT_EQ(Bus_read(bus, 0xE103), 0x11);
}

TEST(SaveSchedule, FirstChangeIsWrittenAtOnceLaterOnesASecondApart) {
    SaveSchedule schedule;
    SaveSchedule_start(&schedule, 5000, 0);
    EXPECT_FALSE(SaveSchedule_due(&schedule, 5000, 0)) << "nothing changed";
    EXPECT_TRUE(SaveSchedule_due(&schedule, 5000, 1));
    SaveSchedule_done(&schedule, 5000, 1, true);

    EXPECT_FALSE(SaveSchedule_due(&schedule, 5016, 2));
    EXPECT_FALSE(SaveSchedule_due(&schedule, 5999, 2));
    EXPECT_TRUE(SaveSchedule_due(&schedule, 6000, 2));
    SaveSchedule_done(&schedule, 6000, 2, true);
    EXPECT_FALSE(SaveSchedule_due(&schedule, 60000, 2)) << "written, nothing new";
}

// A frame loop on a simulated clock, 16 ms per frame, with a program that
// changes its save RAM in bursts: no two writes less than a second apart, and
// every change on disk within a second (plus the frame that notices it).
TEST(SaveSchedule, FrameLoopKeepsBothRules) {
    SaveSchedule schedule;
    SaveSchedule_start(&schedule, 0, 0);
    uint64_t changes = 0;
    std::vector<int64_t> writes;
    std::vector<std::pair<int64_t, uint64_t>> change_times; // when each count was reached
    for (int64_t now = 0; now < 20000; now += 16) {
        bool changing = (now / 2500) % 2 == 0 || now % 700 < 16; // bursts and lone changes
        if (changing) {
            ++changes;
            change_times.push_back({now, changes});
        }
        if (SaveSchedule_due(&schedule, now, changes)) {
            SaveSchedule_done(&schedule, now, changes, true);
            writes.push_back(now);
            for (auto& [when, count] : change_times) {
                if (when < 0) continue;
                EXPECT_LE(now - when, SAVE_INTERVAL_MS + 16) << "change " << count;
                when = -1; // on disk now
            }
        }
    }
    ASSERT_GE(writes.size(), 10u);
    for (size_t i = 1; i < writes.size(); ++i) EXPECT_GE(writes[i] - writes[i - 1], SAVE_INTERVAL_MS);
    for (auto& [when, count] : change_times) {
        if (when < 0) continue;
        EXPECT_GE(when, 20000 - SAVE_INTERVAL_MS - 16) << "change " << count << " never written";
    }
}

TEST(SaveSchedule, FailedWritesAreRetriedEverySecondAndReportedOnce) {
    SaveSchedule schedule;
    SaveSchedule_start(&schedule, 0, 0);
    ASSERT_TRUE(SaveSchedule_due(&schedule, 100, 3));
    EXPECT_TRUE(SaveSchedule_done(&schedule, 100, 3, false));
    EXPECT_FALSE(SaveSchedule_due(&schedule, 1099, 3));
    ASSERT_TRUE(SaveSchedule_due(&schedule, 1100, 3)) << "still unsaved: try again";
    EXPECT_FALSE(SaveSchedule_done(&schedule, 1100, 3, false)) << "same failure, already reported";
    ASSERT_TRUE(SaveSchedule_due(&schedule, 2100, 4));
    EXPECT_FALSE(SaveSchedule_done(&schedule, 2100, 4, true));
    ASSERT_TRUE(SaveSchedule_due(&schedule, 3100, 5));
    EXPECT_TRUE(SaveSchedule_done(&schedule, 3100, 5, false)) << "a new failure after a success";
}

TEST(SaveFile, WriteGoesThroughATemporaryFileAndLeavesNoneBehind) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, {0});
    Cartridge cartridge{};
    Cartridge_load(&cartridge, rom.c_str());
    Cartridge_write_storage(&cartridge, 0xE000, 0x99);
    std::string error;
    ASSERT_TRUE(Cartridge_store_save(&cartridge, &error)) << error;
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_EQ(saved.size(), SAVE_SIZE);
    EXPECT_EQ(saved[0], 0x99);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2) << "the ROM and its save, no temporary file";
    std::free(cartridge.image);
    std::free(cartridge.save);
}

TEST(SaveFile, ASaveThatCouldNotBeReadIsNeverReplaced) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    write_bytes(rom, {0});
    std::filesystem::create_directory(rom + ".sav");
    Cartridge cartridge{};
    testing::internal::CaptureStderr();
    Cartridge_load(&cartridge, rom.c_str());
    std::string load_err = testing::internal::GetCapturedStderr();
    EXPECT_NE(load_err.find("Could not read save " + rom + ".sav: not a regular file"), std::string::npos)
        << load_err;
    EXPECT_TRUE(cartridge.keep_save_file);
    ASSERT_NE(cartridge.save, nullptr) << "the program still has its save RAM";
    EXPECT_EQ(Cartridge_read_storage(&cartridge, 0xE000), 0);

    Cartridge_write_storage(&cartridge, 0xE000, 1);
    std::string error;
    EXPECT_FALSE(Cartridge_store_save(&cartridge, &error));
    EXPECT_NE(error.find("could not be read at start"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(rom + ".sav"));
    std::free(cartridge.image);
    std::free(cartridge.save);
}

} // namespace
