// Ownership tracking: the entry points the series actions call. No object can own a
// series yet, so the ownership table does not exist and these answer accordingly; the
// objects module replaces these bodies with the table, the walks and on-deep-change*.
#include "runtime/owner-track.h"

#include "runtime/memory.h"
#include "runtime/raise.h"

namespace zor::owner_track {

bool notify_change(cell* series, const cell* word, const cell* value, int index, int part) {
    // No ownership record can exist, so nobody is told.
    (void)series, (void)word, (void)value, (void)index, (void)part;
    return false;
}

cell* find_owner(node_ref node) {
    (void)node;
    return nullptr;
}

void set_owner_deep(cell* value, cell* owner, cell* word) {
    // Owners are objects with change handlers; making one needs the objects module.
    (void)value, (void)owner, (void)word;
    raise::throw_error(err::internal_not_done);
}

void clear_owner_deep(cell* value) {
    // With no records, clearing ownership only has the owned flag of a series to drop.
    switch (value->type()) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
        case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
        case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET:
            if (value->w2) memory::buffer_of(value->w2)->flags &= ~memory::FLAG_OWNED;
            break;
        default: break;
    }
}

}  // namespace zor::owner_track
