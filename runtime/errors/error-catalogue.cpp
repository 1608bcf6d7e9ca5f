// Look-ups in the generated catalogue tables.
#include "runtime/errors/error-catalogue.h"

#include <iterator>

namespace zor::error_catalogue {
namespace {
#include "runtime/error-catalogue-data.inc"
static_assert(std::size(catalogue_categories) == CATEGORY_COUNT);
}  // namespace

const catalogue_category& category(int index) { return catalogue_categories[index]; }

const catalogue_id* id_at(int category_index, int id_index) {
    if (category_index < 0 || category_index >= CATEGORY_COUNT) return nullptr;
    const catalogue_category& c = catalogue_categories[category_index];
    int n = id_index - 2;
    if (n < 0 || n >= c.id_count) return nullptr;
    return &catalogue_ids[c.first_id + n];
}

const template_piece* pieces(const catalogue_id& id) { return &catalogue_pieces[id.first_piece]; }

std::string_view source_text() { return catalogue_text; }

}  // namespace zor::error_catalogue
