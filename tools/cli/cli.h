// The command-line manners every lumacor program shares: options parsed by
// CLI11, --help with the usage, every option, an example and the exit
// statuses, --version with the version and the commit the build came from,
// and a usage error as "TOOL: message" plus the usage line, status 2.
//
//   CLI::App app;
//   Cli_init(app, tool);
//   app.add_option(...);
//   if (int status = Cli_parse(app, tool, argc, argv); status >= 0) return status;
#pragma once

#include <CLI/CLI.hpp>

#include <string>

struct CliTool {
    const char* name;    // "lumacor-asm"
    const char* summary; // one line: what the tool does
    const char* example; // one or more example command lines, shown under "Example:"
    const char* exits;   // the exit statuses, "0 success, 1 ..., 2 wrong usage"
};

// The status of every usage error (an unknown option, a missing or bad argument).
inline constexpr int CLI_USAGE_ERROR = 2;

// Sets up `app` with the project's manners: --help (usage, every option, the
// example, the exit statuses) and --version (version and commit).
void Cli_init(CLI::App& app, const CliTool& tool);

// Parses. Returns -1 to go on, or the status to exit with: 0 after --help or
// --version, 2 after a usage error, printed as "TOOL: message" and a usage
// line on standard error.
int Cli_parse(CLI::App& app, const CliTool& tool, int argc, char** argv);

// A usage error found after parsing (options that exclude each other, a
// missing input): prints it as Cli_parse prints its own and returns 2.
int Cli_usage_error(const CLI::App& app, const CliTool& tool, const std::string& message);

// "lumacor-asm 0.1 (commit 1a2b3c4)": what --version prints.
std::string Cli_version_line(const char* name);
