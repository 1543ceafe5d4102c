// lumacor-make-reference: writes the language reference the studio shows
// (instructions with their forms, flags and examples, directives, registers)
// as JSON, from the tables the CPU and the assembler themselves use.
#include "cpu/cpu.h"
#include "cpu/isa_help.h"
#include "directive_help.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

// An operand as the assembly language writes it, X for the first and Y for
// the second.
std::string operand_text(Operand kind, Access access, char which) {
    switch (kind) {
    case Operand::None: return "";
    case Operand::Reg: return std::string("r") + which;
    case Operand::Pair:
        return access == Access::Memory ? std::string("[p") + which + "]" : std::string("p") + which;
    case Operand::Imm8: return "n";
    case Operand::Imm16: return "nn";
    case Operand::Port: return "port";
    }
    return "";
}

std::string form_syntax(const InstructionInfo& info) {
    std::string text(info.mnemonic);
    std::string a = operand_text(info.a, info.a_access, 'X');
    std::string b = operand_text(info.b, info.b_access, 'Y');
    if (!a.empty()) text += " " + a;
    if (!b.empty()) text += ", " + b;
    return text;
}

std::string instructions_json() {
    std::string text = "[";
    for (const MnemonicHelp& help : mnemonic_help) {
        if (text.size() > 1) text += ",";
        text += "\n  {\"mnemonic\": " + quoted(help.mnemonic) + ", \"summary\": " + quoted(help.summary) +
                ", \"example\": " + quoted(help.example) + ", \"forms\": [";
        bool first = true;
        for (int i = 0; i < INSTRUCTION_COUNT; ++i) {
            const InstructionInfo& info = instruction_set[i];
            if (info.mnemonic != help.mnemonic) continue;
            char opcode[8];
            std::snprintf(opcode, sizeof opcode, "0x%02X", info.opcode);
            text += std::string(first ? "" : ",") + "\n    {\"syntax\": " + quoted(form_syntax(info)) +
                    ", \"opcode\": \"" + opcode + "\", \"size\": " + std::to_string(instruction_size(info)) +
                    ", \"effect\": " + quoted(form_help[i].effect) +
                    ", \"flags\": " + quoted(form_help[i].flags) + "}";
            first = false;
        }
        text += "]}";
    }
    return text + "\n]";
}

std::string directives_json() {
    std::string text = "[";
    for (const DirectiveHelp& d : directive_help) {
        if (text.size() > 1) text += ",";
        text += "\n  {\"name\": " + quoted(d.name) + ", \"form\": " + quoted(d.form) +
                ", \"summary\": " + quoted(d.summary) + "}";
    }
    return text + "\n]";
}

std::string registers_json() {
    struct Register {
        std::string name;
        std::string summary;
    };
    std::vector<Register> list;
    for (int r = 0; r < REGISTER_COUNT; ++r) {
        std::string summary = "Register " + std::to_string(r) + ", one byte";
        if (r == FLAGS) summary += ": FLAGS, Z is bit 7 and C bit 6";
        if (r == PAIR_PC || r == PAIR_PC + 1)
            summary += r == PAIR_PC ? ": PC's high byte" : ": PC's low byte";
        if (r == PAIR_SP || r == PAIR_SP + 1)
            summary += r == PAIR_SP ? ": SP's high byte" : ": SP's low byte";
        list.push_back({"r" + std::to_string(r), summary + "."});
    }
    for (int p = 0; p < REGISTER_COUNT; ++p) {
        std::string summary =
            "Pair " + std::to_string(p) + ", the word in r" + std::to_string(p) + " (high byte) and r" +
            (p + 1 < REGISTER_COUNT ? std::to_string(p + 1) : "16, the first stack byte,") + " (low byte)";
        if (p == PAIR_PC) summary += ": PC";
        if (p == PAIR_SP) summary += ": SP";
        list.push_back({"p" + std::to_string(p), summary + "."});
    }
    list.push_back({"PC", "The program counter, pair p12: the address of the next instruction."});
    list.push_back({"SP", "The stack pointer, pair p14: the stack grows down from 0xFFFF."});
    list.push_back({"FLAGS",
                    "Register r11: Z (bit 7) is set by a zero result or equal compare, C (bit 6) by a carry "
                    "or borrow."});
    std::string text = "[";
    for (const Register& r : list) {
        if (text.size() > 1) text += ",";
        text += "\n  {\"name\": " + quoted(r.name) + ", \"summary\": " + quoted(r.summary) + "}";
    }
    return text + "\n]";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumacor-make-reference FILE\n");
        return 1;
    }
    std::string text = "{\"instructions\": " + instructions_json() +
                       ",\n\"directives\": " + directives_json() + ",\n\"registers\": " + registers_json() +
                       "}\n";
    std::FILE* f = std::fopen(argv[1], "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) std::fprintf(stderr, "%s: error: cannot write file\n", argv[1]);
    return ok ? 0 : 1;
}
