// The natives table, the spec data embedded from runtime/data/natives-specs.zor, the
// argument typesets of the type tests and the checked calling of an entry.
#include "runtime/eval/natives/natives.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/value/type-registry.h"

namespace zor::natives {

namespace {

// One word of a spec: kind 0 a normal argument, 1 a get argument, 2 a literal argument, 3
// a refinement. refinement: the 1-based ordinal of the refinement it is or belongs to, 0
// for a positional argument. types: the type names of its type block, space-separated.
struct spec_parameter {
    const char* word;
    int kind;
    int refinement;
    const char* types;
};

struct spec_record {
    int index;
    const char* name;
    const char* spec;
    int first_parameter;
    int parameter_count;
    int refinement_count;
};

constexpr int KIND_REFINEMENT = 3;

#include "runtime/natives-specs-data.inc"

static_assert(SPEC_COUNT == NATIVE_COUNT, "natives-specs.zor holds one entry per native");

constexpr int PARAMETER_COUNT = static_cast<int>(sizeof(SPEC_PARAMETERS) / sizeof(SPEC_PARAMETERS[0]));

// --- The table ------------------------------------------------------------------------------

native_entry* table = nullptr;  // TABLE_SIZE entries from the tracked heap
int next_position = 1;          // the table's count

// The position of the print work block in the runtime's root block.
int64_t print_block_index = -1;

// --- Argument typesets ------------------------------------------------------------------------

// The typeset of every parameter (none! for refinements), and the highest registered type
// id they were made for: a type registered later (event!) makes them again.
cell parameter_types[PARAMETER_COUNT];
int types_made_for = -1;
// The first type name of the specs that names neither a datatype nor a named typeset.
std::string unknown_type_name;

// The typesets that the specs name, as the boot environment defines them: each member a
// datatype name or an earlier typeset of this list.
struct named_set {
    std::string_view name;
    std::string_view members;
};
constexpr named_set NAMED_TYPESETS[] = {
    {"internal!", "unset!"},
    {"external!", "event!"},
    {"number!", "integer! float! percent!"},
    {"planar!", "pair! point2D!"},
    {"any-point!", "point2D! point3D!"},
    {"scalar!", "number! any-point! money! char! pair! tuple! time! date!"},
    {"any-word!", "word! set-word! lit-word! get-word!"},
    {"all-word!", "any-word! refinement! issue!"},
    {"any-list!", "block! paren! hash!"},
    {"any-path!", "path! lit-path! set-path! get-path!"},
    {"any-block!", "any-path! any-list!"},
    {"any-function!", "native! action! op! function! routine!"},
    {"any-object!", "object! error! port!"},
    {"any-string!", "string! file! url! tag! email! ref!"},
    {"series!", "binary! image! vector! any-block! any-string!"},
    {"immediate!", "scalar! all-word! none! logic! datatype! typeset! handle! date!"},
    {"default!", "series! immediate! any-object! external! any-function! map! bitset!"},
    {"any-type!", "default! internal!"},
};

// The id of a registered datatype's name, 0 when none has it. The registry keeps each
// name's length without the "!", which rules most names out before any byte is compared.
int datatype_named(std::string_view name) {
    if (name.empty() || name.back() != '!') return 0;
    for (int t = 1; t <= type_registry::max_type_id; ++t) {
        const type_registry::type_entry& entry = type_registry::type_entries[t];
        if (entry.name && static_cast<size_t>(entry.name_length) + 1 == name.size() &&
            std::memcmp(entry.name, name.data(), name.size()) == 0) {
            return t;
        }
    }
    return 0;
}

// Each named typeset's types, made once for the types registered so far (a type registered
// later, event!, makes them again): the specs name these sets thousands of times at start.
constexpr size_t NAMED_COUNT = sizeof NAMED_TYPESETS / sizeof NAMED_TYPESETS[0];
cell named_types[NAMED_COUNT];
int named_types_made_for = -1;

int named_set_index(std::string_view name) {
    for (size_t i = 0; i < NAMED_COUNT; ++i) {
        if (name == NAMED_TYPESETS[i].name) return static_cast<int>(i);
    }
    return -1;
}

void union_into(cell* typeset, const cell& members) {
    typeset->w1 |= members.w1;
    typeset->w2 |= members.w2;
    typeset->w3 |= members.w3;
}

// Named typesets refer only to earlier ones, so one pass in order makes them all.
void make_named_types() {
    for (size_t i = 0; i < NAMED_COUNT; ++i) {
        cell* made = &named_types[i];
        typeset::clear(made);
        std::string_view members = NAMED_TYPESETS[i].members;
        while (!members.empty()) {
            size_t end = members.find(' ');
            std::string_view member = members.substr(0, end);
            int earlier = named_set_index(member);
            if (earlier >= 0) {
                union_into(made, named_types[earlier]);
            } else if (int t = datatype_named(member)) {
                typeset::add(made, t);
            }
            // A datatype registered later (event!) is left out until it exists.
            members = end == std::string_view::npos ? std::string_view{} : members.substr(end + 1);
        }
    }
    named_types_made_for = type_registry::max_type_id;
}

// Adds the types a name stands for; false for a name that is neither a named typeset nor a
// registered datatype. A named typeset comes first: series! names the typeset, not the
// datatype of that name.
bool add_named(cell* typeset, std::string_view name) {
    int set = named_set_index(name);
    if (set >= 0) {
        if (named_types_made_for != type_registry::max_type_id) make_named_types();
        union_into(typeset, named_types[set]);
        return true;
    }
    if (int t = datatype_named(name)) {
        typeset::add(typeset, t);
        return true;
    }
    return false;
}

// The typesets of every parameter. An argument without a type block accepts every type but
// unset!.
void make_parameter_types() {
    for (int i = 0; i < PARAMETER_COUNT; ++i) {
        const spec_parameter& p = SPEC_PARAMETERS[i];
        cell* types = &parameter_types[i];
        if (p.kind == KIND_REFINEMENT || p.word[0] == '\0') {
            *types = cell{TYPE_NONE, 0, 0, 0};
            continue;
        }
        typeset::clear(types);
        std::string_view names = p.types;
        if (names.empty()) {
            for (int t = 1; t <= type_registry::max_type_id; ++t) {
                if (t != TYPE_UNSET) typeset::add(types, t);
            }
            continue;
        }
        while (!names.empty()) {
            size_t end = names.find(' ');
            std::string_view name = names.substr(0, end);
            // event! registers after the natives table is made; its bit joins when it exists.
            if (!add_named(types, name) && name != "event!" && unknown_type_name.empty()) {
                unknown_type_name = std::string(name);
            }
            names = end == std::string_view::npos ? std::string_view{} : names.substr(end + 1);
        }
    }
    types_made_for = type_registry::max_type_id;
}

void ensure_parameter_types() {
    if (types_made_for != type_registry::max_type_id) make_parameter_types();
}

const spec_record* record_of(int index) {
    return index >= 1 && index <= NATIVE_COUNT ? &SPEC_RECORDS[index - 1] : nullptr;
}

// --- The routines --------------------------------------------------------------------------

static_assert(std::size(ROUTINES) == NATIVE_COUNT);

// --- Checked entries ------------------------------------------------------------------------

// The entry of native Index: the type tests when the check flag is set, then the routine.
template <int Index> uint32_t checked_entry(const native_invocation& call) {
    if (call.check) check_arguments(Index, call);
    return ROUTINES[Index - 1](call);
}

template <size_t... I> constexpr auto make_entries(std::index_sequence<I...>) {
    return std::array<native_entry, sizeof...(I)>{&checked_entry<int(I) + 1>...};
}

constexpr auto ENTRIES = make_entries(std::make_index_sequence<NATIVE_COUNT>{});

}  // namespace

// --- The table ------------------------------------------------------------------------------

native_entry entry(int index) {
    return table && index >= 1 && index <= TABLE_SIZE ? table[index - 1] : nullptr;
}

native_entry standard_entry(int index) {
    return index >= 1 && index <= NATIVE_COUNT ? ENTRIES[index - 1] : nullptr;
}

void set_entry(int index, native_entry handler) {
    if (!table || index < 1 || index > TABLE_SIZE) return;
    table[index - 1] = handler;
}

int filled_count() {
    int n = 0;
    for (int i = 1; i <= TABLE_SIZE; ++i) n += entry(i) != nullptr;
    return n;
}

int count() { return next_position; }

void append(int n, const native_entry* routines_to_add) {
    for (int i = 0; i < n && next_position <= TABLE_SIZE; ++i) table[next_position++ - 1] = routines_to_add[i];
}

void init_table() {
    table = static_cast<native_entry*>(heap::allocate(sizeof(native_entry) * TABLE_SIZE));
    std::memset(static_cast<void*>(table), 0, sizeof(native_entry) * TABLE_SIZE);
    next_position = 1;
    block::make_empty_at_tail(&block::root, 32);
    print_block_index = memory::buffer_of(block::root.w2)->length() - 1;
    append(NATIVE_COUNT, ENTRIES.data());
    make_parameter_types();
}

uint32_t call(int index, const int32_t* refinements, int32_t refinement_count, bool check) {
    native_entry routine = entry(index);
    if (!routine) {
        cell* named = integer::make_in(stack::push_slot(), index);
        raise::throw_error(err::script_invalid_arg, named);
    }
    native_invocation c;
    c.refinements = refinements;
    c.refinement_count = refinement_count;
    c.check = check;
    return routine(c);
}

cell* print_work_block() { return block::get_cell(&block::root, print_block_index); }

// --- The specs --------------------------------------------------------------------------------

const spec_entry* spec_of(int index) {
    static spec_entry entries[NATIVE_COUNT];
    static bool made = [] {
        for (int i = 0; i < NATIVE_COUNT; ++i) entries[i] = {SPEC_RECORDS[i].index, SPEC_RECORDS[i].name, SPEC_RECORDS[i].spec};
        return true;
    }();
    (void)made;
    return index >= 1 && index <= NATIVE_COUNT ? &entries[index - 1] : nullptr;
}

std::string_view specs_source() { return {SPECS_SOURCE, sizeof(SPECS_SOURCE) - 1}; }

int refinement_count(int index) {
    const spec_record* r = record_of(index);
    return r ? r->refinement_count : -1;
}

cell argument_typeset(int index, int spec_position) {
    const spec_record* r = record_of(index);
    if (!r || spec_position < 0 || spec_position >= r->parameter_count) return cell{TYPE_NONE, 0, 0, 0};
    ensure_parameter_types();
    return parameter_types[r->first_parameter + spec_position];
}

void check_arguments(int index, const native_invocation& call) {
    const spec_record* r = record_of(index);
    if (!r) return;
    ensure_parameter_types();
    int positional = 0;
    int refinement_position = -1;  // the position of the refinement being walked
    int refinement_argument = 0;   // the offset of its next argument from its position
    for (int i = 0; i < r->parameter_count; ++i) {
        const spec_parameter& p = SPEC_PARAMETERS[r->first_parameter + i];
        const cell* types = &parameter_types[r->first_parameter + i];
        if (p.kind == KIND_REFINEMENT) {
            refinement_position = call.position(p.refinement - 1);
            refinement_argument = 0;
        } else if (p.refinement == 0) {
            raise::check_arg_type(types, i, stack::argument(positional++));
        } else {
            if (refinement_position >= 0) {
                raise::check_native_arg(refinement_position + refinement_argument, types, i);
            }
            ++refinement_argument;
        }
    }
}

bool typesets_within(int index, const cell* entries, int count) {
    const spec_record* r = record_of(index);
    if (!r || count != r->parameter_count) return false;
    ensure_parameter_types();
    for (int i = 0; i < count; ++i) {
        const spec_parameter& p = SPEC_PARAMETERS[r->first_parameter + i];
        const cell* word = entries + 2 * i;
        const cell* types = word + 1;
        if (p.kind == KIND_REFINEMENT) {
            if (!word->is(TYPE_REFINEMENT)) return false;
            continue;
        }
        if (word->is(TYPE_REFINEMENT) || !types->is(TYPE_TYPESET)) return false;
        const cell& allowed = parameter_types[r->first_parameter + i];
        if (!allowed.is(TYPE_TYPESET)) return false;
        if ((types->w1 & ~allowed.w1) | (types->w2 & ~allowed.w2) | (types->w3 & ~allowed.w3)) return false;
    }
    return true;
}

std::string_view unknown_spec_type() {
    ensure_parameter_types();
    return unknown_type_name;
}

bool named_typeset(std::string_view name, cell* out) {
    cell made;
    typeset::clear(&made);
    for (const named_set& set : NAMED_TYPESETS) {
        if (name == set.name) {
            add_named(&made, name);
            *out = made;
            return true;
        }
    }
    return false;
}

const char* named_typeset_name(int i) {
    constexpr int count = static_cast<int>(sizeof(NAMED_TYPESETS) / sizeof(NAMED_TYPESETS[0]));
    return i >= 0 && i < count ? NAMED_TYPESETS[i].name.data() : nullptr;
}

}  // namespace zor::natives
