// A fresh machine for each test: the Computer built in place (its start-up
// map captured, not printed), helpers that poke a program into memory and
// run it, and a cartridge held in memory for tests that need ROM contents.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cartridge/cartridge_file.h"
#include "computer/computer.h"
#include "cpu/cpu.h"

constexpr uint16_t PROGRAM = 0xA000; // work RAM: programs run from here

// A cartridge whose image is a vector owned by the test; never passed to
// Cartridge_free, which would release the image and write a save file.
struct MemoryCartridge {
    std::vector<uint8_t> image;
    std::vector<uint8_t> save;
    Cartridge cartridge{};

    explicit MemoryCartridge(std::size_t size, bool with_save = false)
        : image(size), save(with_save ? SAVE_SIZE : 0) {
        for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        cartridge.image = image.data();
        cartridge.image_size = image.size();
        cartridge.bank = 1;
        cartridge.save = with_save ? save.data() : nullptr;
        cartridge.save_size = with_save ? SAVE_SIZE : 0;
    }
};

class MachineTest : public testing::Test {
protected:
    void SetUp() override {
        testing::internal::CaptureStdout();
        bool built = Computer_init(&computer);
        start_up_map = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(built);
        test_byte = 0;
    }
    void TearDown() override { Computer_free(&computer); }

    CPU* cpu() { return &computer.cpu; }
    uint8_t* regs() { return CPU_regs(&computer.cpu); }
    uint8_t* stack() { return CPU_stack_page(&computer.cpu); }
    uint8_t flags() { return regs()[FLAGS]; }
    uint16_t pc() { return CPU_pc(&computer.cpu); }
    uint16_t sp() { return CPU_sp(&computer.cpu); }
    uint16_t pair(int p) { return CPU_pair(&computer.cpu, p); }

    uint8_t read(uint16_t address) { return Bus_read(&computer.bus, address); }
    void write(uint16_t address, uint8_t value) { Bus_write(&computer.bus, address, value); }

    // Puts the bytes at `at` through the bus and starts the CPU there.
    void program(std::initializer_list<uint8_t> bytes, uint16_t at = PROGRAM) {
        uint16_t address = at;
        for (uint8_t b : bytes) write(address++, b);
        CPU_set_pc(cpu(), at);
        CPU_start(cpu());
    }
    void step(int count = 1) {
        for (int i = 0; i < count; ++i) CPU_step(cpu());
    }
    // Loads and runs one instruction, returning PC after it.
    uint16_t run_one(std::initializer_list<uint8_t> bytes) {
        program(bytes);
        step();
        return pc();
    }

    Computer computer{};
    std::string start_up_map;
};
