// Tracing events: while a tracer function is installed (by `do/trace`), the interpreter
// reports what it does as one of sixteen events, each a single bit, delivered to the
// tracer with the code block and position concerned, a value, a reference and the
// current stack extent.
//
// Invariants: delivery is never re-entrant: tracing is off while the tracer runs, so the
// tracer's own evaluation reports nothing. Callers test `active` before building an
// event (fire does nothing for an event outside the mask). An error or any other throw
// out of the tracer ends the delivery and leaves tracing off; the catch point that takes
// the throw restores the stacks.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::tracing {

enum event : uint32_t {
    EVENT_INIT = 0x1,
    EVENT_END = 0x2,
    EVENT_PROLOG = 0x4,
    EVENT_EPILOG = 0x8,
    EVENT_ENTER = 0x10,
    EVENT_EXIT = 0x20,
    EVENT_OPEN = 0x40,
    EVENT_RETURN = 0x80,
    EVENT_FETCH = 0x100,
    EVENT_PUSH = 0x200,
    EVENT_SET = 0x400,
    EVENT_CALL = 0x800,
    EVENT_ERROR = 0x1000,
    EVENT_THROW = 0x2000,
    EVENT_CATCH = 0x4000,
    EVENT_EXPR = 0x8000,
};
inline constexpr int EVENT_COUNT = 16;
// Every event (the seventeenth bit has no event).
inline constexpr uint32_t DEFAULT_MASK = 0x1FFFF;

// The tracing state. `active` is tracing-on: 1 while events are delivered.
extern bool active;
// 1 while a `do/trace` evaluation runs (a `trace` function sets tracing-on back to it).
extern bool tracer_active;
// The events the tracer receives.
extern uint32_t mask;
// Local cells the tracer's spec needs beyond its six arguments (function/count-locals).
extern int32_t tracer_locals;
// The callback kinds (1 lexer, 2 parse, 4 sort, 8 change, 16 deep change, 32 port) that
// keep tracing on while they run: the integer in system/state/callbacks/bits, which that
// object's change handler keeps, read at every callback; callback_bits stands in while
// there is no such integer (before the boot environment makes the system object).
extern uint32_t callback_bits;
uint32_t enabled_callback_kinds();

// Start-up: the event words and the tracer cell (part of eval::init).
void init();

// The installed tracer function!, none! when there is none.
const cell& tracer();

// `eval/fire-trace-event`: delivers the event when its bit is in the mask. code is a
// block-like cell or null; position is an index into it; reference and value may be null.
void fire(uint32_t event_bit, const cell* code, int64_t position, const cell* reference, const cell* value);

// The wrappers, each tested against tracing-on first: init and end carry nothing, throw
// and catch the current result slot; call and the function return carry the function's
// word as reference and the function (call) or the result slot (return) as value.
void fire_init();
void fire_end();
void fire_throw();
void fire_catch();
void fire_call(const cell* word, const cell* function);
void fire_function_return(const cell* word);
// An error being raised: delivered with the pending throw code cleared around the call.
void fire_error_event(cell* error);

// The event mask of a tracer: the OR of the event words in the block that opens its
// body, when its body is a non-empty block starting with a block!; else DEFAULT_MASK.
uint32_t mask_of(const cell* tracer_function);

// Installation by `do/trace`. install answers false (and changes nothing) while a tracer
// is active; otherwise it marks the caller's frame as a function body, stores the tracer
// with its locals count and mask, turns tracing on and fires init. uninstall fires end
// and clears the state; the pending exit and the last throw code survive both.
bool install(const cell* tracer_function);
void uninstall();

// One `do/trace` session: installs on construction when no tracer is active, and
// uninstalls on destruction (also when an error unwinds through it) if it installed.
class session {
public:
    explicit session(const cell* tracer_function) : installed_(install(tracer_function)) {}
    ~session() {
        if (installed_) uninstall();
    }
    bool installed() const { return installed_; }
    session(const session&) = delete;
    session& operator=(const session&) = delete;

private:
    bool installed_;
};

// Sets tracing-on for a scope and restores the previous value when the scope ends
// normally or through an exception.
class switch_scope {
public:
    explicit switch_scope(bool on) : saved_(active) { active = on; }
    ~switch_scope() { active = saved_; }
    switch_scope(const switch_scope&) = delete;
    switch_scope& operator=(const switch_scope&) = delete;

private:
    bool saved_;
};

}  // namespace zor::tracing
