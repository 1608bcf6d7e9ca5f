// The start-up sequence: everything between the process being ready and the program's
// own work, in its one fixed order. The program runs all of it; the test programs, fuzz
// targets and benchmarks run a leading part of it, or run it with the collector held off
// while the boot environment installs, through the options below, so that none of them
// keeps its own copy of the order.
//
// The order, and why it is fixed:
//   1. the floating-point environment: every exception masked, round to nearest, so no
//      float operation traps whatever environment the process was started with;
//   2. the runtime start-up (boot/runtime-init.h): datatypes, tables, root blocks, the
//      evaluation stack; it switches start-up word collection on;
//   3. event! registered (it belongs to the View system, which registers it as it starts;
//      until that system exists it is registered here, before the global words, since
//      the boot sources name it);
//   4. the core global words (boot/core-words.h), then the boot routines registered;
//   5. the collector on and start-up word collection off: from here on every value lives
//      in a word, an object or a stack slot, and new words are kept by their context;
//   6. the boot environment installed (boot/boot-environment.h).
// Errors and throws leave start_up as they came: the caller's catch point decides.
#pragma once

namespace zor::boot {

struct start_up_options {
    enum class stage { runtime, core_words, boot_environment };
    // The last step run; step 5 runs whatever the stage.
    stage last = stage::boot_environment;
    // false: the runtime is started already (a test program that installs the boot
    // environment again for each test); start-up begins with the core words.
    bool start_runtime = true;
    // false: the boot environment installs with the collector off, which is switched on
    // once it is installed (the fuzz targets, which start once and want no collection
    // before their first input).
    bool collect_during_install = true;
};

void start_up(const start_up_options& options = {});

}  // namespace zor::boot
