// The Debug Adapter Protocol's framing: each message is a header of
// "Name: value" lines, of which only "Content-Length: N" matters, a blank
// line, then N bytes of body.
//
// A FrameReader is fed the bytes as they arrive and hands out whole bodies.
// A client's mistake never silences it: a bad header, a length that is no
// number, or too large, or larger than the message it heads, becomes a fault
// frame saying what was wrong, and the reader carries on at the next
// "Content-Length:" it finds. Only a stream that cannot be read on (it ended
// inside a message, or brings nothing but junk) is broken.
//
// Use: FrameReader_feed the bytes, then FrameReader_next until it returns
// false; at the end of the input FrameReader_finish tells whether a message
// was cut off. Frame_encode frames an outgoing body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A body may be this long at most; the largest real ones (a disassembly
// page, a whole memory read) are well under a megabyte.
constexpr size_t FRAME_MAX_BODY = 16u << 20;
// Bytes that belong to no message may run this long before the stream is
// given up as something that does not speak the protocol.
constexpr size_t FRAME_MAX_JUNK = 1u << 20;

enum class FrameKind : uint8_t { Message, Fault };

struct Frame {
    FrameKind kind;
    std::string text; // the body, or what was wrong with the input
};

struct FrameReader {
    std::string pending; // bytes fed, taken up to `head`
    size_t head;
    bool in_body;
    size_t body_length;
    size_t scanned;  // the part of a body already searched for a header
    bool has_length; // the current header gave a good length
    bool in_header;  // a field of the current header was read
    bool skipping;   // after a fault, up to the next Content-Length
    size_t junk;     // bytes skipped since the last good message
    std::string broken;
};

void FrameReader_init(FrameReader* reader);
void FrameReader_feed(FrameReader* reader, std::string_view bytes);
// The next frame, if one is complete.
bool FrameReader_next(FrameReader* reader, Frame* frame);
// Why the stream cannot be read on; empty while it can. After the input
// ended, FrameReader_finish notes a message cut off.
const std::string& FrameReader_broken(const FrameReader* reader);
void FrameReader_finish(FrameReader* reader);
// The input fell silent in the middle of a message: the client is waiting
// for an answer to a message whose length promised more than it sent. The
// part is dropped as a fault, so the client hears why. False when no message
// was begun.
bool FrameReader_stalled(FrameReader* reader, Frame* frame);

std::string Frame_encode(std::string_view body);
