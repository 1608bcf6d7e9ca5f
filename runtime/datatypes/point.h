// point2D! and point3D!: small vectors of single-precision floats for geometry, written
// (1.5, 2) and (1, 2, 3).
//
// Cell of point2D! (51): payload word 1 x, word 2 y, each the bit pattern of an IEEE-754
// single float; word 3 0 and unused. Cell of point3D! (52): words 1-3 x, y, z. Accessors:
// index 1 or the word x, 2 or y, and for point3D! 3 or z (any letter case).
//
// Every coordinate is computed in double precision and narrowed to the nearest single
// (float_::to_single, so a finite double beyond the single range becomes an infinity
// instead of undefined behaviour). Arithmetic takes numbers as scalars and points (and,
// for point2D!, pairs) coordinate by coordinate; the number cores hand number op point
// over with the point first.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::point {

// Register point2D! (id 51) and point3D! (id 52), both without a parent, with their
// math cores.
void init_point2d_type();
void init_point3d_type();

inline float coordinate(const cell* point, int n) {
    return std::bit_cast<float>(n == 0 ? point->w1 : n == 1 ? point->w2 : point->w3);
}

// `point2D/set-cell`, `point3D/set-cell`: the cell becomes the point (flags kept).
cell* set_point2d(cell* c, float x, float y);
cell* set_point3d(cell* c, float x, float y, float z);

}  // namespace zor::point
