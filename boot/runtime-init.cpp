// The runtime start-up, in its fixed order.
#include "boot/runtime-init.h"

#include "platform/console-output.h"
#include "platform/random.h"
#include "runtime/binding/context.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tag-email-ref.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue-objects.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/tracing.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/parse/parse.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/value/handle-registry.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/text/output-hooks.h"
#include "runtime/binding/owner-track.h"
#include "runtime/value/slot-table.h"
#include "runtime/binding/symbol.h"
#include "runtime/value/type-registry.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/upcalls.h"
#include "view/tui-backend-hooks.h"

namespace zor::runtime_init {

namespace {

// Capacity in cells of the runtime's root block.
constexpr int ROOT_BLOCK_CELLS = 8696;
constexpr int SYMBOL_TABLE_CELLS = 4000;
// The seed of every hash of bytes and strings: fixed, so that runs are reproducible.
constexpr uint32_t HASH_SEED = 0x5A0F1E37;

// A type whose module has not been written yet still registers here, in its place in
// the order, so that ids, names and the highest id are right; it supports no action.
void register_named(type_id id, const char* name) {
    type_registry::register_type(id, TYPE_NONE_ID, name, type_registry::action_list(TYPE_NONE_ID));
}

// Every datatype, in the order that puts parents before their children.
void register_datatypes() {
    datatype::init_type();
    unset::init_type();
    none::init_type();
    logic::init_type();
    series::init_type();
    block::init_type();
    string::init_type();
    binary::init_type();
    integer::init_type();
    symbol::init_type();
    context::init_type();
    word::init_type();
    word::init_lit_word_type();
    word::init_set_word_type();
    word::init_get_word_type();
    word::init_refinement_type();
    char_::init_type();
    native::init_type();
    action_::init_type();
    op::init_type();
    path::init_type();
    lit_path::init_type();
    set_path::init_type();
    get_path::init_type();
    function::init_type();
    routine::init_type();
    paren::init_type();
    issue::init_type();
    url::init_type();
    file::init_type();
    object::init_type();
    bitset::init_type();
    triple::init_type();
    float_::init_type();
    typeset::init_type();
    error::init_type();
    vector::init_type();
    map::init_type();
    hash::init_type();
    pair::init_type();
    percent::init_type();
    tuple::init_type();
    time::init_type();
    tag::init_type();
    email::init_type();
    handle::init_type();
    date::init_type();
    port::init_type();
    money::init_type();
    ref::init_type();
    point::init_point2d_type();
    point::init_point3d_type();
    // The image back-end's codecs initialise here, just before image! registers.
    register_named(TYPE_IMAGE, "image!");
}

// The services that the runtime layer calls up into (runtime/value/upcalls.h).
void install_upcalls() {
    upcalls::run_block = &eval::run_block;
    upcalls::invoke_function = &eval::invoke_function;
    upcalls::call_comparator = &eval::call_comparator;
    upcalls::current_code = &eval::current_code;
    upcalls::error_raised = &tracing::fire_error_event;
    upcalls::native_exists = [](int32_t index) { return natives::entry(index) != nullptr; };
    upcalls::scan_text = &lexer::scan_text;
    upcalls::scan_string = &lexer::scan_string_into_block;
    upcalls::clear_before_print = &tui_backend::clear_before_print;
    upcalls::resume_after_print = &tui_backend::resume_after_print;
}

}  // namespace

void start() {
    // First, so that the runtime's calls up into the evaluator and the display work as
    // direct calls would from the first moment.
    install_upcalls();
    // Set-up of the program entry: the mold cycle stack and a collector that stays off
    // until the boot environment's top level starts.
    mold_guard::init();
    gc::enabled = 0;
    // Words made until the boot environment runs are kept alive by the root block.
    word::startup_collection = 1;

    output_hooks::init();
    platform::init_console_output();
    random::init_state();
    hashtable::set_seed(HASH_SEED);
    memory::init();
    handle_registry::init();
    type_registry::init();
    register_datatypes();
    actions::init_table();

    memory::new_node_frame(memory::NODES_PER_FRAME);
    memory::new_series_frame();

    // The root block and, inside it, the fixed storage of the evaluation stack.
    block::make_root(nullptr, ROOT_BLOCK_CELLS);
    cell* arguments = block::make_root(&block::root, stack::ARGUMENT_CELLS);
    node_ref argument_storage = arguments->w2;
    cell* frames = block::make_root(&block::root, stack::FRAME_STORAGE_CELLS);
    stack::init_bounds(argument_storage, frames->w2);
    // The symbol table's block, and the global context.
    block::make_empty_at_tail(&block::root, SYMBOL_TABLE_CELLS);
    int32_t symbol_block_index = static_cast<int32_t>(memory::buffer_of(block::root.w2)->length()) - 1;
    context::init_global();

    // The symbol table's index, then the words of the type names and the predefined words.
    symbol::init_table(symbol_block_index);
    type_registry::set_word_maker(&word::make_type_word);
    type_registry::bind_type_words();
    word_table::init();
    natives::init_table();
    // The error catalogue objects, once their words can be made; errors are raised from them.
    error_catalogue_objects::init();
    owner_track::init();
    // The lexer's buffers and token classes.
    lexer::init();
    // The parse engine's rule and collect stacks and its keywords.
    parse::init_stacks();
    // The interpreter's cells and the tracing state.
    eval::init();

    slot_table::init();
    gc::init();
}

const char* build_date() { return "7-Nov-2026/22:05:55"; }

void shutdown() {
    memory::release_all();
    heap::release_all();
}

}  // namespace zor::runtime_init
