// The mold cycle guard: a stack of the series and context nodes being walked by mold,
// form, binding, comparison and the ownership walks. A node already on the stack is a
// cycle; entering the 1000th level raises internal/too-deep after emptying the stack.
//
// Callers that push must pop on every path, errors included: use mold_guard::scope.
#pragma once

#include "runtime/value/cell.h"

namespace zor::mold_guard {

inline constexpr int CAPACITY = 1000;

void init();
void push(node_ref node);
void pop();
void drop(int n);
void reset();
bool contains(node_ref node);
int depth();
// Rewrites entries whose node the collector moved (relocation map).
void relocate(node_ref (*relocated)(node_ref));
// When the value's node is on the stack, appends its cycle mark ("[...]", "(...)",
// "#[...]", "make object! [...]", "..." when forming) and lowers the budget; answers
// whether it did.
bool emit_cycle_mark(const cell* value, cell* output, int* budget, bool mold);

// Pushes on construction and pops on destruction, so an error unwinding through a mold
// leaves the stack as it found it.
class scope {
public:
    explicit scope(node_ref node) : depth_(depth()) { push(node); }
    ~scope() { drop(depth() - depth_); }
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;

private:
    int depth_;
};

}  // namespace zor::mold_guard
