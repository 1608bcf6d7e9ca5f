// The program entry and the top-level catch point.
#include "boot/entry.h"

#include <cfenv>
#include <new>

#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/eval/throw.h"
#include "runtime/runtime-init.h"

namespace zor::boot {
namespace {

struct entry_request {
    void (*after_start)();
};

int run_interpreter(void* raw_request) {
    auto* request = static_cast<entry_request*>(raw_request);
    // Every floating-point exception masked, round to nearest: float operations never
    // trap, whatever environment the process was started with.
    std::fesetenv(FE_DFL_ENV);
    try {
        runtime_init::start();
        if (request->after_start) request->after_start();
    } catch (const zor_throw& caught) {
        // The top-level catch point: it takes every code.
        if (caught.code == THROW_QUIT) platform::quit_with_error(0, 0);
        platform::quit_with_error(platform::RUNTIME_ERROR_NO_CATCH, 0);
    } catch (const std::bad_alloc&) {
        // A C++ container of the runtime could not grow.
        platform::quit_with_error(platform::RUNTIME_ERROR_NO_MEMORY, 0);
    }
    platform::exit_process(0);
}

}  // namespace

int main_entry(int argc, char** argv, void (*after_start)()) {
    platform::process_start_up(argc, argv);
    entry_request request{after_start};
    return platform::run_on_interpreter_thread(run_interpreter, &request);
}

}  // namespace zor::boot
