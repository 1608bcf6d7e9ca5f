// The command line, the interpreter thread with its big stack, the stack guards and the
// fatal-signal handler.
#include "platform/process.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstddef>

#include "platform/fatal.h"
#include "platform/virtual-memory.h"

namespace zor::platform {

namespace detail {
thread_local constinit uintptr_t stack_low_mark = 0;
}  // namespace detail

namespace {

constexpr size_t KiB = size_t{1} << 10;
constexpr size_t MiB = size_t{1} << 20;

// The interpreter's stack. Address space only: pages are backed as recursion reaches
// them. Under an address-space limit it takes its share of what the limit leaves (see
// platform/virtual-memory.h); when the system refuses even that (strict overcommit),
// half as much is tried, down to the minimum.
constexpr size_t MAX_INTERPRETER_STACK = 1024 * MiB;
constexpr size_t MIN_INTERPRETER_STACK = 8 * MiB;

// Inaccessible space below the interpreter's stack. Far larger than any one native
// frame, so a runaway recursion always lands in it instead of jumping over it into some
// other mapping; a small stack (under an address-space limit) gets a smaller guard.
constexpr size_t MAX_INTERPRETER_STACK_GUARD = 16 * MiB;
constexpr size_t MIN_INTERPRETER_STACK_GUARD = 2 * MiB;
size_t interpreter_stack_guard(size_t stack_size) {
    return std::clamp(stack_size / 16, MIN_INTERPRETER_STACK_GUARD, MAX_INTERPRETER_STACK_GUARD);
}

// Below the main thread's lowest stack address the kernel keeps a gap of about this size
// (its default stack guard gap); a fault there is the main stack overflowing.
constexpr size_t MAIN_STACK_GUARD_GAP = 1 * MiB;

// What native_stack_low() keeps in reserve: room to raise and report the stack-overflow
// error and for the frames of whatever catches it. Small stacks keep a quarter instead.
constexpr size_t STACK_SAFETY_MARGIN = 1 * MiB;

// Where the stack bounds of a thread cannot be found, the stack is assumed to reach
// this far below the first frame that asked.
constexpr size_t ASSUMED_STACK_SIZE = 2 * MiB;

// The fault handler's own stack. The report path formats text and runs the at-exit
// callbacks (terminal restore), so it gets more than the minimal signal stack.
constexpr size_t ALTERNATE_STACK_SIZE = 256 * KiB;

std::vector<std::string> argument_list;
std::string whole_command_line;

size_t page_size() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

size_t safety_margin_for(size_t stack_size) { return std::min(STACK_SAFETY_MARGIN, stack_size / 4); }

// ---------------------------------------------------------------------------------------
// Guard ranges: address ranges where a fault means that a stack ran out. They are
// written before the thread owning the stack runs and read by the signal handler, so
// every field is a lock-free atomic. A range is valid while its `high` is not 0.

struct guard_range {
    std::atomic<bool> claimed{false};
    std::atomic<uintptr_t> low{0};
    std::atomic<uintptr_t> high{0};
};

constexpr int MAX_GUARD_RANGES = 8;
guard_range guard_ranges[MAX_GUARD_RANGES];

int add_guard_range(uintptr_t low, uintptr_t high) {
    for (int i = 0; i < MAX_GUARD_RANGES; ++i) {
        bool expected = false;
        if (guard_ranges[i].claimed.compare_exchange_strong(expected, true)) {
            guard_ranges[i].low.store(low);
            guard_ranges[i].high.store(high);
            return i;
        }
    }
    return -1;  // a fault there is then reported as an access violation
}

void remove_guard_range(int slot) {
    if (slot < 0) return;
    guard_ranges[slot].high.store(0);
    guard_ranges[slot].low.store(0);
    guard_ranges[slot].claimed.store(false);
}

bool in_guard_range(uintptr_t address) {
    for (const guard_range& range : guard_ranges) {
        uintptr_t high = range.high.load();
        if (high == 0) continue;
        if (address >= range.low.load() && address < high) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Alternate signal stacks, one per thread that may fault.

struct alternate_stack {
    void* mapping = nullptr;
    size_t bytes = 0;
    stack_t previous{};
};

// Installs a fresh alternate stack for the calling thread; an inaccessible page below it
// turns an overflow of the handler itself into a fault instead of silent corruption.
alternate_stack install_alternate_stack() {
    alternate_stack result;
    size_t bytes = ALTERNATE_STACK_SIZE + page_size();
    void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return result;
    mprotect(mapping, page_size(), PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + page_size();
    stack.ss_size = ALTERNATE_STACK_SIZE;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, &result.previous) != 0) {
        munmap(mapping, bytes);
        return result;
    }
    result.mapping = mapping;
    result.bytes = bytes;
    return result;
}

// Puts back whatever alternate stack the thread had before (another library's, or none).
void remove_alternate_stack(alternate_stack& stack) {
    if (!stack.mapping) return;
    if (stack.previous.ss_flags & SS_DISABLE) {
        stack_t disabled{};
        disabled.ss_flags = SS_DISABLE;
        sigaltstack(&disabled, nullptr);
    } else {
        sigaltstack(&stack.previous, nullptr);
    }
    munmap(stack.mapping, stack.bytes);
    stack.mapping = nullptr;
}

// ---------------------------------------------------------------------------------------
// The fatal-signal handler.

// The runtime error code being reported, 0 while no fault is.
volatile sig_atomic_t fault_code_in_report = 0;

uintptr_t instruction_address(const void* context) {
    const auto* machine = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.pc);
#else
    (void)machine;
    return 0;
#endif
}

uintptr_t stack_pointer(const void* context) {
    const auto* machine = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.sp);
#else
    (void)machine;
    return 0;
#endif
}

int runtime_error_for(int signal_number, const siginfo_t* info, const void* context) {
    switch (signal_number) {
        case SIGSEGV:
        case SIGBUS: {
            // A frame pushed into the guard faults either at the data address (a store
            // into the new frame) or with the stack pointer itself inside the guard.
            auto data = reinterpret_cast<uintptr_t>(info->si_addr);
            if (in_guard_range(data) || in_guard_range(stack_pointer(context)))
                return RUNTIME_ERROR_STACK_OVERFLOW;
            return RUNTIME_ERROR_ACCESS_VIOLATION;
        }
        case SIGFPE:
            // Floating-point traps are never enabled, so only integer faults arrive here.
            return info->si_code == FPE_INTOVF ? RUNTIME_ERROR_INTEGER_OVERFLOW : RUNTIME_ERROR_INTEGER_DIVIDE;
        case SIGILL:
            return RUNTIME_ERROR_ILLEGAL_INSTRUCTION;
        default:
            return RUNTIME_ERROR_ACCESS_VIOLATION;
    }
}

void on_fatal_signal(int signal_number, siginfo_t* info, void* context) {
    // A fault inside the report itself (the handler runs with SA_NODEFER so it comes
    // back here): the report cannot be trusted any more, the status still can.
    if (fault_code_in_report != 0) _exit(fault_code_in_report);
    int code = runtime_error_for(signal_number, info, context);
    fault_code_in_report = code;

    quit_with_fault(code, instruction_address(context));
}

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

void install_fault_handlers() {
    struct sigaction action{};
    action.sa_sigaction = on_fatal_signal;
    // Nothing else (a console's resize or interrupt handler) runs in the middle of the
    // report, except the watchdog and a second fault.
    sigfillset(&action.sa_mask);
    for (int signal_number : FATAL_SIGNALS) sigdelset(&action.sa_mask, signal_number);
    sigdelset(&action.sa_mask, SIGALRM);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (int signal_number : FATAL_SIGNALS) sigaction(signal_number, &action, nullptr);
}

// ---------------------------------------------------------------------------------------
// Stack bounds.

bool current_thread_stack(uintptr_t& low, uintptr_t& high) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
    void* address = nullptr;
    size_t size = 0;
    int status = pthread_attr_getstack(&attributes, &address, &size);
    pthread_attr_destroy(&attributes);
    if (status != 0 || size == 0) return false;
    low = reinterpret_cast<uintptr_t>(address);
    high = low + size;
    return true;
}

