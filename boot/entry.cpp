// The program entry and the top-level catch point.
#include "boot/entry.h"

#include <new>

#include "boot/start-up.h"
#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/eval/throw.h"

namespace zor::boot {
namespace {

struct entry_request {
    int (*after_start)();
};

int run_interpreter(void* raw_request) {
    auto* request = static_cast<entry_request*>(raw_request);
    int status = 0;
    try {
        start_up();
        if (request->after_start) status = request->after_start();
    } catch (const zor_throw& caught) {
        // The top-level catch point: it takes every code.
        if (caught.code == THROW_QUIT) platform::quit_with_error(0, 0);
        platform::quit_with_error(platform::RUNTIME_ERROR_NO_CATCH, 0);
    } catch (const std::bad_alloc&) {
        // A C++ container of the runtime could not grow.
        platform::quit_with_error(platform::RUNTIME_ERROR_NO_MEMORY, 0);
    }
    platform::exit_process(status);
}

}  // namespace

int main_entry(int argc, char** argv, int (*after_start)()) {
    platform::process_start_up(argc, argv);
    entry_request request{after_start};
    return platform::run_on_interpreter_thread(run_interpreter, &request);
}

}  // namespace zor::boot
