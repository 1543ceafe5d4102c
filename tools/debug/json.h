// A small JSON value with a parser and a writer, enough for the Debug Adapter
// Protocol: objects keep their members in order, numbers are doubles (every
// integer the protocol carries fits one exactly), strings are UTF-8.
//
// Use: Json_parse a message into a value, read it with Json_get and the
// Json_as_* helpers (each with a fallback for a missing or mistyped member),
// build replies with Json_object / Json_set / Json_push and Json_write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class JsonKind : uint8_t { Null, Bool, Number, String, Array, Object };

struct Json {
    JsonKind kind = JsonKind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> items;       // array elements, or object member values
    std::vector<std::string> keys; // object member names, parallel to items
};

// Parses one complete JSON text (surrounding white space allowed). On failure
// returns false and describes the fault in `error`.
bool Json_parse(std::string_view text, Json* out, std::string* error);
void Json_write(const Json& value, std::string* out);
std::string Json_to_string(const Json& value);

Json Json_object();
Json Json_array();
Json Json_string(std::string_view text);
Json Json_number(double value);
Json Json_bool(bool value);

// Sets a member, replacing one of the same name.
void Json_set(Json* object, std::string_view key, Json value);
void Json_push(Json* array, Json value);

// The member `key` of an object, or null when the value is no object or has
// no such member.
const Json* Json_get(const Json* object, std::string_view key);

bool Json_is(const Json* value, JsonKind kind);
int64_t Json_as_int(const Json* value, int64_t fallback);
bool Json_as_bool(const Json* value, bool fallback);
std::string Json_as_string(const Json* value, std::string_view fallback);
