// Stand-in natives for the interpreter's tests and benchmarks, and the global words
// they run with (no test framework needed, so benchmarks share them).
//
// The stand-ins use only the stack module's exits (leave_loop, leave_function,
// leave_to_catch) and catch points (catch_exits), so they exercise exactly the
// machinery that the later natives will use:
//   tloop count body      runs body count times in a loop frame (break, continue)
//   tbreak /return v /continue
//   treturn value /exit   return value, or exit without one
//   tthrow value          throw to the nearest catch frame
//   tcatch block          a catch frame
//   ttry block /all       a try frame (a barrier with /all); a caught error is the value
//   topaque block         runs the block through eval::run_block, as C++ code that
//                         cannot pass an exit on by returning does
//   tlog value            appends the value's mold to `logged`
//   tpos a /r1 x /r2 /r3 y z   logs its refinement positions and argument cells
//   twalk                 logs the stack's trace walk and its call trail
// Every stand-in catch point counts the exits that reached it as C++ exceptions.
#pragma once

#include <string>
#include <vector>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/eval/throw.h"
#include "runtime/value/type-registry.h"
#include "tests/unit/code_notation.h"

namespace zor::testing {

inline std::vector<std::string> logged;
inline int exits_as_exceptions = 0;

namespace stand_ins {

// Runs the body as a catch point: an exit that arrives as an exception becomes pending
// again (and is counted).
template <typename Body> uint32_t catching(Body&& body) {
    try {
        body();
    } catch (const zor_throw& thrown) {
        if (!stack::is_exit_code(thrown.code)) throw;
        ++exits_as_exceptions;
        stack::pending_code = thrown.code;
    }
    return stack::pending_code;
}

inline uint32_t loop(const natives::native_invocation&) {
    int32_t count = integer::read_cell(stack::argument(0));
    cell* body = stack::argument(1);
    stack::push_loop_frame();
    cell* inside = stack::state.args_base;
    cell::init_unset(inside);
    for (int32_t i = 0; i < count; ++i) {
        stack::state.args_top = inside;
        uint32_t code = catching([&] { (void)eval::eval_block(body, false); });
        if (code == THROW_BREAK) {
            stack::take_pending();
            break;
        }
        if (code == THROW_CONTINUE) {
            stack::take_pending();
            continue;
        }
        if (code) return code;
    }
    stack::state.args_top = inside + 1;
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    return 0;
}

inline uint32_t break_(const natives::native_invocation& call) {
    if (call.has(1)) return stack::leave_loop(true, false);
    return stack::leave_loop(false, call.has(0));
}

inline uint32_t return_(const natives::native_invocation& call) { return stack::leave_function(!call.has(0)); }

inline uint32_t throw_(const natives::native_invocation&) { return stack::leave_to_catch(THROW_THROW); }

inline uint32_t catch_(const natives::native_invocation&) {
    cell* block = stack::argument(0);
    stack::push_catch_frame();
    uint32_t code = catching([&] { (void)eval::eval_block(block, true); });
    if (code == THROW_THROW) {
        stack::take_pending();
        stack::pop_frame_pass_result();
        stack::keep_result_slot();
        return 0;
    }
    if (code) return code;
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    return 0;
}

inline uint32_t try_(const natives::native_invocation& call) {
    cell* block = stack::argument(0);
    if (call.has(0)) stack::push_barrier_frame();
    else stack::push_try_frame();
    uint32_t code = 0;
    try {
        code = catching([&] { (void)eval::eval_block(block, true); });
    } catch (const zor_throw& thrown) {
        if (thrown.code != THROW_ERROR) throw;
        stack::adopt_thrown_error();
        return 0;
    }
    if (code) return code;
    stack::pop_frame_pass_result();
    stack::keep_result_slot();
    return 0;
}

inline uint32_t opaque(const natives::native_invocation&) {
    cell* block = stack::argument(0);
    eval::run_block(block, true);
    return 0;
}

inline uint32_t log_value(const natives::native_invocation&) {
    logged.push_back(mold_of(stack::argument(0)));
    stack::clear_frame_args();
    cell::init_unset(stack::push_slot());
    return 0;
}

inline uint32_t positions(const natives::native_invocation& call) {
    std::string text;
    for (int i = 0; i < 3; ++i) text += std::to_string(call.position(i)) + " ";
    text += "|";
    for (int i = 0; i < 4; ++i) text += " " + mold_of(stack::argument(i));
    logged.push_back(text);
    return 0;
}

inline uint32_t walk(const natives::native_invocation&) {
    cell* trace = block::push_empty(8);
    stack::collect_trace(trace);
    logged.push_back(mold_of(trace));
    cell* trail = block::push_empty(8);
    stack::collect_call_trail(1, trail, stack::frame_depth());
    logged.push_back(mold_of(trail));
    stack::clear_frame_args();
    cell::init_unset(stack::push_slot());
    return 0;
}

}  // namespace stand_ins

// The first natives-table position the stand-ins take (positions above the 107 natives).
inline constexpr int FIRST_STAND_IN = 110;

inline void install_stand_ins() {
    const natives::native_entry entries[] = {
        &stand_ins::loop, &stand_ins::break_, &stand_ins::return_, &stand_ins::throw_, &stand_ins::catch_,
        &stand_ins::try_, &stand_ins::opaque, &stand_ins::log_value, &stand_ins::positions, &stand_ins::walk,
    };
    int index = FIRST_STAND_IN;
    for (natives::native_entry e : entries) natives::set_entry(index++, e);
}

inline void remove_stand_ins() {
    for (int i = FIRST_STAND_IN; i <= natives::TABLE_SIZE; ++i) natives::set_entry(i, nullptr);
}

// The global words the interpreter's tests use: arithmetic and comparison operators over
// the real action and native entries, two conditionals, append, the stand-ins, and a few
// functions.
inline void define_globals() {
    cell any_type;
    typeset::clear(&any_type);
    for (int t = 1; t <= type_registry::max_type_id; ++t) typeset::add(&any_type, t);
    set_global("any-type!", &any_type);

    define_callable("add", TYPE_ACTION, ACTION_ADD, "value1 value2");
    define_callable("subtract", TYPE_ACTION, ACTION_SUBTRACT, "value1 value2");
    define_callable("multiply", TYPE_ACTION, ACTION_MULTIPLY, "value1 value2");
    define_callable("append", TYPE_ACTION, ACTION_APPEND, "series value /part length /only /dup count");
    define_callable("equal?", TYPE_NATIVE, natives::NATIVE_EQUAL_Q, "value1 [any-type!] value2 [any-type!]");
    define_callable("lesser?", TYPE_NATIVE, natives::NATIVE_LESSER_Q, "value1 [any-type!] value2 [any-type!]");
    define_callable("greater?", TYPE_NATIVE, natives::NATIVE_GREATER_Q, "value1 [any-type!] value2 [any-type!]");
    define_callable("if", TYPE_NATIVE, natives::NATIVE_IF, "cond [any-type!] then-blk [block!]");
    define_callable("either", TYPE_NATIVE, natives::NATIVE_EITHER,
                    "cond [any-type!] true-blk [block!] false-blk [block!]");
    define_op("+", "add");
    define_op("-", "subtract");
    define_op("*", "multiply");
    define_op("=", "equal?");
    define_op("<", "lesser?");
    define_op(">", "greater?");

    define_callable("tloop", TYPE_NATIVE, FIRST_STAND_IN + 0, "count [integer!] body [block!]");
    define_callable("tbreak", TYPE_NATIVE, FIRST_STAND_IN + 1, "/return value [any-type!] /continue");
    define_callable("treturn", TYPE_NATIVE, FIRST_STAND_IN + 2, "value [any-type!] /exit");
    define_callable("tthrow", TYPE_NATIVE, FIRST_STAND_IN + 3, "value [any-type!]");
    define_callable("tcatch", TYPE_NATIVE, FIRST_STAND_IN + 4, "block [block!]");
    define_callable("ttry", TYPE_NATIVE, FIRST_STAND_IN + 5, "block [block!] /all");
    define_callable("topaque", TYPE_NATIVE, FIRST_STAND_IN + 6, "block [block!]");
    define_callable("tlog", TYPE_NATIVE, FIRST_STAND_IN + 7, "value [any-type!]");
    define_callable("tpos", TYPE_NATIVE, FIRST_STAND_IN + 8, "a /r1 x /r2 /r3 y z");
    define_callable("twalk", TYPE_NATIVE, FIRST_STAND_IN + 9, "");

    define_function("id", "a", "a");
    define_function("g", "a /r b", "either r [a + b] [a]");
    define_function("typed", "n [integer!]", "n");
    define_function("opt", "'a [integer! unset!]", ":a");
    define_function("lit", "'a", ":a");
    define_function("ret-in-loop", "", "tloop 5 [treturn 7] 99");
    define_function("early", "n", "if n = 1 [treturn 'first] 'second");
    define_function("exit-early", "", "treturn/exit none 5");
    define_function("inner", "", "tloop 3 [treturn 5] 0");
    define_function("outer", "", "inner + 1");
    define_function("breaker", "", "tbreak");
    define_function("ret-through-opaque", "", "topaque [treturn 11] 0");
    define_function("sum-of", "a b", "a + b");
    define_op("+f", "sum-of");
}

}  // namespace zor::testing
