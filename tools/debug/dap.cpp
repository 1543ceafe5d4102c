#include "dap.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// A header line without its CR LF; false at the end of the input.
bool read_line(std::FILE* in, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF) {
        if (c == '\n') {
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        if (line->size() > 1024) return false;
        *line += static_cast<char>(c);
    }
    return false;
}

void read_messages(DapChannel* channel) {
    std::string text;
    while (Dap_read_message(channel->in, &text)) {
        std::lock_guard<std::mutex> hold(channel->lock);
        channel->inbox.push_back(std::move(text));
        channel->arrived.notify_one();
    }
    std::lock_guard<std::mutex> hold(channel->lock);
    channel->closed = true;
    channel->arrived.notify_one();
}

} // namespace

// The protocol allows other header fields; only the length matters.
bool Dap_read_message(std::FILE* in, std::string* text) {
    constexpr long MAX_MESSAGE = 64L << 20;
    long length = -1;
    std::string line;
    while (true) {
        if (!read_line(in, &line)) return false;
        if (line.empty()) {
            if (length >= 0) break;
            continue;
        }
        constexpr std::string_view field = "Content-Length:";
        if (line.compare(0, field.size(), field) == 0) {
            char* end = nullptr;
            length = std::strtol(line.c_str() + field.size(), &end, 10);
            if (length < 0 || length > MAX_MESSAGE) return false;
        }
    }
    text->resize(static_cast<size_t>(length));
    return std::fread(text->data(), 1, text->size(), in) == text->size();
}

void Dap_open(DapChannel* channel, std::FILE* in, std::FILE* out) {
    channel->in = in;
    channel->out = out;
    channel->closed = false;
    channel->seq = 1;
    std::thread(read_messages, channel).detach();
}

bool Dap_wait(DapChannel* channel, std::string* text, int timeout_ms) {
    std::unique_lock<std::mutex> hold(channel->lock);
    auto ready = [&] { return !channel->inbox.empty() || channel->closed; };
    if (timeout_ms < 0)
        channel->arrived.wait(hold, ready);
    else
        channel->arrived.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready);
    if (channel->inbox.empty()) return false;
    *text = std::move(channel->inbox.front());
    channel->inbox.pop_front();
    return true;
}

bool Dap_poll(DapChannel* channel, std::string* text) { return Dap_wait(channel, text, 0); }

bool Dap_input_ended(DapChannel* channel) {
    std::lock_guard<std::mutex> hold(channel->lock);
    return channel->closed && channel->inbox.empty();
}

void Dap_send(DapChannel* channel, Json message) {
    Json_set(&message, "seq", Json_number(static_cast<double>(channel->seq++)));
    std::string body = Json_to_string(message);
    std::fprintf(channel->out, "Content-Length: %zu\r\n\r\n", body.size());
    std::fwrite(body.data(), 1, body.size(), channel->out);
    std::fflush(channel->out);
}

namespace {

Json response_to(const Json& request, bool success) {
    Json message = Json_object();
    Json_set(&message, "type", Json_string("response"));
    Json_set(&message, "request_seq",
             Json_number(static_cast<double>(Json_as_int(Json_get(&request, "seq"), 0))));
    Json_set(&message, "success", Json_bool(success));
    Json_set(&message, "command", Json_string(Json_as_string(Json_get(&request, "command"), "")));
    return message;
}

} // namespace

void Dap_respond(DapChannel* channel, const Json& request, Json body) {
    Json message = response_to(request, true);
    if (body.kind != JsonKind::Null) Json_set(&message, "body", std::move(body));
    Dap_send(channel, std::move(message));
}

void Dap_fail(DapChannel* channel, const Json& request, std::string_view text) {
    Json message = response_to(request, false);
    Json_set(&message, "message", Json_string(text));
    // Clients show body.error.format to the user.
    Json error = Json_object();
    Json_set(&error, "id", Json_number(1));
    Json_set(&error, "format", Json_string(text));
    Json_set(&error, "showUser", Json_bool(false));
    Json body = Json_object();
    Json_set(&body, "error", std::move(error));
    Json_set(&message, "body", std::move(body));
    Dap_send(channel, std::move(message));
}

void Dap_event(DapChannel* channel, std::string_view event, Json body) {
    Json message = Json_object();
    Json_set(&message, "type", Json_string("event"));
    Json_set(&message, "event", Json_string(event));
    if (body.kind != JsonKind::Null) Json_set(&message, "body", std::move(body));
    Dap_send(channel, std::move(message));
}
