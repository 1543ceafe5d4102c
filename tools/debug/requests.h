// The adapter: answers the Debug Adapter Protocol's requests by driving one
// Session, and reports what the machine does (stops, output, the end) as the
// protocol's events.
//
// Use: Adapter_init with an open channel, then Adapter_handle for each
// message text; while the session runs, the caller calls Session_run_slice
// and hands each result to Adapter_after_slice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dap.h"
#include "session.h"

struct Adapter;

// The window, sound and pads of a launch without noDisplay; the machine
// library knows no host, so the program that has one passes these in.
struct AdapterHost {
    bool (*open)(Adapter* adapter, std::string* error);
    void (*close)(Adapter* adapter);
    void (*frame_shown)(Adapter* adapter); // a frame ended while running: show it, keep pace
};

struct Adapter {
    DapChannel* channel;
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
    // The breakpoints of each source file as the client last set them.
    std::vector<std::pair<int, std::vector<CodeBreak>>> line_breaks;
};

void Adapter_init(Adapter* adapter, DapChannel* channel, AdapterHost host);
void Adapter_free(Adapter* adapter);
void Adapter_handle(Adapter* adapter, const std::string& text);
void Adapter_after_slice(Adapter* adapter, const Stop& stop);
void Adapter_report_stop(Adapter* adapter, const Stop& stop);
