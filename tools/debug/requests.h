// The adapter: answers the Debug Adapter Protocol's requests by driving one
// Session, and reports what the machine does (stops, output, the end) as the
// protocol's events. It knows messages and the session; what it needs of
// the host (files, a window) comes in through AdapterHost.
//
// Use: Adapter_init with a sink for outgoing messages, then Adapter_handle
// for each frame's body (Adapter_report_fault for a frame that was no
// message); while Adapter_running, the caller calls Adapter_run_slice.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "messages.h"
#include "session.h"

// What the adapter asks of the program that hosts it: files read, and the
// window, sound and pads of a launch without noDisplay. Null members: none.
struct AdapterHost {
    // Reads at most `limit` bytes of a regular file; on failure `reason`
    // says why.
    bool (*read_file)(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes,
                      std::string* reason);
    bool (*open)(Session* session, std::string* error);
    void (*close)(Session* session);
    void (*frame_shown)(Session* session); // a frame ended while running: show it, keep pace
};

struct Adapter {
    MessageSink out;
    Session session;
    AdapterHost host;
    bool window_open;
    bool launched;
    bool configured;
    bool stop_on_entry;
    bool no_display;
    bool terminated;
    bool quit;
    std::string program;
    std::string info_note; // why the program is debugged without its debug information
    // The breakpoints of each source file as the client last set them.
    std::vector<std::pair<int, std::vector<CodeBreak>>> line_breaks;
};

void Adapter_init(Adapter* adapter, MessageSink out, AdapterHost host);
void Adapter_free(Adapter* adapter);
void Adapter_handle(Adapter* adapter, std::string_view body);
// Input that was no message (a bad header, a wrong length), told to the user.
void Adapter_report_fault(Adapter* adapter, const std::string& text);
bool Adapter_running(const Adapter* adapter);
// Runs the machine to the end of its frame or a stop, and reports the stop.
void Adapter_run_slice(Adapter* adapter);
// The window was closed: the program ends.
void Adapter_end(Adapter* adapter);
