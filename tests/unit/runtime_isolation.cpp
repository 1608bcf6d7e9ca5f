// The isolation listener (see runtime_isolation.h): a snapshot before each test, and
// after it a restore of that snapshot, the checks of what a test must not leave behind,
// and a collection over the restored roots.
#include "tests/unit/runtime_isolation.h"

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/eval/tracing.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory.h"
#include "runtime/datatypes/money.h"
#include "runtime/eval/lexer/number-scanners.h"
#include "runtime/text/case-fold.h"
#include "runtime/text/mold-guard.h"
#include "runtime/text/output-hooks.h"
#include "runtime/value/slot-table.h"
#include "runtime/value/upcalls.h"
#include "tests/unit/runtime_fixture.h"

namespace zor::testing {

namespace {

struct runtime_state {
    // Roots.
    int64_t root_length = 0;
    std::vector<bool> free_slots;  // by slot index - 1
    std::vector<gc::mark_callback> mark_callbacks;
    // Hooks.
    std::vector<output_hooks::value_hook> value_hooks;
    std::vector<output_hooks::text_hook> text_hooks;
    std::vector<natives::native_entry> natives;  // by index - 1
    context::on_change_handler fire_on_change = nullptr;
    case_fold::change_reporter report_change = nullptr;
    decltype(upcalls::run_block) run_block = nullptr;
    decltype(upcalls::invoke_function) invoke_function = nullptr;
    decltype(upcalls::call_comparator) call_comparator = nullptr;
    decltype(upcalls::current_code) current_code = nullptr;
    decltype(upcalls::error_raised) error_raised = nullptr;
    decltype(upcalls::native_exists) native_exists = nullptr;
    decltype(upcalls::scan_text) scan_text = nullptr;
    decltype(upcalls::scan_string) scan_string = nullptr;
    decltype(upcalls::clear_before_print) clear_before_print = nullptr;
    decltype(upcalls::resume_after_print) resume_after_print = nullptr;
    decltype(upcalls::event_type_word) event_type_word = nullptr;
    decltype(upcalls::set_event_type) set_event_type = nullptr;
    decltype(upcalls::event_field) event_field = nullptr;
    lexer::money_builder money_builder = nullptr;
    int32_t money_digits = 2;
    void (*delete_range)(node_ref, int64_t, int64_t) = nullptr;
    bool (*shift_indexes)(node_ref, int64_t, int64_t, int64_t, bool) = nullptr;
    void (*rebuild)(node_ref, int64_t) = nullptr;
    void (*move_entries)(node_ref, int64_t, int64_t, int64_t) = nullptr;
    bool tracing_active = false;
    uint32_t tracing_mask = 0;
    uint32_t tracing_callback_bits = 0;
    // Flags.
    uint32_t collection_enabled = 0;
    uint32_t node_compaction = 0;
    bool torture = false;
    uint32_t pretty_flag = 0;
    uint32_t startup_collection = 0;
};

int64_t root_length() { return memory::buffer_of(block::root.w2)->length(); }

runtime_state capture() {
    runtime_state s;
    s.root_length = root_length();
    for (int32_t i = 1; i <= slot_table::capacity(); ++i) s.free_slots.push_back(slot_table::free_q(i));
    for (int i = 0; gc::mark_callback_at(i); ++i) s.mark_callbacks.push_back(gc::mark_callback_at(i));
    for (int i = 0; i < output_hooks::value_hook_count(); ++i) s.value_hooks.push_back(output_hooks::value_hook_at(i));
    for (int i = 0; i < output_hooks::text_hook_count(); ++i) s.text_hooks.push_back(output_hooks::text_hook_at(i));
    for (int i = 1; i <= natives::TABLE_SIZE; ++i) s.natives.push_back(natives::entry(i));
    s.fire_on_change = context::fire_on_change;
    s.report_change = case_fold::report_change;
    s.run_block = upcalls::run_block;
    s.invoke_function = upcalls::invoke_function;
    s.call_comparator = upcalls::call_comparator;
    s.current_code = upcalls::current_code;
    s.error_raised = upcalls::error_raised;
    s.native_exists = upcalls::native_exists;
    s.scan_text = upcalls::scan_text;
    s.scan_string = upcalls::scan_string;
    s.clear_before_print = upcalls::clear_before_print;
    s.resume_after_print = upcalls::resume_after_print;
    s.event_type_word = upcalls::event_type_word;
    s.set_event_type = upcalls::set_event_type;
    s.event_field = upcalls::event_field;
    s.money_builder = lexer::installed_money_builder();
    s.money_digits = money::shown_fraction_digits;
    s.delete_range = series::hash_index::delete_range;
    s.shift_indexes = series::hash_index::shift_indexes;
    s.rebuild = series::hash_index::rebuild;
    s.move_entries = series::hash_index::move_entries;
    s.tracing_active = tracing::active;
    s.tracing_mask = tracing::mask;
    s.tracing_callback_bits = tracing::callback_bits;
    s.collection_enabled = gc::enabled;
    s.node_compaction = gc::node_compaction;
    s.torture = gc::torture_mode();
    s.pretty_flag = float_::pretty_flag;
    s.startup_collection = word::startup_collection;
    return s;
}

// Empty stacks over storage that holds no values: a later test that reads a slot it did
// not write, or a collection that marks one, must not find an earlier test's series.
void empty_stacks() {
    stack::state.args_base = stack::state.args_top = stack::state.args_begin;
    stack::state.frames_top = stack::state.frames_begin;
    stack::state.saved_frame_top = nullptr;
    for (cell* c = stack::state.args_begin; c < stack::state.args_end; ++c) cell::init_unset(c);
    stack::pending_code = 0;
    last_throw_code = 0;
}

template <typename Hook> void restore_list(const std::vector<Hook>& wanted, int (*count)(), Hook (*at)(int),
                                           void (*remove_one)(Hook), void (*add_one)(Hook)) {
    bool same = count() == static_cast<int>(wanted.size());
    for (int i = 0; same && i < count(); ++i) same = at(i) == wanted[i];
    if (same) return;
    while (count() > 0) remove_one(at(0));
    for (Hook hook : wanted) add_one(hook);
}

class runtime_isolation : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        ensure_runtime();
        empty_stacks();
        mold_guard::reset();
        before_ = capture();
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        check_leftovers();
        restore();
        // Collection with every root restored: a heap the test left broken fails here.
        gc::collect();
    }

