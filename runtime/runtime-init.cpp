// The runtime start-up, in its fixed order.
#include "runtime/runtime-init.h"

#include "platform/console-output.h"
#include "platform/random.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/stack.h"
#include "runtime/gc.h"
#include "runtime/heap.h"
#include "runtime/memory.h"
#include "runtime/mold-guard.h"
#include "runtime/output-hooks.h"
#include "runtime/type-registry.h"

namespace zor::runtime_init {

namespace {

// Capacity in cells of the runtime's root block.
constexpr int ROOT_BLOCK_CELLS = 8696;
constexpr int SYMBOL_TABLE_CELLS = 4000;

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
    register_named(TYPE_SERIES, "series!");
    register_named(TYPE_BLOCK, "block!");
    register_named(TYPE_STRING, "string!");
    register_named(TYPE_BINARY, "binary!");
    register_named(TYPE_INTEGER, "integer!");
    register_named(TYPE_SYMBOL, "symbol!");
    register_named(TYPE_CONTEXT, "context!");
    register_named(TYPE_WORD, "word!");
    register_named(TYPE_LIT_WORD, "lit-word!");
    register_named(TYPE_SET_WORD, "set-word!");
    register_named(TYPE_GET_WORD, "get-word!");
    register_named(TYPE_REFINEMENT, "refinement!");
    register_named(TYPE_CHAR, "char!");
    register_named(TYPE_NATIVE, "native!");
    register_named(TYPE_ACTION, "action!");
    register_named(TYPE_OP, "op!");
    register_named(TYPE_PATH, "path!");
    register_named(TYPE_LIT_PATH, "lit-path!");
    register_named(TYPE_SET_PATH, "set-path!");
    register_named(TYPE_GET_PATH, "get-path!");
    register_named(TYPE_FUNCTION, "function!");
    register_named(TYPE_ROUTINE, "routine!");
    register_named(TYPE_PAREN, "paren!");
    register_named(TYPE_ISSUE, "issue!");
    register_named(TYPE_URL, "url!");
    register_named(TYPE_FILE, "file!");
    register_named(TYPE_OBJECT, "object!");
    register_named(TYPE_BITSET, "bitset!");
    register_named(TYPE_TRIPLE, "triple!");
    register_named(TYPE_FLOAT, "float!");
    register_named(TYPE_TYPESET, "typeset!");
    error::init_type();
    register_named(TYPE_VECTOR, "vector!");
    register_named(TYPE_MAP, "map!");
    register_named(TYPE_HASH, "hash!");
    register_named(TYPE_PAIR, "pair!");
    register_named(TYPE_PERCENT, "percent!");
    register_named(TYPE_TUPLE, "tuple!");
    register_named(TYPE_TIME, "time!");
    register_named(TYPE_TAG, "tag!");
    register_named(TYPE_EMAIL, "email!");
    register_named(TYPE_HANDLE, "handle!");
    register_named(TYPE_DATE, "date!");
    register_named(TYPE_PORT, "port!");
    register_named(TYPE_MONEY, "money!");
    register_named(TYPE_REF, "ref!");
    register_named(TYPE_POINT2D, "point2D!");
    register_named(TYPE_POINT3D, "point3D!");
    // The image back-end's codecs initialise here, just before image! registers.
    register_named(TYPE_IMAGE, "image!");
}

}  // namespace

void start() {
    // Set-up of the program entry: the mold cycle stack and a collector that stays off
    // until the boot environment's top level starts.
    mold_guard::init();
    gc::enabled = 0;

    output_hooks::init();
    platform::init_console_output();
    random::init_state();
    memory::init();
    type_registry::init();
    register_datatypes();

    memory::new_node_frame(memory::NODES_PER_FRAME);
    memory::new_series_frame();

    // The root block and, inside it, the fixed storage of the evaluation stack.
    block::make_root(nullptr, ROOT_BLOCK_CELLS);
    cell* arguments = block::make_root(&block::root, stack::ARGUMENT_CELLS);
    node_ref argument_storage = arguments->w2;
    cell* frames = block::make_root(&block::root, stack::FRAME_STORAGE_CELLS);
    stack::init_bounds(argument_storage, frames->w2);
    // The symbol table's block.
    block::make_empty_at_tail(&block::root, SYMBOL_TABLE_CELLS);

    gc::init();
}

const char* build_date() { return "7-Nov-2026/22:05:55"; }

void shutdown() {
    memory::release_all();
    heap::release_all();
}

}  // namespace zor::runtime_init