struct reserved_stack {
    void* mapping = nullptr;
    size_t bytes = 0;
    uintptr_t guard_low = 0;  // the guard is [guard_low, low)
    uintptr_t low = 0;
    uintptr_t high = 0;
};

// Reserves the stack and its guard, or ends start-up when not even the minimum can be had.
reserved_stack reserve_interpreter_stack() {
    size_t size = reservation_size(MAX_INTERPRETER_STACK, MIN_INTERPRETER_STACK, MiB);
    for (; size; size = smaller_reservation(size, MIN_INTERPRETER_STACK, MiB)) {
        size_t guard = interpreter_stack_guard(size);
        size_t bytes = size + guard;
        void* mapping = reserve_address_space(bytes);
        if (!mapping) continue;
        auto base = reinterpret_cast<uintptr_t>(mapping);
        auto* usable = reinterpret_cast<void*>(base + guard);
        if (mprotect(usable, size, PROT_READ | PROT_WRITE) != 0) {
            munmap(mapping, bytes);
            continue;
        }
        // Memory use follows the depth actually reached, page by page, instead of in
        // huge pages.
        madvise(usable, size, MADV_NOHUGEPAGE);
        return {mapping, bytes, base, base + guard, base + bytes};
    }
    reservation_failed("the interpreter's stack",
                       MIN_INTERPRETER_STACK + interpreter_stack_guard(MIN_INTERPRETER_STACK));
}

