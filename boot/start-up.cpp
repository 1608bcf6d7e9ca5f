// The start-up sequence in its fixed order (boot/start-up.h).
#include "boot/start-up.h"

#include <cfenv>

#include "boot/boot-environment.h"
#include "boot/core-words.h"
#include "boot/routines/routines.h"
#include "boot/runtime-init.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/word.h"
#include "runtime/gc/gc.h"

namespace zor::boot {
namespace {

void switch_collector_on() {
    gc::enabled = 1;
    word::startup_collection = 0;
}

}  // namespace

void start_up(const start_up_options& options) {
    using stage = start_up_options::stage;
    if (options.start_runtime) {
        std::fesetenv(FE_DFL_ENV);
        runtime_init::start();
        event::init_type();
    }
    if (options.last >= stage::core_words) install_core_words();
    if (options.last >= stage::boot_environment) register_all_routines();
    if (options.collect_during_install) switch_collector_on();
    if (options.last >= stage::boot_environment) install_boot_environment();
    if (!options.collect_during_install) switch_collector_on();
}

}  // namespace zor::boot
