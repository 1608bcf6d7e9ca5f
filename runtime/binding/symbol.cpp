// The symbol table: interning names, their case families, and the symbol! datatype.
//
// Interning walks the kind-2 hashtable by hand: every spelling of a name that differs only
// in ASCII letter case hashes alike (the folded-name hash), so one walk finds the exact
// spelling or, failing that, the first case variant met, whose family the new spelling
// joins. A new spelling records the family's canonical id (never the id of another alias),
// so canonical_id needs one step even after resizes have reordered the probe sequences.
#include "runtime/binding/symbol.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/text/case-fold.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/stack.h"
#include "runtime/binding/hashtable.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"
#include "runtime/text/unicode.h"

namespace zor::symbol {

node_ref index_table = 0;

namespace {

// Where the table block's cell sits in the root block.
int32_t block_index = -1;

// The name node (payload word 3) of a symbol cell, and its bytes.
struct name_bytes {
    const uint8_t* data;
    int64_t length;
};
name_bytes name_of_cell(const cell* symbol) {
    memory::series_buffer* b = memory::buffer_of(symbol->w3);
    return {reinterpret_cast<const uint8_t*>(b->head), b->tail - b->head};
}

memory::series_buffer* table_buffer() { return memory::buffer_of(table_block()->w2); }

inline uint8_t fold_ascii(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c | 0x20) : c; }

bool equal_ignoring_ascii_case(const uint8_t* a, const uint8_t* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        if (a[i] != b[i] && fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    }
    return true;
}

// A name that becomes a symbol must be valid UTF-8: its string form is decoded from it.
// Invalid bytes raise access/invalid-utf8 in the decoder; a sequence cut short by the end
// of the name raises it here, with the bytes from the cut sequence on.
void check_utf8(const uint8_t* name, int64_t n) {
    for (int64_t i = 0; i < n;) {
        if (name[i] < 0x80) {
            ++i;
            continue;
        }
        int64_t length = n - i;
        if (unicode::decode_utf8_char_checked(name + i, length) < 0) {
            cell* bytes = stack::push_slot();
            cell::init_unset(bytes);
            node_ref node = memory::alloc_bytes(n - i);
            memory::series_buffer* b = memory::buffer_of(node);
            std::memcpy(b->head, name + i, static_cast<size_t>(n - i));
            b->tail = b->head + (n - i);
            *bytes = cell{TYPE_BINARY, 0, node, 0};
            raise::throw_error(err::access_invalid_utf8, bytes);
        }
        i += length;
    }
}

// The result of one walk of a name's probe sequence.
struct probe_result {
    int32_t found;       // id of the match, 0 when none
    int32_t variant;     // id of the first case variant met (exact mode), 0 when none
    int64_t empty;       // the empty bucket where the walk stopped, -1 when none
};

// Walks the probe sequence of the name. A match is an exact spelling, or in caseless mode
// any spelling of the name; the first one met wins. An exact walk also notes the first
// case variant, which is what a second, caseless walk from the first bucket would find,
// since both walks stop at the same empty bucket.
probe_result probe(const uint8_t* name, int64_t n, bool caseless) {
    uint32_t hash = hashtable::folded_name_hash(name, n);
    hashtable::table_view v = hashtable::view(index_table);
    uint32_t buckets = static_cast<uint32_t>(v.record->buckets);
    uint32_t mask = buckets - 1;
    uint32_t bucket = hash & mask;
    uint32_t step = 0;
    probe_result r{0, 0, -1};
    // Triangular probing visits every bucket once in `buckets` steps.
    for (uint32_t visited = 0; visited < buckets; ++visited) {
        uint32_t state = hashtable::bucket_state_of(v.flags, bucket);
        if (state == hashtable::BUCKET_EMPTY) {
            r.empty = bucket;
            return r;
        }
        if (state == hashtable::BUCKET_LIVE) {
            int32_t index = v.keys[bucket];
            name_bytes candidate = name_of_cell(v.values + index);
            if (candidate.length == n) {
                if (std::memcmp(candidate.data, name, static_cast<size_t>(n)) == 0) {
                    r.found = index + 1;
                    return r;
                }
                if (equal_ignoring_ascii_case(candidate.data, name, n)) {
                    if (caseless) {
                        r.found = index + 1;
                        return r;
                    }
                    if (!r.variant) r.variant = index + 1;
                }
            }
        }
        bucket = hashtable::next_bucket(bucket, &step, mask);
    }
    return r;
}

// Appends the symbol cell and its name series, then makes the bucket live. The bucket is
// entered last, so that a failed allocation never leaves a bucket naming a half-made cell.
int32_t create(const uint8_t* name, int64_t n, int32_t alias, uint32_t bucket) {
    memory::series_buffer* table = table_buffer();
    int32_t index = static_cast<int32_t>(table->length());
    cell::init_unset(memory::alloc_tail_cell(table));
    node_ref name_node = memory::alloc_series(n + 1, 1, 0);
    memory::series_buffer* nb = memory::buffer_of(name_node);
    if (n > 0) std::memcpy(nb->head, name, static_cast<size_t>(n));
    nb->head[n] = std::byte{0};
    nb->tail = nb->head + n;
    cell* c = table_buffer()->head_cell() + index;  // the table may have moved
    c->w1 = static_cast<uint32_t>(alias);
    c->w2 = 0;
    c->w3 = name_node;
    c->header = TYPE_SYMBOL;
    hashtable::place_entry(index_table, bucket, index);
    return index + 1;
}

int32_t intern(const uint8_t* name, int64_t n, bool caseless) {
    hashtable::grow_if_full(index_table);
    probe_result r = probe(name, n, caseless);
    if (r.found) return r.found;
    if (r.empty < 0) {
        // No empty bucket on the whole sequence: the growth rule keeps this from happening,
        // but a full table must not lose the name.
        hashtable::table_view v = hashtable::view(index_table);
        hashtable::resize(index_table, int64_t(v.record->buckets) * 2);
        return intern(name, n, caseless);
    }
    check_utf8(name, n);
    int32_t alias = r.variant ? canonical_id(r.variant) : -1;
    return create(name, n, alias, static_cast<uint32_t>(r.empty));
}

// Two names compared as text by comparison op, character by character, upper-cased unless
// the op is 2 or 8: different lengths are unequal for the equality ops, and an equal
// prefix orders the shorter name first. The names are read as they are stored, so the
// comparison allocates nothing (callers compare values inside blocks that must not move).
int compare_name_bytes(name_bytes left, name_bytes right, int op) {
    const uint8_t* left_end = left.data + left.length;
    const uint8_t* right_end = right.data + right.length;
    int64_t left_length = unicode::count_utf8_chars(left.data, left_end);
    int64_t right_length = unicode::count_utf8_chars(right.data, right_end);
    if (left_length != right_length && (is_contents_equality_code(op) || right_length == 0)) return 1;
    bool folded = op != COMPARE_STRICT_EQUAL && op != COMPARE_SORT_CASE;
    const uint8_t* l = left.data;
    const uint8_t* r = right.data;
    for (int64_t i = 0, n = std::min(left_length, right_length); i < n; ++i) {
        int32_t a, b;
        l = unicode::decode_utf8_char(l, left_end, a);
        r = unicode::decode_utf8_char(r, right_end, b);
        uint32_t x = static_cast<uint32_t>(a), y = static_cast<uint32_t>(b);
        if (folded) {
            x = case_fold::change_case_char(x, true);
            y = case_fold::change_case_char(y, true);
        }
        if (x != y) return x > y ? 1 : -1;
    }
    return left_length > right_length ? 1 : left_length == right_length ? 0 : -1;
}

// The id of a symbol cell: its position when it lies in the table, else the id of the
// symbol owning its name series.
int32_t id_of_cell(const cell* symbol) {
    memory::series_buffer* table = table_buffer();
    const cell* head = table->head_cell();
    if (symbol >= head && symbol < table->tail_cell()) return static_cast<int32_t>(symbol - head) + 1;
    name_bytes name = name_of_cell(symbol);
    std::string copy(reinterpret_cast<const char*>(name.data), static_cast<size_t>(name.length));
    return find(copy);
}

}  // namespace

