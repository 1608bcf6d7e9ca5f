// Case folding: the tables, the mapping of one code point, and uppercase/lowercase.
#include "runtime/text/case-fold.h"

#include <algorithm>

#include "runtime/datatypes/string.h"
#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"
#include "runtime/binding/symbol.h"

namespace zor::case_fold {

namespace {
#include "runtime/case-folding-data.inc"
}  // namespace

namespace detail {

namespace {
// 0 means "maps to itself".
constexpr table build_table(std::span<const case_pair> pairs) {
    table built{};
    for (const case_pair& p : pairs) built[p.key] = static_cast<int32_t>(p.value);
    return built;
}
}  // namespace

constexpr table upper_table = build_table(upper_bmp_list);
constexpr table lower_table = build_table(lower_bmp_list);

uint32_t map_supplementary(uint32_t c, bool upper) {
    std::span<const case_pair> pairs = upper ? upper_pairs_supplementary() : lower_pairs_supplementary();
    auto found = std::lower_bound(pairs.begin(), pairs.end(), c,
                                  [](const case_pair& p, uint32_t key) { return p.key < key; });
    return found != pairs.end() && found->key == c ? found->value : c;
}

}  // namespace detail

change_reporter report_change = nullptr;

std::span<const case_pair> upper_pairs_bmp() { return upper_bmp_list; }

namespace {

// The refinement! /part, for the error that names it.
cell part_refinement() {
    int32_t id = symbol::make("part");
    return cell{TYPE_REFINEMENT, 0, static_cast<uint32_t>(id), static_cast<uint32_t>(-1)};
}

// Characters to change from the (clamped) index: all the rest, or what /part gives.
int64_t part_count(cell* value, const cell* part, int64_t index, int64_t rest) {
    if (!part) return rest;
    if (part->type() == TYPE_INTEGER) {
        return std::clamp<int64_t>(static_cast<int32_t>(part->w2), 0, rest);
    }
    if (string::is_any_string(part->type()) && part->w2 == value->w2) {
        int64_t end = std::clamp<int64_t>(static_cast<int32_t>(part->w1), 0, string::length_from_head(value));
        return std::clamp<int64_t>(end - index, 0, rest);
    }
    cell refinement = part_refinement();
    raise::throw_error(err::script_invalid_refine_arg, &refinement, part);
}

}  // namespace

cell* change_case_value(cell* arguments, int part_index, bool upper) {
    cell* value = arguments;
    if (value->type() == TYPE_CHAR) {
        value->w2 = change_case_char(value->w2, upper);
        return value;
    }
    if (!string::is_any_string(value->type())) raise::throw_error(err::script_invalid_arg, value);

    string::get_position(value);  // clamps the index and writes it back
    int64_t index = static_cast<int32_t>(value->w1);
    int64_t rest = string::rest_length(value);
    int64_t count = part_count(value, part_index > 0 ? arguments + part_index : nullptr, index, rest);

    for (int64_t i = index; i < index + count; ++i) {
        // Read through the cell each time: widening allocates, and a collection may move
        // the buffer and the node.
        memory::series_buffer* b = memory::buffer_of(value->w2);
        uint32_t unit = b->unit();
        uint32_t c = string::read_unit(b->head + i * unit, unit);
        uint32_t mapped = change_case_char(c, upper);
        // The writer widens the buffer when the mapping needs wider units; the same
        // character position is read next through the node.
        if (mapped != c) string::poke_codepoint_at_index(b, i, mapped);
    }
    if (report_change) report_change(value, upper, static_cast<int32_t>(index), static_cast<int32_t>(count));
    return value;
}

std::span<const case_pair> lower_pairs_bmp() { return lower_bmp_list; }
std::span<const case_pair> upper_pairs_supplementary() { return upper_supplementary_list; }
std::span<const case_pair> lower_pairs_supplementary() { return lower_supplementary_list; }

}  // namespace zor::case_fold
