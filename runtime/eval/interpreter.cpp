// The interpreter: blocks, expressions, calls with their argument gathering, paths,
// function bodies and routine calls.
//
// Stack discipline. An expression's value is always produced in the cell at args_top
// where the expression began (T); a call reserves T with the called value, runs in a
// frame whose base is T + 1 and moves its result down to T; an infix operator's frame
// starts at T itself, where its left operand already lies. Result mode then copies T to
// the frame's base and cuts the frame to its result slot.
//
// Every cell that a C++ frame here keeps across an evaluation lives in an argument-stack
// slot or in a held_cells record (a root guard), never in a bare local: the collector may
// move any node at any allocation.
//
// Speed. Most expressions are plain values and words holding them, and most operators
// take such a value on their right: both are copied by small inline paths
// (eval_expression_at, run_operators) while tracing is off; everything else, and every
// expression while tracing is on, takes the full paths, which alone fire events.
#include "runtime/eval/interpreter.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "platform/fatal.h"
#include "platform/process.h"
#include "runtime/value/code-registry.h"
#include "runtime/binding/context.h"
#include "runtime/binding/hashtable.h"
#include "runtime/binding/owner-track.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/fast-paths.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/tracing.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/text/mold-guard.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/word-table.h"
#include "runtime/value/type-classes.h"

namespace zor::eval {

namespace {

// The current-code cell; the collector keeps it current.
cell current = {};

// The fast tier: the operators' inline arithmetic and comparisons, the direct assignment
// of a set-word and the direct work of the control natives. Each is exact by construction
// and falls back to the full path for every case it does not take; ZOR_EVAL_TIER=0 turns
// all of them off, so that every program can be run both ways and the outputs compared.
bool fast_tier = true;

// The held-cell stack: the cells that the interpreter's C++ frames keep across
// evaluation, taken and given back strictly in nesting order (by held_cells below, also
// while an exception unwinds). The collector marks and rewrites the used part. It is
// sized for the deepest evaluation the frame stack allows.
constexpr size_t HELD_CELLS = size_t(1) << 18;
cell held_stack[HELD_CELLS];
size_t held_top = 0;

// The natives whose argument descriptors are known to test at least what the native's own
// type tests do (natives::typesets_within), by table index: the descriptor block cell that
// was verified (kept alive and current here, so its node cannot be reused for another
// block) and the answer. A call from the interpreter, which has tested every argument
// against those descriptors, then skips the native's second test.
cell verified_descriptors[natives::TABLE_SIZE + 1];
bool descriptors_cover[natives::TABLE_SIZE + 1];

// The section defaults of a native's or an action's call, worked out once per descriptor
// block: how many refinements (each a position of -1) and how many refinement arguments
// (each a none! cell) follow the positional arguments. By natives-table index, then by
// action index after them; the descriptor block cell is kept alive and current here, as
// for verified_descriptors.
struct section_plan {
    int32_t refinements;
    int32_t arguments;
};
constexpr int PLAN_SLOTS = natives::TABLE_SIZE + 1 + ACTION_COUNT + 1;
cell planned_descriptors[PLAN_SLOTS];
section_plan section_plans[PLAN_SLOTS];

void mark_call_plans();
void mark_control_plans();

void mark_interpreter_cells() {
    gc::mark_cells(&current, &current + 1);
    gc::mark_cells(held_stack, held_stack + held_top);
    gc::mark_cells(verified_descriptors, verified_descriptors + natives::TABLE_SIZE + 1);
    gc::mark_cells(planned_descriptors, planned_descriptors + PLAN_SLOTS);
    mark_call_plans();
    mark_control_plans();
}

// Tag of a held_cells whose cells the caller fills, every one of them, before anything
// that can allocate (the collector must never see what an earlier scope left there).
struct unfilled_t {};
constexpr unfilled_t unfilled{};

// N cells of the held-cell stack for the lifetime of a C++ scope.
template <size_t N> class held_cells {
public:
    held_cells() : held_cells(unfilled) {
        for (size_t i = 0; i < N; ++i) cell::init_unset(cells_ + i);
    }
    explicit held_cells(unfilled_t) {
        if (held_top + N > HELD_CELLS) [[unlikely]] {
            mold_guard::reset();
            raise::throw_error(err::internal_stack_overflow);
        }
        cells_ = held_stack + held_top;
        held_top += N;
    }
    ~held_cells() { held_top -= N; }
    cell& operator[](size_t i) { return cells_[i]; }
    held_cells(const held_cells&) = delete;
    held_cells& operator=(const held_cells&) = delete;

private:
    cell* cells_;
};

// Restores the current-code cell when a block evaluation ends, however it ends.
class code_scope {
public:
    code_scope() { saved_[0] = current; }
    ~code_scope() { current = saved_[0]; }
    code_scope(const code_scope&) = delete;
    code_scope& operator=(const code_scope&) = delete;

private:
    held_cells<1> saved_;
};

const cell none_cell{TYPE_NONE, 0, 0, 0};
const cell unset_cell{TYPE_UNSET, 0, 0, 0};

inline memory::series_buffer* buffer(const cell* series) { return memory::buffer_of(series->w2); }
// The cells of a cell series (code blocks, paths, descriptors): by the cell size instead
// of the buffer's general division by its unit. Unsigned, since the tail never lies
// below the head: a plain shift, without the rounding fix-up of a signed division.
inline int64_t cell_count(memory::series_buffer* b) {
    return static_cast<int64_t>(static_cast<uint64_t>(b->tail - b->head) / sizeof(cell));
}
inline int64_t length_of(const cell* series) { return cell_count(buffer(series)); }
inline const cell* at(const cell* series, int64_t i) { return buffer(series)->head_cell() + i; }
inline int64_t index_of(const cell* series) {
    int64_t i = static_cast<int32_t>(series->w1);
    return i < 0 ? 0 : i;
}

inline void trace(uint32_t event, const cell* code, int64_t position, const cell* reference, const cell* value) {
    if (tracing::active) [[unlikely]]
        tracing::fire(event, code, position, reference, value);
}

// The native-depth guard: deep recursion raises the catchable stack overflow before the
// thread's stack runs out.
inline void check_native_depth() {
    if (platform::native_stack_low()) [[unlikely]] {
        mold_guard::reset();
        raise::throw_error(err::internal_stack_overflow);
    }
}

inline bool is_callable(type_id type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_FUNCTION || type == TYPE_ROUTINE;
}

inline bool same_name(int32_t a, int32_t b) { return symbol::canonical_id(a) == symbol::canonical_id(b); }

// The value of a word when it has one that can be read now; null otherwise (unbound,
// unresolved, a function's word outside a call). Never raises; word::get_value gives the
// error of each null case. Read straight from the context record (runtime/binding/context.h),
// since every word and every operator lookahead comes here.
[[gnu::always_inline]] inline const cell* peek_value(const cell* word) {
    const node_ref context = word->w1;
    if (!context) return nullptr;
    // The index unsigned: a negative one (an unresolved word) lies beyond every range below.
    const uint64_t index = word->w3;
    const cell* record = memory::buffer_of(context)->head_cell();
    if (record->header & context::FLAG_ON_STACK) {
        // record->w2 is the first value's slot index + 1, and 0 while no call runs, which
        // wraps to beyond the stack too. In addresses, so that no pointer leaves the stack.
        const uint64_t slot_index = uint64_t(uint32_t(record->w2 - 1)) + index;
        const uintptr_t slot = reinterpret_cast<uintptr_t>(stack::state.args_begin) + slot_index * sizeof(cell);
        return slot < reinterpret_cast<uintptr_t>(stack::state.args_end) ? reinterpret_cast<const cell*>(slot)
                                                                         : nullptr;
    }
    memory::series_buffer* values = memory::buffer_of(record->w2);
    return index < static_cast<uint64_t>(cell_count(values)) ? values->head_cell() + index : nullptr;
}

// What a value met in the code is to an expression, by its type id: a value that stands
// for itself (plain), a word!, a paren!, a set-word!, or anything else (paths, get-words,
// lit-words, issues, functions written in place: the full path's).
enum class code_kind : uint8_t { plain, word, paren, set_word, full };
constexpr auto code_kinds = [] {
    std::array<code_kind, 256> kinds{};
    kinds.fill(code_kind::plain);
    for (type_id t : {TYPE_SET_PATH, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_PATH, TYPE_LIT_PATH, TYPE_GET_PATH, TYPE_ISSUE,
                      TYPE_NATIVE, TYPE_ACTION, TYPE_FUNCTION, TYPE_ROUTINE, TYPE_OP})
        kinds[t] = code_kind::full;
    kinds[TYPE_WORD] = code_kind::word;
    kinds[TYPE_PAREN] = code_kind::paren;
    kinds[TYPE_SET_WORD] = code_kind::set_word;
    return kinds;
}();
inline code_kind code_kind_of(const cell* c) { return code_kinds[c->header & HEADER_TYPE_MASK]; }

// What a word's value is to an expression, by its type id: plain (the word evaluates to
// it), callable (a call), or anything else (unset!, an op!: the full path's errors).
enum class value_kind : uint8_t { plain, callable, full };
constexpr auto value_kinds = [] {
    std::array<value_kind, 256> kinds{};
    kinds.fill(value_kind::plain);
    for (type_id t : {TYPE_NATIVE, TYPE_ACTION, TYPE_FUNCTION, TYPE_ROUTINE}) kinds[t] = value_kind::callable;
    kinds[TYPE_UNSET] = value_kind::full;
    kinds[TYPE_OP] = value_kind::full;
    return kinds;
}();
inline value_kind value_kind_of(const cell* c) { return value_kinds[c->header & HEADER_TYPE_MASK]; }

// What one operand step of a chain found.
enum class operand_step : uint8_t { taken, paren, refused };

// A plain operand's value into *value: the value an operand (an operator's right operand
// or any other expression) evaluates to when that takes no evaluation step that could
// fail, allocate, call or be traced, which is a value that stands for itself, or a word!
// whose value is such a value (not unset!, not an op!, not callable). A paren! is
// reported for the caller to take; anything else needs the full evaluation.
[[gnu::always_inline]] inline operand_step take_operand(const cell* operand, cell* value) {
    switch (code_kind_of(operand)) {
        case code_kind::plain:
            *value = *operand;
            return operand_step::taken;
        case code_kind::word: {
            const cell* v = peek_value(operand);
            if (!v || value_kind_of(v) != value_kind::plain) return operand_step::refused;
            *value = *v;
            return operand_step::taken;
        }
        case code_kind::paren:
            return operand_step::paren;
        default:
            return operand_step::refused;
    }
}

// The fast paths leave out frames and argument cells that the full path would push and
// drop again unseen, but not near a stack's end: there the full path may overflow where
// they would not, so they give way to it, and a stack overflow strikes where it always
// did. The margins exceed what the frames around a plain chain and the chain itself (its
// parens nested as deep as a chain takes them, each with its operator's frame) would push.
constexpr int SKIPPED_FRAMES_MARGIN = 32;
constexpr int SKIPPED_CELLS_MARGIN = 64;
[[gnu::always_inline]] inline bool room_to_skip_frames() {
    const stack::record& s = stack::state;
    return s.frames_end - s.frames_top > SKIPPED_FRAMES_MARGIN && s.args_end - s.args_top > SKIPPED_CELLS_MARGIN;
}

// The callable an op! stands for: its source value (with the source's own header flags
// when the op! kept a copy of it), or the op! retyped to its source's type.
cell op_source(const cell* op) {
    type_id source = op::source_type(op);
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
        const cell* kept = function::extras_cell(op, function::EXTRAS_OP_SOURCE);
        if (kept->is(source)) return *kept;
    }
    cell copy = *op;
    copy.header = source;
    return copy;
}

// A refinement! of the word's symbol, for error arguments.
cell as_refinement(const cell* word) {
    cell r = *word;
    r.header = TYPE_REFINEMENT;
    return r;
}

cell as_word(const cell* word) {
    cell w = *word;
    w.header = TYPE_WORD;
    return w;
}

// --- Argument descriptors ----------------------------------------------------------------------

// The layout of runtime/datatypes/function.h: cell 0 the positional count, cell 1 the
// section size, then two cells per section entry.
inline int32_t descriptor_count(const cell* descriptors, int i) { return integer::read_cell(at(descriptors, i)); }
inline const cell* entry_word(const cell* descriptors, int32_t entry) { return at(descriptors, 2 + 2 * entry); }
inline const cell* entry_detail(const cell* descriptors, int32_t entry) { return at(descriptors, 3 + 2 * entry); }

// A spec may name one set-word, `return:`; any other raises script/bad-func-def.
void check_spec_set_words(const cell* callee) {
    memory::series_buffer* spec = memory::buffer_of(callee->w2);
    for (const cell* c = spec->head_cell(); c < spec->tail_cell(); ++c) {
        if (c->is(TYPE_SET_WORD) && !same_name(static_cast<int32_t>(c->w2), symbols::return_)) {
            cell named = *c;
            raise::throw_error(err::script_bad_func_def, &named);
        }
    }
}

void build_descriptors(cell* callee, cell* destination);

// Reads (building and caching it on first use) the descriptor block of the callable into
// the destination. The callable lies in a held cell. Inline: every call reads it.
inline void load_descriptors(cell* callee, cell* destination) {
    memory::series_buffer* x = memory::buffer_of(callee->w3);
    if (cell_count(x) > function::EXTRAS_DESCRIPTORS && x->head_cell()[function::EXTRAS_DESCRIPTORS].is(TYPE_BLOCK))
        [[likely]] {
        *destination = x->head_cell()[function::EXTRAS_DESCRIPTORS];
        return;
    }
    build_descriptors(callee, destination);
}

// The first call of a callable: its descriptor block is built and cached.
void build_descriptors(cell* callee, cell* destination) {
    check_spec_set_words(callee);
    cell* made = function::argument_descriptors(callee);
    *destination = *made;
    stack::drop_slots(1);
}

// --- Argument sources ------------------------------------------------------------------------

// Where a call takes its arguments from: the code after the called value, or apply's
// block (evaluated like code, or with every value taken as it is).
struct argument_source {
    const cell* code;  // a rooted block cell (null with stack values)
    int64_t position;
    bool literal_values = false;  // apply/all: every value taken as it is
    // Values that C++ callers hand over in argument-stack cells, taken as they are.
    const cell* stack_values = nullptr;
    int64_t stack_count = 0;

