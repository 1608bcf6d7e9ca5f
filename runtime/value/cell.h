// The value cell: every Zor value is one 16-byte cell of four 32-bit words.
//
// The header's bits 0-7 hold the datatype id, its upper bits flags owned by the type
// (bit 30, the new-line marker, is shared by all). The three payload words mean what the
// type's module says; series types keep their head index in word 1 and their node in
// word 2, never a buffer address, so buffers can move.
//
// Invariant for every builder: write unset! into the header first, fill the payload
// (which may allocate and so collect), and only then write the real type. A half-built
// cell is always a valid unset! for the collector.
#pragma once

#include <cstdint>

namespace zor {

// A node reference: the byte offset of an 8-byte node slot in the node space (0 is null).
using node_ref = uint32_t;

enum type_id : uint8_t {
    TYPE_NONE_ID = 0,
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN, TYPE_STRING,
    TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_SYMBOL, TYPE_CONTEXT,
    TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE,
    TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH,
    TYPE_GET_PATH, TYPE_ROUTINE, TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT, TYPE_TYPESET,
    TYPE_ERROR, TYPE_VECTOR, TYPE_HASH, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_MAP,
    TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG, TYPE_EMAIL, TYPE_HANDLE, TYPE_DATE,
    TYPE_PORT, TYPE_MONEY, TYPE_REF, TYPE_POINT2D, TYPE_POINT3D, TYPE_IMAGE, TYPE_EVENT,
    TYPE_TOTAL_COUNT  // one past the last id: 55
};
inline constexpr int TYPE_TABLE_SIZE = 57;  // ids 0..56 have an entry

inline constexpr uint32_t HEADER_TYPE_MASK = 0xFF;
inline constexpr uint32_t FLAG_NEW_LINE = 0x40000000;

struct cell;
// The boot literal table: the cells of the boot image's root block, set by its loader.
extern cell* literal_base;

struct alignas(16) cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;

    type_id type() const { return static_cast<type_id>(header & HEADER_TYPE_MASK); }
    bool is(type_id t) const { return type() == t; }

    // `cell/set-type`: replaces the type and keeps the flags.
    static void set_type(cell* c, type_id t) { c->header = (c->header & ~HEADER_TYPE_MASK) | t; }
    // `cell/clear-new-line`
    static void clear_new_line(cell* c) { c->header &= ~FLAG_NEW_LINE; }
    // `cell/copy`: returns the destination.
    static cell* copy(const cell* source, cell* destination) {
        if (source != destination) *destination = *source;
        return destination;
    }
    // The first step of every builder: a valid unset! with an empty payload.
    static void init_unset(cell* c) { c->header = TYPE_UNSET; c->w1 = c->w2 = c->w3 = 0; }
    // `cell/get-literal`: boot literal n.
    static cell* get_literal(int n) { return literal_base + n; }
    // `cell/get-literal-node`: payload word 1 of boot literal n (a context literal's node).
    static node_ref get_literal_node(int n);
};
static_assert(sizeof(cell) == 16, "a value cell is 16 bytes");

inline node_ref cell::get_literal_node(int n) { return literal_base[n].w1; }

using zor_value = cell*;

}  // namespace zor
