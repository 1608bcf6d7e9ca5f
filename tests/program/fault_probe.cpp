// A program that starts exactly like zor and then does one bad thing, named by its first
// argument, so that the program tests can watch how the process ends:
//
//   segv            a store through an invalid pointer (after printing the faulting
//                   function's address, which the report's address must fall into)
//   fpe             an integer division by zero
//   ill             an illegal instruction
//   uncaught-throw  a throw of a code that no catch point takes
//   quit            the quit throw
//   deep-recursion  native recursion with big frames that never checks the stack guard
//   stack-guard     the same recursion, stopping when native_stack_low() says so; prints
//                   how much stack it used and ends normally
//   arguments       prints the command line and the arguments as the process kept them
//   boot-error      installs a boot source whose code raises an error after printing
//   boot-throw      installs a boot source that throws a value nothing catches
#include <cstdint>
#include <cstdio>
#include <string>

#include "boot/boot-environment.h"
#include "boot/entry.h"
#include "platform/console-output.h"
#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/eval/throw.h"

namespace {

using namespace zor;

const char* fault_name = "";

void print(const std::string& text) { platform::print_utf8(text.data(), text.size()); }

std::string hex32(uintptr_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value & 0xFFFFFFFFu));
    return text;
}

// The compiler must not see the bad pointer or the zero coming.
volatile uintptr_t invalid_address = 16;
volatile int zero = 0;
volatile int dividend = 7;
volatile bool stop_recursing = false;

// The division is the processor's own, so that the undefined-behaviour sanitizer does
// not step in before the processor faults.
[[gnu::noinline]] int divide_in_hardware(int value, int divisor) {
#if defined(__x86_64__)
    asm volatile("cltd\n\tidivl %1" : "+a"(value) : "r"(divisor) : "edx", "cc");
    return value;
#else
    return value / divisor;
#endif
}

[[gnu::noinline]] void store_through_invalid_pointer() {
    *reinterpret_cast<volatile int*>(invalid_address) = 1;
}

constexpr size_t FRAME_BYTES = 256 * 1024;

// Touches one byte per frame, so only the pages that the frames' edges reach are
// committed, while the stack pointer still moves by the whole frame.
[[gnu::noinline]] int recurse_without_guard(int depth) {
    volatile char frame[FRAME_BYTES];
    frame[0] = static_cast<char>(depth);
    if (stop_recursing) return 0;
    return recurse_without_guard(depth + 1) + frame[0];
}

uintptr_t deepest_frame = 0;

[[gnu::noinline]] int recurse_until_stack_low(int depth) {
    volatile char frame[FRAME_BYTES];
    frame[0] = static_cast<char>(depth);
    if (platform::native_stack_low() || stop_recursing) {
        deepest_frame = reinterpret_cast<uintptr_t>(&frame[0]);
        return depth;
    }
    return recurse_until_stack_low(depth + 1) + frame[0] * 0;
}

int misbehave() {
    std::string fault = fault_name;
    if (fault == "segv") {
        // Buffered output must still come out, before the report.
        print("faulting function: " + hex32(reinterpret_cast<uintptr_t>(&store_through_invalid_pointer)) + "\n");
        store_through_invalid_pointer();
    } else if (fault == "fpe") {
        divide_in_hardware(dividend, zero);
    } else if (fault == "ill") {
        __builtin_trap();
    } else if (fault == "uncaught-throw") {
        throw_code(THROW_ERROR);
    } else if (fault == "quit") {
        throw_code(THROW_QUIT);
    } else if (fault == "deep-recursion") {
        recurse_without_guard(0);
    } else if (fault == "stack-guard") {
        char top;
        int depth = recurse_until_stack_low(0);
        uintptr_t used = reinterpret_cast<uintptr_t>(&top) - deepest_frame;
        print("depth: " + std::to_string(depth) + "\nstack used MiB: " + std::to_string(used >> 20) + "\n");
    } else if (fault == "arguments") {
        print("command line: " + platform::command_line() + "\n");
        for (const std::string& argument : platform::arguments()) print("argument: [" + argument + "]\n");
    } else if (fault == "boot-error") {
        boot::install_boot_source("Zor [Title: \"failing\"]\nprint \"installing\"\nno-such-word\nprint \"after\"\n");
    } else if (fault == "boot-throw") {
        boot::install_boot_source("Zor []\nthrow 1\n");
    } else {
        print("unknown fault: " + fault + "\n");
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) fault_name = argv[1];
    return boot::main_entry(argc, argv, misbehave);
}
