// The program entry and the top-level catch point.
#include "boot/entry.h"

#include <cfenv>
#include <new>

#include "boot/boot-environment.h"
#include "boot/core-words.h"
#include "boot/routines/routines.h"
#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/throw.h"
#include "runtime/gc/gc.h"
#include "boot/runtime-init.h"

namespace zor::boot {
namespace {

struct entry_request {
    int (*after_start)();
};

int run_interpreter(void* raw_request) {
    auto* request = static_cast<entry_request*>(raw_request);
    // Every floating-point exception masked, round to nearest: float operations never
    // trap, whatever environment the process was started with.
    std::fesetenv(FE_DFL_ENV);
    int status = 0;
    try {
        runtime_init::start();
        // event! belongs to the View system, which registers it as it starts (max-type-id
        // grows to 54 then); until that system exists, the boot registers it before the
        // global words are made.
        event::init_type();
        install_core_words();
        register_all_routines();
        // From here on every value lives in a word, an object or a stack slot: the
        // collector may run at any allocation, and new words are kept by their context.
        gc::enabled = 1;
        word::startup_collection = 0;
        install_boot_environment();
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
