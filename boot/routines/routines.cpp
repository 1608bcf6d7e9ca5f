// Registration of every family of boot routines, in one place (see routines.h).
#include "boot/routines/routines.h"

namespace zor::boot {

void register_all_routines() {
    register_system_routines();
    register_value_routines();
    register_platform_routines();
    register_type_predicates();
    register_console_input_routines();
    register_zorbin_codec_routines();
    register_system_object_routines();
}

}  // namespace zor::boot