// --- Start-up and registration --------------------------------------------------------------

void init_table(int32_t block_index_in_root) {
    block_index = block_index_in_root;
    cell block = *table_block();
    index_table = hashtable::make(4000, &block, hashtable::KIND_SYMBOL, 1);
}

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_COMPARE>(&compare);
    type_registry::register_type(TYPE_SYMBOL, TYPE_NONE_ID, "symbol!", list);
}

// --- Interning ---------------------------------------------------------------------------------

int32_t make(const char* name) { return make_from_utf8(name, static_cast<int64_t>(std::strlen(name))); }

int32_t make_caseless(const char* name) {
    return intern(reinterpret_cast<const uint8_t*>(name), static_cast<int64_t>(std::strlen(name)), true);
}

int32_t make_from_utf8(const char* bytes, int64_t length) {
    return intern(reinterpret_cast<const uint8_t*>(bytes), length < 0 ? 0 : length, false);
}

int32_t make_from_utf8(std::string_view name) { return make_from_utf8(name.data(), static_cast<int64_t>(name.size())); }

int32_t make_from_string(cell* string_value) {
    int64_t length = -1;
    const char* text = unicode::string_to_utf8(string_value, &length);
    // The text lies in the string's encoding cache, which interning could move.
    std::string name(text, static_cast<size_t>(length));
    return make_from_utf8(name);
}

