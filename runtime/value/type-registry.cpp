// The datatype registry and its action rows.
#include "runtime/value/type-registry.h"

#include <cstdio>
#include <cstring>

#include "platform/fatal.h"
#include "platform/console-output.h"
#include "runtime/memory/heap.h"

namespace zor::type_registry {

type_entry* type_entries = nullptr;
action_entry* action_table = nullptr;
int max_type_id = 0;

namespace {
bool (*word_maker)(const char* name, cell* out) = nullptr;

void give_word(type_entry& entry) {
    if (word_maker && !word_maker(entry.name, &entry.word)) entry.word = cell{};
}
}  // namespace

void init() {
    type_entries = static_cast<type_entry*>(heap::allocate(sizeof(type_entry) * TYPE_TABLE_SIZE));
    action_table = static_cast<action_entry*>(heap::allocate(sizeof(action_entry) * TYPE_TABLE_SIZE * ROW_SIZE));
    std::memset(static_cast<void*>(type_entries), 0, sizeof(type_entry) * TYPE_TABLE_SIZE);
    std::memset(static_cast<void*>(action_table), 0, sizeof(action_entry) * TYPE_TABLE_SIZE * ROW_SIZE);
    max_type_id = 0;
}

void register_type(type_id id, type_id parent, const char* name, std::span<const action_slot> slots) {
    if (id > max_type_id) max_type_id = id;
    type_entry& entry = type_entries[id];
    entry.name = name;
    entry.name_length = static_cast<int32_t>(std::strlen(name)) - 1;
    entry.word = cell{};
    give_word(entry);

    if (slots.size() != ACTION_COUNT) {
        char report[200];
        int n = std::snprintf(report, sizeof report,
                              "*** Datatype Error: invalid actions count for type: %d\n*** Found: %zu\n"
                              "*** Expected: %d\n",
                              int(id), slots.size(), ACTION_COUNT);
        platform::print_utf8(report, static_cast<size_t>(n));
        platform::exit_process(1);
    }

    action_entry* row = &action_table[id * ROW_SIZE];
    const action_entry* parent_row = &action_table[parent * ROW_SIZE];
    for (int a = 0; a < ACTION_COUNT; ++a) {
        const action_slot& slot = slots[a];
        if (slot.kind == action_slot::inherit && parent != 0) {
            row[a] = parent_row[a];
        } else {
            row[a] = slot.kind == action_slot::handler ? slot.entry : nullptr;
        }
    }
}

void set_word_maker(bool (*maker)(const char* name, cell* out)) { word_maker = maker; }

bool make_word(const char* name, cell* out) { return word_maker && word_maker(name, out); }

void bind_type_words() {
    for (int id = 1; id <= max_type_id; ++id) {
        if (type_entries[id].name) give_word(type_entries[id]);
    }
}

}  // namespace zor::type_registry
