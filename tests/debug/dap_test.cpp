// The protocol's framing and messages on what a client may get wrong: each
// malformed frame is reported once, and the good message after it is still
// read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framing.h"
#include "messages.h"

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

TEST(Messages, TellRequestsFromWhatIsNoRequest) {
    struct Case {
        std::string body;
        MessageKind kind;
        int64_t seq;
        std::string error;
    };
    const Case cases[] = {
        {GOOD, MessageKind::Request, 9, ""},
        {"{\"seq\":1,\"type\":\"event\",\"event\":\"x\"}", MessageKind::Other, -1, ""},
        {"{\"seq\":1,\"type\":\"request\"", MessageKind::Malformed, -1, "a message that is no JSON"},
        {"[1,2]", MessageKind::Malformed, -1, "a message that is no JSON object but an array"},
        {"{\"seq\":1,\"command\":\"x\"}", MessageKind::Malformed, -1, "a message without a 'type'"},
        {"{\"seq\":\"1\",\"type\":\"request\",\"command\":\"x\"}", MessageKind::Malformed, -1,
         "a request without a numeric 'seq'"},
        {"{\"seq\":2,\"type\":\"request\"}", MessageKind::Malformed, 2, "a request without a 'command'"},
        {"{\"seq\":3,\"type\":\"request\",\"command\":\"x\",\"arguments\":5}", MessageKind::Malformed, 3,
         "'arguments' must be an object, not a number"},
    };
    for (const Case& c : cases) {
        Request request;
        std::string error;
        EXPECT_EQ(Message_read(c.body, &request, &error), c.kind) << c.body;
        EXPECT_EQ(request.seq, c.seq) << c.body;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.body;
    }
}

TEST(Messages, ArgumentsOfTheWrongTypeAreNamedByTheirPath) {
    Json arguments = Json::parse(R"({"stopOnEntry":"yes","line":3.0,"source":{"path":7},
                                    "breakpoints":[{"line":1},{"line":"2"}],"filters":["a",1]})");
    const std::pair<std::function<void(const Args&)>, std::string> cases[] = {
        {[](const Args& a) { EXPECT_FALSE(Args_bool(a, "stopOnEntry", false)); },
         "'stopOnEntry' must be true or false, not a string \"yes\""},
        {[](const Args& a) { EXPECT_EQ(Args_int(a, "line", 0), 3); }, ""},
        {[](const Args& a) { EXPECT_EQ(Args_string(Args_object(a, "source"), "path", "-"), "-"); },
         "'source.path' must be a string, not a number 7"},
        {[](const Args& a) { EXPECT_EQ(Args_int(Args_objects(a, "breakpoints")[1], "line", 0), 0); },
         "'breakpoints[1].line' must be a whole number, not a string \"2\""},
        {[](const Args& a) { EXPECT_EQ(Args_strings(a, "filters").size(), 1u); },
         "'filters[1]' must be a string, not a number 1"},
        {[](const Args& a) { EXPECT_EQ(Args_string(a, "missing", "x"), "x"); }, ""},
    };
    for (const auto& [read, expected] : cases) {
        std::string error;
        read(Args_of(arguments, &error));
        EXPECT_EQ(error, expected);
    }
}

} // namespace
