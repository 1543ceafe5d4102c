// Every program's command-line manners, run as a user runs them: --help,
// --version from the one version the build names, and a usage error as
// "TOOL: message" with the usage line and status 2. And the window program
// on a machine without a display.
#include <gtest/gtest.h>

#include <regex>

#include "process.h"

namespace {

struct Tool {
    const char* name;
    const char* path;
    const char* option_with_value; // given without its value, a usage error
};

const std::vector<Tool>& tools() {
    static const std::vector<Tool> all = {
        {"lumacor", LUMACOR, nullptr},
        {"lumacor-asm", LUMACOR_ASM, "-o"},
        {"lumacor-dis", LUMACOR_DIS, "--debug"},
        {"lumacor-run", LUMACOR_RUN, "--frames"},
        {"lumacor-gfx", LUMACOR_GFX, "-o"},
        {"lumacor-sound", LUMACOR_SOUND, "-o"},
        {"lumacor-map", LUMACOR_MAP, "--output"},
#ifdef LUMACOR_DEBUG
        {"lumacor-debug", LUMACOR_DEBUG, nullptr},
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

// --help: usage, every option, the example and the exit statuses; --version:
// the version the build names, and the commit.
TEST(CommandLine, HelpAndVersion) {
    const std::regex version(R"(([a-z-]+) ([0-9.]+) \(commit [0-9a-z-]+\)\n)");
    for (const Tool& tool : tools()) {
        ProcessResult r = run(tool, {"--help"});
        EXPECT_EQ(r.exit_code + r.err.size(), 0u) << tool.name << r.err;
        for (std::string part :
             {"\nUsage: " + std::string(tool.name) + " [OPTIONS]", std::string("\n  --version "),
              "\nExample:\n  " + std::string(tool.name) + " ", std::string("\nExit status:\n  0 "),
              std::string("\n  2 ")})
            EXPECT_NE(r.out.find(part), std::string::npos) << tool.name << " lacks '" << part << "':\n"
                                                           << r.out;
        r = run(tool, {"--version"});
        std::smatch m;
        EXPECT_EQ(r.exit_code, 0) << tool.name;
        ASSERT_TRUE(std::regex_match(r.out, m, version)) << r.out;
        EXPECT_EQ(m[1].str() + " " + m[2].str(), std::string(tool.name) + " " + LUMACOR_VERSION);
    }
}

TEST(CommandLine, UnknownOptionsAndMissingValuesAreUsageErrors) {
    for (const Tool& tool : tools()) {
        expect_usage_error(tool, run(tool, {"--no-such-option", "x"}), "unknown option --no-such-option");
        if (tool.option_with_value)
            expect_usage_error(tool, run(tool, {"x", tool.option_with_value}),
                               tool.option_with_value + std::string(": 1 required"));
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
}

} // namespace
