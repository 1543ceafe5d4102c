#include "computer/log.h"

#include <cstdarg>
#include <cstdio>

namespace {

void default_sink(void*, bool is_error, const char* text) { std::fputs(text, is_error ? stderr : stdout); }

LogSink current_sink = default_sink;
void* current_context = nullptr;

void emit(bool is_error, const char* format, std::va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    current_sink(current_context, is_error, text);
}

} // namespace

void Log_set_sink(LogSink sink, void* context) {
    current_sink = sink ? sink : default_sink;
    current_context = sink ? context : nullptr;
}

void Log_line(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    emit(false, format, args);
    va_end(args);
}

void Log_error(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    emit(true, format, args);
    va_end(args);
}
