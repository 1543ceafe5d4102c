#include "framing.h"

#include <cctype>

namespace {

constexpr std::string_view LENGTH_FIELD = "Content-Length:";
// A header line longer than this is junk; real ones are a few dozen bytes.
constexpr size_t MAX_LINE = 4096;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool starts_folded(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// Where a whole "Content-Length: N" line starts in `text` at or after
// `from`. Such a line cannot be part of a JSON body (a raw line break may
// not stand inside a string, nor the bare word outside one), so finding one
// there means the body's length was wrong.
size_t find_header(std::string_view text, size_t from) {
    for (size_t at = text.find(LENGTH_FIELD, from); at != std::string_view::npos;
         at = text.find(LENGTH_FIELD, at + 1)) {
        size_t i = at + LENGTH_FIELD.size();
        while (i < text.size() && (is_blank(text[i]) || std::isdigit(static_cast<unsigned char>(text[i]))))
            ++i;
        if (i < text.size() && text[i] == '\n') return at;
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') return at;
    }
    return std::string_view::npos;
}

// The bytes not yet taken; taking them moves `head` only, so a run of short
// lines costs no copying.
std::string_view unread(const FrameReader* r) { return std::string_view(r->pending).substr(r->head); }
void take(FrameReader* r, size_t bytes) { r->head += bytes; }

void forget_header(FrameReader* r) {
    r->has_length = false;
    r->in_header = false;
}

// Ends the current message as a fault; what follows up to the next length
// field is skipped without further complaint.
bool fault(FrameReader* r, Frame* frame, std::string text) {
    forget_header(r);
    r->skipping = true;
    *frame = Frame{FrameKind::Fault, std::move(text)};
    return true;
}

void skipped(FrameReader* r, size_t bytes) {
    r->junk += bytes;
    if (r->junk > FRAME_MAX_JUNK && r->broken.empty())
        r->broken = "over " + std::to_string(FRAME_MAX_JUNK >> 20) + " MiB of input that holds no message";
}

std::string quoted(std::string_view text) {
    std::string shown;
    for (char c : text.substr(0, 40)) shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return "'" + shown + (text.size() > 40 ? "...'" : "'");
}

// One header line, without its line break.
bool header_line(FrameReader* r, std::string_view line, Frame* frame) {
    if (line.empty()) {
        if (r->has_length) {
            forget_header(r);
            r->in_body = true;
            r->scanned = 0;
        } else if (r->in_header) {
            return fault(r, frame, "a message header without Content-Length");
        }
        return false; // blank lines between messages are harmless
    }
    size_t colon = line.find(':');
    bool named = colon != std::string_view::npos && colon > 0;
    for (size_t i = 0; named && i < colon; ++i)
        named = std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '-' || line[i] == '_';
    if (!named) return fault(r, frame, "a header line that is no 'Name: value' field: " + quoted(line));
    r->in_header = true;
    if (!starts_folded(line, LENGTH_FIELD)) return false; // other fields carry nothing the adapter needs
    std::string_view value = line.substr(LENGTH_FIELD.size());
    while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
    bool digits = !value.empty();
    for (char c : value) digits &= std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (!digits) return fault(r, frame, "Content-Length " + quoted(value) + " is not a length");
    size_t length = 0;
    for (char c : value) {
        length = length * 10 + static_cast<size_t>(c - '0');
        if (length > FRAME_MAX_BODY)
            return fault(r, frame,
                         "Content-Length " + quoted(value) + " is over the " +
                             std::to_string(FRAME_MAX_BODY >> 20) + " MiB a message may have");
    }
    r->body_length = length;
    r->has_length = true;
    return false;
}

} // namespace

void FrameReader_init(FrameReader* r) { *r = FrameReader{}; }

void FrameReader_feed(FrameReader* r, std::string_view bytes) {
    r->pending.erase(0, r->head);
    r->head = 0;
    r->pending.append(bytes);
}

const std::string& FrameReader_broken(const FrameReader* r) { return r->broken; }

bool FrameReader_next(FrameReader* r, Frame* frame) {
    while (r->broken.empty()) {
        std::string_view input = unread(r);
        if (r->in_body) {
            size_t have = std::min(input.size(), r->body_length);
            size_t from = r->scanned > LENGTH_FIELD.size() + 24 ? r->scanned - LENGTH_FIELD.size() - 24 : 0;
            size_t header = find_header(input.substr(0, have), from);
            if (header != std::string_view::npos) {
                r->in_body = false;
                take(r, header);
                skipped(r, header);
                *frame = Frame{FrameKind::Fault, "a message shorter than its Content-Length of " +
                                                     std::to_string(r->body_length)};
                return true;
            }
            r->scanned = have;
            if (have < r->body_length) return false;
            r->in_body = false;
            r->junk = 0;
            *frame = Frame{FrameKind::Message, std::string(input.substr(0, r->body_length))};
            take(r, r->body_length);
            return true;
        }
        size_t eol = input.find('\n');
        std::string_view line = input.substr(0, eol);
        // Junk before a length field (the tail of a body whose length was
        // too short, say): skipped, and the header read from there.
        size_t field = line.find(LENGTH_FIELD);
        if (field != std::string_view::npos && field > 0) {
            bool report = !r->skipping;
            take(r, field);
            skipped(r, field);
            forget_header(r);
            r->skipping = false;
            if (report) {
                *frame = Frame{FrameKind::Fault, "bytes that are no message header"};
                return true;
            }
            continue;
        }
        if (eol == std::string_view::npos) {
            if (input.size() <= MAX_LINE) return false;
            // Kept: the tail, where a length field may be arriving.
            size_t drop = input.size() - LENGTH_FIELD.size();
            take(r, drop);
            skipped(r, drop);
            if (r->skipping) continue;
            return fault(r, frame, "a header line over " + std::to_string(MAX_LINE) + " bytes long");
        }
        take(r, eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (r->skipping) {
            if (!starts_folded(line, LENGTH_FIELD)) {
                skipped(r, eol + 1);
                continue;
            }
            r->skipping = false;
        }
        if (header_line(r, line, frame)) return true;
    }
    return false;
}

void FrameReader_finish(FrameReader* r) {
    if (!r->broken.empty()) return;
    bool stray = false;
    for (char c : unread(r)) stray |= !std::isspace(static_cast<unsigned char>(c));
    if (r->in_body)
        r->broken = "the input ended " + std::to_string(unread(r).size()) + " bytes into a message of " +
                    std::to_string(r->body_length);
    else if (r->in_header || r->has_length || (stray && !r->skipping))
        r->broken = "the input ended inside a message header";
    else if (stray || r->skipping)
        r->broken = "the input ended in bytes that are no message";
}

bool FrameReader_stalled(FrameReader* r, Frame* frame) {
    if (!r->in_body && !r->in_header) return false;
    std::string what = r->in_body
                           ? "a message shorter than its Content-Length of " + std::to_string(r->body_length)
                           : "a message header without its blank line";
    skipped(r, unread(r).size());
    take(r, unread(r).size());
    r->in_body = false;
    forget_header(r);
    *frame = Frame{FrameKind::Fault, what + ", after which no more input came"};
    return true;
}

std::string Frame_encode(std::string_view body) {
    std::string framed = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    framed += body;
    return framed;
}
