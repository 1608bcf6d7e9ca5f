// Building the error catalogue objects from the generated tables, and reading them.
#include "runtime/errors/error-catalogue-objects.h"

#include <cstring>
#include <iterator>

#include "runtime/binding/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/error-catalogue.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/binding/symbol.h"
#include "runtime/text/unicode.h"

namespace zor::error_catalogue_objects {

namespace {

enum root : int { ROOT_ERRORS, ROOT_PROTOTYPE, ROOT_COUNT };
cell roots[ROOT_COUNT];
bool built = false;

const char* const prototype_fields[] = {"code", "type", "id", "arg1", "arg2", "arg3",
                                        "near", "where", "stack", "files"};

void mark_roots() { gc::mark_cells(roots, roots + ROOT_COUNT); }

cell* push_text(const char* text) {
    return string::load_onto_stack(unicode::input_bytes::at(text), static_cast<int64_t>(std::strlen(text)),
                                   string::ENCODING_UTF8);
}

// An argument word of a template as the catalogue writes it: ":arg1" a get-word!, "arg1"
// a word!.
cell* push_argument_word(const char* text) {
    bool get = text[0] == ':';
    cell* word = word::push_global(symbol::make(get ? text + 1 : text));
    if (get) cell::set_type(word, TYPE_GET_WORD);
    return word;
}

cell* push_template(const error_catalogue::catalogue_id& id) {
    const error_catalogue::template_piece* pieces = error_catalogue::pieces(id);
    switch (id.kind) {
        case error_catalogue::template_kind::string:
            return push_text(id.piece_count > 0 ? pieces[0].text : "");
        case error_catalogue::template_kind::word:
            return push_argument_word(pieces[0].text);
        case error_catalogue::template_kind::block:
            break;
    }
    cell* block = block::push_empty(id.piece_count);
    for (int i = 0; i < id.piece_count; ++i) {
        if (pieces[i].kind == error_catalogue::template_piece_kind::text) push_text(pieces[i].text);
        else push_argument_word(pieces[i].text);
        block::append_copy(block, stack::last_slot());
        stack::drop_slots(1);
    }
    return block;
}

void put_field(const cell* object, const char* name, const cell* value) {
    context::put_symbol_value(object->w1, symbol::make(name), value);
}

cell* field_at(const cell* object, int32_t index) {
    if (index < 0 || index >= context::key_count(object->w1)) return nullptr;
    return context::value_at(object->w1, index);
}

}  // namespace

void init() {
    if (built) return;
    gc::add_mark_callback(&mark_roots);
    cell* saved_top = stack::state.args_top;

    object::init_empty(&roots[ROOT_ERRORS], error_catalogue::CATEGORY_COUNT);
    roots[ROOT_ERRORS].w2 = static_cast<uint32_t>(object::next_class_id());
    *context::self_cell(roots[ROOT_ERRORS].w1) = roots[ROOT_ERRORS];
    for (int c = 0; c < error_catalogue::CATEGORY_COUNT; ++c) {
        const error_catalogue::catalogue_category& source = error_catalogue::category(c);
        cell* category = stack::push_slot();
        object::init_empty(category, 2 + source.id_count);
        category->w2 = static_cast<uint32_t>(object::next_class_id());
        *context::self_cell(category->w1) = *category;
        put_field(category, "code", integer::push(source.code));
        put_field(category, "type", push_text(source.type));
        for (int i = 0; i < source.id_count; ++i) {
            const error_catalogue::catalogue_id* id = error_catalogue::id_at(c, i + 2);
            put_field(category, id->name, push_template(*id));
            stack::state.args_top = category + 1;
        }
        put_field(&roots[ROOT_ERRORS], source.name, category);
        stack::state.args_top = saved_top;
    }

    object::init_empty(&roots[ROOT_PROTOTYPE], static_cast<int32_t>(std::size(prototype_fields)));
    roots[ROOT_PROTOTYPE].w2 = static_cast<uint32_t>(object::next_class_id());
    *context::self_cell(roots[ROOT_PROTOTYPE].w1) = roots[ROOT_PROTOTYPE];
    for (const char* name : prototype_fields) put_field(&roots[ROOT_PROTOTYPE], name, &none::value);
    stack::state.args_top = saved_top;
    built = true;
}

bool ready() { return built; }

cell* errors() { return &roots[ROOT_ERRORS]; }
cell* standard_error() { return &roots[ROOT_PROTOTYPE]; }

int32_t category_count() { return built ? context::key_count(roots[ROOT_ERRORS].w1) : 0; }

cell* category(int32_t index) {
    if (!built) return nullptr;
    cell* value = field_at(&roots[ROOT_ERRORS], index);
    return value && value->is(TYPE_OBJECT) ? value : nullptr;
}

bool category_word(int32_t index, cell* out) {
    if (!built || index < 0 || index >= context::key_count(roots[ROOT_ERRORS].w1)) return false;
    *out = *context::word_at(roots[ROOT_ERRORS].w1, index);
    out->header = TYPE_WORD;
    return true;
}

bool id_word(int32_t category_index, int32_t id_index, cell* out) {
    const cell* object = category(category_index);
    if (!object || id_index < 2 || id_index >= context::key_count(object->w1)) return false;
    *out = *context::word_at(object->w1, id_index);
    out->header = TYPE_WORD;
    return true;
}

int32_t category_index_of(int32_t symbol) {
    if (!built) return -1;
    int32_t index = context::find_symbol(roots[ROOT_ERRORS].w1, symbol, true);
    return index >= 0 && category(index) ? index : -1;
}

int32_t id_index_of(int32_t category_index, int32_t symbol) {
    const cell* object = category(category_index);
    if (!object) return -1;
    int32_t index = context::find_symbol(object->w1, symbol, true);
    return index >= 2 ? index : -1;
}

}  // namespace zor::error_catalogue_objects