    int64_t end() const { return stack_values ? stack_count : length_of(code); }
    const cell* value_at(int64_t i) const { return stack_values ? stack_values + i : at(code, i); }
};

int64_t eval_expression_at(const cell* code, int64_t position, bool no_infix, bool push, bool keep_functions);
int64_t eval_path_at(const cell* path, const cell* code, int64_t position, bool set, bool get, bool push,
                     path_resume* resume);
void invoke(cell* function, node_ref context, const cell* word, uint32_t kind);
uint32_t eval_block_framed(const cell* block, bool pass_result);
int64_t plain_chain_with_room(const cell* code, int64_t position, int64_t tail, cell* value, int nesting);
[[gnu::always_inline]] inline int64_t plain_chain(const cell* code, int64_t position, int64_t tail, cell* value,
                                                  int nesting);
void invoke_held(cell* function, node_ref context, const cell* word, uint32_t kind);
void run_block_body(const cell* function, const cell* word, const cell* body_cell);
inline void run_body_held(const cell* function, const cell* word, cell* held);

// Pushes a literal argument's value: a paren! evaluated, a get-word!'s value, a
// get-path! evaluated as a get-path, anything else as it is.
void push_literal_argument(argument_source& source) {
    cell value = *at(source.code, source.position);
    if (tracing::active) [[unlikely]] {
        tracing::fire(tracing::EVENT_FETCH, source.code, source.position, nullptr, &value);
        value = *at(source.code, source.position);
    }
    ++source.position;
    switch (value.type()) {
        case TYPE_PAREN: {
            stack::push_interp_call_frame(words::anon);
            if (eval_block(&value, true)) return;
            stack::pop_frame();
            break;
        }
        case TYPE_GET_WORD:
            get_word::push_value(&value);
            break;
        case TYPE_GET_PATH:
            source.position = eval_path_at(&value, source.code, source.position, false, true, true, nullptr);
            if (stack::exit_pending()) return;
            break;
        default:
            stack::push_copy(&value);
            break;
    }
    trace(tracing::EVENT_PUSH, source.code, source.position, nullptr, stack::last_slot());
}

// fetch_argument's cases other than an evaluated argument taken from code.
[[gnu::noinline]] bool fetch_other_argument(argument_source& source, type_id kind, const cell* typeset_cell,
                                            bool infix) {
    if (source.position >= source.end()) {
        // An optional literal argument at the end of the code becomes unset!.
        if (kind == TYPE_LIT_WORD && typeset::has(typeset_cell, TYPE_UNSET)) {
            stack::push_slot();
            return true;
        }
        return false;
    }
    if (source.literal_values || source.stack_values) {
        stack::push_copy(source.value_at(source.position));
        ++source.position;
        return true;
    }
    switch (kind) {
        case TYPE_GET_WORD: {
            trace(tracing::EVENT_FETCH, source.code, source.position, nullptr, at(source.code, source.position));
            cell* pushed = stack::push_copy(at(source.code, source.position));
            ++source.position;
            trace(tracing::EVENT_PUSH, source.code, source.position, nullptr, pushed);
            return true;
        }
        case TYPE_LIT_WORD:
            push_literal_argument(source);
            return true;
        default:
            source.position = eval_expression_at(source.code, source.position, infix, true, false);
            return true;
    }
}

// Pushes the next argument. Answers false when the source has no value left (and pushed
// nothing); a pending exit is left to the caller's test. The usual argument, evaluated
// from the code, goes straight to the expression evaluation.
[[gnu::always_inline]] inline bool fetch_argument(argument_source& source, type_id kind, const cell* typeset_cell,
                                                  bool infix) {
    if (kind != TYPE_GET_WORD && kind != TYPE_LIT_WORD && !source.literal_values && !source.stack_values &&
        source.position < length_of(source.code)) [[likely]] {
        source.position = eval_expression_at(source.code, source.position, infix, true, false);
        return true;
    }
    return fetch_other_argument(source, kind, typeset_cell, infix);
}

// script/expect-arg with the call's word, the value's datatype and the argument's word.
[[noreturn]] void expect_arg(const cell* call_word, const cell* value, const cell* argument_word) {
    cell where = as_word(call_word);
    cell type = datatype::value_of(value->type());
    cell argument = as_word(argument_word);
    raise::throw_error(err::script_expect_arg, &where, &type, &argument);
}

[[noreturn, gnu::noinline]] void argument_refused(const cell* call_word, const cell* value, const cell* descriptors,
                                                 int32_t entry) {
    const cell argument = *entry_word(descriptors, entry);
    expect_arg(call_word, value, &argument);
}

// Whether an argument's accepted types (a typeset!, or another cell for no test) refuse
// a value of the type.
[[gnu::always_inline]] inline bool refuses(const cell* typeset_cell, type_id type) {
    return typeset_cell->is(TYPE_TYPESET) && !typeset::has(typeset_cell, type);
}

// Every argument of every call passes here: the test inline, the error out of line.
inline void check_argument(const cell* call_word, const cell* value, const cell* descriptors, int32_t entry) {
    if (refuses(entry_detail(descriptors, entry), value->type())) [[unlikely]]
        argument_refused(call_word, value, descriptors, entry);
}

[[noreturn]] void no_arg(const cell* call_word, const cell* descriptors, int32_t entry) {
    cell where = as_word(call_word);
    cell argument = as_word(entry_word(descriptors, entry));
    raise::throw_error(err::script_no_arg, &where, &argument);
}

// --- Calls ------------------------------------------------------------------------------------

// The most refinements an action's or a native's spec has, with room to spare.
constexpr int MAX_NATIVE_REFINEMENTS = 24;

struct call_record {
    call_record() = default;
    // For a caller that fills the callee and the word before anything can allocate.
    explicit call_record(unfilled_t) : held(unfilled) {
        cell::init_unset(&held[2]);
        cell::init_unset(&held[3]);
    }
    held_cells<4> held;  // 0 the callee, 1 the call's word, 2 the descriptors, 3 the path
    cell& callee() { return held[0]; }
    cell& word() { return held[1]; }
    cell& descriptors() { return held[2]; }
    cell& path() { return held[3]; }
    int32_t positional = 0;
    int32_t section = 0;
    // native! and action!: the refinement positions, spec order.
    int32_t positions[MAX_NATIVE_REFINEMENTS];
    int32_t refinement_count = 0;
    bool native_layout = false;  // natives and actions: no refinement cells in the frame
    uint32_t callback_kind = 0;  // invoke.h's kinds, for function calls
};

// Pushes the frame cells after the positional arguments: for functions and routines a
// logic! false per refinement (the /local refinement too) and a none! per argument and
// local; for natives and actions a none! per refinement argument, with every refinement's
// position -1.
// The refinement positions of a call that names none of them.
constexpr auto all_absent = [] {
    std::array<int32_t, MAX_NATIVE_REFINEMENTS> positions{};
    positions.fill(-1);
    return positions;
}();

void push_section_defaults(call_record& r) {
    r.refinement_count = 0;
    int slot = -1;
    if (r.native_layout) {
        const int index = native::table_index(&r.callee());
        const bool is_native = r.callee().is(TYPE_NATIVE);
        if (index >= 1 && index <= (is_native ? natives::TABLE_SIZE : ACTION_COUNT)) {
            slot = is_native ? index : natives::TABLE_SIZE + 1 + index;
            const cell& planned = planned_descriptors[slot];
            if (planned.is(TYPE_BLOCK) && planned.w2 == r.descriptors().w2) [[likely]] {
                const section_plan plan = section_plans[slot];
                // Every position absent at once: fixed-size copies, cheaper than a count.
                std::memcpy(r.positions, all_absent.data(), 4 * sizeof(int32_t));
                if (plan.refinements > 4) std::memcpy(r.positions, all_absent.data(), sizeof all_absent);
                r.refinement_count = plan.refinements;
                if (plan.arguments == 0) return;
                cell* first = stack::state.args_top;
                if (first + plan.arguments >= stack::state.args_end) [[unlikely]]
                    stack::overflow();
                for (int32_t i = 0; i < plan.arguments; ++i) first[i] = none_cell;
                stack::state.args_top = first + plan.arguments;
                return;
            }
        }
    }
    int32_t arguments = 0;
    // Nothing below allocates: the descriptor block stays where it is.
    const cell* descriptors = &r.descriptors();
    const cell* entries = entry_word(descriptors, 0);
    for (int32_t e = r.positional; e < r.section; ++e) {
        if (entries[2 * e].is(TYPE_REFINEMENT)) {
            if (r.native_layout) {
                if (r.refinement_count < MAX_NATIVE_REFINEMENTS) r.positions[r.refinement_count] = -1;
                ++r.refinement_count;
            } else {
                logic::make_in(stack::push_slot(), false);
            }
        } else {
            *stack::push_slot() = none_cell;
            ++arguments;
        }
    }
    if (r.refinement_count > MAX_NATIVE_REFINEMENTS) raise::throw_error(err::internal_not_done);
    if (slot >= 0) {
        planned_descriptors[slot] = r.descriptors();
        section_plans[slot] = {r.refinement_count, arguments};
    }
}

bool is_local_refinement(const cell* c) {
    return c->is(TYPE_REFINEMENT) && same_name(static_cast<int32_t>(c->w2), refinements::local.symbol());
}

// Where a refinement named in a path lives: its descriptor entry, its ordinal among the
// refinements, the frame offset of its flag (functions) and of its first argument.
struct refinement_place {
    int32_t entry = -1;
    int32_t ordinal = -1;
    int32_t flag_offset = -1;
    int32_t first_argument = -1;
    int32_t argument_count = 0;
};

refinement_place find_refinement(call_record& r, int32_t symbol) {
    int32_t native_offset = r.positional;
    int32_t ordinal = 0;
    for (int32_t e = r.positional; e < r.section; ++e) {
        const cell* w = entry_word(&r.descriptors(), e);
        if (!w->is(TYPE_REFINEMENT)) {
            ++native_offset;
            continue;
        }
        if (is_local_refinement(w)) break;
        if (same_name(static_cast<int32_t>(w->w2), symbol)) {
            refinement_place p;
            p.entry = e;
            p.ordinal = ordinal;
            p.flag_offset = e;
            p.first_argument = r.native_layout ? native_offset : e + 1;
            p.argument_count = integer::read_cell(entry_detail(&r.descriptors(), e));
            return p;
        }
        ++ordinal;
    }
    return {};
}

// The refinements of a call through a path: the elements after path_position in the
// order written, each fetching its arguments from the source. Answers false when an exit
// is pending.
bool gather_refinements(call_record& r, argument_source& source, int64_t path_position) {
    for (int64_t k = path_position + 1; k < length_of(&r.path()); ++k) {
        const cell element = *at(&r.path(), k);
        bool use = true;
        if (element.is(TYPE_GET_WORD)) {
            use = logic::is_true(word::get_value(&element), false, nullptr) != 0;
        } else if (!element.is(TYPE_WORD)) {
            raise::throw_error(err::script_bad_refine, &element);
        }
        refinement_place place = find_refinement(r, static_cast<int32_t>(element.w2));
        if (place.entry < 0) {
            cell where = as_word(&r.word());
            cell named = as_refinement(&element);
            raise::throw_error(err::script_no_refine, &where, &named);
        }
        if (!use) continue;
        cell* base = stack::state.args_base;
        bool used = r.native_layout ? r.positions[place.ordinal] != -1 : base[place.flag_offset].w1 != 0;
        if (used) {
            cell path_copy = r.path();
            raise::throw_error(err::script_dup_refine, &path_copy);
        }
        if (r.native_layout) r.positions[place.ordinal] = place.first_argument;
        else logic::make_in(base + place.flag_offset, true);
        for (int32_t a = 0; a < place.argument_count; ++a) {
            int32_t entry = place.entry + 1 + a;
            type_id kind = entry_word(&r.descriptors(), entry)->type();
            if (!fetch_argument(source, kind, entry_detail(&r.descriptors(), entry), false)) {
                no_arg(&r.word(), &r.descriptors(), entry);
            }
            if (stack::exit_pending()) return false;
            cell* value = stack::last_slot();
            check_argument(&r.word(), value, &r.descriptors(), entry);
            stack::state.args_base[place.first_argument + a] = *value;
            stack::drop_slots(1);
        }
    }
    return true;
}

// apply/all: after the positional arguments, every section entry's value comes from the
// block in spec order, a refinement's as its truth; with /safer the arguments of an unused
// refinement stay none!.
bool gather_apply_all(call_record& r, argument_source& source, bool safer) {
    int32_t native_offset = r.positional;
    int32_t ordinal = -1;
    bool refinement_used = true;
    for (int32_t e = r.positional; e < r.section; ++e) {
        const cell* w = entry_word(&r.descriptors(), e);
        bool have = source.position < source.end();
        if (w->is(TYPE_REFINEMENT)) {
            if (is_local_refinement(w)) break;
            ++ordinal;
            refinement_used = have && logic::is_true(source.value_at(source.position), false, nullptr);
            if (have) ++source.position;
            if (r.native_layout) {
                if (refinement_used) r.positions[ordinal] = native_offset;
            } else {
                logic::make_in(stack::state.args_base + e, refinement_used);
            }
            continue;
        }
        int32_t target = r.native_layout ? native_offset++ : e;
        if (!have) continue;
        cell value = *source.value_at(source.position);
        ++source.position;
        if (safer && !refinement_used) continue;
        check_argument(&r.word(), &value, &r.descriptors(), e);
        stack::state.args_base[target] = value;
    }
    return true;
}

// The first call of a native with these descriptors: the answer is worked out and kept.
[[gnu::noinline]] bool verify_native_tests(int index, const cell* descriptors) {
    const int32_t section = descriptor_count(descriptors, 1);
    if (length_of(descriptors) < 2 + 2 * int64_t(section)) return false;
    descriptors_cover[index] = natives::typesets_within(index, at(descriptors, 2), section);
    verified_descriptors[index] = *descriptors;
    return descriptors_cover[index];
}

// Whether a native's own argument tests can be skipped after the interpreter tested the
// arguments against the call's descriptors.
[[gnu::always_inline]] inline bool native_tests_covered(int index, const cell* descriptors) {
    if (index < 1 || index > natives::TABLE_SIZE) [[unlikely]]
        return false;
    const cell& verified = verified_descriptors[index];
    if (!verified.is(TYPE_BLOCK) || verified.w2 != descriptors->w2) [[unlikely]]
        return verify_native_tests(index, descriptors);
    return descriptors_cover[index];
}

// The work of a control native done here instead of through the natives table, on the
// arguments its call gathered and tested (the same frame, the same cells): a branch is
// evaluated straight from its argument cell. Answers false, having done nothing, when the
// native is not one of these, its table entry was replaced, or an argument is not what
// the direct work expects; the native's own routine then runs.
bool run_direct(int index) {
    switch (index) {
        case natives::NATIVE_IF: case natives::NATIVE_UNLESS: case natives::NATIVE_EITHER:
        case natives::NATIVE_RETURN:
            break;
        default:
            return false;
    }
    if (tracing::active || natives::entry(index) != natives::standard_entry(index)) return false;
    cell* base = stack::state.args_base;
    const cell* branch;
    switch (index) {
        case natives::NATIVE_RETURN:
            (void)stack::leave_function(true);
            return true;
        case natives::NATIVE_EITHER:
            if (!base[1].is(TYPE_BLOCK) || !base[2].is(TYPE_BLOCK)) return false;
            branch = logic::is_result_true() ? base + 1 : base + 2;
            break;
        default:
            if (!base[1].is(TYPE_BLOCK)) return false;
            if ((logic::is_result_false() != 0) != (index == natives::NATIVE_UNLESS)) {
                stack::clear_frame_args();
                *stack::result_slot() = none_cell;
                return true;
            }
            branch = base + 1;
            break;
    }
    (void)eval_block(branch, true);
    return true;
}

// Runs the callee on the arguments of the frame at args_base. A pending exit is left.
// checked: every argument was tested against the descriptors (a call gathered by the
// interpreter, not by apply/all or a C++ caller).
// A C++ container that a native or action could not grow (the process is at its
// address-space limit) is internal/no-memory raised by that native, catchable like any
// other error.
[[gnu::always_inline]] inline void dispatch_body(call_record& r, node_ref object_context, bool checked) {
    cell* callee = &r.callee();
    switch (callee->type()) {
        case TYPE_NATIVE: {
            const int index = native::table_index(callee);
            const bool check = !checked || !native_tests_covered(index, &r.descriptors());
            if (!check && fast_tier && run_direct(index)) break;
            uint32_t code;
            try {
                code = natives::call(index, r.positions, r.refinement_count, check);
            } catch (const std::bad_alloc&) {
                raise::throw_error(err::internal_no_memory);
            }
            if (code && !stack::pending_code) stack::pending_code = code;
            break;
        }
        case TYPE_ACTION: {
            actions::entry_routine routine = actions::entry(native::table_index(callee));
            if (!routine) raise::throw_error(err::internal_not_done);
            try {
                routine(r.positions);
            } catch (const std::bad_alloc&) {
                raise::throw_error(err::internal_no_memory);
            }
            break;
        }
        case TYPE_ROUTINE:
            call_routine(callee);
            break;
        case TYPE_FUNCTION:
            // The record holds the function and its word for the call.
            invoke_held(callee, object_context ? object_context : callee->w1, &r.word(), r.callback_kind);
            break;
        default:
            platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    }
}

[[gnu::noinline]] void dispatch(call_record& r, node_ref object_context, bool checked = false) {
    dispatch_body(r, object_context, checked);
}

enum class infix_mode { none, left_in_place, both_in_frame };

// `eval/call`. The callee (an op! turned into its source), its word, and where the
// arguments come from. In left_in_place mode the left operand lies at args_top - 1 and
// becomes the first argument; in both_in_frame mode the caller already pushed the
// frame with both operands in it (an infix fast path that did not apply).
// Inline into its two entries below, so that the common one loses the tests of what it
// never has.
[[gnu::always_inline]] inline int64_t call_callable_body(const cell* called, argument_source& source, bool push,
                                                         const cell* path, int64_t path_position, const cell* word,
                                                         infix_mode infix, node_ref object_context,
                                                         uint32_t apply_mode, uint32_t callback_kind) {
    check_native_depth();
    call_record r(unfilled);  // the callee and the word are filled first, without allocating
    r.callback_kind = callback_kind;
    r.callee() = called->is(TYPE_OP) ? op_source(called) : *called;
    if (path) r.path() = *path;
    if (word && word->type() >= TYPE_WORD && word->type() <= TYPE_REFINEMENT) {
        r.word() = *word;
    } else if (!word && !apply_mode && source.code && source.position > 0 && source.position <= source.end() &&
               at(source.code, source.position - 1)->is(TYPE_WORD)) {
        r.word() = *at(source.code, source.position - 1);
    } else {
        r.word() = *words::anon;
    }
    type_id kind = r.callee().type();
    if (!is_callable(kind)) platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    r.native_layout = kind == TYPE_NATIVE || kind == TYPE_ACTION;
    load_descriptors(&r.callee(), &r.descriptors());
    {
        const cell* d = buffer(&r.descriptors())->head_cell();
        r.positional = integer::read_cell(d);
        r.section = integer::read_cell(d + 1);
    }

    trace(tracing::EVENT_OPEN, source.code, source.position, nullptr, &r.word());

    cell* reserved = nullptr;
    int32_t in_place = 0;
    if (infix == infix_mode::both_in_frame) {
        in_place = 2;
    } else {
        if (infix == infix_mode::none) {
            reserved = stack::push_copy(&r.callee());
        } else {
            stack::state.args_top -= 1;  // the left operand is the frame's first cell
            in_place = 1;
        }
        if (kind == TYPE_FUNCTION) stack::push_interp_function_frame(&r.word(), r.callee().w1);
        else stack::push_interp_call_frame(&r.word());
    }
    cell* base = stack::state.args_base;
    const stack::frame* own_frame = stack::top_frame() - 1;
    const bool is_infix = infix != infix_mode::none;

    // Positional arguments.
    if (r.positional < in_place) in_place = r.positional;
    for (int32_t e = 0; e < r.positional; ++e) {
        if (e < in_place) {
            stack::state.args_top = base + e + 1;
            check_argument(&r.word(), base + e, &r.descriptors(), e);
            continue;
        }
        // The entry is read once per argument: the argument's evaluation may move the
        // descriptor block, so never across it.
        const cell* entry = entry_word(&r.descriptors(), e);
        if (!fetch_argument(source, entry[0].type(), entry + 1, is_infix)) {
            no_arg(&r.word(), &r.descriptors(), e);
        }
        if (stack::exit_pending()) return source.position;
        check_argument(&r.word(), stack::last_slot(), &r.descriptors(), e);
    }
    // Most calls have no refinements or locals: nothing to push then.
    if (r.section != r.positional) push_section_defaults(r);
    else r.refinement_count = 0;
    if (apply_mode & APPLY_ALL) {
        gather_apply_all(r, source, (apply_mode & APPLY_SAFER) != 0);
    } else if (path) {
        if (!gather_refinements(r, source, path_position)) return source.position;
    }

    dispatch_body(r, object_context, apply_mode == 0);
    if (stack::exit_pending()) return source.position;

    stack::assert_balanced(own_frame, base);
    if (kind == TYPE_FUNCTION) stack::pop_function_frame();
    else stack::pop_frame();
    trace(tracing::EVENT_RETURN, source.code, source.position, &r.word(), base);
    if (reserved) {
        *reserved = *base;
        stack::state.args_top = reserved + 1;
    }
    if (!push) stack::set_result_truncate(stack::last_slot());
    return source.position;
}

[[gnu::noinline]] int64_t call_callable(const cell* called, argument_source& source, bool push, const cell* path,
                                        int64_t path_position, const cell* word, infix_mode infix,
                                        node_ref object_context, uint32_t apply_mode, uint32_t callback_kind = 0) {
    return call_callable_body(called, source, push, path, path_position, word, infix, object_context, apply_mode,
                              callback_kind);
}

// The usual call: a word of the code whose value is callable, its arguments taken from
// the code after it, the result pushed.
[[gnu::noinline]] int64_t call_from_code(const cell* called, argument_source& source, const cell* word) {
    return call_callable_body(called, source, true, nullptr, 0, word, infix_mode::none, 0, 0, 0);
}

// How call_control_directly takes each argument of a control native from the code: a
// plain chain (a normal argument whose evaluation cannot be seen), a block written in
// place and not followed by an operator (a normal argument whose evaluation is a copy),
// or a value written in place for a literal argument (taken as it is: not a paren!,
// get-word! or get-path!, which a literal argument evaluates).
enum class control_argument : uint8_t { chain, block, literal };
// What the direct call does once the frame is made: a branch of if, unless or either
// evaluated here, return's exit taken here, or the native's own routine.
enum class control_work : uint8_t { none, if_branch, unless_branch, either_branch, leave, routine };
struct control_shape {
    control_work work = control_work::none;  // none: not a control native
    uint8_t count = 0;                       // positional arguments
    bool has_refinement = false;             // one refinement without arguments (case's /all)
    control_argument arguments[3] = {};
};

// The shape of each control native's call, by table index.
constexpr std::array<control_shape, natives::TABLE_SIZE + 1> control_shapes = [] {
    using a = control_argument;
    using w = control_work;
    std::array<control_shape, natives::TABLE_SIZE + 1> s{};
    s[natives::NATIVE_IF] = {w::if_branch, 2, false, {a::chain, a::block}};
    s[natives::NATIVE_UNLESS] = {w::unless_branch, 2, false, {a::chain, a::block}};
    s[natives::NATIVE_EITHER] = {w::either_branch, 3, false, {a::chain, a::block, a::block}};
    s[natives::NATIVE_RETURN] = {w::leave, 1, false, {a::chain}};
    for (int i : {natives::NATIVE_ANY, natives::NATIVE_ALL, natives::NATIVE_UNTIL, natives::NATIVE_FOREVER})
        s[i] = {w::routine, 1, false, {a::block}};
    s[natives::NATIVE_CASE] = {w::routine, 1, true, {a::block}};
    s[natives::NATIVE_WHILE] = {w::routine, 2, false, {a::block, a::block}};
    s[natives::NATIVE_LOOP] = {w::routine, 2, false, {a::chain, a::block}};
    for (int i : {natives::NATIVE_REPEAT, natives::NATIVE_FOREACH})
        s[i] = {w::routine, 3, false, {a::literal, a::chain, a::block}};
    return s;
}();

// What the direct call of a control native needs of its descriptor block, worked out
// once per block and kept by table index with the block's cell (alive and current here,
// as for verified_descriptors): whether the block has the native's shape and covers the
// native's own tests, and the typeset of each argument whose type varies from call to
// call (a block argument's typeset was found to take block!, so it is not tested again).
struct control_plan {
    bool usable = false;
    cell typesets[3];  // a non-typeset cell: no test
};
cell control_descriptors[natives::TABLE_SIZE + 1];
control_plan control_plans[natives::TABLE_SIZE + 1];

[[gnu::noinline]] const control_plan& make_control_plan(int index, const cell* descriptors) {
    const control_shape& shape = control_shapes[index];
    control_plan plan;
    plan.usable = length_of(descriptors) >= 2;
    if (plan.usable) {
        const int32_t positional = descriptor_count(descriptors, 0);
        const int32_t section = descriptor_count(descriptors, 1);
        plan.usable = positional == shape.count && section == positional + (shape.has_refinement ? 1 : 0) &&
                      length_of(descriptors) >= 2 + 2 * int64_t(section) &&
                      (!shape.has_refinement || entry_word(descriptors, positional)->is(TYPE_REFINEMENT)) &&
                      native_tests_covered(index, descriptors);
    }
    for (int e = 0; plan.usable && e < shape.count; ++e) {
        const type_id kind = entry_word(descriptors, e)->type();
        const cell* typeset_cell = entry_detail(descriptors, e);
        plan.typesets[e] = *typeset_cell;
        switch (shape.arguments[e]) {
            case control_argument::chain: plan.usable = kind == TYPE_WORD; break;
            case control_argument::block:
                plan.usable = kind == TYPE_WORD &&
                              (!typeset_cell->is(TYPE_TYPESET) || typeset::has(typeset_cell, TYPE_BLOCK));
                plan.typesets[e] = none_cell;
                break;
            case control_argument::literal: plan.usable = kind == TYPE_LIT_WORD; break;
        }
    }
    control_descriptors[index] = *descriptors;
    control_plans[index] = plan;
    return control_plans[index];
}

void mark_control_plans() { gc::mark_cells(control_descriptors, control_descriptors + natives::TABLE_SIZE + 1); }

// The plan of a control native's call, or null when the direct call cannot serve it (its
// table entry was replaced, its descriptors are not built yet or are not of its shape).
[[gnu::always_inline]] inline const control_plan* control_plan_of(int index, const cell* callee) {
    if (natives::entry(index) != natives::standard_entry(index)) return nullptr;
    // The descriptors of an earlier call: the first call builds them the general way.
    memory::series_buffer* extras = memory::buffer_of(callee->w3);
    if (cell_count(extras) <= function::EXTRAS_DESCRIPTORS) return nullptr;
    const cell* descriptors = extras->head_cell() + function::EXTRAS_DESCRIPTORS;
    if (!descriptors->is(TYPE_BLOCK)) return nullptr;
    const cell& known = control_descriptors[index];
    const control_plan& plan = known.is(TYPE_BLOCK) && known.w2 == descriptors->w2
                                   ? control_plans[index]
                                   : make_control_plan(index, descriptors);
    return plan.usable ? &plan : nullptr;
}

// The op! value when the cell is a word whose value is an op! (an infix operator); null
// otherwise.
[[gnu::always_inline]] inline const cell* operator_value(const cell* c) {
    if (!c->is(TYPE_WORD)) return nullptr;
    const cell* op_value = peek_value(c);
    return op_value && op_value->is(TYPE_OP) ? op_value : nullptr;
}

// Whether the value at the position is a word whose value is an op!, as the infix
// lookahead finds it.
inline bool operator_follows(const cell* code, int64_t position, int64_t tail) {
    return position < tail && operator_value(at(code, position)) != nullptr;
}

// The argument's error, raised as the general call raises it (from the descriptor block).
[[noreturn, gnu::noinline]] void control_argument_refused(const cell* callee, const cell* call_word,
                                                          const cell* value, int32_t entry) {
    const cell descriptors = *function::extras_cell(callee, function::EXTRAS_DESCRIPTORS);
    argument_refused(call_word, value, &descriptors, entry);
}

// The frame of a control native's direct call, made as the general call makes it: the
// native reserved in the caller's frame, an interpreter call frame named by its word, and
// the arguments pushed and tested against the plan. The arguments lie in C++ cells until
// then: nothing before the pushes allocates.
struct control_frame {
    cell* reserved;
    cell* base;
    const stack::frame* own;
};
[[gnu::always_inline]] inline control_frame open_control_frame(const cell* callee, const cell* call_word,
                                                               const control_plan& plan, const cell* values,
                                                               int count) {
    check_native_depth();
    control_frame f;
    f.reserved = stack::push_copy(callee);
    stack::push_interp_call_frame(call_word);
    f.base = stack::state.args_base;
    f.own = stack::top_frame() - 1;
    for (int e = 0; e < count; ++e) stack::push_copy(&values[e]);
    for (int e = 0; e < count; ++e) {
        if (refuses(&plan.typesets[e], f.base[e].type())) [[unlikely]]
            control_argument_refused(f.reserved, call_word, f.base + e, e);
    }
    return f;
}

// The end of a direct call that returned normally: its result moves down to the cell
// that held the native, as the general call leaves it.
[[gnu::always_inline]] inline void close_control_frame(const control_frame& f, const cell* code, int64_t next,
                                                        const cell* call_word) {
    stack::assert_balanced(f.own, f.base);
    stack::pop_frame();
    trace(tracing::EVENT_RETURN, code, next, call_word, f.base);
    *f.reserved = *f.base;
    stack::state.args_top = f.reserved + 1;
}

// The native's own routine on the frame that a direct call made, a routine's exit left
// pending as the general call leaves it.
void run_control_routine(int index, bool has_refinement) {
    int32_t no_positions[1] = {-1};
    const uint32_t thrown = natives::call(index, no_positions, has_refinement ? 1 : 0, false);
    if (thrown && !stack::pending_code) stack::pending_code = thrown;
}

// A branch of if or unless that is `return` and a plain chain, as in `if n > 0 [return n]`
// (either's branches, more often values than exits, go without the test, which would cost
// each of them): the exit taken at once. The branch's block frame and return's own frame
// would be pushed and dropped with nothing between them that could fail, allocate, call
// or be traced, so they are not made, and the exit lands where return's own lands. The
// caller found room_to_skip_frames and the native stack not low. Answers false, having
// changed nothing, for any other branch, and wherever the full path could raise instead:
// a value that return's spec refuses, no room for the held cells, no function to leave.
[[gnu::noinline]] bool return_branch_taken(const cell* block, const cell* first, int64_t head, int64_t tail) {
    const cell* callee = peek_value(first);
    if (!callee || !callee->is(TYPE_NATIVE) || native::table_index(callee) != natives::NATIVE_RETURN) return false;
    const control_plan* plan = control_plan_of(natives::NATIVE_RETURN, callee);
    cell value;
    if (!plan || plain_chain_with_room(block, head + 1, tail, &value, 0) != tail) return false;
    if (refuses(&plan->typesets[0], value.type())) return false;
    if (held_top + 2 > HELD_CELLS) return false;
    return stack::return_from_top(value);
}

// if, unless and either whose own frame nothing could see: no branch chosen (the result is
// none), a branch of one plain value (as fib's [n]), or a branch that only returns. The
// native's frame would be pushed and dropped with nothing between that could fail,
// allocate, call or be traced, so it is not made; its arguments are tested first as the
// frame's are. The caller found room_to_skip_frames. Answers false, having changed
// nothing, whenever the frame's way could raise or do more: a refused argument (an unset!
// condition among them), a branch that evaluates, a low native stack.
[[gnu::always_inline]] inline bool branch_without_frame(control_work work, const control_plan& plan,
                                                        const cell* values, int count) {
    if (values[0].is(TYPE_UNSET)) return false;
    const bool truth = logic::truth_of(&values[0]);
    const cell* branch = work == control_work::either_branch             ? &values[truth ? 1 : 2]
                         : truth == (work == control_work::if_branch) ? &values[1]
                                                                       : nullptr;
    cell value = none_cell;
    const cell* first = nullptr;  // the first value of a branch that may be a return
    int64_t head = 0, tail = 0;
    if (branch) {
        memory::series_buffer* b = buffer(branch);
        head = index_of(branch);
        tail = cell_count(b);
        if (head + 1 != tail || take_operand(b->head_cell() + head, &value) != operand_step::taken) {
            first = b->head_cell() + head;
            if (work == control_work::either_branch || head + 1 >= tail || !first->is(TYPE_WORD)) return false;
        }
    }
    for (int e = 0; e < count; ++e)
        if (refuses(&plan.typesets[e], values[e].type())) return false;
    if (platform::native_stack_low()) return false;
    if (first) return return_branch_taken(branch, first, head, tail);
    stack::push_copy(&value);
    return true;
}

// if, unless and either: the condition a plain chain, the branches blocks written in
// place. The chosen branch is evaluated straight from its argument cell.
[[gnu::always_inline]] inline int64_t call_branch_directly(control_work work, const control_plan& plan,
                                                           const cell* callee, const cell* code,
                                                           int64_t position, const cell* word) {
    memory::series_buffer* b = buffer(code);
    const int64_t tail = cell_count(b);
    const int count = work == control_work::either_branch ? 3 : 2;
    cell values[3];
    // Near a stack's end the general call serves: the condition's chain and the frames
    // below leave out frames.
    int64_t next = plain_chain_with_room(code, position, tail, &values[0], 0);
    if (next < 0 || next + count - 1 > tail || !room_to_skip_frames()) return -1;
    const cell* branches = b->head_cell() + next;
    for (int e = 1; e < count; ++e)
        if (!branches[e - 1].is(TYPE_BLOCK)) return -1;
    next += count - 1;
    // A block followed by an operator is that operator's left operand; the branches lie
    // side by side, so only the last can be.
    if (operator_follows(code, next, tail)) return -1;
    values[1] = branches[0];
    if (count == 3) values[2] = branches[1];
    if (!tracing::active && branch_without_frame(work, plan, values, count)) return next;

    const cell call_word = *word;
    const control_frame f = open_control_frame(callee, &call_word, plan, values, count);
    cell* base = f.base;
    if (tracing::active || base->is(TYPE_UNSET)) [[unlikely]] {
        // Tracing sees the routine's own steps; either's unset! condition is its routine's error.
        run_control_routine(native::table_index(callee), false);
    } else if (work == control_work::either_branch) {
        (void)eval_block(logic::truth_of(base) ? base + 1 : base + 2, true);
    } else if (logic::truth_of(base) == (work == control_work::if_branch)) {
        (void)eval_block(base + 1, true);
    } else {
        stack::clear_frame_args();
        *stack::result_slot() = none_cell;
    }
    if (stack::exit_pending()) return next;
    close_control_frame(f, code, next, &call_word);
    return next;
}

// return: its value a plain chain; the exit is taken here.
[[gnu::always_inline]] inline int64_t call_return_directly(const control_plan& plan, const cell* callee,
                                                           const cell* code, int64_t position, const cell* word) {
    cell value;
    const int64_t next = plain_chain(code, position, length_of(code), &value, 0);
    if (next < 0) return -1;
    const cell call_word = *word;
    (void)open_control_frame(callee, &call_word, plan, &value, 1);
    if (tracing::active) [[unlikely]] {
        run_control_routine(natives::NATIVE_RETURN, false);
    } else {
        (void)stack::leave_function(true);
    }
    return next;
}

// The loops, any, all and case: their arguments taken as their shape says, their work
// done by the native's routine.
int64_t call_routine_directly(int index, const control_shape& shape, const control_plan& plan, const cell* callee,
                              const cell* code, int64_t position, const cell* word) {
    const int64_t tail = length_of(code);
    cell values[3];
    int64_t next = position;
    for (int e = 0; e < shape.count; ++e) {
        if (next >= tail) return -1;
        const cell* value = at(code, next);
        switch (shape.arguments[e]) {
            case control_argument::chain:
                next = plain_chain(code, next, tail, &values[e], 0);
                if (next < 0) return -1;
                break;
            case control_argument::block:
                // A block followed by an operator is that operator's left operand.
                if (!value->is(TYPE_BLOCK) || operator_follows(code, next + 1, tail)) return -1;
                values[e] = *value;
                ++next;
                break;
            case control_argument::literal:
                if (value->is(TYPE_PAREN) || value->is(TYPE_GET_WORD) || value->is(TYPE_GET_PATH)) return -1;
                values[e] = *value;
                ++next;
                break;
        }
    }
    const cell call_word = *word;
    const control_frame f = open_control_frame(callee, &call_word, plan, values, shape.count);
    run_control_routine(index, shape.has_refinement);
    if (stack::exit_pending()) return next;
    close_control_frame(f, code, next, &call_word);
    return next;
}

// A call of a control native (if, unless, either, return, any, all, case, while, until,
// loop, repeat, forever, foreach) met in the code whose arguments are all of its shape:
// they need no evaluation of their own, so the call's frame is made with them directly and
// the work is done here (a branch, return's exit) or by the native's routine, without the
// general call's gathering. The frame, its cells, the tests of the arguments and their
// errors are those of the general call. Answers the position after the arguments, or -1
// (having changed nothing) for the general call.
int64_t call_control_directly(const cell* callee, const cell* code, int64_t position, const cell* word) {
    const int index = native::table_index(callee);
    if (index < 1 || index > natives::TABLE_SIZE) return -1;
    const control_shape& shape = control_shapes[index];
    if (shape.work == control_work::none) return -1;
    const control_plan* plan = control_plan_of(index, callee);
    if (!plan || position >= length_of(code)) return -1;
    switch (shape.work) {
        case control_work::if_branch: case control_work::unless_branch: case control_work::either_branch:
            return call_branch_directly(shape.work, *plan, callee, code, position, word);
        case control_work::leave:
            return call_return_directly(*plan, callee, code, position, word);
        default:
            return call_routine_directly(index, shape, *plan, callee, code, position, word);
    }
}

// --- Call plans ------------------------------------------------------------------------------

// What a call of a function! needs to know of its descriptor block, worked out once per
// block: the positional arguments (all evaluated ones, each with its typeset) and the
// section after them (a logic! false per refinement, the /local one too, and a none! per
// refinement argument and local). Plans live in a small table keyed by the descriptor
// block's node, whose cell is kept here, alive and current, so that the node can never
// name another block while its plan stands. A function made anew, or from a changed spec,
// has descriptor blocks of its own and so plans of its own: a plan is never stale.
constexpr int PLAN_ARGUMENTS = 4;
constexpr int PLAN_SECTION = 32;
struct call_plan {
    int32_t positional = 0;
    int32_t section = 0;
    uint32_t refinement_cells = 0;  // bit i: section cell i (after the positional ones) is a refinement
    bool usable = false;            // false: the general call serves this function
    cell typesets[PLAN_ARGUMENTS];  // the accepted types, or a non-typeset cell for no test
};
constexpr int CALL_PLAN_SLOTS = 256;
cell call_plan_descriptors[CALL_PLAN_SLOTS];
call_plan call_plans[CALL_PLAN_SLOTS];

void mark_call_plans() { gc::mark_cells(call_plan_descriptors, call_plan_descriptors + CALL_PLAN_SLOTS); }

inline int call_plan_slot(const cell* descriptors) {
    return static_cast<int>((descriptors->w2 * 0x9E3779B1u) >> (32 - 8));
}
static_assert(CALL_PLAN_SLOTS == 1 << 8);

// Works out the plan of a descriptor block (nothing here allocates).
[[gnu::noinline]] const call_plan& make_call_plan(const cell* descriptors, int slot) {
    call_plan plan;
    const int64_t length = length_of(descriptors);
    if (length >= 2) {
        plan.positional = descriptor_count(descriptors, 0);
        plan.section = descriptor_count(descriptors, 1);
        plan.usable = plan.positional >= 0 && plan.positional <= PLAN_ARGUMENTS && plan.section >= plan.positional &&
                      plan.section - plan.positional <= PLAN_SECTION && length >= 2 + 2 * int64_t(plan.section);
    }
    for (int32_t e = 0; plan.usable && e < plan.section; ++e) {
        const cell* w = entry_word(descriptors, e);
        if (e < plan.positional) {
            // Get and literal arguments take the general gathering.
            if (!w->is(TYPE_WORD)) plan.usable = false;
            else plan.typesets[e] = *entry_detail(descriptors, e);
        } else if (w->is(TYPE_REFINEMENT)) {
            plan.refinement_cells |= 1u << (e - plan.positional);
        }
    }
    call_plan_descriptors[slot] = *descriptors;
    call_plans[slot] = plan;
    return call_plans[slot];
}

inline const call_plan& call_plan_of(const cell* descriptors) {
    const int slot = call_plan_slot(descriptors);
    const cell& known = call_plan_descriptors[slot];
    if (known.is(TYPE_BLOCK) && known.w2 == descriptors->w2) [[likely]]
        return call_plans[slot];
    return make_call_plan(descriptors, slot);
}

// A call of an interpreted function! met as a word of the code, taken apart from the
// general call: its plan replaces the reading of the descriptor block, and an argument
// that is a plain chain is computed in place. The frame, its cells, the order of every
// step, the argument tests and their errors are those of the general call; a function
// the plan does not cover (get or literal arguments, compiled bodies, the trace
// attribute, descriptors not built yet) answers -1, having changed nothing, for the
// general call. Tracing is off.
[[gnu::noinline]] int64_t call_function_directly(const cell* callee, const cell* code, int64_t position,
                                                 const cell* word) {
    if (callee->header & function::FLAG_TRACE) return -1;
    memory::series_buffer* extras = memory::buffer_of(callee->w3);
    if (cell_count(extras) <= function::EXTRAS_CODE) return -1;
    const cell* x = extras->head_cell();
    if (!x[function::EXTRAS_BODY].is(TYPE_BLOCK) || !x[function::EXTRAS_DESCRIPTORS].is(TYPE_BLOCK)) return -1;
    if (x[function::EXTRAS_CODE].is(TYPE_INTEGER) && integer::read_cell(x + function::EXTRAS_CODE) != 0) return -1;
    // A copy: evaluating an argument may call other functions, whose plans may take this
    // one's slot.
    const call_plan plan = call_plan_of(x + function::EXTRAS_DESCRIPTORS);
    if (!plan.usable) return -1;

    check_native_depth();
    // The function and its word in held cells, as the general call's record keeps them:
    // an exit or an error may reuse the argument-stack cells of the call before the body
    // gives back what it changed in the function's context.
    // Cells 2 and 3 are the body's own record (run_body_held), filled when it starts.
    held_cells<4> held(unfilled);
    held[0] = *callee;
    held[1] = *word;
    cell::init_unset(&held[2]);
    cell::init_unset(&held[3]);
    cell* function = &held[0];
    cell* call_word = &held[1];
    cell* reserved = stack::push_copy(function);
    stack::push_interp_function_frame(call_word, function->w1);
    cell* base = stack::state.args_base;
    [[maybe_unused]] const stack::frame* own_frame = stack::top_frame() - 1;
    for (int32_t e = 0; e < plan.positional; ++e) {
        const int64_t tail = length_of(code);
        if (position >= tail) {
            const cell descriptors = *function::extras_cell(function, function::EXTRAS_DESCRIPTORS);
            no_arg(call_word, &descriptors, e);
        }
        cell value;
        const int64_t next = plain_chain(code, position, tail, &value, 0);
        if (next >= 0) {
            stack::push_copy(&value);
            position = next;
        } else {
            position = eval_expression_at(code, position, false, true, false);
            if (stack::exit_pending()) return position;
        }
        const cell* argument = base + e;
        if (refuses(&plan.typesets[e], argument->type())) [[unlikely]] {
            const cell descriptors = *function::extras_cell(function, function::EXTRAS_DESCRIPTORS);
            argument_refused(call_word, argument, &descriptors, e);
        }
    }
    for (int32_t i = 0; i < plan.section - plan.positional; ++i) {
        cell* slot = stack::push_slot();
        if (plan.refinement_cells & (1u << i)) logic::make_in(slot, false);
        else *slot = none_cell;
    }

    // What invoke_held would find: an interpreted block body, tracing off, no trace
    // attribute (evaluating the arguments cannot change the function in its held cell).
    if (tracing::active) [[unlikely]] {
        invoke_held(function, function->w1, call_word, 0);
    } else {
        // The native-depth check made above serves the body too: it runs in this C++ frame.
        held[2] = *function::extras_cell(function, function::EXTRAS_BODY);
        held[3] = current;
        run_body_held(function, call_word, &held[2]);
    }
    if (stack::exit_pending()) return position;

    stack::assert_balanced(own_frame, base);
    stack::pop_function_frame();
    // An argument may have switched tracing on: the call's return is then reported, as
    // the general call reports it.
    trace(tracing::EVENT_RETURN, code, position, call_word, base);
    *reserved = *base;
    stack::state.args_top = reserved + 1;
    return position;
}

// --- Expressions -----------------------------------------------------------------------------

[[noreturn]] void raise_with(err id, const cell* value) {
    cell copy = *value;
    raise::throw_error(id, &copy);
}

// Plain chains. An expression made of a plain value (take_operand above, or a paren!
// holding one plain chain) followed by inline operators whose right operands are plain
// values takes no step that could fail, allocate, call or be traced, so no frame,
// current-code change or event of it can be seen: the fast tier computes its value in a
// C++ cell, and a chain that meets anything else (a call, a set-word, an operator case the
// inline cores refuse) gives up having changed nothing, for the full path to evaluate from
// the start. Nothing a chain does allocates or evaluates, so it reads its code's cells
// through one pointer from start to end.

// Parens nested deeper than this take the full path, which checks the native depth.
constexpr int PLAIN_PAREN_NESTING = 4;

// The result of a chain that met a paren! while parens were not taken: the chain starts
// again with them.
constexpr int64_t CHAIN_HAS_PAREN = -2;

int64_t plain_chain_with_parens(const cell* code, int64_t position, int64_t tail, cell* value, int nesting);

// The chain from the position (see plain_chain). PARENS: a paren! operand is evaluated as
// a nested chain; without it, a paren! answers CHAIN_HAS_PAREN, so that the usual chain,
// which has none, calls nothing and keeps its registers to itself.
template <bool PARENS>
[[gnu::always_inline]] inline int64_t chain_from(const cell* code, int64_t position, int64_t tail, cell* value,
                                                 int nesting) {
    const cell* cells = buffer(code)->head_cell();
    const auto take = [&](const cell* operand, cell* into) {
        const operand_step step = take_operand(operand, into);
        if (step != operand_step::paren) return step == operand_step::taken ? int64_t(0) : int64_t(-1);
        if (!PARENS) return CHAIN_HAS_PAREN;
        if (nesting >= PLAIN_PAREN_NESTING) return int64_t(-1);
        const int64_t head = index_of(operand);
        const int64_t paren_tail = length_of(operand);
        if (head >= paren_tail) return int64_t(-1);
        return plain_chain_with_parens(operand, head, paren_tail, into, nesting + 1) == paren_tail ? int64_t(0)
                                                                                                   : int64_t(-1);
    };
    if (const int64_t refused = take(cells + position, value)) return refused;
    for (++position; position < tail; position += 2) {
        const cell* op_value = operator_value(cells + position);
        if (!op_value) break;
        // An operator without its right operand is the full path's error.
        if (position + 1 >= tail) return -1;
        const int fast = op::inline_code(op_value);
        if (fast < 0) return -1;
        cell right;
        if (const int64_t refused = take(cells + position + 1, &right)) return refused;
        if (!fast_paths::run_inline(fast, value, &right)) return -1;
    }
    return position;
}

[[gnu::noinline]] int64_t plain_chain_with_parens(const cell* code, int64_t position, int64_t tail, cell* value,
                                                  int nesting) {
    return chain_from<true>(code, position, tail, value, nesting);
}

// The value of the plain chain from the position into *value; answers the position after
// it, or -1 when the expression there is not a plain chain. The chain ends where no
// operator follows, as the infix lookahead does. A chain with a paren! in it starts again,
// reading the same cells, in the version that takes parens. For a caller that tests
// room_to_skip_frames itself before it leaves out a frame on the strength of the chain.
int64_t plain_chain_with_room(const cell* code, int64_t position, int64_t tail, cell* value, int nesting) {
    const int64_t next = chain_from<false>(code, position, tail, value, nesting);
    if (next == CHAIN_HAS_PAREN) [[unlikely]]
        return plain_chain_with_parens(code, position, tail, value, nesting);
    return next;
}

// plain_chain_with_room, with -1 near a stack's end. The room is tested once a chain is
// found: finding it changes nothing.
[[gnu::always_inline]] inline int64_t plain_chain(const cell* code, int64_t position, int64_t tail, cell* value,
                                                  int nesting) {
    const int64_t next = plain_chain_with_room(code, position, tail, value, nesting);
    return next >= 0 && !room_to_skip_frames() ? -1 : next;
}

// A plain operand's value, or the value of a paren! holding exactly one plain chain.
[[gnu::always_inline]] inline bool plain_value(const cell* operand, cell* value, int nesting) {
    switch (take_operand(operand, value)) {
        case operand_step::taken:
            return true;
        case operand_step::paren: {
            if (nesting >= PLAIN_PAREN_NESTING) return false;
            const int64_t head = index_of(operand);
            const int64_t tail = length_of(operand);
            return head < tail && plain_chain_with_room(operand, head, tail, value, nesting + 1) == tail;
        }
        default:
            return false;
    }
}

// The blocks and parens (by node and index) whose plain-chain attempt failed lately: the
// next evaluation of one goes straight to the full path. A stale entry (the block was
// changed, a word got another value, the node now holds another block) only sends an
// evaluation the long way, which is always exact.
constexpr int NOT_PLAIN_SLOTS = 1024;
struct not_plain_entry {
    node_ref node_plus_one;
    uint32_t index;
};
not_plain_entry not_plain[NOT_PLAIN_SLOTS];

// A place of a series (its node and a key: an index, or a marked position) whose last
// attempt as a plain chain failed. A stale or overwritten entry only costs an attempt.
class not_plain_place {
public:
    not_plain_place(node_ref node, uint32_t key)
        : entry_(not_plain[((node * 0x9E3779B1u) ^ (key * 0x85EBCA6Bu)) >> (32 - 10)]), node_(node), key_(key) {}
    bool known() const { return entry_.node_plus_one == node_ + 1 && entry_.index == key_; }
    void remember() { entry_ = {node_ + 1, key_}; }

private:
    not_plain_entry& entry_;
    node_ref node_;
    uint32_t key_;
};
static_assert(NOT_PLAIN_SLOTS == 1 << 10);

// The value of a block or paren! (from its index) that is exactly one plain chain.
inline bool plain_block_value(const cell* block, cell* value) {
    not_plain_place place(block->w2, block->w1);
    if (place.known()) return false;
    const int64_t head = index_of(block);
    memory::series_buffer* b = buffer(block);
    const int64_t tail = cell_count(b);
    // A block of one value (a branch like [n]) is its operand, without the chain's loop.
    // Near a stack's end a plain block gives way, not remembered as one that is not.
    if (head + 1 == tail) {
        const operand_step step = take_operand(b->head_cell() + head, value);
        if (step == operand_step::taken) return room_to_skip_frames();
        if (step == operand_step::refused) {
            place.remember();
            return false;
        }
    }
    if (head < tail && plain_chain_with_room(block, head, tail, value, 0) == tail) return room_to_skip_frames();
    place.remember();
    return false;
}

[[gnu::always_inline]] inline int64_t eval_word_call(const cell* code, int64_t position, bool no_infix, bool push,
                                                     const cell callee);

// An operator met after a complete expression, when the next value is a word! whose
// value is an op! and its inline case in run_operators did not apply. The left operand
// lies at args_top - 1 (= start). fast: the operator's fast-path code as run_operators
// found it, which it gives only when a right operand follows (-1 otherwise, with tracing
// on, or with the fast tier off). Answers the position after the operator's right
// operand.
[[gnu::noinline]] int64_t call_infix(const cell* code, int64_t position, cell* start, int fast) {
    stack::state.args_top = start + 1;
    held_cells<2> held(unfilled);  // both filled before anything can allocate
    cell& op_word = held[0];
    cell& op_value = held[1];
    op_word = *at(code, position);
    op_value = *peek_value(&op_word);
    if (tracing::active) [[unlikely]] {
        tracing::fire(tracing::EVENT_FETCH, code, position, nullptr, &op_word);
        // The tracer may have switched tracing off.
        fast = tracing::active || !fast_tier || position + 1 >= length_of(code) ? -1 : op::inline_code(&op_value);
    }
    // Without a right operand the full call raises the missing argument. The full call
    // also tests the left operand before it evaluates the right one: only a left operand
    // that every coded operator takes (see op::inline_code) leaves that test for later.
    if (fast < 0 || !(start->is(TYPE_INTEGER) || start->is(TYPE_FLOAT))) {
        argument_source source{code, position + 1};
        return call_callable(&op_value, source, true, nullptr, 0, &op_word, infix_mode::left_in_place, 0, 0);
    }
    // The fast path still runs in the operator's frame, so an error in the right operand
    // names the operator as a full call would.
    stack::state.args_top = start;
    stack::push_interp_call_frame(&op_word);
    stack::state.args_top = start + 1;
    // A right operand that calls (as in `x + f 5`) goes to its call at once: the lookahead
    // in run_operators has just peeked it, and nothing ran since.
    const cell* operand = at(code, position + 1);
    const cell* operand_value = operand->is(TYPE_WORD) ? peek_value(operand) : nullptr;
    const int64_t next = operand_value && value_kind_of(operand_value) == value_kind::callable
                             ? eval_word_call(code, position + 1, true, true, *operand_value)
                             : eval_expression_at(code, position + 1, true, true, false);
    if (stack::exit_pending()) return next;
    if (fast_paths::run_inline(fast, start, start + 1)) {
        stack::pop_frame();
        return next;
    }
    argument_source source{code, next};
    return call_callable(&op_value, source, true, nullptr, 0, &op_word, infix_mode::both_in_frame, 0, 0);
}

// The op! value when the value at the position is a word whose value is an op! (an
// infix operator follows the expression just evaluated); null otherwise.
[[gnu::always_inline]] inline const cell* operator_at(const cell* code, int64_t position) {
    memory::series_buffer* b = buffer(code);
    if (position >= cell_count(b)) return nullptr;
    return operator_value(b->head_cell() + position);
}

// In result mode the expression's value at start becomes the frame's result.
[[gnu::always_inline]] inline void expression_result(const cell* code, int64_t position, cell* start, bool push) {
    if (!push) {
        cell* base = stack::state.args_base;
        *base = *start;
        stack::state.args_top = base + 1;
        trace(tracing::EVENT_EXPR, code, position, nullptr, base);
    }
}

// The operators that follow an expression, the first one at the position, left to right;
// then the result as finish_expression gives it. Out of line: an expression followed by
// no operator (most arguments) keeps its evaluation small.
// The common case of an operator is done here: an inline operator whose right operand is
// a plain value needs neither the operator's frame (nothing can fail before the
// operation) nor a nested expression evaluation.
[[gnu::noinline]] int64_t run_operators(const cell* code, int64_t position, cell* start, bool push,
                                        const cell* op_value) {
    do {
        stack::state.args_top = start + 1;
        int fast = -1;
        memory::series_buffer* b = buffer(code);
        if (!tracing::active && fast_tier && position + 1 < cell_count(b)) [[likely]] {
            fast = op::inline_code(op_value);
            cell operand;
            if (fast >= 0 && plain_value(b->head_cell() + position + 1, &operand, 0) && room_to_skip_frames() &&
                fast_paths::run_inline(fast, start, &operand)) {
                position += 2;
                continue;
            }
        }
        position = call_infix(code, position, start, fast);
        if (stack::exit_pending()) return position;
    } while ((op_value = operator_at(code, position)) != nullptr);
    expression_result(code, position, start, push);
    return position;
}

// After an expression's value lies at start: the infix lookahead (unless no_infix), then
// in result mode the value becomes the frame's result. Answers the position after it.
[[gnu::always_inline]] inline int64_t finish_expression(const cell* code, int64_t position, cell* start, bool no_infix,
                                                        bool push) {
    if (!no_infix) {
        const cell* op_value = operator_at(code, position);
        if (op_value) return run_operators(code, position, start, push, op_value);
    }
    expression_result(code, position, start, push);
    return position;
}

// The variable a set-word assigns when nothing but the store itself has to happen: the
// word is bound and resolved, and its context is not an object's (whose assignment
// marks the key and may run a change handler). Null sends the assignment through the
// full path, which also raises every error of it.
inline cell* assignable_slot(const cell* word) {
    const node_ref context = word->w1;
    const auto index = static_cast<int32_t>(word->w3);
    if (!context || index < 0) return nullptr;
    const cell* record = memory::buffer_of(context)->head_cell();
    if (record->header & context::FLAG_ON_STACK) {
        const uint32_t position = record->w2;
        if (!position || index >= context::key_count(context)) return nullptr;
        cell* slot = stack::state.args_begin + (position - 1) + index;
        return slot < stack::state.args_end ? slot : nullptr;
    }
    if (((record->header & context::KIND_MASK) >> context::KIND_SHIFT) == context::KIND_OBJECT) return nullptr;
    memory::series_buffer* values = memory::buffer_of(record->w2);
    return index < cell_count(values) ? values->head_cell() + index : nullptr;
}

// The set-word's frame holds the set-word at its base and the value above it: the store
// of word::set_from_args when it needs no more than the store. Answers false, touching
// nothing, when the full path must run.
inline bool assign_directly() {
    // word::set_from_args holds its cells on the stack, which near its end overflows.
    if (!fast_tier || !room_to_skip_frames()) return false;
    cell* base = stack::state.args_base;
    const cell value = base[1];
    if (value.is(TYPE_UNSET)) return false;
    cell* slot = assignable_slot(base);
    if (!slot) return false;
    *slot = value;
    base[0] = value;
    return true;
}

// A paren! as an expression's value, pushed: its block evaluated in a frame named <body>.
// Answers false when an exit is pending.
[[gnu::always_inline]] inline bool push_paren_value(const cell* paren) {
    stack::push_interp_call_frame(words::body);
    if (eval_block_framed(paren, true)) return false;
    stack::pop_frame();
    return true;
}

// A set-word met in the code (position: just after it), its value evaluated in the
// set-word's frame above the set-word, then stored; the value is pushed. Answers the
// position after the value (an exit may be pending).
[[gnu::always_inline]] inline int64_t assign_set_word(const cell* code, int64_t position,
                                                     const cell* set_word_value) {
    stack::push_interp_call_frame(set_word_value);
    cell* set_word = stack::push_copy(set_word_value);
    trace(tracing::EVENT_PUSH, code, position, nullptr, set_word);
    if (position >= length_of(code)) raise_with(err::script_need_value, set_word);
    position = eval_expression_at(code, position, false, true, false);
    if (stack::exit_pending()) return position;
    trace(tracing::EVENT_SET, code, position, stack::state.args_base, stack::state.args_base + 1);
    if (!assign_directly()) word::set_from_args();
    stack::pop_frame();
    return position;
}

// Every expression that is not a plain value: calls, assignments, parens, paths, and
// any expression while tracing is on. Out of line, so that the plain values (most of
// the expressions a program evaluates) run through the small entry below.
[[gnu::noinline]] int64_t eval_expression_full(const cell* code, int64_t position, bool no_infix, bool push,
                                               bool keep_functions) {
    check_native_depth();
    cell* start = stack::state.args_top;
    const int64_t expression_start = position;
    cell value = *at(code, position);
    if (tracing::active) [[unlikely]] {
        // The tracer may allocate: the value is read again, never kept across it.
        tracing::fire(tracing::EVENT_FETCH, code, position, nullptr, &value);
        value = *at(code, position);
    }
    ++position;

    switch (value.type()) {
        case TYPE_PAREN: {
            if (!push_paren_value(&value)) return position;
            break;
        }
        case TYPE_SET_WORD: {
            position = assign_set_word(code, position, &value);
            if (stack::exit_pending()) return position;
            break;
        }
        case TYPE_SET_PATH: {
            // The set-path is kept across the evaluation of its value.
            held_cells<1> set_path;
            set_path[0] = value;
            trace(tracing::EVENT_PUSH, code, position, nullptr, &set_path[0]);
            if (position >= length_of(code)) raise_with(err::script_need_value, &set_path[0]);
            stack::push_interp_call_frame(words::set_path);
            position = eval_expression_at(code, position, false, true, false);
            if (stack::exit_pending()) return position;
            trace(tracing::EVENT_SET, code, position, &set_path[0], stack::state.args_base);
            eval_path_at(&set_path[0], code, position, true, false, false, nullptr);
            if (stack::exit_pending()) return position;
            stack::pop_frame();
            break;
        }
        case TYPE_GET_WORD:
            get_word::push_value(&value);
            trace(tracing::EVENT_PUSH, code, position, nullptr, start);
            break;
        case TYPE_LIT_WORD: {
            cell* w = stack::push_copy(&value);
            cell::set_type(w, TYPE_WORD);
            trace(tracing::EVENT_PUSH, code, position, nullptr, w);
            break;
        }
        case TYPE_WORD: {
            const cell* v = peek_value(&value);
            if (!v) [[unlikely]]
                v = word::get_value(&value);
            switch (v->type()) {
                case TYPE_UNSET:
                    raise_with(err::script_no_value, &value);
                case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: {
                    const cell callee = *v;
                    if (callee.is(TYPE_NATIVE) && fast_tier && !tracing::active) {
                        const int64_t next = call_control_directly(&callee, code, position, &value);
                        if (next >= 0) {
                            position = next;
                            if (stack::exit_pending()) return position;
                            break;
                        }
                    }
                    argument_source source{code, position};
                    position = call_from_code(&callee, source, &value);
                    if (stack::exit_pending()) return position;
                    break;
                }
                case TYPE_OP:
                    raise_with(err::script_no_op_arg, &value);
                default:
                    stack::push_copy(v);
                    trace(tracing::EVENT_PUSH, code, position, nullptr, start);
                    break;
            }
            break;
        }
        case TYPE_PATH:
            position = eval_path_at(&value, code, position, false, false, true, nullptr);
            if (stack::exit_pending()) return position;
            break;
        case TYPE_LIT_PATH: {
            cell* p = stack::push_copy(&value);
            p->header = TYPE_PATH;
            p->w3 = 0;
            trace(tracing::EVENT_PUSH, code, position, nullptr, p);
            break;
        }
        case TYPE_GET_PATH:
            position = eval_path_at(&value, code, position, false, true, true, nullptr);
            if (stack::exit_pending()) return position;
            break;
        case TYPE_ISSUE: {
            if (position < length_of(code) && at(code, position)->is(TYPE_BLOCK)) {
                int32_t canonical = symbol::canonical_id(static_cast<int32_t>(value.w2));
                if (canonical == symbol::canonical_id(symbols::system) ||
                    canonical == symbol::canonical_id(symbols::system_global)) {
                    raise::throw_error(err::internal_zor_system);
                }
            }
            stack::push_copy(&value);
            trace(tracing::EVENT_PUSH, code, position, nullptr, start);
            break;
        }
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
            if (keep_functions) {
                stack::push_copy(&value);
                trace(tracing::EVENT_PUSH, code, position, nullptr, start);
            } else {
                argument_source source{code, position};
                position = call_callable(&value, source, true, nullptr, 0, words::anon, infix_mode::none, 0, 0);
                if (stack::exit_pending()) return position;
            }
            break;
        case TYPE_OP:
            raise::throw_error(err::internal_not_done);
        default:
            stack::push_copy(&value);
            trace(tracing::EVENT_PUSH, code, position, nullptr, start);
            break;
    }

    (void)expression_start;
    return finish_expression(code, position, start, no_infix, push);
}

// A set-word whose value is a plain chain, stored straight into its variable: its frame
// and events are invisible, and the store is assign_directly's. Answers the position
// after the expression, or -1 (having changed nothing) for the full path.
int64_t assign_plain_chain(const cell* code, int64_t position, bool no_infix, bool push) {
    const int64_t tail = length_of(code);
    if (position + 1 >= tail) return -1;
    // A set-word whose chain failed lately is remembered beside the blocks that are not
    // plain, its position marked by the top bit so that it never meets a block's index.
    not_plain_place place(code->w2, static_cast<uint32_t>(position) | 0x80000000u);
    if (place.known()) return -1;
    cell value;
    const int64_t next = plain_chain_with_room(code, position + 1, tail, &value, 0);
    if (next < 0) {
        place.remember();
        return -1;
    }
    // Near a stack's end the chain gives way, not remembered as one that fails.
    if (!room_to_skip_frames()) return -1;
    cell* slot = assignable_slot(at(code, position));
    if (!slot) return -1;
    // The slot is taken before the store, so that a full stack stops the expression
    // before it changes anything.
    cell* start = stack::push_copy(&value);
    *slot = value;
    return finish_expression(code, next, start, no_infix, push);
}

// The full path's set-word (tracing off, so no event of it fires), for a value that is not
// a plain chain, without the rest of the full path's scaffolding.
[[gnu::noinline]] int64_t assign_evaluated(const cell* code, int64_t position, bool no_infix, bool push) {
    check_native_depth();
    cell* start = stack::state.args_top;
    const cell set_word = *at(code, position);
    position = assign_set_word(code, position + 1, &set_word);
    if (stack::exit_pending()) return position;
    return finish_expression(code, position, start, no_infix, push);
}

// A set-word starting an expression (tracing off, the fast tier on): its value a plain
// chain stored in place, else evaluated in the set-word's frame.
[[gnu::noinline]] int64_t eval_set_word_expression(const cell* code, int64_t position, bool no_infix, bool push) {
    const int64_t next = assign_plain_chain(code, position, no_infix, push);
    if (next >= 0) return next;
    return assign_evaluated(code, position, no_infix, push);
}

// A paren! starting an expression (tracing off, the fast tier on): the value of one plain
// chain computed in place, else the full path's paren without the rest of its scaffolding.
[[gnu::noinline]] int64_t eval_paren_expression(const cell* code, int64_t position, bool no_infix, bool push) {
    const cell* first = at(code, position);
    cell value;
    cell* start;
    if (plain_block_value(first, &value)) {
        start = stack::push_copy(&value);
    } else {
        start = stack::state.args_top;
        const cell paren = *first;
        if (!push_paren_value(&paren)) return position + 1;
    }
    return finish_expression(code, position + 1, start, no_infix, push);
}

// A word whose value is callable, met at the start of an expression (tracing off, the fast
// tier on): a function! or a control native by its direct call, anything else (and
// whatever the direct calls do not take) by the general call, as the full path makes it.
// The callee is the word's value, copied before anything can allocate.
[[gnu::always_inline]] inline int64_t eval_word_call(const cell* code, int64_t position, bool no_infix, bool push,
                                         const cell callee) {
    cell* start = stack::state.args_top;
    int64_t next = -1;
    {
        const cell word = *at(code, position);
        if (callee.is(TYPE_FUNCTION)) next = call_function_directly(&callee, code, position + 1, &word);
        else if (callee.is(TYPE_NATIVE)) next = call_control_directly(&callee, code, position + 1, &word);
    }
    if (next < 0) {
        // The direct calls changed nothing: the word and its value are read again, as the
        // full path reads them.
        const cell word = *at(code, position);
        const cell* value = peek_value(&word);
        if (!value || value_kind_of(value) != value_kind::callable) [[unlikely]]
            return eval_expression_full(code, position, no_infix, push, false);
        const cell called = *value;
        argument_source source{code, position + 1};
        next = call_from_code(&called, source, &word);
    }
    if (stack::exit_pending()) return next;
    return finish_expression(code, next, start, no_infix, push);
}

// `eval/eval-expression` at a position before the tail. One look at the first value
// picks the way: a value that stands for itself, or a word whose value is one, is copied
// without any of the full path's scaffolding (no step of it can fail, allocate, call or be
// traced with tracing off; nor does it need a depth check: only the infix lookahead
// recurses, and the calls it makes check); a word whose value is callable goes to
// eval_word_call, a set-word or a paren! to their own steps, anything else to the
// full path.
int64_t eval_expression_at(const cell* code, int64_t position, bool no_infix, bool push, bool keep_functions) {
    if (tracing::active) [[unlikely]]
        return eval_expression_full(code, position, no_infix, push, keep_functions);
    memory::series_buffer* b = buffer(code);
    const cell* value = b->head_cell() + position;
    switch (code_kind_of(value)) {
        case code_kind::plain:
            break;
        case code_kind::word: {
            value = peek_value(value);
            if (!value) return eval_expression_full(code, position, no_infix, push, keep_functions);
            const value_kind kind = value_kind_of(value);
            if (kind == value_kind::plain) break;
            if (kind == value_kind::callable && fast_tier)
                return eval_word_call(code, position, no_infix, push, *value);
            return eval_expression_full(code, position, no_infix, push, keep_functions);
        }
        case code_kind::paren:
            if (!fast_tier) return eval_expression_full(code, position, no_infix, push, keep_functions);
            return eval_paren_expression(code, position, no_infix, push);
        case code_kind::set_word:
            if (!fast_tier) return eval_expression_full(code, position, no_infix, push, keep_functions);
            return eval_set_word_expression(code, position, no_infix, push);
        default:
            return eval_expression_full(code, position, no_infix, push, keep_functions);
    }
    cell* start = stack::push_copy(value);
    ++position;
    // Nothing has allocated since the code's cells were read: the operator lookahead reads
    // them through the same buffer.
    if (!no_infix && position < cell_count(b)) {
        if (const cell* op_value = operator_value(b->head_cell() + position))
            return run_operators(code, position, start, push, op_value);
    }
    expression_result(code, position, start, push);
    return position;
}

// --- Paths ------------------------------------------------------------------------------------

// The in-place flag of a path step: set mode, at least the third element, the last one,
// and a container (the value before the parent) that is a block!, paren!, hash!, a path
// type or an object: the changed value is stored back into the container.
bool in_place_container(type_id type) {
    return type_classes::is(type, type_classes::ANY_BLOCK) || type == TYPE_OBJECT;
}

// The cell a path step read its parent from: the head word's variable, or the cell of
// the container that the element selected (a block's element, an object's field). Null
// when there is none, or when it no longer holds the value the walk read (a paren in the
// path may have changed it meanwhile). Allocates nothing and runs no user code.
cell* home_of(const cell* read, const cell* container, const cell* selector, bool from_head) {
    cell* home = nullptr;
    if (from_head) {
        home = word::get_value(selector);
    } else if (type_classes::is(container->type(), type_classes::ANY_BLOCK)) {
        if (selector->is(TYPE_INTEGER)) {
            const int64_t n = static_cast<int32_t>(selector->w2);
            const int64_t p = index_of(container) + n - (n > 0 ? 1 : 0);
            if (n != 0 && p >= 0 && p < length_of(container)) home = buffer(container)->head_cell() + p;
        } else {
            cell key = *selector;
            cell* found = selector->is(TYPE_WORD) && !container->is(TYPE_HASH)
                              ? block::select_word(container, selector, false)
                              : block::select_value(container, &key);
            if (found != &none::value) home = found;
        }
    } else if (container->is(TYPE_OBJECT) && word::is_any_word_type(selector->type())) {
        const int32_t index = context::find_symbol(container->w1, static_cast<int32_t>(selector->w2), true);
        if (index >= 0) home = context::value_at(container->w1, index);
    }
    if (!home || std::memcmp(home, read, sizeof(cell)) != 0) return nullptr;
    return home;
}

int64_t eval_path_at(const cell* path, const cell* code, int64_t position, bool set, bool get, bool push,
                     path_resume* resume) {
    check_native_depth();
    held_cells<2> held;
    cell& the_path = held[0];
    cell& the_code = held[1];
    the_path = *path;
    if (code) the_code = *code;
    const cell* code_cell = code ? &the_code : nullptr;
    cell* start = stack::state.args_top;
    cell* set_value = stack::state.args_base;

    const int64_t head = index_of(&the_path);
    const int64_t length = length_of(&the_path);
    if (head >= length) raise_with(err::script_empty_path, &the_path);
    trace(tracing::EVENT_ENTER, nullptr, -1, nullptr, nullptr);

    // The walk's cells: the value before the parent, the parent (the current value), the
    // previous element and the element.
    cell* grandparent = stack::push_slot();
    cell* parent = stack::push_slot();
    cell* previous = stack::push_slot();
    cell* element = stack::push_slot();
    cell* walk_top = stack::state.args_top;

    int64_t first = head + 1;
    if (resume && resume->element > head) {
        // Resuming a walk that stopped: its value and parent come back from the record.
        first = resume->element;
        *grandparent = resume->parent;
        *parent = resume->value;
        *previous = *at(&the_path, first - 1);
        resume->element = -1;
    } else {
        trace(tracing::EVENT_FETCH, &the_path, head, nullptr, at(&the_path, head));
        const cell head_word = *at(&the_path, head);
        if (!head_word.is(TYPE_WORD)) raise_with(err::script_word_first, &the_path);
        const cell* v = word::get_value(&head_word);
        if (v->is(TYPE_UNSET)) {
            cell named = head_word;
            cell whole = the_path;
            raise::throw_error(err::script_unset_path, &whole, &named);
        }
        if (is_callable(v->type())) {
            if (set) raise_with(err::script_invalid_path_set, &the_path);
            if (get) raise_with(err::script_invalid_path_get, &the_path);
            const cell callee = *v;
            stack::state.args_top = start;
            argument_source source{code_cell ? code_cell : &the_path, code_cell ? position : length};
            return call_callable(&callee, source, push, &the_path, head, &head_word, infix_mode::none, 0, 0);
        }
        *parent = *v;
        *previous = head_word;
        trace(tracing::EVENT_PUSH, &the_path, head + 1, nullptr, parent);
    }

    for (int64_t k = first; k < length_of(&the_path); ++k) {
        const bool last = k == length_of(&the_path) - 1;
        *element = *at(&the_path, k);
        trace(tracing::EVENT_FETCH, &the_path, k, nullptr, element);
        if (element->is(TYPE_PAREN) && resume && resume->stop_at_paren) {
            resume->element = k;
            resume->value = *parent;
            resume->parent = *grandparent;
            break;
        }
        if (element->is(TYPE_GET_WORD)) {
            *element = *word::get_value(element);
        } else if (element->is(TYPE_PAREN)) {
            const cell paren = *element;
            stack::push_interp_call_frame(words::anon);
            if (eval_block(&paren, true)) return position;
            stack::pop_frame();
            *element = *stack::last_slot();
            stack::state.args_top = walk_top;
        }
        trace(tracing::EVENT_PUSH, &the_path, k + 1, nullptr, element);
        if (element->is(TYPE_UNSET)) {
            cell whole = the_path;
            cell named = *element;
            raise::throw_error(err::script_invalid_path, &whole, &named);
        }
        auto handler = reinterpret_cast<action_handler<ACTION_EVAL_PATH>>(
            actions::find_path_handler(parent, ACTION_EVAL_PATH, &the_path, element, static_cast<int>(k)));
        const bool setting = set && last;
        const bool in_place = setting && k - head >= 2 && in_place_container(grandparent->type());
        const cell read = *parent;
        cell* answer = handler(parent, element, setting ? set_value : nullptr, &the_path, grandparent, previous,
                               static_cast<int>(k), 0, get, last, in_place);
        if (setting && std::memcmp(parent, &read, sizeof(cell)) != 0) {
            // The step changed the value itself (a component of a pair!, tuple!, time! ...),
            // and the walk holds only a copy of it: the change goes into the cell that the
            // path reached, and its container hears of it.
            cell* home = home_of(&read, grandparent, previous, k == head + 1);
            if (home && k != head + 1 && grandparent->is(TYPE_HASH)) {
                // A hash! element changes value: its index entry goes and comes back.
                const int64_t at_position = home - buffer(grandparent)->head_cell();
                hashtable::delete_cell(grandparent->w3, home);
                buffer(grandparent)->head_cell()[at_position] = *parent;
                series::hash_index::enter_cell(grandparent, at_position);
                home = buffer(grandparent)->head_cell() + at_position;
            } else if (home) {
                *home = *parent;
            }
            if (home && in_place) owner_track::notify_component_set(home, &read, set_value, grandparent, previous);
        }
        const cell result = setting ? *set_value : *answer;
        stack::state.args_top = walk_top;
        *grandparent = *parent;
        *parent = result;
        *previous = *element;
        if (!set && !get && is_callable(parent->type())) {
            // A function reached through the path takes the elements after it as its
            // refinements, and the call ends the path.
            held_cells<1> callee;
            callee[0] = *parent;
            node_ref object_context = 0;
            if (grandparent->is(TYPE_OBJECT) && grandparent->w1 != context::global) object_context = grandparent->w1;
            const cell call_word = element->type() >= TYPE_WORD && element->type() <= TYPE_GET_WORD
                                       ? as_word(element)
                                       : *words::anon;
            stack::state.args_top = start;
            argument_source source{code_cell ? code_cell : &the_path, code_cell ? position : length};
            return call_callable(&callee[0], source, push, &the_path, k, &call_word, infix_mode::none, object_context,
                                 0);
        }
    }

    trace(tracing::EVENT_EXIT, nullptr, -1, nullptr, parent);
    const cell value = *parent;
    stack::state.args_top = start;
    if (push) stack::push_copy(&value);
    else stack::set_result_truncate(&value);
    return position;
}

// --- Function bodies ---------------------------------------------------------------------------

// The record cell of a context and the values word that points its values at an
// argument-stack cell (runtime/binding/context.h's set_stack_values), written here directly since
// every function call sets and restores it.
inline cell* context_record(node_ref context) { return memory::buffer_of(context)->head_cell(); }
inline uint32_t stack_values_word(const cell* first) {
    return static_cast<uint32_t>(first - stack::state.args_begin) + 1;
}

// What a function body changes for its run and gives back however the run ends: the
// context's values, the body flag of the frame it ran in (through that frame, and only
// while it still exists) and the tracing switch. The function lies in a held cell that
// outlives the scope.
class body_scope {
public:
    explicit body_scope(const cell* function)
        : function_(function),
          frame_(stack::state.frames_top > stack::state.frames_begin ? stack::state.frames_top - 1 : nullptr),
          saved_active_(tracing::active) {
        cell* record = context_record(function->w1);
        saved_values_ = record->w2;
        record->w2 = stack_values_word(stack::state.args_base);
        if (frame_) {
            had_body_flag_ = (frame_->header & stack::FRAME_BODY_FLAG) != 0;
            frame_->header |= stack::FRAME_BODY_FLAG;
        }
        if (function->header & function::ATTRIBUTE_MASK) [[unlikely]] {
            if (!(function->header & function::FLAG_TRACE)) tracing::active = false;
            else if (tracing::tracer_active) tracing::active = true;
        }
    }
    ~body_scope() {
        tracing::active = saved_active_;
        // The frame storage never moves: the frame is the one the body ran in for as long
        // as the stack reaches it.
        if (!had_body_flag_ && frame_ < stack::state.frames_top) frame_->header &= ~stack::FRAME_BODY_FLAG;
        context_record(function_->w1)->w2 = saved_values_;
    }
    body_scope(const body_scope&) = delete;
    body_scope& operator=(const body_scope&) = delete;

private:
    const cell* function_;
    stack::frame* frame_;  // null when the body runs with no frame at all
    bool saved_active_;
    bool had_body_flag_ = true;  // true: nothing to clear
    uint32_t saved_values_ = 0;
};

bool ends_in_body(uint32_t code) { return code == THROW_RETURN || code == THROW_EXIT; }

// `eval/run-function-body`: the arguments and locals at args_base become the context's
// values, the body runs as a block passing its result to args_base, and a return or exit
// aimed at this body ends here. The function, its word (none! for none) and its body lie
// in held cells.
void run_function_body(const cell* function, const cell* word, const cell* body) {
    cell* base = stack::state.args_base;
    {
        body_scope scope(function);
        if (tracing::active) [[unlikely]] {
            const int64_t body_head = body->is(TYPE_BLOCK) ? index_of(body) : -1;
            tracing::fire(tracing::EVENT_PROLOG, body, body_head, word, function);
        }
        if (body->is(TYPE_BLOCK)) {
            // The body is a catch point: an exit that had to cross C++ code as an exception
            // becomes pending again here.
            stack::catch_exits([&] { (void)eval_block(body, true); });
        } else {
            cell::init_unset(base);
            stack::state.args_top = base + 1;
        }
        if (tracing::active) {
            uint32_t set_aside = stack::take_pending();
            const int64_t body_tail = body->is(TYPE_BLOCK) ? length_of(body) : -1;
            tracing::fire(tracing::EVENT_EPILOG, body, body_tail, word, function);
            stack::pending_code = set_aside;
        }
    }
    if (ends_in_body(stack::pending_code)) {
        stack::take_pending();
        stack::state.args_base = base;
        stack::state.args_top = base + 1;
    }
}

// Evaluates the block's expressions from the position in the block frame on top, each
// value replacing the last in its result slot (unset! for an empty block), with the
// current-code cell following along. Answers true when an exit became pending.
[[gnu::always_inline]] inline bool run_expressions(const cell* code, int64_t position) {
    if (position >= length_of(code)) {
        cell::init_unset(stack::state.args_base);
        stack::state.args_top = stack::state.args_base + 1;
        return false;
    }
    current = *code;
    for (;;) {
        current.w1 = static_cast<uint32_t>(position);
        position = eval_expression_at(code, position, false, false, false);
        if (stack::exit_pending()) return true;
        if (position >= length_of(code)) return false;
        stack::clear_frame_args();
    }
}

// The usual function body: a block, entered with tracing off and no trace flag turning
// it on. run_function_body, its exit catch point and eval_block's block frame in one C++
// frame, on a held-cell record of two that the caller made and filled: the body, then
// the current-code cell to restore. A recursive function pays for one layer per call
// instead of three. Tracing switched on by the body itself still sees the block's exit
// and the body's epilog.
[[gnu::always_inline]] inline void run_body_held(const cell* function, const cell* word, cell* held) {
    cell* base = stack::state.args_base;
    const cell* code = &held[0];
    {
        body_scope scope(function);
        try {
            struct code_restore {
                cell& saved;
                ~code_restore() { current = saved; }
            } restore{held[1]};
            stack::push_block_frame();
            if (!run_expressions(code, index_of(code))) {
                trace(tracing::EVENT_EXIT, code, length_of(code), nullptr, stack::state.args_base);
                stack::pop_frame_pass_result();
            }
        } catch (const zor_throw& thrown) {
            // The body is a catch point: an exit that had to cross C++ code as an
            // exception becomes pending again here.
            if (!stack::is_exit_code(thrown.code)) throw;
            stack::pending_code = thrown.code;
        }
        if (tracing::active) [[unlikely]] {
            uint32_t set_aside = stack::take_pending();
            tracing::fire(tracing::EVENT_EPILOG, code, length_of(code), word, function);
            stack::pending_code = set_aside;
        }
    }
    if (ends_in_body(stack::pending_code)) {
        stack::take_pending();
        stack::state.args_base = base;
        stack::state.args_top = base + 1;
    }
}

void run_block_body(const cell* function, const cell* word, const cell* body_cell) {
    check_native_depth();
    held_cells<2> held(unfilled);
    held[0] = *body_cell;
    held[1] = current;
    run_body_held(function, word, &held[0]);
}

// A compiled function body: the code-registry entry named by extras cell 2.
void run_compiled_body(const cell* function, int32_t code_index, node_ref context) {
    auto body = reinterpret_cast<compiled_body>(code_registry::code_of(code_index));
    if (!body) raise::throw_error(err::internal_not_done);
    held_cells<1> held;
    held[0] = *function;
    cell* context_cell = context::context_cell(function->w1);
    const uint32_t saved_values = context_cell->w2;
    context::set_stack_values(function->w1, stack::state.args_base);
    struct restore_values {
        held_cells<1>& held;
        uint32_t saved;
        ~restore_values() { context::context_cell(held[0].w1)->w2 = saved; }
    } restore{held, saved_values};
    uint32_t code = 0;
    stack::catch_exits([&] { code = body(context == context::global ? 0 : context); });
    if (code && !stack::pending_code) stack::pending_code = code;
    if (ends_in_body(stack::pending_code)) {
        stack::take_pending();
        stack::pop_frame_pass_result();
    }
}

// A function call whose function and word lie in held cells that outlive it (a
// call_record's, or invoke's below): only the body needs one more held cell.
void invoke_held(cell* function, node_ref context, const cell* word, uint32_t kind) {
    std::optional<tracing::switch_scope> callback_switch;
    if (kind && tracing::active && !(tracing::enabled_callback_kinds() & kind)) callback_switch.emplace(false);
    const cell* extras = memory::buffer_of(function->w3)->head_cell();
    const cell* code = extras + function::EXTRAS_CODE;
    if (code->is(TYPE_INTEGER) && integer::read_cell(code) != 0) {
        run_compiled_body(function, integer::read_cell(code), context);
        return;
    }
    if (!tracing::active && !(function->header & function::FLAG_TRACE) &&
        extras[function::EXTRAS_BODY].is(TYPE_BLOCK)) [[likely]] {
        run_block_body(function, word, extras + function::EXTRAS_BODY);
        if (stack::exit_pending()) return;
        if (tracing::active) [[unlikely]]
            tracing::fire_function_return(word);
        return;
    }
    held_cells<1> body;
    body[0] = extras[function::EXTRAS_BODY];
    if (tracing::active) [[unlikely]]
        tracing::fire_call(word, function);
    run_function_body(function, word, &body[0]);
    if (stack::exit_pending()) return;
    if (tracing::active) [[unlikely]]
        tracing::fire_function_return(word);
}

void invoke(cell* function, node_ref context, const cell* word, uint32_t kind) {
    check_native_depth();
    held_cells<2> held;  // the function, its word
    held[0] = *function;
    held[1] = word ? *word : none_cell;
    invoke_held(&held[0], context, &held[1], kind);
}

// --- Routines -----------------------------------------------------------------------------------

void check_routine_arguments(const cell* routine, int32_t count) {
    memory::series_buffer* spec = memory::buffer_of(routine->w2);
    int32_t argument = 0;
    for (int64_t i = 0; i < spec->length() && argument < count; ++i) {
        const cell c = memory::buffer_of(routine->w2)->head_cell()[i];
        if (c.is(TYPE_REFINEMENT) || c.is(TYPE_SET_WORD)) break;
        if (!c.is(TYPE_WORD) && !c.is(TYPE_LIT_WORD) && !c.is(TYPE_GET_WORD)) continue;
        const cell* value = stack::state.args_base + argument;
        ++argument;
        if (i + 1 >= memory::buffer_of(routine->w2)->length()) break;
        const cell types = memory::buffer_of(routine->w2)->head_cell()[i + 1];
        if (!types.is(TYPE_BLOCK)) continue;
        if (index_of(&types) >= length_of(&types)) continue;
        const cell first = *at(&types, index_of(&types));
        if (!first.is(TYPE_WORD)) raise_with(err::script_invalid_type_spec, &first);
        const cell* named = peek_value(&first);
        if (!named) continue;
        bool accepted = named->is(TYPE_TYPESET) ? typeset::has(named, value->type())
                        : named->is(TYPE_DATATYPE) ? named->w1 == value->type()
                                                   : true;
        if (!accepted) {
            cell where = stack::current_function_word();
            cell type = datatype::value_of(value->type());
            cell argument_word = as_word(&c);
            raise::throw_error(err::script_expect_arg, &where, &type, &argument_word);
        }
    }
}

}  // namespace

