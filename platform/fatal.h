// The process's ends: quitting with a status, and the fatal runtime error report
// ("*** Runtime Error N: message" / "*** at: XXXXXXXXh") for faults of the runtime itself.
#pragma once

#include <cstdint>

namespace zor::platform {

inline constexpr int RUNTIME_ERROR_ACCESS_VIOLATION = 1;
inline constexpr int RUNTIME_ERROR_INTEGER_DIVIDE = 13;
inline constexpr int RUNTIME_ERROR_INTEGER_OVERFLOW = 14;
inline constexpr int RUNTIME_ERROR_ILLEGAL_INSTRUCTION = 17;
inline constexpr int RUNTIME_ERROR_STACK_OVERFLOW = 19;
inline constexpr int RUNTIME_ERROR_NO_MEMORY = 94;
inline constexpr int RUNTIME_ERROR_NO_CATCH = 95;
inline constexpr int RUNTIME_ERROR_ASSERTION = 98;
inline constexpr int RUNTIME_ERROR_NO_CASE = 100;
inline constexpr int RUNTIME_ERROR_NO_SWITCH = 101;

// The exit status of an uncaught language error (-2 as an 8-bit status).
inline constexpr int EXIT_UNCAUGHT_ERROR = 254;

const char* runtime_error_message(int code);

// Code 0: exit quietly with status 0. Any other code prints the runtime error report
// with the address's low 32 bits, then exits with the code.
[[noreturn]] void quit_with_error(int code, uint64_t address);

// The same report for a fault caught in a signal handler: only write(2), no allocation,
// no release of the tracked heap (the process ends anyway).
[[noreturn]] void quit_with_fault(int code, uint64_t address);

// Flushes console output, restores the terminal, releases the tracked heap, exits.
[[noreturn]] void exit_process(int status);

// Work to run before the process exits (terminal restore and the like), in reverse order.
void at_exit(void (*callback)());

}  // namespace zor::platform
