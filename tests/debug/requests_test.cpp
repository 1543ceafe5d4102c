// Every request given an argument of the wrong type or value: each is
// refused with the argument named by its path (items of arrays by their
// index), and only the failures of starting a session are put before the
// user. The adapter runs in process, on a ROM that a fake host hands out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framing.h"
#include "requests.h"

namespace {

void collect(void* context, std::string_view bytes) { static_cast<std::string*>(context)->append(bytes); }

bool read_rom(const std::string& path, uint64_t, std::vector<uint8_t>* bytes, std::string* reason) {
    if (path != "game.rom") {
        *reason = "No such file or directory";
        return false;
    }
    bytes->assign(0x8000, 0);
    return true;
}

struct Client {
    Adapter adapter{};
    std::string sent;

    Client() {
        Adapter_init(&adapter, MessageSink{collect, &sent, 1},
                     AdapterHost{read_rom, nullptr, nullptr, nullptr});
    }
    ~Client() { Adapter_free(&adapter); }

    // The response to one request.
    Json ask(const std::string& command, const std::string& arguments) {
        sent.clear();
        Adapter_handle(&adapter, R"({"seq":7,"type":"request","command":")" + command + R"(","arguments":)" +
                                     arguments + "}");
        FrameReader reader;
        FrameReader_init(&reader);
        FrameReader_feed(&reader, sent);
        Frame frame;
        while (FrameReader_next(&reader, &frame)) {
            Json message = Json::parse(frame.text);
            if (message["type"] == "response") return message;
        }
        return Json();
    }
};

TEST(AdapterArguments, RefusesEveryWrongValueNamingTheArgument) {
    const struct {
        const char *command, *arguments;
        const char* error; // "" when the request must succeed
    } cases[] = {
        {"launch", R"({"program":["game.rom"]})", "launch: 'program' must be a string, not an array"},
        {"launch", R"({"program":"lost.rom"})", "cannot read the ROM image lost.rom: No such file"},
        {"launch", R"({"program":"game.rom","noDebug":0})", "'noDebug' must be true or false"},
        {"launch", R"({"program":"game.rom","noDisplay":true})", ""},
        {"attach", R"({"program":"game.rom"})", "cannot attach to a running program"},
        {"initialize", R"({"linesStartAt1":"yes"})", "'linesStartAt1' must be true or false"},
        {"setBreakpoints", R"({"breakpoints":[{"line":3},{"line":2.5}]})", "'breakpoints[1].line' must be a"},
        {"setBreakpoints", R"({"breakpoints":[{"line":3},7]})", "'breakpoints[1]' must be an object"},
        {"setBreakpoints", R"({"breakpoints":[{"condition":5}]})", "'breakpoints[0].condition' must be"},
        {"setBreakpoints", R"({"lines":[1,"2"]})", "'lines[1]' must be a whole number, not a string \"2\""},
        {"setBreakpoints", R"({"source":{"path":7}})", "'source.path' must be a string, not a number 7"},
        {"setBreakpoints", R"({"breakpoints":[{"line":4.0}],"lines":[4]})", ""},
        {"setFunctionBreakpoints", R"({"breakpoints":[{"name":"a"},{"name":[]}]})",
         "'breakpoints[1].name' must"},
        {"setInstructionBreakpoints", R"({"breakpoints":[{"offset":0.5}]})",
         "'breakpoints[0].offset' must be"},
        {"setExceptionBreakpoints", R"({"filters":["illegal",3]})", "'filters[1]' must be a string, not a"},
        {"setExceptionBreakpoints", R"({"filterOptions":[{"filterId":1}]})", "'filterOptions[0].filterId'"},
        {"dataBreakpointInfo", R"({"variablesReference":"1"})", "'variablesReference' must be"},
        {"setDataBreakpoints", R"({"breakpoints":[{},{"accessType":2}]})", "'breakpoints[1].accessType'"},
        {"continue", R"({"threadId":"1"})", "continue: 'threadId' must be a whole number"},
        {"continue", R"({"threadId":2})", "continue: there is no thread 2, only thread 1"},
        {"next", R"({"threadId":1.5})", "'threadId' must be a whole number, not a number 1.5"},
        {"stepIn", R"({"targetId":"a"})", "'targetId' must be a whole number"},
        {"stepOut", R"({"singleThread":1})", "'singleThread' must be true or false, not a number 1"},
        {"stepBack", R"({"threadId":3})", "stepBack: there is no thread 3"},
        {"reverseContinue", R"({"threadId":[1]})", "'threadId' must be a whole number, not an array"},
        {"pause", R"({"threadId":{}})", "'threadId' must be a whole number, not an object"},
        {"exceptionInfo", R"({"threadId":9})", "there is no thread 9"},
        {"stackTrace", R"({"levels":-1})", "'levels' must be 0 or more, not -1"},
        {"stackTrace", R"({"startFrame":1e300})", "'startFrame' must be a whole number"},
        {"stackTrace", R"({"threadId":1,"startFrame":0,"levels":1})", ""},
        {"scopes", R"({"frameId":"1"})", "'frameId' must be a whole number"},
        {"variables", R"({"variablesReference":1,"count":-2})", "'count' must be 0 or more, not -2"},
        {"setVariable", R"({"name":"r0","value":5})", "'value' must be a string, not a number 5"},
        {"evaluate", R"({"expression":"r0","frameId":1.25})", "'frameId' must be a whole number, not a"},
        {"evaluate", R"({"expression":"r0 + 1","frameId":1,"context":"watch"})", ""},
        {"readMemory", R"({"memoryReference":"0xA000","count":-1})", "'count' must be 0 or more, not -1"},
        {"readMemory", R"({"memoryReference":"0xA000","offset":2,"count":2})", ""},
        {"writeMemory", R"({"memoryReference":"0xA000","offset":"1"})", "'offset' must be a whole number"},
        {"disassemble", R"({"instructionCount":-1})", "'instructionCount' must be 0 or more"},
        {"terminate", R"({"restart":"no"})", "terminate: 'restart' must be true or false"},
        {"disconnect", R"({"terminateDebuggee":1})", "disconnect: 'terminateDebuggee' must be true or false"},
    };
    for (const auto& c : cases) {
        Client client;
        std::string command = c.command;
        if (command != "launch" && command != "attach") {
            ASSERT_EQ(client.ask("launch", R"({"program":"game.rom","stopOnEntry":true})")["success"], true);
            client.ask("configurationDone", "{}");
        }
        Json response = client.ask(command, c.arguments);
        SCOPED_TRACE(command + " " + c.arguments);
        ASSERT_TRUE(response.is_object());
        if (!*c.error) {
            EXPECT_EQ(response["success"], true) << response.dump();
            continue;
        }
        EXPECT_EQ(response["success"], false);
        std::string message = response.value("message", "");
        EXPECT_NE(message.find(c.error), std::string::npos) << message;
        // Only a session that did not start is shown to the user unasked.
        EXPECT_EQ(response["body"]["error"]["showUser"], command == "launch" || command == "attach");
    }
}

} // namespace