cell* call_comparator(cell* function, cell* first, cell* second) {
    cell* values = stack::push_copy(first);
    stack::push_copy(second);
    argument_source source{nullptr, 0, true, values, 2};
    call_callable(function, source, true, nullptr, 0, words::compare_callback, infix_mode::none, 0, 0,
                  INVOKE_SORT);
    stack::throw_if_pending();
    *values = *stack::last_slot();
    stack::state.args_top = values + 1;
    return values;
}

namespace {

// Runs a native! or action! whose argument section (function layout: a logic! cell per
// refinement, then its arguments) lies at args_base: the refinement cells are taken out
// and turned into positions, then the entry runs.
void call_with_section(const cell* value) {
    call_record r;
    r.callee() = *value;
    r.native_layout = true;
    load_descriptors(&r.callee(), &r.descriptors());
    r.positional = descriptor_count(&r.descriptors(), 0);
    r.section = descriptor_count(&r.descriptors(), 1);
    cell* base = stack::state.args_base;
    int32_t write = r.positional;
    for (int32_t e = r.positional; e < r.section; ++e) {
        if (entry_word(&r.descriptors(), e)->is(TYPE_REFINEMENT)) {
            if (r.refinement_count >= MAX_NATIVE_REFINEMENTS) raise::throw_error(err::internal_not_done);
            bool used = base + e < stack::state.args_top && logic::is_true(base + e, false, nullptr);
            r.positions[r.refinement_count++] = used ? write : -1;
        } else {
            base[write++] = base + e < stack::state.args_top ? base[e] : none_cell;
        }
    }
    stack::state.args_top = base + write;
    if (stack::state.args_top == base) stack::push_slot();
    r.word() = stack::current_function_word();
    dispatch(r, 0);
    stack::throw_if_pending();
}

// The routine's 64-bit machine value of an argument cell.
uint64_t machine_value(cell* argument) {
    switch (argument->type()) {
        case TYPE_INTEGER: return static_cast<uint64_t>(static_cast<int64_t>(integer::read_cell(argument)));
        case TYPE_LOGIC: return logic::get_value(argument) == 1 ? 1 : 0;
        case TYPE_FLOAT: return std::bit_cast<uint64_t>(float_::get(argument));
        default: return reinterpret_cast<uint64_t>(argument);
    }
}

}  // namespace

