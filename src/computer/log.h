// Where the machine's diagnostic lines go: the memory map, the test port's
// traffic, bank switches, an illegal opcode, an interrupt out of range. By
// default ordinary lines go to standard output and error lines to standard
// error, as a console program prints them; a front end that owns standard
// output (the debug adapter speaks its protocol there) or has none (a web
// page) installs its own sink. One sink serves the whole process, like the
// audio tables: there is one machine per process.
#pragma once

// `text` is one or more whole lines, each ending in '\n'.
using LogSink = void (*)(void* context, bool is_error, const char* text);

// A null sink restores the default.
void Log_set_sink(LogSink sink, void* context);

// printf-style; the formatted text goes to the sink as one piece.
[[gnu::format(printf, 1, 2)]] void Log_line(const char* format, ...);
[[gnu::format(printf, 1, 2)]] void Log_error(const char* format, ...);
