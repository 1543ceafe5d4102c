// The protocol's framing and messages on what a client may get wrong: each
// malformed frame is reported once, and the good message after it is still
// read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framing.h"

namespace {

const std::string GOOD = "{\"seq\":9,\"type\":\"request\",\"command\":\"threads\"}";

// What a reader fed `input` in pieces of `step` bytes hands out: "M:" and the
// body, or "F:" and the fault, then "B:" and why it broke, if it did.
std::vector<std::string> frames_of(const std::string& input, size_t step) {
    FrameReader reader;
    FrameReader_init(&reader);
    std::vector<std::string> out;
    Frame frame;
    for (size_t at = 0; at < input.size(); at += step) {
        FrameReader_feed(&reader, std::string_view(input).substr(at, step));
        while (FrameReader_next(&reader, &frame))
            out.push_back((frame.kind == FrameKind::Message ? "M:" : "F:") + frame.text);
    }
    FrameReader_finish(&reader);
    if (!FrameReader_broken(&reader).empty()) out.push_back("B:" + FrameReader_broken(&reader));
    return out;
}

TEST(Framing, ReportsEachMalformedFrameAndReadsTheNextMessage) {
    struct Case {
        std::string input;
        std::vector<std::string> expected; // prefixes of what comes out
    };
    const std::string next = Frame_encode(GOOD);
    const Case cases[] = {
        {next + next, {"M:" + GOOD, "M:" + GOOD}},
        {"Content-Type: x\r\ncontent-length: " + std::to_string(GOOD.size()) + "\r\n\r\n" + GOOD,
         {"M:" + GOOD}},
        {"\r\n" + next, {"M:" + GOOD}},
        {"Content-Length: abc\r\n\r\n{}" + next, {"F:Content-Length 'abc' is not a length", "M:" + GOOD}},
        {"Content-Length: -5\r\n\r\n" + next, {"F:Content-Length '-5' is not a length", "M:" + GOOD}},
        {"Content-Length: 99999999999999999999\r\n\r\n" + next, {"F:Content-Length '9999", "M:" + GOOD}},
        {"Content-Length: 10\r\n\r\n" + GOOD + next,
         {"M:{\"seq\":9,", "F:bytes that are no message header", "M:" + GOOD}},
        {"Content-Length: 500\r\n\r\n" + GOOD + next,
         {"F:a message shorter than its Content-Length", "M:" + GOOD}},
        {"X-Other: 1\r\n\r\n" + GOOD + next, {"F:a message header without Content-Length", "M:" + GOOD}},
        {"hello there\n" + next, {"F:a header line that is no", "M:" + GOOD}},
        {std::string(5000, 'x') + next, {"F:", "M:" + GOOD}},
        {next + "Content-Length: 40\r\n\r\n{\"seq\"",
         {"M:" + GOOD, "B:the input ended 6 bytes into a message of 40"}},
        {"Content-Length: 4\r\n", {"B:the input ended inside a message header"}},
        {std::string(FRAME_MAX_JUNK + 8192, 'y'), {"F:a header line over", "B:over 1 MiB"}},
    };
    // A client that waits after a cut-off message hears of it.
    FrameReader reader;
    FrameReader_init(&reader);
    FrameReader_feed(&reader, "Content-Length: 60\r\n\r\n{\"seq\"");
    Frame frame;
    EXPECT_TRUE(!FrameReader_next(&reader, &frame) && FrameReader_stalled(&reader, &frame));
    EXPECT_EQ(frame.text, "a message shorter than its Content-Length of 60 was dropped when no more input came");
    FrameReader_feed(&reader, next);
    EXPECT_TRUE(FrameReader_next(&reader, &frame) && frame.text == GOOD);
    for (const Case& c : cases) {
        for (size_t step : {c.input.size(), size_t{1}, size_t{7}}) {
            if (step == 1 && c.input.size() > 10000) continue;
            std::vector<std::string> got = frames_of(c.input, step);
            ASSERT_EQ(got.size(), c.expected.size()) << c.input.substr(0, 60) << " in steps of " << step;
            for (size_t i = 0; i < got.size(); ++i)
                EXPECT_EQ(got[i].substr(0, c.expected[i].size()), c.expected[i]) << c.input.substr(0, 60);
        }
    }
}

} // namespace