// --- invoke.h --------------------------------------------------------------------------------------

void invoke_function(cell* function, node_ref context, const cell* word, uint32_t flags) {
    if (function->is(TYPE_ROUTINE)) {
        call_routine(function);
        return;
    }
    if (!function->is(TYPE_FUNCTION)) platform::quit_with_error(platform::RUNTIME_ERROR_NO_SWITCH, 0);
    invoke(function, context, word, flags);
    if (flags) stack::throw_if_pending();
}

void call_native(const cell* native) { call_with_section(native); }

void call_action(const cell* action) { call_with_section(action); }

void call_op(const cell* op) {
    held_cells<1> held;
    held[0] = op_source(op);
    if (held[0].is(TYPE_NATIVE) || held[0].is(TYPE_ACTION)) {
        call_with_section(&held[0]);
        return;
    }
    // Functions and routines: the two arguments at args_base, then the rest of the section.
    call_record r;
    r.callee() = held[0];
    r.word() = stack::current_function_word();
    load_descriptors(&r.callee(), &r.descriptors());
    r.positional = descriptor_count(&r.descriptors(), 0);
    r.section = descriptor_count(&r.descriptors(), 1);
    stack::state.args_top = stack::state.args_base + (r.positional < 2 ? r.positional : 2);
    push_section_defaults(r);
    dispatch(r, 0);
    stack::throw_if_pending();
}