    // What a test must not leave behind, since nothing can put it back safely.
    void check_leftovers() {
        if (lexer::active_scan_count() != 0) ADD_FAILURE() << "the test left a lexer scan active";
        if (gc::in_collection_q()) ADD_FAILURE() << "the test left the collector inside a collection";
        if (tracing::tracer_active) {
            ADD_FAILURE() << "the test left a tracer installed";
            try {
                tracing::uninstall();
            } catch (const zor_throw&) {
            }
        }
        for (gc::mark_callback callback : before_.mark_callbacks) {
            bool present = false;
            for (int i = 0; gc::mark_callback_at(i); ++i) present |= gc::mark_callback_at(i) == callback;
            if (!present) ADD_FAILURE() << "the test removed a mark callback that the runtime registered";
        }
    }

    void restore() {
        empty_stacks();
        mold_guard::reset();

        // Roots.
        memory::series_buffer* root = memory::buffer_of(block::root.w2);
        if (root->length() > before_.root_length) root->tail = root->head + before_.root_length * int64_t(sizeof(cell));
        for (int32_t i = 1; i <= slot_table::capacity(); ++i) {
            bool was_free = static_cast<size_t>(i) > before_.free_slots.size() || before_.free_slots[i - 1];
            if (was_free && !slot_table::free_q(i)) slot_table::release(i);
        }
        restore_list<gc::mark_callback>(before_.mark_callbacks, &gc::mark_callback_count, &gc::mark_callback_at,
                                        &gc::remove_mark_callback, &gc::add_mark_callback);

        // Hooks.
        restore_list<output_hooks::value_hook>(
            before_.value_hooks, &output_hooks::value_hook_count, &output_hooks::value_hook_at,
            [](output_hooks::value_hook h) { output_hooks::remove(h, nullptr); },
            [](output_hooks::value_hook h) { output_hooks::add(h, nullptr); });
        restore_list<output_hooks::text_hook>(
            before_.text_hooks, &output_hooks::text_hook_count, &output_hooks::text_hook_at,
            [](output_hooks::text_hook h) { output_hooks::remove(nullptr, h); },
            [](output_hooks::text_hook h) { output_hooks::add(nullptr, h); });
        for (int i = 1; i <= natives::TABLE_SIZE; ++i) {
            if (natives::entry(i) != before_.natives[i - 1]) natives::set_entry(i, before_.natives[i - 1]);
        }
        context::fire_on_change = before_.fire_on_change;
        case_fold::report_change = before_.report_change;
        upcalls::run_block = before_.run_block;
        upcalls::invoke_function = before_.invoke_function;
        upcalls::call_comparator = before_.call_comparator;
        upcalls::current_code = before_.current_code;
        upcalls::error_raised = before_.error_raised;
        upcalls::native_exists = before_.native_exists;
        upcalls::scan_text = before_.scan_text;
        upcalls::scan_string = before_.scan_string;
        upcalls::clear_before_print = before_.clear_before_print;
        upcalls::resume_after_print = before_.resume_after_print;
        upcalls::event_type_word = before_.event_type_word;
        upcalls::set_event_type = before_.set_event_type;
        upcalls::event_field = before_.event_field;
        lexer::set_money_builder(before_.money_builder);
        money::shown_fraction_digits = before_.money_digits;
        series::hash_index::delete_range = before_.delete_range;
        series::hash_index::shift_indexes = before_.shift_indexes;
        series::hash_index::rebuild = before_.rebuild;
        series::hash_index::move_entries = before_.move_entries;
        tracing::active = before_.tracing_active;
        tracing::mask = before_.tracing_mask;
        tracing::callback_bits = before_.tracing_callback_bits;

        // Flags.
        gc::enabled = before_.collection_enabled;
        gc::node_compaction = before_.node_compaction;
        gc::set_torture_mode(before_.torture);
        float_::pretty_flag = before_.pretty_flag;
        word::startup_collection = before_.startup_collection;
    }

    runtime_state before_;
};

}  // namespace

::testing::TestEventListener* make_runtime_isolation_listener() { return new runtime_isolation; }

}  // namespace zor::testing
