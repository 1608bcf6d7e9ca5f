// Ownership tracking as the series actions see it: the one place where a modifying
// action reports a change to the object, if any, that owns the changed series.
//
// Every modifying series action calls notify_change before the change with its action
// word and, only when that call answered true, again after the change with the past form
// of the word. The table of owned series, the set and clear walks and the firing of
// on-deep-change* belong to the objects module, which fills in the bodies of owner-track.cpp;
// until objects exist nothing can own a series, so every report answers false.
//
// Invariant for callers: the series, word and value cells passed in must be rooted and
// must not lie in a series buffer (pass argument-stack slots), because a notification
// runs user code that may allocate and collect.
#pragma once

#include "runtime/cell.h"

namespace zor::owner_track {

// Reports a change of the series (or object or image) to its owner. word: the action
// word; value: the new value, or null for none; index and part: the 0-based position in
// the series and the number of elements concerned. Answers whether an owner was told.
bool notify_change(cell* series, const cell* word, const cell* value, int index, int part);

// The owner object! cell recorded for the node (the field word follows it), or null
// when the node has no ownership record.
cell* find_owner(node_ref node);

// Makes the owner object own the value through the field word, walking into block-like
// values and objects.
void set_owner_deep(cell* value, cell* owner, cell* word);

// Removes ownership from the value and from what it contains.
void clear_owner_deep(cell* value);

}  // namespace zor::owner_track
