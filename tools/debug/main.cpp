// lumacor-debug: a debug adapter for lumacor programs, speaking the Debug
// Adapter Protocol on standard input and output. An editor starts it and
// sends `launch` with the ROM to debug; see docs/debugging.md.
//
// Standard output is the protocol's channel: the machine's own printing
// reaches the editor as output events instead. Input that cannot be read
// on ends the adapter with status 1 and the reason on standard error.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "cartridge/cartridge_file.h"
#include "channel.h"
#include "cli.h"
#include "requests.h"
#include "window.h"

constexpr CliTool TOOL = {
    "lumacor-debug",
    "A debug adapter for lumacor programs: speaks the Debug Adapter Protocol on standard input and output. "
    "An editor starts it and sends 'launch' with the ROM to debug (see docs/debugging.md).",
    "lumacor-debug    (started by the editor, which writes the protocol's messages to it)",
    "0  the editor ended the session, or closed the input between messages\n"
    "1  the input broke off inside a message, or the editor stopped reading (the reason is on standard "
    "error)\n"
    "2  wrong usage",
};

int main(int argc, char** argv) {
    // Some clients start an adapter with an empty argument in place of a
    // script for a runtime; it names nothing and is passed over.
    std::vector<char*> args(argv, argv + argc);
    std::erase_if(args, [](const char* arg) { return *arg == '\0'; });
    CLI::App app;
    Cli_init(app, TOOL);
    if (int status = Cli_parse(app, TOOL, static_cast<int>(args.size()), args.data()); status >= 0)
        return status;
    // A client that stops reading is noticed as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // Never freed: its reader thread may still be blocked in a read at exit.
    Channel* channel = new Channel();
    Channel_open(channel, STDIN_FILENO, stdout);
    static Adapter adapter{};
    Adapter_init(&adapter, MessageSink{Channel_write, channel, 1},
                 AdapterHost{File_read, Window_open, Window_close, Window_frame_shown});

    auto take = [](const Frame& frame) {
        if (frame.kind == FrameKind::Message)
            Adapter_handle(&adapter, frame.text);
        else
            Adapter_report_fault(&adapter, frame.text);
    };
    Frame frame;
    while (!adapter.quit && !channel->lost) {
        if (Adapter_running(&adapter)) {
            Adapter_run_slice(&adapter);
            while (!adapter.quit && Channel_poll(channel, &frame)) take(frame);
        } else if (Channel_wait(channel, &frame, adapter.window_open ? 15 : -1)) {
            take(frame);
        } else if (adapter.window_open && Window_poll(&adapter.session)) {
            Adapter_end(&adapter);
        }
        if (Channel_ended(channel)) break;
    }
    std::string broken = adapter.quit    ? std::string()
                         : channel->lost ? "the client stopped reading the output"
                                         : Channel_broken(channel);
    if (!broken.empty()) Adapter_report_fault(&adapter, "the rest of the input: " + broken);
    Adapter_free(&adapter);
    std::fflush(stdout);
    if (broken.empty()) return 0;
    std::fprintf(stderr, "lumacor-debug: %s\n", broken.c_str());
    return 1;
}
