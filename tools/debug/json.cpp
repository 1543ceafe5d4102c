#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int MAX_DEPTH = 200;

struct Parser {
    std::string_view text;
    size_t at;
    std::string* error;
};

bool fail(Parser* p, const char* what) {
    char message[96];
    std::snprintf(message, sizeof message, "%s at offset %zu", what, p->at);
    *p->error = message;
    return false;
}

void skip_space(Parser* p) {
    while (p->at < p->text.size()) {
        char c = p->text[p->at];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++p->at;
    }
}

bool literal(Parser* p, std::string_view word) {
    if (p->text.substr(p->at, word.size()) != word) return false;
    p->at += word.size();
    return true;
}

void append_utf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | code >> 18);
        *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool hex4(Parser* p, uint32_t* value) {
    if (p->at + 4 > p->text.size()) return fail(p, "short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        char c = p->text[p->at++];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) return fail(p, "bad \\u escape");
        v = v << 4 | static_cast<uint32_t>(digit);
    }
    *value = v;
    return true;
}

bool parse_string(Parser* p, std::string* out) {
    ++p->at; // the opening quote
    while (true) {
        if (p->at >= p->text.size()) return fail(p, "unterminated string");
        char c = p->text[p->at++];
        if (c == '"') return true;
        if (static_cast<unsigned char>(c) < 0x20) return fail(p, "control character in string");
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (p->at >= p->text.size()) return fail(p, "unterminated string");
        char e = p->text[p->at++];
        switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
            uint32_t code = 0;
            if (!hex4(p, &code)) return false;
            // A surrogate pair stands for one code point above 0xFFFF.
            if (code >= 0xD800 && code < 0xDC00 && literal(p, "\\u")) {
                uint32_t low = 0;
                if (!hex4(p, &low)) return false;
                if (low >= 0xDC00 && low < 0xE000) code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            append_utf8(out, code);
            break;
        }
        default: return fail(p, "bad escape");
        }
    }
}

bool parse_number(Parser* p, double* out) {
    size_t start = p->at;
    if (p->at < p->text.size() && p->text[p->at] == '-') ++p->at;
    size_t digits = p->at;
    while (p->at < p->text.size()) {
        char c = p->text[p->at];
        if ((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')
            ++p->at;
        else
            break;
    }
    if (p->at == digits) return fail(p, "unexpected character");
    std::string number(p->text.substr(start, p->at - start));
    char* end = nullptr;
    *out = std::strtod(number.c_str(), &end);
    if (*end) return fail(p, "bad number");
    return true;
}

bool parse_value(Parser* p, Json* out, int depth) {
    if (depth > MAX_DEPTH) return fail(p, "nesting too deep");
    skip_space(p);
    if (p->at >= p->text.size()) return fail(p, "unexpected end");
    char c = p->text[p->at];
    if (c == '{' || c == '[') {
        bool is_object = c == '{';
        char close = is_object ? '}' : ']';
        *out = is_object ? Json_object() : Json_array();
        ++p->at;
        skip_space(p);
        if (p->at < p->text.size() && p->text[p->at] == close) {
            ++p->at;
            return true;
        }
        while (true) {
            skip_space(p);
            if (is_object) {
                if (p->at >= p->text.size() || p->text[p->at] != '"')
                    return fail(p, "expected a member name");
                std::string key;
                if (!parse_string(p, &key)) return false;
                skip_space(p);
                if (!literal(p, ":")) return fail(p, "expected ':'");
                out->keys.push_back(std::move(key));
            }
            out->items.emplace_back();
            if (!parse_value(p, &out->items.back(), depth + 1)) return false;
            skip_space(p);
            if (literal(p, ",")) continue;
            if (p->at < p->text.size() && p->text[p->at] == close) {
                ++p->at;
                return true;
            }
            return fail(p, is_object ? "expected ',' or '}'" : "expected ',' or ']'");
        }
    }
    if (c == '"') {
        *out = Json_string("");
        return parse_string(p, &out->string);
    }
    if (literal(p, "true")) return *out = Json_bool(true), true;
    if (literal(p, "false")) return *out = Json_bool(false), true;
    if (literal(p, "null")) return *out = Json{}, true;
    *out = Json_number(0);
    return parse_number(p, &out->number);
}

void write_string(std::string_view text, std::string* out) {
    *out += '"';
    for (char c : text) {
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                *out += escape;
            } else {
                *out += c;
            }
        }
    }
    *out += '"';
}

} // namespace

