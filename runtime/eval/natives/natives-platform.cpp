// The natives that reach the process's surroundings: `stats` and `recycle` (the memory
// manager and the collector), `wait`, `set-env`, `get-env`, `list-env`, `call` (the
// process runner), `browse` (the desktop's opener) and `size?` (the file services). Each
// is a thin adapter: it turns its arguments into the platform call's, and the platform's
// answer into a value or a language error.
#include <string>

#include "platform/environment.h"
#include "platform/process-runner.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file-io.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/memory-stats.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"

namespace zor::natives {

namespace {

[[noreturn]] void invalid_arg(const cell* value) {
    cell copy = *value;
    raise::throw_error(err::script_invalid_arg, &copy);
}

uint32_t result_none() {
    stack::clear_frame_args();
    *stack::result_slot() = none::value;
    stack::keep_result_slot();
    return 0;
}

uint32_t result_unset() {
    stack::clear_frame_args();
    *stack::result_slot() = unset::value;
    stack::keep_result_slot();
    return 0;
}

// An integer! when the count fits, else a float!.
void store_count(cell* destination, double count) {
    if (count > 2147483647.0) {
        destination->header = TYPE_FLOAT;
        destination->w1 = 0;
        float_::store(destination, count);
    } else {
        integer::make_in(destination, static_cast<int32_t>(count));
    }
}

// An environment variable's name: a string's text or a word's spelling.
std::string variable_name(cell* var) {
    if (word::is_any_word_type(var->type())) return std::string(symbol::name_of(static_cast<int32_t>(var->w2)));
    if (string::is_any_string(var->type())) return string::to_utf8(var);
    invalid_arg(var);
}

// Text as a new string! pushed on the stack. The bytes must not lie in a series buffer.
cell* push_text(const std::string& text) {
    return string::load_onto_stack(unicode::input_bytes::at(text.data()), int64_t(text.size()),
                                   string::ENCODING_UTF8);
}

enum stats_refinement : int { STATS_SHOW, STATS_INFO };
enum recycle_refinement : int { RECYCLE_ON, RECYCLE_OFF };
enum now_refinement : int {
    NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY, NOW_PRECISE, NOW_UTC,
};
enum call_refinement : int {
    CALL_WAIT, CALL_SHOW, CALL_CONSOLE, CALL_SHELL, CALL_INPUT, CALL_OUTPUT, CALL_ERROR,
};

}  // namespace

uint32_t native_stats(const native_invocation& call) {
    if (!call.has(STATS_SHOW) && !call.has(STATS_INFO)) {
        store_count(stack::result_slot(), memory::report_stats(stack::result_slot(), memory::STATS_BYTES_IN_USE));
        stack::keep_result_slot();
        return 0;
    }
    cell* report = block::push_empty(5);
    memory::report_stats(report, memory::STATS_DETAILED);
    if (call.has(STATS_INFO)) {
        stack::set_result_truncate(report);
        return 0;
    }
    // /show prints the report through the boot environment's show-memory-stats.
    const cell* show = global_value("show-memory-stats");
    if (!show || !show->is(TYPE_FUNCTION)) raise::throw_error(err::internal_not_done);
    cell* function = stack::push_copy(show);
    const cell* arguments[] = {report};
    if (uint32_t code = call_function(function, symbol::find("show-memory-stats"), arguments, 1)) return code;
    return result_unset();
}

uint32_t native_recycle(const native_invocation& call) {
    if (call.has(RECYCLE_ON) || call.has(RECYCLE_OFF)) {
        gc::enabled = call.has(RECYCLE_ON) ? 1 : 0;
        return result_unset();
    }
    gc::collect();
    return native_stats(native_invocation{});
}

uint32_t native_wait(const native_invocation&) {
    cell* value = stack::argument(0);
    double seconds;
    if (value->is(TYPE_INTEGER)) seconds = integer::read_cell(value);
    else if (value->is(TYPE_FLOAT) || value->is(TYPE_TIME)) seconds = float_::get(value);
    else invalid_arg(value);
    environment::sleep_seconds(seconds);
    return result_unset();
}

uint32_t native_set_env(const native_invocation&) {
    cell* var = stack::argument(0);
    cell* value = stack::argument(1);
    std::string name = variable_name(var);
    bool done;
    if (value->is(TYPE_NONE)) {
        done = environment::set_env(name, nullptr);
    } else if (string::is_any_string(value->type())) {
        std::string text = string::to_utf8(value);
        done = environment::set_env(name, &text);
    } else {
        invalid_arg(value);
    }
    if (!done) invalid_arg(var);
    stack::set_result_truncate(value);
    return 0;
}

uint32_t native_get_env(const native_invocation&) {
    std::optional<std::string> value = environment::get_env(variable_name(stack::argument(0)));
    if (!value) return result_none();
    stack::set_result_truncate(push_text(*value));
    return 0;
}

uint32_t native_list_env(const native_invocation&) {
    auto entries = environment::list_env();
    cell* pairs = block::push_empty(int64_t(entries.size()) * 2 + 2);
    for (const auto& [name, value] : entries) {
        string::load_into_block(unicode::input_bytes::at(name.data()), int64_t(name.size()), pairs,
                                string::ENCODING_UTF8);
        string::load_into_block(unicode::input_bytes::at(value.data()), int64_t(value.size()), pairs,
                                string::ENCODING_UTF8);
    }
    cell* result = stack::push_slot();
    map::make_at(result, pairs, int64_t(entries.size()) * 2 + 2);
    stack::set_result_truncate(result);
    return 0;
}

uint32_t native_now(const native_invocation& call) {
    int fields = 0;
    for (int r = NOW_YEAR; r <= NOW_PRECISE; ++r) fields += call.has(r);
    const bool time_and_precise = call.has(NOW_TIME) && call.has(NOW_PRECISE);
    if (fields >= 2 && !(fields == 2 && time_and_precise)) raise::throw_error(err::script_bad_refines);

    // The date is built from the instant in UTC and then normalised into the zone, so the
    // local calendar date follows from the instant (near midnight the local and the UTC
    // dates differ).
    const bool utc = call.has(NOW_UTC);
    environment::clock_reading clock = environment::read_clock(utc, call.has(NOW_PRECISE));
    int64_t utc_days = clock.epoch_seconds / 86400;
    int64_t second_of_day = clock.epoch_seconds % 86400;
    if (second_of_day < 0) second_of_day += 86400, utc_days -= 1;
    const double stored = double(second_of_day) + double(clock.nanoseconds) / 1e9;
    const uint32_t zone = utc ? 0 : date::zone_bits_of_minutes(clock.offset_minutes);
    cell now{TYPE_NONE, 0, 0, 0};
    date::set_normalized(&now, date::EPOCH_DAY + utc_days, stored, zone, true);
    const uint32_t packed = date::packed_of(&now);
    const int64_t days = date::day_number_of(packed);
    const double local_time = date::stored_time(&now) + date::zone_offset(zone);

    cell* result = stack::clear_frame_args();
    cell::init_unset(result);
    if (call.has(NOW_DATE)) date::set_normalized(result, days, 0.0, 0, false);
    else if (call.has(NOW_YEAR)) integer::make_in(result, date::year_of(packed));
    else if (call.has(NOW_MONTH)) integer::make_in(result, date::month_of(packed));
    else if (call.has(NOW_DAY)) integer::make_in(result, date::day_of(packed));
    else if (call.has(NOW_ZONE)) time::set_cell(date::zone_offset(zone), result);
    else if (call.has(NOW_TIME)) time::set_cell(local_time, result);
    else if (call.has(NOW_WEEKDAY)) integer::make_in(result, date::weekday_of(days));
    else if (call.has(NOW_YEARDAY)) {
        integer::make_in(result, int32_t(days - date::to_day_number(date::year_of(packed), 1, 1) + 1));
    } else *result = now;
    stack::keep_result_slot();
    return 0;
}

uint32_t native_size_q(const native_invocation&) {
    int64_t size = file_io::size_of(stack::argument(0));
    if (size < 0) return result_none();
    store_count(stack::result_slot(), double(size));
    stack::keep_result_slot();
    return 0;
}

uint32_t native_browse(const native_invocation&) {
    // Failures are not reported: the desktop may have no opener at all.
    environment::open_with_desktop(string::to_utf8(stack::argument(0)));
    return result_unset();
}

namespace {

// The bytes a value sends to a child's input: a string's UTF-8, a binary!'s bytes.
std::vector<uint8_t> input_bytes_of(cell* value) {
    if (value->is(TYPE_BINARY)) return binary::rest_bytes(value);
    int64_t length = -1;
    const char* text = unicode::string_to_utf8(value, &length);
    return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(text), reinterpret_cast<const uint8_t*>(text) + length);
}

// Where a child's output goes: appended to a file!, or captured for a string! or binary!.
void prepare_output(cell* target, process_runner::output_spec& spec) {
    if (!target) return;
    if (target->is(TYPE_FILE)) {
        spec.kind = process_runner::output_spec::FILE;
        spec.path = file_io::system_path(target);
    } else if (target->is(TYPE_STRING) || target->is(TYPE_BINARY)) {
        spec.kind = process_runner::output_spec::CAPTURE;
    } else {
        invalid_arg(target);
    }
}

// Captured bytes reach the target: inserted at a binary!'s index, or decoded from UTF-8
// (line ends made LF) and appended at a string's tail.
void deliver_output(cell* target, const process_runner::output_spec& spec) {
    if (!target || spec.kind != process_runner::output_spec::CAPTURE || spec.captured.empty()) return;
    const std::vector<uint8_t>& bytes = spec.captured;
    if (target->is(TYPE_BINARY)) {
        cell* inserted = binary::load(bytes.data(), int64_t(bytes.size()));
        binary::append(target, inserted, -1, false, -1, false);
        stack::drop_slots(1);
        return;
    }
    cell* text = string::make_empty(stack::push_slot(), int64_t(bytes.size()));
    unicode::load_utf8(unicode::input_bytes::at(bytes.data()), int64_t(bytes.size()), text, nullptr, true);
    string::concatenate(target, text, -1, 0, true, string::CONCATENATE_APPEND);
    stack::drop_slots(1);
}

}  // namespace

