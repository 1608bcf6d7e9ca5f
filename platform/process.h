// The process around the runtime: its command line, the thread the interpreter runs
// on, and what happens when the processor faults.
//
// The interpreter runs on a thread of its own whose stack is up to 1 GiB of reserved (not
// committed) address space above a large inaccessible guard region, so deep but finite
// recursion in user code has room; under an address-space limit it is sized from the
// limit (platform/virtual-memory.h). The evaluator keeps a native-depth guard on top of
// that: native_stack_low() turns true while there is still a safety margin left, and
// the evaluator raises the catchable internal/stack-overflow then. Code that ignores the
// guard and keeps recursing reaches the guard region; the fault handler reports that as
// runtime error 19 instead of a plain access violation.
//
// Fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL) are taken on an alternate signal stack
// (so a stack overflow can still be reported) and end the process through
// quit_with_error with the runtime error code of the fault and the low 32 bits of the
// faulting instruction's address. Every thread that may fault needs its own alternate
// stack: process_start_up gives one to the main thread and run_on_interpreter_thread to
// the interpreter thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor::platform {

// Keeps the command line, installs the fatal-signal handlers and the main thread's
// alternate signal stack. Called once, first thing in the program.
void process_start_up(int argc, char** argv);

// The arguments exactly as the process received them (argv[0] first).
const std::vector<std::string>& arguments();

// The whole command line as one string: the arguments joined by single spaces, an
// argument that holds a blank wrapped in double quotes so that the boot environment's
// splitter gives it back as one argument. Empty before process_start_up.
const std::string& command_line();

// The process's current directory as the system gives it (UTF-8 bytes on this
// platform), or an empty string when it cannot be read (it was removed, or lies beyond
// the longest path the system answers).
std::string current_dir();
// Makes the path the process's current directory; false when the system refuses it (no
// such directory, no permission, a path holding a NUL byte).
bool change_dir(const std::string& path);

// Runs body(arg) on a new thread with a big stack (1 GiB without an address-space limit)
// and returns its result. When that much address space cannot be reserved a smaller
// stack is used, and when not even a small one can, start-up ends with status 1; when no
// thread can be made the body runs on the calling thread. The body must not let a C++
// exception escape.
int run_on_interpreter_thread(int (*body)(void*), void* arg);

namespace detail {
// The lowest stack address the current thread may reach before native_stack_low()
// turns true; 0 until it is first needed on this thread.
extern thread_local constinit uintptr_t stack_low_mark;
uintptr_t find_stack_low_mark();
}  // namespace detail

// True when less than the safety margin (1 MiB, less on small stacks) of the current
// thread's stack remains. Cheap enough to call at every evaluation step.
inline bool native_stack_low() {
    auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t mark = detail::stack_low_mark;
    if (mark == 0) [[unlikely]]
        mark = detail::find_stack_low_mark();
    return here < mark;
}

}  // namespace zor::platform
