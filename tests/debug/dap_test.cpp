// The protocol's framing on what a client may get wrong: each malformed
// frame is reported once, and the good message after it is still read,
// however the bytes are split as they arrive.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "framing.h"

namespace {

const std::string GOOD = "{\"seq\":9,\"type\":\"request\",\"command\":\"threads\"}";

// What a reader fed `input` in pieces of `step` bytes hands out: a letter a
// frame (M the good message, m another body, F a fault, B the stream broken)
// and their texts.
std::pair<std::string, std::string> frames_of(const std::string& input, size_t step) {
    FrameReader reader;
    FrameReader_init(&reader);
    std::string kinds, texts;
    Frame frame;
    for (size_t at = 0; at < input.size(); at += step) {
        FrameReader_feed(&reader, std::string_view(input).substr(at, step));
        while (FrameReader_next(&reader, &frame)) {
            kinds += frame.kind == FrameKind::Fault ? 'F' : frame.text == GOOD ? 'M' : 'm';
            texts += frame.text + "\n";
        }
    }
    FrameReader_finish(&reader);
    if (!FrameReader_broken(&reader).empty()) kinds += 'B', texts += FrameReader_broken(&reader);
    return {kinds, texts};
}

TEST(Framing, ReportsEachMalformedFrameAndReadsTheNextMessage) {
    const std::string next = Frame_encode(GOOD);
    const std::string length = std::to_string(GOOD.size());
    const struct {
        std::string input, kinds, text;
    } cases[] = {
        {next + next, "MM", ""},
        {"Content-Type: x\r\ncontent-length: " + length + "\r\n\r\n" + GOOD, "M", ""},
        {"\r\n" + next, "M", ""},
        {"Content-Length: abc\r\n\r\n{}" + next, "FM", "Content-Length 'abc' is not a length"},
        {"Content-Length: -5\r\n\r\n" + next, "FM", "Content-Length '-5' is not a length"},
        {"Content-Length: 99999999999999999999\r\n\r\n" + next, "FM",
         "is over the 16 MiB a message may have"},
        {"Content-Length: 10\r\n\r\n" + GOOD + next, "mFM", "bytes that are no message header"},
        {"Content-Length: 500\r\n\r\n" + GOOD + next, "FM",
         "a message shorter than its Content-Length of 500"},
        {"X-Other: 1\r\n\r\n" + GOOD + next, "FM", "a message header without Content-Length"},
        {"hello there\n" + next, "FM", "a header line that is no 'Name: value' field: 'hello there'"},
        {std::string(5000, 'x') + next, "FM", ""},
        {next + "Content-Length: 40\r\n\r\n{\"seq\"", "MB", "the input ended 6 bytes into a message of 40"},
        {"Content-Length: 4\r\n", "B", "the input ended inside a message header"},
        {std::string(FRAME_MAX_JUNK + 8192, 'y'), "FB", "over 1 MiB of input that holds no message"},
    };
    for (const auto& c : cases) {
        for (size_t step : {c.input.size(), size_t{1}, size_t{7}}) {
            if (step == 1 && c.input.size() > 10000) continue;
            auto [kinds, texts] = frames_of(c.input, step);
            EXPECT_EQ(kinds, c.kinds) << c.input.substr(0, 60) << " in steps of " << step;
            EXPECT_NE(texts.find(c.text), std::string::npos) << texts;
        }
    }
    // A client that waits after a message cut short hears of it.
    FrameReader reader;
    FrameReader_init(&reader);
    FrameReader_feed(&reader, "Content-Length: 60\r\n\r\n{\"seq\"");
    Frame frame;
    EXPECT_TRUE(!FrameReader_next(&reader, &frame) && FrameReader_stalled(&reader, &frame));
    EXPECT_EQ(frame.text, "a message shorter than its Content-Length of 60, after which no more input came");
    FrameReader_feed(&reader, next);
    EXPECT_TRUE(FrameReader_next(&reader, &frame) && frame.text == GOOD);
}

} // namespace
