// The spec side of function!: checking a spec, the locals that `function` collects from a
// body, the local section of a call, and the argument descriptor cache of every callable.
//
// Spec blocks are read cell by cell through their node, since collecting and building
// allocate; the spec and body cells handed in lie in rooted places.
#include <algorithm>
#include <unordered_map>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::function {

namespace {

int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

int64_t clamped_index(const cell* block) {
    return std::clamp<int64_t>(static_cast<int32_t>(block->w1), 0, length_of(block));
}

bool names(const cell* word, int32_t symbol) {
    return symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

bool is_local_refinement(const cell* c) { return c->is(TYPE_REFINEMENT) && names(c, refinements::local.symbol()); }
bool is_extern_refinement(const cell* c) { return c->is(TYPE_REFINEMENT) && names(c, refinements::extern_.symbol()); }

bool is_argument_word(type_id type) { return type == TYPE_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD; }

// The value a word names, or null when it has none that can be read now (unbound,
// unresolved, or a function's word outside a call of it). Never raises.
const cell* value_if_any(const cell* word) {
    node_ref context = word->w1;
    int32_t index = static_cast<int32_t>(word->w3);
    if (!context || index < 0) return nullptr;
    if (context::values_on_stack(context)) {
        cell* first = context::stack_values(context);
        return first && index < context::key_count(context) ? first + index : nullptr;
    }
    return context::value_at(context, index);
}

// --- Spec checking -------------------------------------------------------------------------

class spec_checker {
public:
    explicit spec_checker(const cell* spec) : spec_(spec), length_(length_of(spec)) {}

    uint32_t run() {
        int64_t i = clamped_index(spec_);
        const int64_t first = i;
        uint32_t flags = 0;
        if (i < length_ && at(i)->is(TYPE_BLOCK)) flags = attribute_flags(i++);
        bool return_seen = false;
        bool local_seen = false;
        while (i < length_) {
            const cell* c = at(i);
            switch (c->type()) {
                case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
                    if (local_seen && !c->is(TYPE_WORD)) bad_definition();
                    // A doc string goes after the type block, not before it.
                    if (is(i + 1, TYPE_STRING) && is(i + 2, TYPE_BLOCK)) bad_definition();
                    if (return_seen && !local_seen) bad_definition();
                    if (is(i + 1, TYPE_BLOCK)) {
                        check_type_block(i + 1);
                        i += 2;
                    } else {
                        i += 1;
                    }
                    break;
                case TYPE_SET_WORD:
                    if (!names(c, symbols::return_) || return_seen || local_seen) bad_definition();
                    if (!is(i + 1, TYPE_BLOCK)) bad_definition();
                    if (i + 2 < length_ && !is(i + 2, TYPE_REFINEMENT) && !is(i + 2, TYPE_STRING)) bad_definition();
                    return_seen = true;
                    i += 2;
                    break;
                case TYPE_REFINEMENT:
                    if (is_local_refinement(c)) {
                        local_seen = true;
                    } else if (return_seen || local_seen) {
                        bad_definition();
                    }
                    if (i + 1 < length_) {
                        switch (at(i + 1)->type()) {
                            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
                            case TYPE_SET_WORD: case TYPE_STRING:
                                break;
                            default:
                                bad_definition();
                        }
                    }
                    i += 1;
                    break;
                case TYPE_STRING:
                    i += 1;
                    break;
                default:
                    bad_definition();
            }
        }
        check_duplicates(first);
        return flags;
    }

private:
    const cell* at(int64_t n) const { return block::get_cell(spec_, n); }
    bool is(int64_t n, type_id type) const { return n < length_ && at(n)->is(type); }

    [[noreturn]] void bad_definition() const { raise::throw_error(err::script_bad_func_def, spec_); }

    uint32_t attribute_flags(int64_t n) const {
        const cell attributes = *at(n);
        uint32_t flags = 0;
        for (int64_t k = clamped_index(&attributes); k < length_of(&attributes); ++k) {
            const cell* a = block::get_cell(&attributes, k);
            if (!a->is(TYPE_WORD)) bad_definition();
            if (names(a, symbols::trace)) flags |= FLAG_TRACE;
            if (names(a, symbols::no_trace)) flags |= FLAG_NO_TRACE;
        }
        return flags;
    }

    void check_type_block(int64_t n) const {
        const cell types = *at(n);
        for (int64_t k = clamped_index(&types); k < length_of(&types); ++k) {
            const cell* entry = block::get_cell(&types, k);
            if (entry->is(TYPE_DATATYPE) || entry->is(TYPE_TYPESET)) continue;
            if (entry->is(TYPE_WORD)) {
                const cell* value = value_if_any(entry);
                if (value && (value->is(TYPE_DATATYPE) || value->is(TYPE_TYPESET) || value->is(TYPE_WORD))) continue;
            }
            raise::throw_error(err::script_invalid_type_spec, entry);
        }
    }

    // Every name against every later one: the first name (in spec order) that comes again
    // is the one reported.
    void check_duplicates(int64_t first) const {
        std::unordered_map<int32_t, int64_t> first_seen;
        int64_t reported = -1;
        for (int64_t i = first; i < length_; ++i) {
            const cell* c = at(i);
            if (!is_argument_word(c->type()) && !c->is(TYPE_REFINEMENT)) continue;
            auto [found, added] = first_seen.try_emplace(symbol::canonical_id(static_cast<int32_t>(c->w2)), i);
            if (!added && (reported < 0 || found->second < reported)) reported = found->second;
        }
        if (reported >= 0) raise::throw_error(err::script_dup_vars, at(reported));
    }

    const cell* spec_;
    int64_t length_;
};

// --- Collecting locals ----------------------------------------------------------------------

class local_collector {
public:
    // The three cells lie on the argument stack for the whole collection.
    local_collector(cell* collected, cell* excluded, cell* scratch)
        : collected_(collected), excluded_(excluded), scratch_(scratch) {}

    // Walks the block (a rooted cell) and, recursively, its blocks and parens. A block met
    // again inside itself is not walked twice.
    void walk(const cell* block) {
        if (mold_guard::contains(block->w2)) return;
        mold_guard::scope guard(block->w2);
        cell* held = stack::push_copy(block);
        cell* nested = stack::push_slot();
        for (int64_t i = clamped_index(held); i < length_of(held); ++i) {
            const cell c = *block::get_cell(held, i);
            switch (c.type()) {
                case TYPE_BLOCK: case TYPE_PAREN:
                    *nested = c;
                    walk(nested);
                    break;
                case TYPE_SET_WORD:
                    collect(&c);
                    break;
                case TYPE_WORD:
                    if (names(&c, symbols::foreach) || names(&c, symbols::remove_each)) {
                        collect_loop_words(held, i + 1, true);
                    } else if (names(&c, symbols::repeat)) {
                        collect_loop_words(held, i + 1, false);
                    }
                    break;
                default:
                    break;
            }
        }
        stack::drop_slots(2);
    }

    // Takes the word (as word!) unless it is excluded already; then excludes it.
    void collect(const cell* word) {
        *scratch_ = *word;
        scratch_->header = TYPE_WORD;
        if (is_excluded(scratch_)) return;
        block::append_copy(collected_, scratch_);
        block::append_copy(excluded_, scratch_);
    }

private:
    bool is_excluded(const cell* word) const {
        memory::series_buffer* b = memory::buffer_of(excluded_->w2);
        for (const cell* c = b->head_cell(); c < b->tail_cell(); ++c) {
            if (c->is(TYPE_WORD) && names(c, static_cast<int32_t>(word->w2))) return true;
        }
        return false;
    }

    // The cell after a loop word: a word or set-word is collected; after foreach and
    // remove-each, the words of a block too. Anything else is left alone.
    void collect_loop_words(const cell* held, int64_t next, bool block_allowed) {
        if (next >= length_of(held)) return;
        const cell c = *block::get_cell(held, next);
        if (c.is(TYPE_WORD) || c.is(TYPE_SET_WORD)) {
            collect(&c);
            return;
        }
        if (!block_allowed || !c.is(TYPE_BLOCK)) return;
        cell* words = stack::push_copy(&c);
        for (int64_t k = clamped_index(words); k < length_of(words); ++k) {
            const cell w = *block::get_cell(words, k);
            if (is_argument_word(w.type())) collect(&w);
        }
        stack::drop_slots(1);
    }

    cell* collected_;
    cell* excluded_;
    cell* scratch_;
};

// --- Argument descriptors --------------------------------------------------------------------

cell* append_integer(cell* block, int32_t value) {
    cell n = cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0};
    return block::append_copy(block, &n);
}

void bump_integer(cell* block, int64_t position) {
    cell* n = block::get_cell(block, position);
    n->w2 = static_cast<uint32_t>(integer::read_cell(n) + 1);
}

}  // namespace

