// The error catalogue as the runtime raises from it: ten categories, each with its base
// code, display type and ids, each id with its message template. The data is generated
// from runtime/data/error-catalogue.zor, which the boot environment also loads to build
// system/catalog/errors, so the catalogue exists once.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

// Every error by category and id: (category index << 8) | id index, where an id's index
// counts the category object's leading `code` and `type` words (so the first id is 2).
enum class err : uint16_t {
#define ZOR_ERROR_CATALOGUE_ENUM
#include "runtime/error-catalogue-data.inc"
#undef ZOR_ERROR_CATALOGUE_ENUM
};

namespace error_catalogue {

enum class template_kind : uint8_t { string, block, word };
enum class template_piece_kind : uint8_t { text, argument };

struct catalogue_category {
    const char* name;
    int code;
    const char* type;
    int first_id;  // index into catalogue_ids
    int id_count;
};

struct catalogue_id {
    const char* name;
    template_kind kind;
    int first_piece;
    int piece_count;
};

struct template_piece {
    template_piece_kind kind;
    const char* text;  // the text, or the argument word as written (":arg1", "arg2")
    int argument;      // 1..3 for an argument
};

inline constexpr int CATEGORY_COUNT = 10;

inline int category_index(err e) { return static_cast<int>(e) >> 8; }
inline int id_index(err e) { return static_cast<int>(e) & 0xFF; }
// code = category x 100 + id index - 2
inline int code_of(err e) { return category_index(e) * 100 + id_index(e) - 2; }

const catalogue_category& category(int index);
// The id at an index (2 and up) of a category, or null when the category has none there.
const catalogue_id* id_at(int category_index, int id_index);
const template_piece* pieces(const catalogue_id& id);
// The catalogue's source text, for the boot environment.
std::string_view source_text();

}  // namespace error_catalogue
}  // namespace zor