void call_routine(const cell* routine) {
    held_cells<1> held;
    held[0] = *routine;
    const cell* extras_code = function::extras_cell(&held[0], function::EXTRAS_CODE);
    const int32_t code_index = extras_code->is(TYPE_INTEGER) ? integer::read_cell(extras_code) : 0;
    code_registry::code code = code_registry::code_of(code_index);
    if (!code) raise::throw_error(err::internal_not_done);
    cell* base = stack::state.args_base;
    if (held[0].header & routine::FLAG_CELL_CALLING) {
        stack::push_call_frame(words::body);
        cell* answer = reinterpret_cast<routine_cell_code>(code)(base);
        const cell result = answer ? *answer : unset_cell;
        stack::pop_frame_drop_values();
        *base = result;
        stack::state.args_top = base + 1;
        return;
    }
    const cell* extras_type = function::extras_cell(&held[0], function::EXTRAS_EXTRA);
    const int32_t return_type = extras_type->is(TYPE_INTEGER) ? integer::read_cell(extras_type) : -1;
    held_cells<1> descriptors;
    load_descriptors(&held[0], &descriptors[0]);
    const int32_t count = descriptor_count(&descriptors[0], 0);
    check_routine_arguments(&held[0], count);
    constexpr int32_t MAX_ARGUMENTS = routine::MAX_ARITY + 1;
    uint64_t values[MAX_ARGUMENTS] = {};
    const int32_t n = count < MAX_ARGUMENTS ? count : MAX_ARGUMENTS;
    for (int32_t i = 0; i < n; ++i) values[i] = machine_value(base + i);
    const uint64_t answer = reinterpret_cast<routine_code>(code)(routine_arguments{values, n});
    switch (return_type) {
        case TYPE_LOGIC: logic::make_in(base, static_cast<uint32_t>(answer) != 0); break;
        case TYPE_INTEGER: integer::make_in(base, static_cast<int32_t>(static_cast<uint32_t>(answer))); break;
        case TYPE_FLOAT: float_::init_cell(base, std::bit_cast<double>(answer)); break;
        default: break;  // the routine wrote its own result
    }
}

