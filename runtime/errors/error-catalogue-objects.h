// The error catalogue as language values: the catalogue object (an object whose fields
// are the ten categories, in category order), one object per category (fields `code`,
// `type`, then one field per id holding its message template: a string!, a block! of
// strings and argument words, or a word!), and the standard error prototype (fields code,
// type, id, arg1, arg2, arg3, near, where, stack, files, all none) that every error! is a
// copy of. They are built once at start-up from the generated catalogue tables
// (runtime/errors/error-catalogue.h), so the catalogue's data exists in one place, and the boot
// environment installs these very objects as `system/catalog/errors` and
// `system/standard/error`: a script that changes a template changes what the runtime
// reports.
//
// Invariant: nothing here is valid before init has run (after the predefined words exist).
// The cells answered live in roots the collector marks; pointers into contexts are valid
// until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::error_catalogue_objects {

// Start-up: builds the catalogue, category and prototype objects (once).
void init();
bool ready();

// The catalogue object, `system/catalog/errors`.
cell* errors();
// The standard error prototype, `system/standard/error`.
cell* standard_error();

// The number of categories (fields of the catalogue object).
int32_t category_count();
// The category object at an index, or null when that field holds no object.
cell* category(int32_t index);
// The key word of the category at an index (a word! bound to the catalogue object).
bool category_word(int32_t index, cell* out);
// The key word at an id index (2 and up) of a category object; false when absent.
bool id_word(int32_t category_index, int32_t id_index, cell* out);
// The index of the category named by the symbol (caseless), -1 when the catalogue has no
// object of that name.
int32_t category_index_of(int32_t symbol);
// The id index (2 and up) of the symbol in a category object, -1 when it names no id.
int32_t id_index_of(int32_t category_index, int32_t symbol);

}  // namespace zor::error_catalogue_objects