uint32_t native_call(const native_invocation& call) {
    cell* command = stack::argument(0);
    if (!command->is(TYPE_STRING) && !command->is(TYPE_FILE)) invalid_arg(command);
    if (string::rest_length(command) <= 0) {
        integer::make_in(stack::result_slot(), 0);
        stack::keep_result_slot();
        return 0;
    }
    cell* input = call.has(CALL_INPUT) ? stack::argument(call.position(CALL_INPUT)) : nullptr;
    cell* output = call.has(CALL_OUTPUT) ? stack::argument(call.position(CALL_OUTPUT)) : nullptr;
    cell* error = call.has(CALL_ERROR) ? stack::argument(call.position(CALL_ERROR)) : nullptr;

    process_runner::request request;
    request.command = command->is(TYPE_FILE) ? file_io::system_path(command) : string::to_utf8(command);
    request.wait = call.has(CALL_WAIT);
    request.console = call.has(CALL_CONSOLE);
    request.shell = call.has(CALL_SHELL);
    if (input) {
        if (input->is(TYPE_FILE)) {
            request.input.kind = process_runner::input_spec::FILE;
            request.input.path = file_io::system_path(input);
        } else if (input->is(TYPE_STRING) || input->is(TYPE_BINARY)) {
            request.input.kind = process_runner::input_spec::BYTES;
            request.input.bytes = input_bytes_of(input);
        } else {
            invalid_arg(input);
        }
    }
    prepare_output(output, request.output);
    prepare_output(error, request.error);

    int64_t result = process_runner::run(request);
    if (result == process_runner::OUTPUT_FILE_FAILED || result == process_runner::ERROR_FILE_FAILED) {
        cell copy = *(result == process_runner::OUTPUT_FILE_FAILED ? output : error);
        raise::throw_error(err::access_cannot_open, &copy);
    }
    deliver_output(output, request.output);
    deliver_output(error, request.error);
    integer::make_in(stack::result_slot(), static_cast<int32_t>(result));
    stack::keep_result_slot();
    return 0;
}

}  // namespace zor::natives
