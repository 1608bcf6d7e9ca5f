// The table of boot routines (see routine-table.h).
#include "boot/routine-table.h"

#include <vector>

namespace zor::boot {

namespace {

std::vector<boot_routine>& table() {
    static std::vector<boot_routine> entries;
    return entries;
}

}  // namespace

void register_routines(std::span<const boot_routine> routines) {
    for (const boot_routine& entry : routines) {
        code_registry::register_code(entry.name, entry.code);
        bool replaced = false;
        for (boot_routine& known : table()) {
            if (known.name == entry.name) {
                known = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced) table().push_back(entry);
    }
}

const boot_routine* find_routine(std::string_view name) {
    for (const boot_routine& entry : table())
        if (entry.name == name) return &entry;
    return nullptr;
}

}  // namespace zor::boot
