// lumacor-debug: a debug adapter for lumacor programs, speaking the Debug
// Adapter Protocol on standard input and output. An editor starts it and
// sends `launch` with the ROM to debug; see docs/debugging.md.
//
// Standard output is the protocol's channel: the machine's own printing
// reaches the editor as output events instead.
#include <cstdio>
#include <string>

#include "dap.h"
#include "requests.h"
#include "window.h"

int main() {
    // Never freed: its reader thread may still be blocked in a read at exit.
    DapChannel* channel = new DapChannel();
    Dap_open(channel, stdin, stdout);
    static Adapter adapter{};
    Adapter_init(&adapter, channel, Window_host());

    std::string text;
    while (!adapter.quit) {
        bool running = adapter.launched && adapter.configured && adapter.session.state == RunState::Running;
        if (running) {
            Adapter_after_slice(&adapter, Session_run_slice(&adapter.session));
            while (!adapter.quit && Dap_poll(channel, &text)) Adapter_handle(&adapter, text);
        } else if (Dap_wait(channel, &text, adapter.window_open ? 15 : -1)) {
            Adapter_handle(&adapter, text);
        } else if (adapter.window_open) {
            Window_poll(&adapter);
        }
        if (Dap_input_ended(channel)) break;
    }
    Adapter_free(&adapter);
    std::fflush(stdout);
    return 0;
}
