// A machine whose cartridge is assembled from text, which may include one
// file given here, also as text; the machine's diagnostic lines are dropped.
// The test's target defines LUMACOR_INCLUDE_DIR, where lumacor.inc is.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "assembler.h"
#include "cartridge/cartridge.h"
#include "computer/computer.h"
#include "computer/log.h"
#include "process.h"

struct AssembledMachine {
    Computer computer{};
    Cartridge cartridge{};

    explicit AssembledMachine(const std::string& source, const std::string& include_name = "",
                              const std::string& include = "") {
        TempDir dir;
        if (!include_name.empty()) write_text(dir.file(include_name), include);
        AsmOptions options;
        options.include_dirs = {LUMACOR_INCLUDE_DIR, dir.path};
        Assembly assembly = Assembler_assemble_text("test.asm", source, options);
        EXPECT_TRUE(Assembly_ok(assembly)) << AsmDiagnostic_format(assembly.diagnostics.at(0));
        Log_set_sink([](void*, bool, const char*) {}, nullptr);
        EXPECT_TRUE(Computer_init(&computer));
        EXPECT_TRUE(Cartridge_init_image(&cartridge, assembly.image));
        Computer_attach_cartridge(&computer, &cartridge);
    }
    ~AssembledMachine() {
        Computer_detach_cartridge(&computer);
        Cartridge_free_image(&cartridge);
        Computer_free(&computer);
        Log_set_sink(nullptr, nullptr);
    }
    AssembledMachine(const AssembledMachine&) = delete;
    AssembledMachine& operator=(const AssembledMachine&) = delete;
};
