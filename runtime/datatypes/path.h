// The path types, path! (25), lit-path! (26), set-path! (27) and get-path! (28): blocks of
// path elements that the evaluator walks to select into values. paren! (6), a block
// evaluated in place, registers with block! (runtime/datatypes/block.h); its cell builder
// lives here with the paths'.
//
// Cell: the block layout (runtime/datatypes/block.h): header the type id, word 1 the head
// index in cells, word 2 the node of the cell series, word 3 0. The paths inherit most
// actions from block! (lit-path!, set-path! and get-path! through path!); what is their
// own is construction, conversion, their texts (elements joined by "/", with "'" or ":"
// before or ":" after) and copy keeping the type. They refuse random, set-path, the
// arithmetic and bitwise actions, sort, trim and the port actions.
//
// Invariants for callers: as for blocks, a path cell handed to these routines lies in a
// rooted place (an argument-stack slot or a root cell).
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::path {

// Registration, in the start-up order: path! (parent block!), then lit-path!, set-path!
// and get-path! (parent path!).
void init_type();

// `path/push`: the cell's header becomes path! with all flags cleared, and a copy of it is
// pushed; answers the slot.
cell* push(cell* value);
// `path/make-empty`: the cell becomes an empty path! (index 0) on a new cell series of the
// capacity (at least 1).
cell* make_empty(cell* destination, int64_t capacity);

cell* make(cell* value, cell* spec, type_id type);
cell* to(cell* value, cell* spec, type_id type);
int form(cell* path, cell* output, cell* part, int budget);
int mold(cell* path, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);

}  // namespace zor::path

namespace zor::lit_path {
void init_type();
cell* push(cell* value);
int mold(cell* path, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
}  // namespace zor::lit_path

namespace zor::set_path {
void init_type();
cell* push(cell* value);
int mold(cell* path, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
}  // namespace zor::set_path

namespace zor::get_path {
void init_type();
cell* push(cell* value);
int mold(cell* path, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
}  // namespace zor::get_path

namespace zor::paren {
// `paren/push`: the cell's header becomes paren! with all flags cleared, and a copy of it
// is pushed; answers the slot.
cell* push(cell* value);
}  // namespace zor::paren
