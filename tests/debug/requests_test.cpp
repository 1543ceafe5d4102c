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
        const char* command;
        const char* arguments;
        const char* error; // "" when the request must succeed
    } cases[] = {
        {"launch", R"({"program":["game.rom"]})", "launch: 'program' must be a string, not an array"},
        {"launch", R"({"program":"game.rom","noDebug":"no"})",
         "'noDebug' must be true or false, not a string \"no\""},
        {"launch", R"({"program":"lost.rom"})",
         "cannot read the ROM image lost.rom: No such file or directory"},
        {"launch", R"({"program":"game.rom","debugInfo":"lost.dbg"})",
         "cannot read the debug information lost.dbg"},
        {"launch", R"({"program":"game.rom","noDisplay":true})", ""},
        {"attach", R"({"program":"game.rom"})", "cannot attach to a running program"},
        {"initialize", R"({"adapterID":"lumacor","linesStartAt1":"yes"})",
         "'linesStartAt1' must be true or false"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":[{"line":3},{"line":2.5}]})",
         "setBreakpoints: 'breakpoints[1].line' must be a whole number, not a number 2.5"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":[{"line":3},7]})",
         "'breakpoints[1]' must be an object, not a number 7"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":[{"line":1,"condition":5}]})",
         "'breakpoints[0].condition' must be a string, not a number 5"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":[{"line":1,"column":"2"}]})",
         "'breakpoints[0].column' must be a whole number"},
        {"setBreakpoints", R"({"source":{"path":7}})", "'source.path' must be a string, not a number 7"},
        {"setBreakpoints", R"({"source":{"name":false,"path":"a.asm"}})", "'source.name' must be a string"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"lines":[1,"2"]})",
         "'lines[1]' must be a whole number, not a string \"2\""},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":"all"})",
         "'breakpoints' must be an array"},
        {"setBreakpoints", R"({"source":{"path":"a.asm"},"breakpoints":[{"line":4.0}],"lines":[4]})", ""},
        {"setFunctionBreakpoints", R"({"breakpoints":[{"name":"main"},{"name":["main"]}]})",
         "'breakpoints[1].name' must be a string, not an array"},
        {"setFunctionBreakpoints", R"({"breakpoints":[{"name":"main","hitCondition":3}]})",
         "'breakpoints[0].hitCondition' must be a string"},
        {"setInstructionBreakpoints", R"({"breakpoints":[{"instructionReference":"0x0100","offset":0.5}]})",
         "'breakpoints[0].offset' must be a whole number, not a number 0.5"},
        {"setExceptionBreakpoints", R"({"filters":["illegal",3]})",
         "'filters[1]' must be a string, not a number 3"},
        {"setExceptionBreakpoints", R"({"filters":[],"filterOptions":[{"filterId":true}]})",
         "'filterOptions[0].filterId' must be a string, not a boolean true"},
        {"dataBreakpointInfo", R"({"name":"0xA000","variablesReference":"1"})",
         "'variablesReference' must be a whole number, not a string \"1\""},
        {"setDataBreakpoints", R"({"breakpoints":[{"dataId":"0xA000"},{"dataId":"0xA001","accessType":2}]})",
         "'breakpoints[1].accessType' must be a string"},
        {"continue", R"({"threadId":"1"})",
         "continue: 'threadId' must be a whole number, not a string \"1\""},
        {"continue", R"({"threadId":2})", "continue: there is no thread 2, only thread 1"},
        {"next", R"({"threadId":1.5})", "'threadId' must be a whole number, not a number 1.5"},
        {"stepIn", R"({"threadId":1,"targetId":"a"})", "'targetId' must be a whole number"},
        {"stepOut", R"({"threadId":1,"singleThread":1})",
         "'singleThread' must be true or false, not a number 1"},
        {"stepBack", R"({"threadId":3})", "stepBack: there is no thread 3"},
        {"reverseContinue", R"({"threadId":[1]})", "'threadId' must be a whole number, not an array"},
        {"pause", R"({"threadId":{}})", "'threadId' must be a whole number, not an object"},
        {"exceptionInfo", R"({"threadId":9})", "there is no thread 9"},
        {"stackTrace", R"({"threadId":1,"levels":-1})", "'levels' must be 0 or more, not -1"},
        {"stackTrace", R"({"threadId":1,"startFrame":1e300})", "'startFrame' must be a whole number"},
        {"stackTrace", R"({"threadId":1,"startFrame":0,"levels":1})", ""},
        {"scopes", R"({"frameId":"1"})", "'frameId' must be a whole number"},
        {"variables", R"({"variablesReference":1,"count":-2})", "'count' must be 0 or more, not -2"},
        {"setVariable", R"({"variablesReference":1,"name":"r0","value":5})",
         "'value' must be a string, not a number 5"},
        {"setVariable", R"({"variablesReference":"1","name":"r0","value":"5"})",
         "'variablesReference' must be"},
        {"evaluate", R"({"expression":"r0","frameId":1.25})",
         "'frameId' must be a whole number, not a number 1.25"},
        {"evaluate", R"({"expression":"r0","context":7})", "'context' must be a string"},
        {"evaluate", R"({"expression":"r0 + 1","frameId":1,"context":"watch"})", ""},
        {"readMemory", R"({"memoryReference":"0xA000","count":-1})", "'count' must be 0 or more, not -1"},
        {"readMemory", R"({"memoryReference":"0xA000","count":2.5})", "'count' must be a whole number"},
        {"readMemory", R"({"memoryReference":"0xA000","offset":2,"count":2})", ""},
        {"writeMemory", R"({"memoryReference":"0xA000","data":"AA==","offset":"1"})",
         "'offset' must be a whole number"},
        {"disassemble", R"({"memoryReference":"0x0100","instructionCount":-1})",
         "'instructionCount' must be 0 or more"},
        {"disassemble", R"({"memoryReference":"0x0100","instructionCount":2,"resolveSymbols":"y"})",
         "'resolveSymbols' must be true or false"},
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
