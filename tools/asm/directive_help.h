// The assembler's directives with their forms and a line of help each. The
// assembler dispatches on these names (directives.cpp checks at compile time
// that its handlers follow this list), and the studio's reference and hover
// help are written from it.
#pragma once

#include <array>
#include <string_view>

struct DirectiveHelp {
    std::string_view name;
    std::string_view form;
    std::string_view summary;
};

// clang-format off
constexpr std::array<DirectiveHelp, 22> directive_help = {{
    {".byte",    ".byte e, ...",                  "Bytes; a string among the values gives its characters."},
    {".db",      ".db e, ...",                    "Bytes, as .byte."},
    {".word",    ".word e, ...",                  "Big-endian words, high byte first."},
    {".dw",      ".dw e, ...",                    "Big-endian words, as .word."},
    {".ascii",   ".ascii \"text\"",               "The characters of the string."},
    {".asciz",   ".asciz \"text\"",               "The characters of the string and a terminating 0."},
    {".string",  ".string \"text\"",              "The characters of the string and a terminating 0, as .asciz."},
    {".org",     ".org addr",                     "Continue placing code at addr, inside the current bank window."},
    {".start",   ".start",                        "Continue at 0x0100, where the machine starts executing."},
    {".vector",  ".vector n, addr",               "Interrupt vector n (0..15) jumps to addr; the current address does not move."},
    {".fill",    ".fill count[, value]",          "count bytes of value (default 0)."},
    {".res",     ".res count",                    "Reserve count bytes: skip them without writing."},
    {".align",   ".align n[, value]",             "Advance to a multiple of n; with a value the gap is filled."},
    {".include", ".include \"file\"",             "Assemble another source here, such as \"lumacor.inc\"."},
    {".incbin",  ".incbin \"file\"[, offset[, length]]", "The raw bytes of a file, or a part of it."},
    {".bank",    ".bank n",                       "Continue in cartridge bank n, shown in the banked window."},
    {".equ",     ".equ NAME, e",                  "A constant, like NAME = e."},
    {".assert",  ".assert e[, \"message\"]",      "An error if e is 0."},
    {".ifdef",   ".ifdef NAME",                   "Assemble the lines up to .else or .endif if NAME is defined above this line."},
    {".ifndef",  ".ifndef NAME",                  "Assemble the lines up to .else or .endif if NAME is not defined above this line."},
    {".else",    ".else",                         "Assemble the lines up to .endif if the .ifdef or .ifndef before skipped its own."},
    {".endif",   ".endif",                        "End the lines that .ifdef or .ifndef (and .else) choose between."},
}};
// clang-format on
