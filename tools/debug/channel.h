// The adapter's connection to its client: frames read off a file descriptor
// (standard input) by a thread of their own, so the machine can run between
// requests and still notice a pause at once, and frames written to a
// stream (standard output) by the main thread, the only writer.
//
// Use: Channel_open, then Channel_wait / Channel_poll for the next frame,
// Channel_write for each framed message. The channel is never freed: its
// reader may be blocked in a read when the adapter exits.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "framing.h"

struct Channel {
    int in;
    std::FILE* out;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Frame> inbox;
    bool closed;        // the input ended or broke; the inbox may still hold frames
    std::string broken; // why the input could not be read on, if it could not
    bool lost;          // a write failed: the client no longer reads (main thread only)
};

void Channel_open(Channel* channel, int in, std::FILE* out);

// Takes the next frame. Channel_wait blocks up to `timeout_ms` (negative:
// for as long as it takes); both return false when there is none, and
// Channel_wait also once the input has ended and the inbox is empty.
bool Channel_wait(Channel* channel, Frame* frame, int timeout_ms);
bool Channel_poll(Channel* channel, Frame* frame);
bool Channel_ended(Channel* channel);
// Empty when the input ended cleanly between messages.
std::string Channel_broken(Channel* channel);

void Channel_write(void* channel, std::string_view bytes);
