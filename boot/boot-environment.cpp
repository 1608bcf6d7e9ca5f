// Installation of the boot environment's Zor sources (see boot-environment.h). Every
// value lives in an argument-stack slot while it is built: the collector is on.
#include "boot/boot-environment.h"

#include <string>

#include "boot/core-words.h"
#include "boot/routine-table.h"
#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"
#include "runtime/value/code-registry.h"

#include "boot/boot-sources.inc"

namespace zor::boot {

namespace {

constexpr const char* HELPER_WORD = "boot-routine";
// The helper's own spec: the arguments arrive evaluated, so a lit-word names a word! and
// a lit-path a path!.
constexpr std::string_view HELPER_SPEC = "name [word! path!] spec [block!] body [block!]";

// The registry name of the helper's first argument: a word's spelling, or a path's word
// elements joined by "/". Anything else raises script/invalid-arg naming it.
std::string registry_name(const cell* name) {
    if (name->is(TYPE_WORD)) return std::string(symbol::name_of(static_cast<int32_t>(name->w2)));
    if (!name->is(TYPE_PATH)) raise::throw_error(err::script_invalid_arg, name);
    std::string joined;
    const int64_t length = block::rest_length(name);
    const int64_t head = series::index_of(name);
    if (length <= 0) raise::throw_error(err::script_invalid_arg, name);
    for (int64_t i = 0; i < length; ++i) {
        const cell* element = block::get_cell(name, head + i);
        if (!element->is(TYPE_WORD)) raise::throw_error(err::script_invalid_arg, name);
        if (i > 0) joined.push_back('/');
        joined.append(symbol::name_of(static_cast<int32_t>(element->w2)));
    }
    return joined;
}

// `boot-routine`: arguments name, spec, body (cell-calling). Answers the new routine!.
cell* make_boot_routine(cell* arguments) {
    cell* name = arguments;
    cell* spec = arguments + 1;
    cell* body = arguments + 2;
    if (!spec->is(TYPE_BLOCK)) raise::throw_error(err::script_invalid_arg, spec);
    if (!body->is(TYPE_BLOCK)) raise::throw_error(err::script_invalid_arg, body);
    const std::string key = registry_name(name);
    const boot_routine* entry = find_routine(key);
    if (!entry) raise::throw_error(err::internal_not_done, name);
    const int32_t code = code_registry::index_of(entry->name);
    return routine::push_new(spec, body, code, entry->cell_calling ? 0 : entry->return_type, entry->cell_calling);
}

// True when the block's first values are the word `Zor` (this exact spelling) and a block.
bool starts_with_header(const cell* code) {
    if (block::rest_length(code) < 2) return false;
    const int64_t head = series::index_of(code);
    const cell* first = block::get_cell(code, head);
    return first->is(TYPE_WORD) && symbol::name_of(static_cast<int32_t>(first->w2)) == "Zor" &&
           block::get_cell(code, head + 1)->is(TYPE_BLOCK);
}

}  // namespace

void install_boot_helper() {
    static const boot_routine helper[] = {
        {HELPER_WORD, reinterpret_cast<code_registry::code>(&make_boot_routine), true, -1},
    };
    register_routines(helper);
    stack::stack_guard guard;
    cell* spec = stack::push_slot();
    load_static_text(spec, HELPER_SPEC);
    cell* made = routine::push_new(spec, nullptr, code_registry::index_of(HELPER_WORD), 0, true);
    bind_global(HELPER_WORD, made);
}

void remove_boot_helper() {
    const cell nothing{TYPE_UNSET, 0, 0, 0};
    bind_global(HELPER_WORD, &nothing);
}

void install_boot_source(std::string_view text) {
    stack::stack_guard guard;
    cell* code = stack::push_slot();
    load_static_text(code, text);
    if (starts_with_header(code)) code->w1 += 2;
    eval::run_block(code, false);
}

int boot_source_count() { return static_cast<int>(std::size(BOOT_SOURCES)); }

std::string_view boot_source_name(int index) { return BOOT_SOURCES[index].name; }

std::string_view boot_source_text(int index) { return BOOT_SOURCES[index].text; }

void install_boot_environment() {
    install_boot_helper();
    for (const embedded_boot_source& source : BOOT_SOURCES) install_boot_source(source.text);
    remove_boot_helper();
}

}  // namespace zor::boot
