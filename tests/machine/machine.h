// A fresh machine for a test: the Computer built in place with a cartridge
// made from an image in memory, its diagnostic lines kept instead of printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"

constexpr uint16_t PROGRAM = 0xA000; // programs run from work RAM

struct Machine {
    Computer computer{};
    Cartridge cartridge{};
    std::string log; // the diagnostic lines after the memory map

    explicit Machine(const std::vector<uint8_t>& image = {}) {
        Log_set_sink([](void* log, bool, const char* text) { *static_cast<std::string*>(log) += text; },
                     &log);
        EXPECT_TRUE(Computer_init(&computer));
        EXPECT_TRUE(Cartridge_init_image(&cartridge, image));
        Computer_attach_cartridge(&computer, &cartridge);
        log.clear();
        test_byte = 0;
    }
    ~Machine() {
        Computer_detach_cartridge(&computer);
        Cartridge_free_image(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }
    CPU* cpu() { return &computer.cpu; }
    uint8_t read(uint16_t address) { return Bus_read(&computer.bus, address); }
    void write(uint16_t address, uint8_t value) { Bus_write(&computer.bus, address, value); }
    void write(uint16_t address, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) write(address++, b);
    }
    // Puts the program at `at` and starts the CPU there.
    void program(const std::vector<uint8_t>& code, uint16_t at = PROGRAM) {
        write(at, code);
        CPU_set_pc(cpu(), at);
        CPU_start(cpu());
    }
    std::string take_log() { return std::exchange(log, {}); }
};
