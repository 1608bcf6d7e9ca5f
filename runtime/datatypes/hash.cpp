// hash!: making, converting, molding and copying hash! values, sort and trim with the
// index brought back in step, and the registration that installs the index hooks.
#include "runtime/datatypes/hash.h"

#include <algorithm>
#include <climits>
#include <exception>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/datatypes/hash-index.h"
#include "runtime/binding/hashtable.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"

namespace zor::hash {

namespace {

constexpr const char* MOLD_PREFIX = "make hash! ";
constexpr int MOLD_PREFIX_LENGTH = 11;

int64_t length_of(const cell* block) { return memory::buffer_of(block->w2)->length(); }

int64_t rest_of(const cell* block) {
    return std::max<int64_t>(length_of(block) - std::max<int64_t>(series::index_of(block), 0), 0);
}

// The table of a new hash! over the block in the cell, sized for `size` entries.
cell* index_block(cell* block, int64_t size) {
    node_ref table = hashtable::make(std::max<int64_t>(size, 1), block, hashtable::KIND_HASH, 0);
    block->w3 = table;
    cell::set_type(block, TYPE_HASH);
    return block;
}

// Drops every entry and enters every cell again in order, after the cells were
// rearranged in place.
void reindex(cell* hash) {
    node_ref table = hash->w3;
    hash_index::delete_range(table, 0, length_of(hash));
    hash_index::index_values(table, 0, 1);
}

// While block!'s routine rearranges the cells the index no longer matches them; should it
// end in an error (a comparator that raises), the next lookup rebuilds the index. The
// guard keeps a rooted copy of the hash! cell: the cell it was given may be an
// argument-stack slot that an exit or a stack-overflow error overwrites before the
// guard ends, and the table must stay alive (its node current) until it is marked. The
// normal end calls release() (the caller re-indexes then), so a guard that ends
// unreleased is one that an error or a throw unwinds.
class stale_while_rearranged {
public:
    explicit stale_while_rearranged(const cell* hash) : held_(*hash), root_(&held_) {
        hash_index::mark_stale(held_.w3);
    }
    ~stale_while_rearranged() {
        if (!released_) hash_index::mark_stale(held_.w3);
    }
    void release() { released_ = true; }
    stale_while_rearranged(const stale_while_rearranged&) = delete;
    stale_while_rearranged& operator=(const stale_while_rearranged&) = delete;

private:
    cell held_;
    gc::root_guard root_;
    bool released_ = false;
};

}  // namespace

cell* make_in_place(cell* block) { return index_block(block, rest_of(block)); }

cell* make(cell* value, cell* spec, type_id type) {
    switch (spec->type()) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            int64_t size = std::max<int64_t>(integer::get_int_from_number(spec), 1);
            return index_block(block::push_empty(size), size);
        }
        case TYPE_BLOCK: {
            int64_t size = rest_of(spec);
            cell* result = stack::push_slot();
            cell::init_unset(result);
            block::copy(spec, result, nullptr, false, nullptr);
            return index_block(result, size);
        }
        case TYPE_HASH: {
            cell* result = stack::push_slot();
            cell::init_unset(result);
            return copy(spec, result, nullptr, false, nullptr);
        }
        default: return to(value, spec, type);
    }
}

cell* to(cell* value, cell* spec, type_id type) {
    (void)type;
    if (spec->is(TYPE_HASH)) {
        cell* result = stack::push_slot();
        cell::init_unset(result);
        return copy(spec, result, nullptr, false, nullptr);
    }
    cell* converted = block::to(value, spec, TYPE_BLOCK);
    return index_block(converted, rest_of(converted));
}

int mold(cell* hash, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    if (!only) {
        string::append_c_string(output, MOLD_PREFIX);
        budget = static_cast<int>(std::max<int64_t>(int64_t(budget) - MOLD_PREFIX_LENGTH, INT_MIN));
    }
    return block::mold(hash, output, only, all, flat, part, budget, indent);
}

cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types) {
    stack::slot_mark mark;
    // The source stays held here: result may be the very cell that holds it.
    cell* source = stack::push_copy(value);
    bool whole = series::index_of(source) == 0 && !part && !deep && !types && source->w3 != 0;
    block::copy(source, result, part, deep, types);
    result->w3 = 0;
    if (whole) {
        node_ref table = hashtable::copy(source->w3, result->w2);
        result->w3 = table;
        cell::set_type(result, TYPE_HASH);
        return result;
    }
    return index_block(result, length_of(result));
}

cell* sort(cell* series, bool case_sensitive, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
           bool stable) {
    cell* answer;
    {
        stale_while_rearranged stale(series);
        answer = block::sort(series, case_sensitive, skip, comparator, part, all, reverse, stable);
        stale.release();
    }
    reindex(series);
    return answer;
}

cell* trim(cell* series, bool head, bool tail, bool automatic, bool lines, bool all, cell* with) {
    cell* answer;
    {
        stale_while_rearranged stale(series);
        answer = block::trim(series, head, tail, automatic, lines, all, with);
        stale.release();
    }
    reindex(series);
    return answer;
}

void init_type() {
    type_registry::action_list list(TYPE_BLOCK);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_COPY>(&copy);
    list.set<ACTION_SORT>(&sort);
    list.set<ACTION_TRIM>(&trim);
    type_registry::register_type(TYPE_HASH, TYPE_BLOCK, "hash!", list);

    series::hash_index::delete_range = &hash_index::delete_range;
    series::hash_index::shift_indexes = &hash_index::shift_indexes;
    series::hash_index::rebuild = &hash_index::rebuild_hash;
    series::hash_index::move_entries = &hash_index::move_entries;
}

}  // namespace zor::hash