// --- Public entries ----------------------------------------------------------------------------------

void init() {
    static bool registered = false;
    if (!registered) {
        gc::add_mark_callback(&mark_interpreter_cells);
        registered = true;
    }
    cell::init_unset(&current);
    held_top = 0;
    tracing::init();
    const char* tier = std::getenv("ZOR_EVAL_TIER");
    fast_tier = !(tier && std::strcmp(tier, "0") == 0);
}

const cell& current_code() { return current; }

namespace {

// eval_block's plain-chain attempt, apart so that a block known not to be one goes to its
// frame without the attempt's C++ frame.
[[gnu::noinline]] uint32_t eval_block_plain(const cell* block, bool pass_result) {
    // A block that is one plain chain: its value, with the stack left as the block
    // frame's pop leaves it (the value in the cell where the frame began, args_top
    // above it, and with pass_result in the result slot too).
    cell value;
    if (plain_block_value(block, &value)) {
        stack::push_copy(&value);
        if (pass_result) *stack::state.args_base = value;
        return 0;
    }
    return eval_block_framed(block, pass_result);
}

}  // namespace

uint32_t eval_block(const cell* block, bool pass_result) {
    if (!fast_tier || tracing::active || not_plain_place(block->w2, block->w1).known())
        return eval_block_framed(block, pass_result);
    return eval_block_plain(block, pass_result);
}

