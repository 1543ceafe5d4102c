#include "channel.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <poll.h>
#include <unistd.h>

namespace {

// Silence this long in the middle of a message means the client is waiting
// for an answer that the message, cut short, will never get.
constexpr int STALL_MS = 2000;

void read_frames(Channel* channel) {
    FrameReader reader;
    FrameReader_init(&reader);
    char buffer[65536];
    std::string broken;
    while (true) {
        pollfd ready{channel->in, POLLIN, 0};
        if (::poll(&ready, 1, STALL_MS) == 0) {
            Frame fault;
            std::lock_guard<std::mutex> hold(channel->lock);
            if (FrameReader_stalled(&reader, &fault)) channel->inbox.push_back(std::move(fault));
            channel->arrived.notify_one();
            continue;
        }
        ssize_t got = ::read(channel->in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) broken = std::string("reading the input failed: ") + std::strerror(errno);
        if (got <= 0) {
            FrameReader_finish(&reader);
        } else {
            FrameReader_feed(&reader, std::string_view(buffer, static_cast<size_t>(got)));
        }
        Frame frame;
        std::lock_guard<std::mutex> hold(channel->lock);
        while (FrameReader_next(&reader, &frame)) channel->inbox.push_back(std::move(frame));
        if (broken.empty()) broken = FrameReader_broken(&reader);
        if (got <= 0 || !broken.empty()) {
            channel->broken = broken;
            channel->closed = true;
        }
        channel->arrived.notify_one();
        if (channel->closed) return;
    }
}

} // namespace

void Channel_open(Channel* channel, int in, std::FILE* out) {
    channel->in = in;
    channel->out = out;
    channel->closed = false;
    channel->lost = false;
    std::thread(read_frames, channel).detach();
}

bool Channel_wait(Channel* channel, Frame* frame, int timeout_ms) {
    std::unique_lock<std::mutex> hold(channel->lock);
    auto ready = [&] { return !channel->inbox.empty() || channel->closed; };
    if (timeout_ms < 0)
        channel->arrived.wait(hold, ready);
    else
        channel->arrived.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready);
    if (channel->inbox.empty()) return false;
    *frame = std::move(channel->inbox.front());
    channel->inbox.pop_front();
    return true;
}

bool Channel_poll(Channel* channel, Frame* frame) { return Channel_wait(channel, frame, 0); }

bool Channel_ended(Channel* channel) {
    std::lock_guard<std::mutex> hold(channel->lock);
    return channel->closed && channel->inbox.empty();
}

std::string Channel_broken(Channel* channel) {
    std::lock_guard<std::mutex> hold(channel->lock);
    return channel->broken;
}

void Channel_write(void* context, std::string_view bytes) {
    Channel* channel = static_cast<Channel*>(context);
    if (std::fwrite(bytes.data(), 1, bytes.size(), channel->out) != bytes.size() ||
        std::fflush(channel->out) != 0)
        channel->lost = true;
}
