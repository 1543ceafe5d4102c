// The Debug Adapter Protocol's transport: messages framed by a
// "Content-Length: N" header and a blank line, JSON bodies, on a pair of
// streams (the adapter's standard input and output).
//
// A reader thread takes whole messages off the input as they come, so the
// machine can run between requests and still notice a pause at once; the
// main thread takes them from the inbox and is the only writer.
//
// Use: Dap_open, then Dap_wait / Dap_poll for the next message text (which
// the caller parses), Dap_respond and Dap_event to answer. The channel is
// never freed: the reader may be blocked in a read when the adapter exits.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "json.h"

struct DapChannel {
    std::FILE* in;
    std::FILE* out;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::string> inbox;
    bool closed; // the input ended or broke; the inbox may still hold messages
    int64_t seq;
};

void Dap_open(DapChannel* channel, std::FILE* in, std::FILE* out);

// Takes the next message into `text`. Dap_wait blocks up to `timeout_ms`
// (negative: for as long as it takes); both return false when there is none,
// and Dap_wait also once the input has ended and the inbox is empty.
bool Dap_wait(DapChannel* channel, std::string* text, int timeout_ms);
bool Dap_poll(DapChannel* channel, std::string* text);
bool Dap_input_ended(DapChannel* channel);

// Reads one framed message from `in`; false at the end of the input or on a
// malformed header. Used by the reader thread.
bool Dap_read_message(std::FILE* in, std::string* text);

void Dap_send(DapChannel* channel, Json message);
void Dap_respond(DapChannel* channel, const Json& request, Json body);
void Dap_fail(DapChannel* channel, const Json& request, std::string_view message);
void Dap_event(DapChannel* channel, std::string_view event, Json body);