namespace {

// eval_block after its plain-chain attempt: the block in its own frame.
uint32_t eval_block_framed(const cell* block, bool pass_result) {
    check_native_depth();
    // One held-cell record for both the block and the current-code cell it restores.
    struct block_scope {
        held_cells<2> held{unfilled};
        explicit block_scope(const cell* block) {
            held[0] = *block;
            held[1] = current;
        }
        ~block_scope() { current = held[1]; }
    } scope(block);
    const cell* code = &scope.held[0];
    stack::push_block_frame();
    int64_t position = index_of(code);
    trace(tracing::EVENT_ENTER, code, position, nullptr, nullptr);
    if (run_expressions(code, position)) return stack::pending_code;
    trace(tracing::EVENT_EXIT, code, length_of(code), nullptr, stack::state.args_base);
    if (pass_result) stack::pop_frame_pass_result();
    else stack::pop_frame();
    return 0;
}

}  // namespace

loop_body::loop_body(const cell* block) : block_(block) {
    if (held_top + 1 > HELD_CELLS) [[unlikely]] {
        mold_guard::reset();
        raise::throw_error(err::internal_stack_overflow);
    }
    saved_code_ = held_top;
    held_stack[held_top++] = current;
}

loop_body::~loop_body() { held_top = saved_code_; }

