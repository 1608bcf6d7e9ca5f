// Ownership tracking: which object owns each series reachable from the fields of an
// object with an on-deep-change* handler, and the report through which every modifying
// series action tells that owner about a change.
//
// The ownership table is a record hashtable (kind 4) keyed by the node of the owned
// series (for an object, the node of its context); a record holds a copy of the owned
// value, the owner object! and the owner's field word through which the value is reached.
// An owned series carries the owned flag (0x20000) on its buffer, so a series without it
// costs no lookup; an owner's context! cell carries the owner flag (0x10000). Records
// are weak: after every collection the records of dead series, and of series whose owner
// died, are gone (the collector sweeps the table, which this module marks as a root).
//
// Every modifying series action calls notify_change before the change with its action
// word and, only when that call answered true, again after the change with the past form
// of the word.
//
// Invariant for callers: the series, word, value and owner cells passed in must be rooted
// and must not lie in a series buffer (pass argument-stack slots), because the walks
// allocate and a notification runs user code that may allocate and collect.
#pragma once

#include "runtime/value/cell.h"

namespace zor::owner_track {

// Start-up: makes the ownership table (room for 1,000 records of three cells) and
// registers it with the collector.
void init();

// Reports a change of the series (or object) to its owner's on-deep-change*. word: the
// action word; value: the new value, or null for none; index and part: the 0-based
// position in the series and the number of elements concerned. Answers whether an owner
// was told.
bool notify_change(cell* series, const cell* word, const cell* value, int index, int part);

// After a set-path stored a changed scalar (a pair!, tuple!, time! ... whose component was
// set) into `home`, the cell of the container that the path reached: a container object!
// gets its on-change* handler with the field word, the old and the new scalar; a
// container series is reported with the word set-path, the new component value, the
// scalar's position in the series and a part of 1. Anything the handler leaves on the
// argument stack is dropped. Nothing happens for other containers or a home outside the
// container.
void notify_component_set(const cell* home, const cell* old_value, const cell* component, const cell* container,
                          const cell* field_word);

// The owner object! cell recorded for the node (the field word follows it), or null
// when the node has no ownership record. Valid until the next allocation.
cell* find_owner(node_ref node);

// Makes the owner object own the value through the field word (null: none), walking
// into block-like values and objects; a series owned already keeps its first owner. Sets
// the owner flag on the owner's context.
void set_owner_deep(cell* value, cell* owner, cell* word);

// Removes ownership from the value and from what it contains. An object that is itself
// an owner keeps its fields' ownership.
void clear_owner_deep(cell* value);

// After field field_index of an owner object was assigned (and its on-change* ran, which
// may have put another value back): the value the field holds now is owned through the
// field's word, and the value that left the field is released when this owner held it.
// So a series stored into such a field later reports its changes to the owner, and one
// that left it no longer does. An index outside the object's keys changes nothing.
void settle_field(cell* owner, int32_t field_index, cell* old_value);

}  // namespace zor::owner_track
