#include "cli.h"

#include "cli_version.h"

#include <iostream>
#include <sstream>

// Each line of a block indented under its heading, as help2man and a reader
// both expect of a section; `apart` leaves a blank line between lines, so
// that help2man keeps each example on a line of its own.
static std::string indented(const char* text, bool apart) {
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        out += (apart && !out.empty() ? "\n  " : "  ") + line + "\n";
    return out;
}

static std::string usage_line(const CLI::App& app) {
    std::istringstream help(app.help());
    for (std::string line; std::getline(help, line);)
        if (line.rfind("Usage:", 0) == 0) return line;
    return std::string("Usage: ") + app.get_name() + " [OPTIONS]";
}

std::string Cli_version_line(const char* name) {
    return std::string(name) + " " + LUMACOR_VERSION + " (commit " + LUMACOR_COMMIT + ")";
}

void Cli_init(CLI::App& app, const CliTool& tool) {
    app.name(tool.name);
    app.description(tool.summary);
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", Cli_version_line(tool.name),
                         "print the version and the commit and exit");
    app.footer("\nExample:\n" + indented(tool.example, true) + "\nExit status:\n" +
               indented(tool.exits, false));
}

int Cli_parse(CLI::App& app, const CliTool& tool, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        // A mistyped option is the fault to name, not the required argument
        // that seems missing because of it.
        std::vector<std::string> extras = app.remaining();
        if (!extras.empty() && !app.get_allow_extras()) {
            const std::string& first = extras.front();
            bool option = first.size() > 1 && first[0] == '-';
            return Cli_usage_error(app, tool, (option ? "unknown option " : "unexpected argument ") + first);
        }
        return Cli_usage_error(app, tool, error.what());
    }
    return -1;
}

int Cli_usage_error(const CLI::App& app, const CliTool& tool, const std::string& message) {
    std::cerr << tool.name << ": " << message << "\n"
              << usage_line(app) << "\n"
              << "Run '" << tool.name << " --help' for more.\n";
    return CLI_USAGE_ERROR;
}
