// Every program's command-line manners, run as a user runs them: --help,
// --version from the one version the build names, and a usage error as
// "TOOL: message" with the usage line and status 2. And the window program
// on a machine without a display.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "process.h"

namespace {

struct Tool {
    const char* name;
    const char* path;
    std::vector<std::string> missing_value; // arguments that end in an option without its value
};

const std::vector<Tool>& tools() {
    static const std::vector<Tool> all = {
        {"lumacor", LUMACOR, {}},
        {"lumacor-asm", LUMACOR_ASM, {"game.asm", "-o"}},
        {"lumacor-dis", LUMACOR_DIS, {"game.rom", "--debug"}},
        {"lumacor-run", LUMACOR_RUN, {"game.rom", "--frames"}},
        {"lumacor-gfx", LUMACOR_GFX, {"art.png", "--vram", "-o"}},
#ifdef LUMACOR_DEBUG
        {"lumacor-debug", LUMACOR_DEBUG, {}},
#endif
    };
    return all;
}

ProcessResult run(const Tool& tool, std::vector<std::string> args) {
    args.insert(args.begin(), tool.path);
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    return Process_run(args, options);
}

void expect_usage_error(const Tool& tool, const ProcessResult& r, const std::string& message) {
    EXPECT_EQ(r.exit_code, 2) << tool.name;
    EXPECT_EQ(r.out, "") << tool.name;
    std::string head = std::string(tool.name) + ": " + message;
    EXPECT_EQ(r.err.substr(0, head.size()), head) << r.err;
    EXPECT_NE(r.err.find("\nUsage: " + std::string(tool.name) + " [OPTIONS]"), std::string::npos) << r.err;
}

TEST(CommandLine, HelpShowsUsageOptionsAnExampleAndTheExitStatuses) {
    for (const Tool& tool : tools()) {
        ProcessResult r = run(tool, {"--help"});
        EXPECT_EQ(r.exit_code, 0) << tool.name;
        EXPECT_EQ(r.err, "") << tool.name;
        for (std::string part :
             {"\nUsage: " + std::string(tool.name) + " [OPTIONS]", std::string("\n  --version "),
              std::string("\n  -h,--help "), "\nExample:\n  " + std::string(tool.name) + " ",
              std::string("\nExit status:\n  0 "), std::string("\n  2 ")})
            EXPECT_NE(r.out.find(part), std::string::npos) << tool.name << " lacks '" << part << "':\n"
                                                           << r.out;
    }
}

TEST(CommandLine, VersionNamesTheBuildsVersionAndCommit) {
    const std::regex line(R"(([a-z-]+) ([0-9.]+) \(commit ([0-9a-z-]+)\)\n)");
    std::string commit;
    for (const Tool& tool : tools()) {
        ProcessResult r = run(tool, {"--version"});
        EXPECT_EQ(r.exit_code, 0) << tool.name;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(r.out, m, line)) << r.out;
        EXPECT_EQ(m[1], tool.name);
        EXPECT_EQ(m[2], LUMACOR_VERSION);
        if (commit.empty()) commit = m[3];
        EXPECT_EQ(m[3], commit) << "every program of one build names one commit";
    }
}

TEST(CommandLine, UnknownOptionsAndMissingValuesAreUsageErrors) {
    for (const Tool& tool : tools()) {
        expect_usage_error(tool, run(tool, {"--no-such-option", "x"}), "unknown option --no-such-option");
        if (tool.missing_value.empty()) continue;
        ProcessResult r = run(tool, tool.missing_value);
        expect_usage_error(tool, r, tool.missing_value.back() + ": 1 required");
    }
}

TEST(CommandLine, WindowWithoutADisplaySaysSoAndEndsAtOnce) {
    TempDir dir;
    write_bytes(dir.file("game.rom"), {0xFF});
    ProcessOptions options;
    options.env = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}, {"SDL_AUDIODRIVER", "dummy"}};
    options.timeout = 30s; // unseen, the run would go on for as long as the program does
    ProcessResult r = Process_run({LUMACOR, dir.file("game.rom")}, options);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "") << "nothing is built";
    for (const char* part :
         {"lumacor: there is no display", "xvfb-run", "SDL_VIDEODRIVER", "lumacor-run GAME.rom"})
        EXPECT_NE(r.err.find(part), std::string::npos) << part << " missing from:\n" << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("game.rom.sav")));
}

} // namespace
