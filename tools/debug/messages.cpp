#include "messages.h"

#include <cmath>

namespace {

// A JSON number that is a whole number fitting an int64_t.
bool whole_number(const Json& value, int64_t* out) {
    if (value.is_number_integer() && !(value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX)) {
        *out = value.get<int64_t>();
        return true;
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 9e15) {
            *out = static_cast<int64_t>(d);
            return true;
        }
    }
    return false;
}

const char* type_name(const Json& value) {
    if (value.is_number()) return "a number";
    if (value.is_string()) return "a string";
    if (value.is_boolean()) return "a boolean";
    if (value.is_array()) return "an array";
    if (value.is_object()) return "an object";
    return "null";
}

// The member, or null when it is missing or null (which the protocol's
// optional members may be).
const Json* member(const Args& args, const char* key) {
    if (!args.object) return nullptr;
    auto it = args.object->find(key);
    if (it == args.object->end() || it->is_null()) return nullptr;
    return &*it;
}

void complain(const Args& args, const char* key, const Json& value, const char* wanted) {
    if (!args.error->empty()) return;
    *args.error = "'" + args.path + key + "' must be " + wanted + ", not " + type_name(value);
    if (value.is_string() || value.is_number() || value.is_boolean()) *args.error += " " + value.dump();
}

Json response_to(const Request& request, bool success) {
    return Json{{"type", "response"},
                {"request_seq", request.seq < 0 ? 0 : request.seq},
                {"success", success},
                {"command", request.command}};
}

} // namespace

MessageKind Message_read(std::string_view body, Request* request, std::string* error) {
    *request = Request{-1, {}, Json::object()};
    Json message = Json::parse(body, nullptr, false);
    if (message.is_discarded()) {
        // The parser's own account of where it failed, which it gives only
        // by throwing.
        try {
            message = Json::parse(body);
        } catch (const Json::parse_error& e) {
            *error = std::string("a message that is no JSON: ") + e.what();
        }
        return MessageKind::Malformed;
    }
    if (!message.is_object()) {
        *error = std::string("a message that is no JSON object but ") + type_name(message);
        return MessageKind::Malformed;
    }
    int64_t seq = -1;
    auto seq_it = message.find("seq");
    bool has_seq = seq_it != message.end() && whole_number(*seq_it, &seq);
    auto command = message.find("command");
    if (command != message.end() && command->is_string()) request->command = command->get<std::string>();
    auto type = message.find("type");
    if (type == message.end() || !type->is_string()) {
        *error = "a message without a 'type'";
        return MessageKind::Malformed;
    }
    if (*type != "request") return MessageKind::Other;
    if (has_seq) request->seq = seq;
    if (!has_seq || request->command.empty()) {
        *error = has_seq ? "a request without a 'command'" : "a request without a numeric 'seq'";
        return MessageKind::Malformed;
    }
    auto arguments = message.find("arguments");
    if (arguments != message.end() && !arguments->is_null()) {
        if (!arguments->is_object()) {
            *error = std::string("'arguments' must be an object, not ") + type_name(*arguments);
            return MessageKind::Malformed;
        }
        request->arguments = std::move(*arguments);
    }
    return MessageKind::Request;
}

void Messages_send(MessageSink* sink, Json message) {
    message["seq"] = sink->seq++;
    // Text that is no valid UTF-8 (a path, a source line) is sent with
    // replacement characters rather than not at all.
    std::string body = message.dump(-1, ' ', false, Json::error_handler_t::replace);
    sink->write(sink->context, Frame_encode(body));
}

void Messages_respond(MessageSink* sink, const Request& request, Json body) {
    Json message = response_to(request, true);
    if (!body.is_null()) message["body"] = std::move(body);
    Messages_send(sink, std::move(message));
}

void Messages_fail(MessageSink* sink, const Request& request, std::string_view text, bool show_user) {
    Json message = response_to(request, false);
    message["message"] = text;
    // Clients show body.error.format to the user.
    message["body"] = Json{{"error", {{"id", 1}, {"format", text}, {"showUser", show_user}}}};
    Messages_send(sink, std::move(message));
}

void Messages_event(MessageSink* sink, std::string_view event, Json body) {
    Json message{{"type", "event"}, {"event", event}};
    if (!body.is_null()) message["body"] = std::move(body);
    Messages_send(sink, std::move(message));
}

Args Args_of(const Json& arguments, std::string* error) {
    return Args{arguments.is_object() ? &arguments : nullptr, "", error};
}

bool Args_has(const Args& args, const char* key) { return member(args, key) != nullptr; }

std::string Args_string(const Args& args, const char* key, std::string_view fallback) {
    const Json* value = member(args, key);
    if (!value) return std::string(fallback);
    if (value->is_string()) return value->get<std::string>();
    complain(args, key, *value, "a string");
    return std::string(fallback);
}

int64_t Args_int(const Args& args, const char* key, int64_t fallback) {
    const Json* value = member(args, key);
    int64_t n = 0;
    if (!value) return fallback;
    if (whole_number(*value, &n)) return n;
    complain(args, key, *value, "a whole number");
    return fallback;
}

int64_t Args_count(const Args& args, const char* key, int64_t fallback) {
    int64_t n = Args_int(args, key, fallback);
    if (n >= 0) return n;
    if (args.error->empty())
        *args.error = "'" + args.path + key + "' must be 0 or more, not " + std::to_string(n);
    return fallback;
}

bool Args_bool(const Args& args, const char* key, bool fallback) {
    const Json* value = member(args, key);
    if (!value) return fallback;
    if (value->is_boolean()) return value->get<bool>();
    complain(args, key, *value, "true or false");
    return fallback;
}

Args Args_object(const Args& args, const char* key) {
    const Json* value = member(args, key);
    if (value && !value->is_object()) complain(args, key, *value, "an object");
    return Args{value && value->is_object() ? value : nullptr, args.path + key + ".", args.error};
}

// Hands each item of the array under `key` to `take` with its name, key[i],
// for complaints; a member that is not an array is complained of once.
template <typename Take>
static void each_item(const Args& args, const char* key, Take take) {
    const Json* value = member(args, key);
    if (!value) return;
    if (!value->is_array()) {
        complain(args, key, *value, "an array");
        return;
    }
    for (size_t i = 0; i < value->size(); ++i)
        take((*value)[i], std::string(key) + "[" + std::to_string(i) + "]");
}

std::vector<Args> Args_objects(const Args& args, const char* key) {
    std::vector<Args> list;
    each_item(args, key, [&](const Json& item, const std::string& name) {
        if (item.is_object())
            list.push_back(Args{&item, args.path + name + ".", args.error});
        else
            complain(args, name.c_str(), item, "an object");
    });
    return list;
}

std::vector<std::string> Args_strings(const Args& args, const char* key) {
    std::vector<std::string> list;
    each_item(args, key, [&](const Json& item, const std::string& name) {
        if (item.is_string())
            list.push_back(item.get<std::string>());
        else
            complain(args, name.c_str(), item, "a string");
    });
    return list;
}

std::vector<int64_t> Args_ints(const Args& args, const char* key) {
    std::vector<int64_t> list;
    each_item(args, key, [&](const Json& item, const std::string& name) {
        int64_t n = 0;
        if (whole_number(item, &n))
            list.push_back(n);
        else
            complain(args, name.c_str(), item, "a whole number");
    });
    return list;
}
