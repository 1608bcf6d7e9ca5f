// The parse dialect: matches an input series (any-string, binary! or any-block) against a
// block of rules and answers whether the rules consumed the whole input.
//
// The engine is one iterative state machine over two explicit stacks, never native
// recursion: sub-rules, repetitions and keyword operations push records on the rule
// stack and are resumed when their sub-rule ends, so deep rules cost no C++ stack and a
// /trace callback can watch every step. The collect stack holds the blocks that
// `collect` is filling. Both stacks are blocks kept for the whole run and shared by
// nested parses (a paren action or a tracer may parse again): each parse works above
// the contents it found and cuts both stacks back to them when it ends, however it
// ends (normally, by an error, or by a break, return, throw or exit out of an action).
//
// Invariant for callers: the input and rules cells handed to `run` are argument-stack
// slots (they are the engine's roots), and the callback, when given, is rooted too.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::parse {

// `parse/init-stacks`: makes the rule stack and the collect stack (start-up, once).
void init_stacks();

// The most cells either stack may hold.
inline constexpr int64_t STACK_LIMIT = 10000;

struct request {
    cell* input = nullptr;            // rooted slot: the input series at its index
    cell* rules = nullptr;            // rooted slot: the rules block at its index
    bool case_sensitive = false;      // /case
    int64_t part = -1;                // the end index of /part (absolute), -1 for none
    const cell* callback = nullptr;   // /trace function, or null
};

// `parse engine`: runs the rules over the input. The answer (logic!, or the block of a
// top-level collect) lands in result, a rooted slot. Answers the pending exit code of a
// break, continue, return, exit or throw that left a paren action (0 when the parse ran
// to its end); errors travel as exceptions. Either way both stacks are as they were.
[[nodiscard]] uint32_t run(const request& r, cell* result);

// The number of cells on the rule stack and on the collect stack (for tests: both are
// back at their earlier size after any parse).
int64_t rule_stack_depth();
int64_t collect_stack_depth();

}  // namespace zor::parse