bool Json_parse(std::string_view text, Json* out, std::string* error) {
    Parser p{text, 0, error};
    if (!parse_value(&p, out, 0)) return false;
    skip_space(&p);
    if (p.at != text.size()) return fail(&p, "text after the value");
    return true;
}

void Json_write(const Json& value, std::string* out) {
    switch (value.kind) {
    case JsonKind::Null: *out += "null"; break;
    case JsonKind::Bool: *out += value.boolean ? "true" : "false"; break;
    case JsonKind::Number: {
        char number[32];
        double v = value.number;
        if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 9.007199254740992e15)
            std::snprintf(number, sizeof number, "%lld", static_cast<long long>(v));
        else if (std::isfinite(v))
            std::snprintf(number, sizeof number, "%.17g", v);
        else
            std::snprintf(number, sizeof number, "null");
        *out += number;
        break;
    }
    case JsonKind::String: write_string(value.string, out); break;
    case JsonKind::Array:
    case JsonKind::Object: {
        bool is_object = value.kind == JsonKind::Object;
        *out += is_object ? '{' : '[';
        for (size_t i = 0; i < value.items.size(); ++i) {
            if (i) *out += ',';
            if (is_object) {
                write_string(value.keys[i], out);
                *out += ':';
            }
            Json_write(value.items[i], out);
        }
        *out += is_object ? '}' : ']';
        break;
    }
    }
}

std::string Json_to_string(const Json& value) {
    std::string out;
    Json_write(value, &out);
    return out;
}

Json Json_object() {
    Json v;
    v.kind = JsonKind::Object;
    return v;
}

Json Json_array() {
    Json v;
    v.kind = JsonKind::Array;
    return v;
}

Json Json_string(std::string_view text) {
    Json v;
    v.kind = JsonKind::String;
    v.string = text;
    return v;
}

Json Json_number(double value) {
    Json v;
    v.kind = JsonKind::Number;
    v.number = value;
    return v;
}

Json Json_bool(bool value) {
    Json v;
    v.kind = JsonKind::Bool;
    v.boolean = value;
    return v;
}

void Json_set(Json* object, std::string_view key, Json value) {
    for (size_t i = 0; i < object->keys.size(); ++i) {
        if (object->keys[i] == key) {
            object->items[i] = std::move(value);
            return;
        }
    }
    object->keys.emplace_back(key);
    object->items.push_back(std::move(value));
}

void Json_push(Json* array, Json value) { array->items.push_back(std::move(value)); }

const Json* Json_get(const Json* object, std::string_view key) {
    if (!object || object->kind != JsonKind::Object) return nullptr;
    for (size_t i = 0; i < object->keys.size(); ++i)
        if (object->keys[i] == key) return &object->items[i];
    return nullptr;
}

bool Json_is(const Json* value, JsonKind kind) { return value && value->kind == kind; }

int64_t Json_as_int(const Json* value, int64_t fallback) {
    if (!Json_is(value, JsonKind::Number) || !std::isfinite(value->number)) return fallback;
    if (std::fabs(value->number) > 9.0e18) return fallback;
    return static_cast<int64_t>(value->number);
}

bool Json_as_bool(const Json* value, bool fallback) {
    return Json_is(value, JsonKind::Bool) ? value->boolean : fallback;
}

std::string Json_as_string(const Json* value, std::string_view fallback) {
    return Json_is(value, JsonKind::String) ? value->string : std::string(fallback);
}
