// The predefined symbols, words and refinements, made in their fixed order.
#include "runtime/binding/word-table.h"

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/binding/symbol.h"

namespace zor {

namespace symbols {
#define ZOR_DEFINE(name, text) int32_t name = 0;
#define ZOR_SKIP(text)
ZOR_PREDEFINED_SYMBOLS(ZOR_DEFINE, ZOR_SKIP)
#undef ZOR_SKIP
#undef ZOR_DEFINE
}  // namespace symbols

namespace words {
#define ZOR_DEFINE(name, text) predefined_cell name;
ZOR_PREDEFINED_WORDS(ZOR_DEFINE)
#undef ZOR_DEFINE
}  // namespace words

namespace refinements {
#define ZOR_DEFINE(name, text) predefined_cell name;
ZOR_PREDEFINED_REFINEMENTS(ZOR_DEFINE)
#undef ZOR_DEFINE
}  // namespace refinements

cell* predefined_cell::get() const { return memory::buffer_of(block::root.w2)->head_cell() + root_index; }

namespace word_table {

namespace {

// The position of a cell in the root block; a cell elsewhere is appended there first, so
// that the word stays alive and can be found again however the root block moves.
int32_t keep_in_root(cell* c) {
    memory::series_buffer* root = memory::buffer_of(block::root.w2);
    if (c >= root->head_cell() && c < root->tail_cell()) return static_cast<int32_t>(c - root->head_cell());
    block::append_copy(&block::root, c);
    return static_cast<int32_t>(memory::buffer_of(block::root.w2)->length()) - 1;
}

}  // namespace

void init() {
#define ZOR_MAKE_SYMBOL(name, text) symbols::name = symbol::make(text);
#define ZOR_MAKE_UNKEPT(text) symbol::make(text);
    ZOR_PREDEFINED_SYMBOLS(ZOR_MAKE_SYMBOL, ZOR_MAKE_UNKEPT)
#undef ZOR_MAKE_UNKEPT
#undef ZOR_MAKE_SYMBOL

#define ZOR_MAKE_WORD(name, text) words::name.root_index = keep_in_root(word::make_global_from_name(text));
    ZOR_PREDEFINED_WORDS(ZOR_MAKE_WORD)
#undef ZOR_MAKE_WORD

#define ZOR_MAKE_REFINEMENT(name, text) refinements::name.root_index = keep_in_root(refinement::make_from_name(text));
    ZOR_PREDEFINED_REFINEMENTS(ZOR_MAKE_REFINEMENT)
#undef ZOR_MAKE_REFINEMENT

    // The one predefined issue, kept alive by the root block.
    issue::push_c_string("ooo");

    stack::set_frame_symbols(static_cast<uint32_t>(words::body.symbol()), static_cast<uint32_t>(words::anon.symbol()));
}

}  // namespace word_table
}  // namespace zor