uint32_t loop_body::run() {
    if (!fast_tier || tracing::active) [[unlikely]]
        return eval_block(block_, true);
    if (try_plain_) {
        cell value;
        if (plain_block_value(block_, &value)) {
            stack::push_copy(&value);
            *stack::state.args_base = value;
            return 0;
        }
        // A block that changes later and becomes a plain chain still runs exactly in its
        // frame, only not as fast.
        try_plain_ = false;
    }
    // eval_block_framed's depth check, once: every later pass starts at the same depth.
    if (!depth_checked_) [[unlikely]] {
        check_native_depth();
        depth_checked_ = true;
    }
    // However the pass ends, the current-code cell is the loop's again.
    struct code_restore {
        size_t saved;
        ~code_restore() { current = held_stack[saved]; }
    } restore{saved_code_};
    stack::push_block_frame();
    if (run_expressions(block_, index_of(block_))) return stack::pending_code;
    // Tracing switched on by the body itself still sees the block's exit.
    trace(tracing::EVENT_EXIT, block_, length_of(block_), nullptr, stack::state.args_base);
    stack::pop_frame_pass_result();
    return 0;
}

int64_t plain_expression(const cell* code, int64_t position, cell* value) {
    if (!fast_tier || tracing::active) return -1;
    const int64_t tail = length_of(code);
    if (position >= tail) return -1;
    return plain_chain(code, position, tail, value, 0);
}

cell* plain_variable(const cell* word) {
    // word::set_value holds its cells on the stack: with no room for them, it raises.
    if (!fast_tier || stack::state.args_top + 4 >= stack::state.args_end) return nullptr;
    return assignable_slot(word);
}

void run_block(const cell* block, bool pass_result) {
    (void)eval_block(block, pass_result);
    stack::throw_if_pending();
}

int64_t eval_expression(const cell* code, int64_t position, bool no_infix, bool push, bool keep_functions) {
    if (position >= length_of(code)) {
        if (push) stack::push_slot();
        else stack::set_result_truncate(&unset_cell);
        return position;
    }
    return eval_expression_at(code, position, no_infix, push, keep_functions);
}

int64_t eval_next(const cell* code, int64_t position, bool push) {
    held_cells<1> held;
    held[0] = *code;
    cell* start = stack::state.args_top;
    stack::push_interp_call_frame(words::body);
    position = eval_expression(&held[0], position, false, true, false);
    if (stack::exit_pending()) return position;
    stack::pop_frame();
    if (!push) stack::set_result_truncate(start);
    return position;
}

int64_t do_next(const cell* block) {
    held_cells<1> held;
    held[0] = *block;
    int64_t position = index_of(&held[0]);
    if (position >= length_of(&held[0])) {
        stack::set_result_truncate(&unset_cell);
        return position;
    }
    code_scope scope;
    current = held[0];
    current.w1 = static_cast<uint32_t>(position);
    return eval_next(&held[0], position, false);
}

int64_t call(const cell* called, const cell* code, int64_t position, bool push, const cell* path,
             int64_t path_position, const cell* word, bool infix) {
    held_cells<1> held;
    if (code) held[0] = *code;
    else block::make_empty(&held[0], 1);
    argument_source source{&held[0], code ? position : 0};
    return call_callable(called, source, push, path, path_position, word,
                         infix ? infix_mode::left_in_place : infix_mode::none, 0, 0);
}

void apply(const cell* function, const cell* arguments, uint32_t mode, const cell* path, const cell* word) {
    held_cells<1> held;
    held[0] = *arguments;
    argument_source source{&held[0], index_of(&held[0]), (mode & APPLY_ALL) != 0};
    call_callable(function, source, false, path, path ? index_of(path) : 0, word, infix_mode::none, 0,
                  mode & (APPLY_ALL | APPLY_SAFER));
}

int64_t eval_path(const cell* path, const cell* code, int64_t position, bool set, bool get, bool push,
                  path_resume* resume) {
    return eval_path_at(path, code, position, set, get, push, resume);
}

uint32_t eval_value(const cell* value) {
    held_cells<1> held;
    held[0] = *value;
    cell* block = block::push_empty(1);
    block::append_copy(block, &held[0]);
    if (uint32_t code = eval_block(block, true)) return code;
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::eval
