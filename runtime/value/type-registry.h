// The datatype registry: one entry per datatype id (its name and word) and one row of
// action handlers per id, filled when the type's module registers. Inheritance is
// resolved at registration: an inherited slot copies the parent's entry as it is at that
// moment, so parents register before their children. A null entry means the type does
// not support the action.
#pragma once

#include <initializer_list>
#include <span>

#include "runtime/value/action-signatures.h"
#include "runtime/value/cell.h"

namespace zor::type_registry {

struct type_entry {
    const char* name;   // "integer!"
    int32_t name_length;  // without the "!"
    cell word;          // the word! of the name; header 0 until words exist
};

extern type_entry* type_entries;  // TYPE_TABLE_SIZE entries
extern action_entry* action_table;  // TYPE_TABLE_SIZE rows of ROW_SIZE entries
extern int max_type_id;
inline constexpr int ROW_SIZE = 256;

// One registration slot: a handler, "inherit from the parent", or "not supported".
struct action_slot {
    enum kind_t : uint8_t { unsupported, inherit, handler } kind = unsupported;
    action_entry entry = nullptr;
};

// The 62 slots of a registration, built by name instead of position.
class action_list {
public:
    // Every slot starts as inherit for a type with a parent, unsupported without one.
    explicit action_list(type_id parent) {
        for (auto& s : slots_) s.kind = parent ? action_slot::inherit : action_slot::unsupported;
    }
    template <action A> action_list& set(action_handler<A> handler) {
        slots_[A - 1] = {action_slot::handler, reinterpret_cast<action_entry>(handler)};
        return *this;
    }
    action_list& unsupported(action a) {
        slots_[a - 1] = {action_slot::unsupported, nullptr};
        return *this;
    }
    action_list& inherit(action a) {
        slots_[a - 1] = {action_slot::inherit, nullptr};
        return *this;
    }
    std::span<const action_slot> slots() const { return slots_; }

private:
    action_slot slots_[ACTION_COUNT];
};

// Allocates the type entries and the action table from the tracked heap.
void init();
// Ends the process with the datatype error when the slot count is not 62.
void register_type(type_id id, type_id parent, const char* name, std::span<const action_slot> slots);
inline void register_type(type_id id, type_id parent, const char* name, const action_list& list) {
    register_type(id, parent, name, list.slots());
}
// Gives every registered type its word (once the symbol table exists).
void bind_type_words();
// Installs the maker of type words; until it is set, types get no word.
void set_word_maker(bool (*maker)(const char* name, cell* out));
// A word! of any name through the installed maker (action names in error arguments);
// false, leaving out untouched, while no maker is installed.
bool make_word(const char* name, cell* out);

inline action_entry handler_of(type_id type, action a) { return action_table[type * ROW_SIZE + a - 1]; }

}  // namespace zor::type_registry