uint32_t check_spec(const cell* spec) {
    if (!spec->is(TYPE_BLOCK)) raise::throw_error(err::script_bad_func_def, spec);
    return spec_checker(spec).run();
}

cell* collect_locals(cell* spec, const cell* body) {
    cell* collected = block::push_empty(8);
    cell* excluded = block::push_copy(spec, false, false);
    cell* scratch = stack::push_slot();
    cell* body_held = stack::push_copy(body);

    // The /extern words leave the spec; locals given after them are kept as collected.
    int64_t extern_at = -1;
    for (int64_t i = clamped_index(spec); i < length_of(spec); ++i) {
        if (is_extern_refinement(block::get_cell(spec, i))) {
            extern_at = i;
            break;
        }
    }
    if (extern_at >= 0) {
        int64_t n = extern_at + 1;
        while (n < length_of(spec) && block::get_cell(spec, n)->is(TYPE_WORD)) ++n;
        if (n < length_of(spec) && is_local_refinement(block::get_cell(spec, n))) {
            for (int64_t k = n + 1; k < length_of(spec); ++k) {
                if (block::get_cell(spec, k)->is(TYPE_WORD)) block::append_copy(collected, block::get_cell(spec, k));
            }
        }
        block::truncate(spec, extern_at);
    }

    // Every name of the spec (the /extern words included) excludes itself.
    for (int64_t i = 0; i < length_of(excluded); ++i) {
        cell* c = block::get_cell(excluded, i);
        switch (c->type()) {
            case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
                cell::set_type(c, TYPE_WORD);
                break;
            case TYPE_WORD: case TYPE_BLOCK: case TYPE_STRING:
                break;
            default:
                if (extern_at >= 0) raise::throw_error(err::script_bad_func_extern, c);
        }
    }

    if (body_held->is(TYPE_BLOCK) || body_held->is(TYPE_PAREN)) {
        local_collector(collected, excluded, scratch).walk(body_held);
    }

    if (length_of(collected) > 0) {
        bool has_local = false;
        for (int64_t i = clamped_index(spec); i < length_of(spec); ++i) {
            if (is_local_refinement(block::get_cell(spec, i))) has_local = true;
        }
        if (!has_local) {
            *scratch = *refinements::local.get();
            block::append_copy(spec, scratch);
        }
        *scratch = *words::local.get();
        block::remove_value(collected, scratch, true);
        block::append_rest(spec, collected);
    }
    stack::state.args_top = collected + 1;
    return collected;
}

