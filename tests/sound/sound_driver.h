// A program that runs the driver in the machine, one frame at a time, for
// tests and benchmarks: it starts one block at once, and may call another
// driver routine on a second block after a number of frames. Between its
// calls the interrupted code holds known values in r0..r11, so a driver that
// changes a register shows.
#pragma once

#include <array>
#include <fstream>
#include <iterator>
#include <string>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"

struct DriverRun {
    Computer computer{};
    Cartridge cartridge{};
    Assembly assembly;
    bool ok = false;
    std::string error; // why it did not assemble

    // `then` is called with p0 = `second` at the start of snd_frame call
    // number `at` + 1 (so after `at` frames of the first block). `ram` is
    // the program's own setting of the driver's RAM, if any.
    DriverRun(const std::string& include, const std::string& first, bool first_is_effect,
              const std::string& second = "", int at = 0, const std::string& then = "snd_effect",
              const std::string& ram = "SND_RAM = 0xDFE0\n") {
        std::string source = ".include \"lumacor.inc\"\n" + ram +
                             ".vector 0, frame\n"
                             ".start\n"
                             "        CALL  snd_init\n"
                             "        LDW   p0, " +
                             first + "\n        CALL  " + (first_is_effect ? "snd_effect" : "snd_music") +
                             "\n";
        for (int r = 0; r <= 10; ++r)
            source += "        LD    r" + std::to_string(r) + ", " + std::to_string(r + 1) + "\n";
        source += "        LD    FLAGS, 0xC5\n"
                  "        EI\n"
                  "idle:   JMP   idle\n"
                  "frame:  PUSH  p10\n"
                  "        PUSH  p0\n";
        if (!second.empty())
            source += "        INC   r16\n"
                      "        CMP   r16, " +
                      std::to_string(at + 1) + "\n        JNZ   .on\n        LDW   p0, " + second +
                      "\n        CALL  " + then + "\n";
        source += ".on:    POP   p0\n"
                  "        POP   p10\n"
                  "        CALL  snd_frame\n"
                  "        RETI\n"
                  "        .include \"sound.inc\"\n"
                  "        .include \"sounds.inc\"\n";
        AsmOptions options;
        options.include_dirs = {LUMACOR_INCLUDE_DIR};
        options.read_file = [&include](const std::string& path, std::string& contents) {
            if (path.ends_with("/sounds.inc") || path == "sounds.inc") {
                contents = include;
                return true;
            }
            std::ifstream in(path, std::ios::binary);
            contents.assign(std::istreambuf_iterator<char>(in), {});
            return static_cast<bool>(in);
        };
        assembly = Assembler_assemble_text("driver.asm", source, options);
        if (!Assembly_ok(assembly)) {
            error = AsmDiagnostic_format(assembly.diagnostics.at(0));
            return;
        }
        Log_set_sink([](void*, bool, const char*) {}, nullptr);
        ok = Computer_init(&computer) && Cartridge_init_image(&cartridge, assembly.image);
        if (!ok) return;
        Computer_attach_cartridge(&computer, &cartridge);
        Computer_start(&computer);
        Computer_run_frame(&computer, nullptr); // the set-up; the first snd_frame runs next frame
    }
    ~DriverRun() {
        if (computer.cartridge) Computer_detach_cartridge(&computer);
        Cartridge_free_image(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }

    void frame() { Computer_run_frame(&computer, nullptr); }

    std::array<int, 3> registers() const {
        return {computer.apu.waveform.load(), computer.apu.note.load(), computer.apu.volume.load()};
    }

    bool registers_kept() const {
        for (int r = 0; r <= 10; ++r)
            if (computer.cpu.cells[r] != r + 1) return false;
        return computer.cpu.cells[11] == 0xC5;
    }

    int64_t symbol(const std::string& name) const {
        for (const AsmSymbol& s : assembly.symbols)
            if (s.name == name) return s.value;
        return -1;
    }
};