struct interpreter_launch {
    int (*body)(void*);
    void* arg;
    uintptr_t stack_low;
    uintptr_t stack_high;
    int result;
};

void* interpreter_thread_main(void* raw_launch) {
    auto* launch = static_cast<interpreter_launch*>(raw_launch);
    alternate_stack signal_stack = install_alternate_stack();
    detail::stack_low_mark = launch->stack_low + safety_margin_for(launch->stack_high - launch->stack_low);
    launch->result = launch->body(launch->arg);
    remove_alternate_stack(signal_stack);
    return nullptr;
}

bool needs_quotes(const std::string& argument) {
    return argument.find_first_of(" \t") != std::string::npos;
}

}  // namespace

namespace detail {

uintptr_t find_stack_low_mark() {
    uintptr_t low = 0;
    uintptr_t high = 0;
    if (!current_thread_stack(low, high)) {
        high = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        low = high > ASSUMED_STACK_SIZE ? high - ASSUMED_STACK_SIZE : 0;
    }
    stack_low_mark = low + safety_margin_for(high - low);
    return stack_low_mark;
}

}  // namespace detail

void process_start_up(int argc, char** argv) {
    argument_list.clear();
    whole_command_line.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i) {
        argument_list.emplace_back(argv[i]);
        if (i > 0) whole_command_line += ' ';
        if (needs_quotes(argument_list.back())) {
            whole_command_line += '"';
            whole_command_line += argument_list.back();
            whole_command_line += '"';
        } else {
            whole_command_line += argument_list.back();
        }
    }

    static bool prepared = false;
    if (prepared) return;
    prepared = true;

    // The main thread's own alternate stack lives as long as the process.
    install_alternate_stack();
    uintptr_t low = 0;
    uintptr_t high = 0;
    if (current_thread_stack(low, high) && low > MAIN_STACK_GUARD_GAP)
        add_guard_range(low - MAIN_STACK_GUARD_GAP, low + page_size());
    install_fault_handlers();
}

const std::vector<std::string>& arguments() { return argument_list; }

const std::string& command_line() { return whole_command_line; }

int run_on_interpreter_thread(int (*body)(void*), void* arg) {
    reserved_stack stack = reserve_interpreter_stack();

    interpreter_launch launch{body, arg, stack.low, stack.high, 0};
    int guard_slot = add_guard_range(stack.guard_low, stack.low);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, reinterpret_cast<void*>(stack.low), stack.high - stack.low);
    pthread_t thread;
    int status = pthread_create(&thread, &attributes, interpreter_thread_main, &launch);
    pthread_attr_destroy(&attributes);

    if (status == 0) pthread_join(thread, nullptr);
    remove_guard_range(guard_slot);
    munmap(stack.mapping, stack.bytes);
    if (status != 0) return body(arg);
    return launch.result;
}

std::string current_dir() {
    std::string dir(256, '\0');
    while (dir.size() <= (1u << 20)) {
        if (::getcwd(dir.data(), dir.size())) {
            dir.resize(std::char_traits<char>::length(dir.data()));
            return dir;
        }
        if (errno != ERANGE) break;
        dir.resize(dir.size() * 2);
    }
    return {};
}

bool change_dir(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return ::chdir(path.c_str()) == 0;
}

}  // namespace zor::platform
