// The Debug Adapter Protocol's messages: JSON bodies (nlohmann-json), read
// from frames and checked, and the responses and events the adapter sends,
// numbered and framed.
//
// Use: Message_read a frame's body into a Request; read its arguments
// through Args, which notes the first member of the wrong type; answer with
// Messages_respond or Messages_fail, report with Messages_event.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "framing.h"

using Json = nlohmann::ordered_json;

struct Request {
    int64_t seq;         // -1 when the message had none to answer to
    std::string command; // empty when it had none
    Json arguments;      // an object, empty when the request had none
};

enum class MessageKind : uint8_t {
    Request,
    Other,     // a well-formed event or response of the client: nothing to do
    Malformed, // `error` says why; `request` holds what could be read of it
};

MessageKind Message_read(std::string_view body, Request* request, std::string* error);

// Where the adapter's framed messages go.
struct MessageSink {
    void (*write)(void* context, std::string_view bytes);
    void* context;
    int64_t seq;
};

void Messages_send(MessageSink* sink, Json message);
// A null body leaves the response without one.
void Messages_respond(MessageSink* sink, const Request& request, Json body);
// `show_user`: the client puts the text before the user (a launch that
// failed), not only in the request's own place (a watch, a hover).
void Messages_fail(MessageSink* sink, const Request& request, std::string_view text, bool show_user);
void Messages_event(MessageSink* sink, std::string_view event, Json body);

// The members of an arguments object (or of an object inside one), each
// read with a fallback for one that is missing or null. A member of the
// wrong type gives the fallback too and leaves its complaint in `*error`
// (the first one only), naming the member by its path.
struct Args {
    const Json* object; // null: no members
    std::string path;   // "" for the arguments, "source.", "breakpoints[2]." inside them
    std::string* error;
};

Args Args_of(const Json& arguments, std::string* error);
bool Args_has(const Args& args, const char* key);
std::string Args_string(const Args& args, const char* key, std::string_view fallback);
int64_t Args_int(const Args& args, const char* key, int64_t fallback);
// A whole number of 0 or more (a count, a first index).
int64_t Args_count(const Args& args, const char* key, int64_t fallback);
bool Args_bool(const Args& args, const char* key, bool fallback);
Args Args_object(const Args& args, const char* key);
// The elements of an array member; each must be of the kind given (an
// object, or a string).
std::vector<Args> Args_objects(const Args& args, const char* key);
std::vector<std::string> Args_strings(const Args& args, const char* key);
std::vector<int64_t> Args_ints(const Args& args, const char* key);
