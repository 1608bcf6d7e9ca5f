// Process exit and the fatal runtime error report.
#include "platform/fatal.h"

#include <unistd.h>

#include <cstdio>

#include "platform/console-output.h"
#include "runtime/memory/heap.h"

namespace zor::platform {
namespace {

constexpr int MAX_EXIT_CALLBACKS = 16;
void (*exit_callbacks[MAX_EXIT_CALLBACKS])();
int exit_callback_count = 0;

}  // namespace

const char* runtime_error_message(int code) {
    switch (code) {
        case RUNTIME_ERROR_ACCESS_VIOLATION: return "access violation";
        case RUNTIME_ERROR_INTEGER_DIVIDE: return "integer divide by zero";
        case RUNTIME_ERROR_INTEGER_OVERFLOW: return "integer overflow";
        case RUNTIME_ERROR_ILLEGAL_INSTRUCTION: return "illegal instruction";
        case RUNTIME_ERROR_STACK_OVERFLOW: return "stack error or overflow";
        case RUNTIME_ERROR_NO_MEMORY: return "out of memory";
        case RUNTIME_ERROR_NO_CATCH: return "no CATCH for THROW";
        case RUNTIME_ERROR_ASSERTION: return "assertion failed";
        case RUNTIME_ERROR_NO_CASE: return "no value matched in CASE";
        case RUNTIME_ERROR_NO_SWITCH: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

void at_exit(void (*callback)()) {
    if (exit_callback_count < MAX_EXIT_CALLBACKS) exit_callbacks[exit_callback_count++] = callback;
}

[[noreturn]] void exit_process(int status) {
    flush_output();
    while (exit_callback_count > 0) exit_callbacks[--exit_callback_count]();
    heap::release_all();
    _exit(status);
}

[[noreturn]] void quit_with_fault(int code, uint64_t address) {
    char report[160];
    size_t n = 0;
    auto put = [&](const char* text) {
        while (*text && n < sizeof report) report[n++] = *text++;
    };
    char digits[12];
    int d = 0;
    for (unsigned v = static_cast<unsigned>(code); d == 0 || v; v /= 10) digits[d++] = static_cast<char>('0' + v % 10);
    put("\n*** Runtime Error ");
    while (d > 0 && n < sizeof report) report[n++] = digits[--d];
    put(": ");
    put(runtime_error_message(code));
    put("\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) report[n++] = "0123456789ABCDEF"[(address >> shift) & 0xF];
    put("h\n");
    write_raw(report, n);
    while (exit_callback_count > 0) exit_callbacks[--exit_callback_count]();
    _exit(code);
}

[[noreturn]] void quit_with_error(int code, uint64_t address) {
    if (code == 0) exit_process(0);
    char report[160];
    int n = std::snprintf(report, sizeof report, "\n*** Runtime Error %d: %s\n*** at: %08Xh\n", code,
                          runtime_error_message(code), static_cast<unsigned>(address & 0xFFFFFFFFu));
    write_raw(report, static_cast<size_t>(n));
    exit_process(code);
}

}  // namespace zor::platform