int32_t count_locals(node_ref spec, int32_t start, bool strict) {
    memory::series_buffer* b = memory::buffer_of(spec);
    const cell* c = b->head_cell() + std::max(start, 0);
    for (; c < b->tail_cell(); ++c) {
        if (is_local_refinement(c)) break;
    }
    if (c >= b->tail_cell()) return strict ? -1 : 0;
    int32_t count = 1;
    for (++c; c < b->tail_cell(); ++c) count += c->is(TYPE_WORD);
    return count;
}

void push_locals(int32_t count) {
    if (count < 1) return;
    logic::make_in(stack::push_slot(), false);
    for (int32_t i = 1; i < count; ++i) *stack::push_slot() = none::value;
}

void build_argument_descriptors(const cell* spec, cell* destination) {
    stack::slot_mark mark;
    cell* held = stack::push_copy(spec);
    held->w1 = 0;
    cell* scratch = stack::push_slot();
    cell* made = block::push_empty(8);
    append_integer(made, 0);
    append_integer(made, 0);
    int32_t positional = 0;
    int32_t section = 0;
    int64_t count_position = -1;  // the count cell of the refinement that takes the words met
    bool locals = false;

    int64_t i = 0;
    if (i < length_of(held) && block::get_cell(held, i)->is(TYPE_BLOCK)) ++i;  // the attributes
    while (i < length_of(held)) {
        *scratch = *block::get_cell(held, i);
        bool typed = i + 1 < length_of(held) && block::get_cell(held, i + 1)->is(TYPE_BLOCK);
        type_id type = scratch->type();
        if (is_argument_word(type)) {
            scratch->header = type;
            block::append_copy(made, scratch);
            if (locals) {
                block::append_copy(made, &none::value);
            } else if (typed) {
                *scratch = *block::get_cell(held, i + 1);
                typeset::fill_from_block(made, scratch);
            } else {
                typeset::append_default_arg_types(made);
            }
            if (count_position < 0) ++positional;
            else bump_integer(made, count_position);
            ++section;
            i += typed ? 2 : 1;
        } else if (type == TYPE_REFINEMENT) {
            locals = is_local_refinement(scratch);
            scratch->header = type;
            block::append_copy(made, scratch);
            append_integer(made, 0);
            count_position = length_of(made) - 1;
            ++section;
            i += 1;
        } else if (type == TYPE_SET_WORD) {
            i += typed ? 2 : 1;  // `return:` and its types: not part of the section
        } else {
            i += 1;
        }
    }
    block::get_cell(made, 0)->w2 = static_cast<uint32_t>(positional);
    block::get_cell(made, 1)->w2 = static_cast<uint32_t>(section);
    *destination = *made;
}

cell* argument_descriptors(cell* value) {
    if (!type_classes::is(value->type(), type_classes::ANY_FUNCTION)) raise::throw_error(err::script_invalid_arg, value);
    cell* result = stack::push_slot();
    cell* held = stack::push_copy(value);
    memory::series_buffer* x = memory::buffer_of(held->w3);
    if (x->length() > EXTRAS_DESCRIPTORS && x->head_cell()[EXTRAS_DESCRIPTORS].is(TYPE_BLOCK)) {
        *result = x->head_cell()[EXTRAS_DESCRIPTORS];
    } else {
        cell spec = callable::spec_block(held);
        cell* spec_held = stack::push_copy(&spec);
        build_argument_descriptors(spec_held, result);
        x = memory::buffer_of(held->w3);
        if (x->length() > EXTRAS_DESCRIPTORS) x->head_cell()[EXTRAS_DESCRIPTORS] = *result;
    }
    stack::state.args_top = result + 1;
    return result;
}

}  // namespace zor::function
