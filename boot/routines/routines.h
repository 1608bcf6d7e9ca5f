// The families of boot routines. Each family's module in boot/routines/ registers its
// routines in the boot routine table (boot/routine-table.h); the start-up calls
// register_all_routines once, before the boot environment installs.
#pragma once

namespace zor::boot {

void register_all_routines();

// The routines of the boot's first steps: the system, value and platform families, and
// the type predicates.
void register_system_routines();
void register_value_routines();
void register_platform_routines();
void register_type_predicates();

// The console input routines (console-input.cpp).
void register_console_input_routines();
// The routines of the system object (system-object-routines.cpp).
void register_system_object_routines();

// The zorbin codec routines (zorbin-codec.cpp).
void register_zorbin_codec_routines();

}  // namespace zor::boot
