// The routines of the system object: the collector probes of system/state/GC, and the
// boot-only pieces the system object's construction and handlers use to reach runtime
// state that the language cannot touch (the global context as an object, the error
// catalogue objects the runtime raises from, the command line, the pretty float flag, the
// interpreter flag of the call frames). The boot-only ones are bound in a private object
// of boot/system.zor, never to a global word.
//
// Invariant: each routine builds its answer in an argument-stack slot (the collector may
// run at any allocation) and answers that slot.
#include "boot/routines/routines.h"

#include "boot/routine-table.h"
#include "platform/process.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/error-catalogue-objects.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/text/unicode.h"

namespace zor::boot {

namespace {

// The class id of system/words: the object view of the global context.
constexpr int32_t GLOBAL_CONTEXT_CLASS_ID = -1;
// Bit 31 of a call frame's header: the interpreter pushed the frame.
constexpr uint32_t FRAME_INTERPRETER_FLAG = 0x80000000u;

uint64_t gc_active(const eval::routine_arguments&) { return gc::enabled != 0; }
uint64_t gc_series_cycles(const eval::routine_arguments&) { return gc::cycle_count(); }
uint64_t gc_nodes_cycles(const eval::routine_arguments&) { return gc::evacuation_count(); }

cell* global_words(cell*) { return object::push_from_context(context::global, GLOBAL_CONTEXT_CLASS_ID); }

cell* catalog_errors(cell*) { return stack::push_copy(error_catalogue_objects::errors()); }
cell* standard_error(cell*) { return stack::push_copy(error_catalogue_objects::standard_error()); }

// The whole command line as one string, or none when the program was given no arguments.
cell* command_line(cell*) {
    if (platform::arguments().size() <= 1) return stack::push_copy(&none::value);
    const std::string& text = platform::command_line();
    return string::load_onto_stack(unicode::input_bytes::at(text.data()), static_cast<int64_t>(text.size()), 0);
}

// The error module reads the stack-trace depth and the source files from system/state.
cell* use_error_settings(cell* arguments) {
    if (arguments[0].is(TYPE_OBJECT)) error::set_settings(&arguments[0]);
    return &none::value;
}

// The pretty float flag follows the truth of the value assigned to pretty?.
cell* set_pretty_float(cell* arguments) {
    float_::pretty_flag = logic::is_true(&arguments[0], false, nullptr) ? 1 : 0;
    return &none::value;
}

uint64_t called_from_interpreter(const eval::routine_arguments&) {
    for (const stack::frame* f = stack::state.frames_top; f > stack::state.frames_begin;) {
        --f;
        if (f->header & FRAME_INTERPRETER_FLAG) return 1;
    }
    return 0;
}

template <typename F> code_registry::code code_of(F* f) { return reinterpret_cast<code_registry::code>(f); }

}  // namespace

void register_system_object_routines() {
    static const boot_routine routines[] = {
        {"gc/active?", code_of(&gc_active), false, TYPE_LOGIC},
        {"gc/series-cycles", code_of(&gc_series_cycles), false, TYPE_INTEGER},
        {"gc/nodes-cycles", code_of(&gc_nodes_cycles), false, TYPE_INTEGER},
        {"system/global-words", code_of(&global_words), true, -1},
        {"system/catalog-errors", code_of(&catalog_errors), true, -1},
        {"system/standard-error", code_of(&standard_error), true, -1},
        {"system/command-line", code_of(&command_line), true, -1},
        {"system/use-error-settings", code_of(&use_error_settings), true, -1},
        {"system/set-pretty-float", code_of(&set_pretty_float), true, -1},
        {"system/called-from-interpreter?", code_of(&called_from_interpreter), false, TYPE_LOGIC},
    };
    register_routines(routines);
}

}  // namespace zor::boot