int32_t find(std::string_view name) {
    if (!index_table) return 0;
    return probe(reinterpret_cast<const uint8_t*>(name.data()), static_cast<int64_t>(name.size()), false).found;
}

// --- Reading -----------------------------------------------------------------------------------

cell* table_block() { return memory::buffer_of(block::root.w2)->head_cell() + block_index; }

int32_t count() { return block_index < 0 ? 0 : static_cast<int32_t>(table_buffer()->length()); }

cell* cell_of(int32_t id) { return table_buffer()->head_cell() + (id - 1); }

node_ref ensure_string_form(int32_t id) {
    if (id < 1 || id > count()) return 0;
    cell* symbol = cell_of(id);
    if (symbol->w2) return symbol->w2;
    // The name series is held by a binary! in a stack slot while the loader allocates.
    cell* holder = stack::push_slot();
    *holder = cell{TYPE_BINARY, 0, symbol->w3, 0};
    name_bytes name = name_of_cell(symbol);
    node_ref node;
    // The loader takes a leading EF BB BF for a byte-order mark; in a name it is the
    // character U+FEFF, so such leading characters are written first and the rest loaded
    // after them.
    int64_t marks = 0;
    while (name.length - marks >= 3 && name.data[marks] == 0xEF && name.data[marks + 1] == 0xBB &&
           name.data[marks + 2] == 0xBF) {
        marks += 3;
    }
    if (marks > 0) {
        int64_t n = name.length;
        cell* form = stack::push_slot();
        string::make_in_cell(form, n, 2);
        for (int64_t i = 0; i < marks; i += 3) string::append_codepoint(form, 0xFEFF);
        unicode::load_utf8_into_string(unicode::input_bytes::in(holder, marks), n - marks, form, nullptr);
        node = form->w2;
    } else {
        node = unicode::load_utf8_new(unicode::input_bytes::in(holder, 0), name.length)->node;
    }
    stack::drop_slots(static_cast<int>(stack::state.args_top - holder));
    cell_of(id)->w2 = node;
    return node;
}

node_ref ensure_string_form(cell* symbol_cell) {
    if (symbol_cell->w2) return symbol_cell->w2;
    return ensure_string_form(id_of_cell(symbol_cell));
}

cell* get_cell(int32_t id) {
    ensure_string_form(id);
    return cell_of(id);
}

int32_t alias_of(int32_t id) {
    if (id < 1 || id > count()) return -1;
    return static_cast<int32_t>(cell_of(id)->w1);
}

int32_t canonical_id(int32_t id) {
    int32_t alias = alias_of(id);
    return alias > 0 ? alias : id;
}

std::string_view name_of(int32_t id) {
    if (id < 1 || id > count()) return {};
    name_bytes name = name_of_cell(cell_of(id));
    return {reinterpret_cast<const char*>(name.data), static_cast<size_t>(name.length)};
}

// --- Comparison ----------------------------------------------------------------------------------

int compare_names(int32_t left, int32_t right, int op) {
    if (left < 1 || left > count() || right < 1 || right > count()) return -2;
    if (op == COMPARE_SAME) return left == right ? 0 : -1;
    if (left == right && is_contents_equality_code(op)) return 0;
    return compare_name_bytes(name_of_cell(cell_of(left)), name_of_cell(cell_of(right)), op);
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_SYMBOL)) return -2;
    // Symbols are compared by their names: the same name series is the same symbol.
    bool same = value->w3 == other->w3;
    if (op == COMPARE_SAME) return same ? 0 : -1;
    if (same && is_contents_equality_code(op)) return 0;
    return compare_name_bytes(name_of_cell(value), name_of_cell(other), op);
}

}  // namespace zor::symbol
