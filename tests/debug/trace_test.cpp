// lumacor-run's trace with the assembler's debug information: labels named,
// frames and interrupts marked, and tracing from a given frame on.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "assembler.h"
#include "process.h"

namespace {

// Frame 0 ends with interrupts off; then the program waits for the flag
// that the frame interrupt sets; frame 2 starts in the handler, then the
// program calls a routine that stops it.
constexpr const char* SOURCE = R"(
.vector 0, frame
.start
main:   LDW   p2, 0xA000
.spin:  INCW  p4
        CMPW  p4, 6000
        JNZ   .spin
        EI
.wait:  LD    r0, [p2]
        CMP   r0, 0
        JZ    .wait
        CALL  done
done:   HALT
frame:  ST    [p2], 1
        RETI
)";

struct Traced {
    int status;
    std::vector<std::string> marks;        // lines that are not instructions
    std::vector<std::string> instructions; // the disassembly column
    std::string err;
};

// Runs lumacor-run on the program in a fresh directory, with the assembler's
// debug information beside it as ROM.dbg when `with_labels`.
Traced run_traced(std::vector<std::string> args, bool with_labels) {
    TempDir dir;
    AsmOptions options;
    options.make_debug_info = true;
    Assembly assembly = Assembler_assemble_text(dir.file("trace.asm"), SOURCE, options);
    EXPECT_TRUE(Assembly_ok(assembly));
    write_bytes(dir.file("t.rom"), assembly.image);
    if (with_labels)
        write_bytes(dir.file("t.rom.dbg"),
                    std::vector<unsigned char>(assembly.debug_info.begin(), assembly.debug_info.end()));
    args.insert(args.begin(), {LUMACOR_RUN_PATH, dir.file("t.rom"), "--no-save", "--quiet"});
    ProcessResult result = Process_run(args);
    Traced traced{result.exited ? result.exit_code : -1, {}, {}, result.err};
    std::istringstream out(result.out);
    for (std::string line; std::getline(out, line);) {
        bool instruction = line.size() > 19 && line[4] == ' ' && line.find("Z=") != std::string::npos;
        if (!instruction)
            traced.marks.push_back(line);
        else
            traced.instructions.push_back(line.substr(19, line.find("  ", 19) - 19));
    }
    return traced;
}

TEST(RunnerTrace, NamesLabelsMarksFramesAndInterruptsFromTheFrameAsked) {
    Traced traced = run_traced({"--trace-from", "2"}, true);
    ASSERT_EQ(traced.status, 0) << traced.err;
    // LDW, 6000 rounds of the spin loop and EI take 18,002 instructions, so
    // the wait loop's rounds of three fill the rest of frame 1 exactly
    // (2 * 16,666 - 18,002 = 3 * 5110) and LD is next when it ends.
    const std::vector<std::string> marks = {
        "-- interrupt 0 at main.wait -> frame", "== frame 2", "frame:",
        "-- back from interrupt to main.wait",  "main.wait:", "done:",
    };
    // The interrupt of frame 1's end is traced as frame 2 begins.
    EXPECT_EQ(traced.marks, std::vector<std::string>(marks.begin() + 1, marks.end()));
    const std::vector<std::string> instructions = {
        "ST [p2], 0x01", "RETI", "LD r0, [p2]", "CMP r0, 0x00", "JZ main.wait", "CALL done", "HALT",
    };
    EXPECT_EQ(traced.instructions, instructions);

    Traced whole = run_traced({"--trace"}, true);
    EXPECT_EQ(whole.instructions.size(), 2 * 16666u + instructions.size());
    EXPECT_EQ(std::vector<std::string>(whole.marks.end() - 6, whole.marks.end()), marks);
    // Frame 0 ended with interrupts off: no interrupt was taken there.
    EXPECT_EQ(std::count_if(whole.marks.begin(), whole.marks.end(),
                            [](const std::string& m) { return m.starts_with("-- interrupt"); }),
              1);
}

TEST(RunnerTrace, WithoutDebugInformationShowsAddresses) {
    Traced traced = run_traced({"--trace-from", "2"}, false);
    ASSERT_EQ(traced.status, 0) << traced.err;
    EXPECT_EQ(traced.marks, (std::vector<std::string>{"== frame 2", "-- back from interrupt to 0x010E"}));
    EXPECT_EQ(traced.instructions[5], "CALL 0x011A");
}

TEST(RunnerTrace, RefusesAMissingDebugInformationFileAndABadFrame) {
    Traced missing = run_traced({"--trace", "--debug-info", "missing.dbg"}, false);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("could not read debug information missing.dbg"), std::string::npos)
        << missing.err;
    EXPECT_EQ(run_traced({"--trace-from", "x"}, false).status, 2);
}

} // namespace
