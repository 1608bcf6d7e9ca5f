// The mold cycle guard: a fixed array of node references from the tracked heap, used as
// a stack. Entries are series nodes, or context nodes for objects.
#include "runtime/text/mold-guard.h"

#include "runtime/datatypes/string.h"
#include "runtime/memory/heap.h"
#include "runtime/errors/raise.h"

namespace zor::mold_guard {

namespace {

node_ref* entries = nullptr;
int top = 0;

void ensure_entries() {
    if (!entries) init();
}

// Object-like values are walked through their context (payload word 1); every other
// guarded value is a series whose node is payload word 2.
node_ref node_of(const cell* value) {
    switch (value->type()) {
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT:
            return value->w1;
        default:
            return value->w2;
    }
}

const char* mold_mark(type_id type) {
    switch (type) {
        case TYPE_BLOCK:
        case TYPE_HASH: return "[...]";
        case TYPE_PAREN: return "(...)";
        case TYPE_MAP: return "#[...]";
        case TYPE_OBJECT: return "make object! [...]";
        default: return "...";  // paths, and anything else that guards itself
    }
}

}  // namespace

void init() {
    entries = static_cast<node_ref*>(heap::allocate(sizeof(node_ref) * CAPACITY));
    top = 0;
}

void push(node_ref node) {
    ensure_entries();
    entries[top++] = node;
    if (top >= CAPACITY) {
        // Emptied first, so that the error's own mold and every later mold start clean.
        top = 0;
        raise::throw_error(err::internal_too_deep);
    }
}

void pop() {
    if (top > 0) --top;
}

void drop(int n) {
    // Guard scopes that outlive a reset ask for a negative count: nothing to drop.
    if (n <= 0) return;
    top = n >= top ? 0 : top - n;
}

void reset() { top = 0; }

bool contains(node_ref node) {
    for (int i = 0; i < top; ++i) {
        if (entries[i] == node) return true;
    }
    return false;
}

int depth() { return top; }

void relocate(node_ref (*relocated)(node_ref)) {
    for (int i = 0; i < top; ++i) {
        node_ref moved = relocated(entries[i]);
        if (moved != 0) entries[i] = moved;
    }
}

bool emit_cycle_mark(const cell* value, cell* output, int* budget, bool mold) {
    if (!contains(node_of(value))) return false;
    const char* mark = mold ? mold_mark(value->type()) : "...";
    string::append_c_string(output, mark);
    int length = 0;
    while (mark[length]) ++length;
    *budget -= length;
    return true;
}

}  // namespace zor::mold_guard
