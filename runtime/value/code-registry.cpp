// The code registry's storage: entries in index order, plus a name index.
#include "runtime/value/code-registry.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace zor::code_registry {

namespace {

struct entry {
    std::string name;
    code routine;
};

// Function-local statics: registration may run during static initialisation of other
// translation units, before any namespace-scope object here would be constructed.
std::vector<entry>& entries() {
    static std::vector<entry> table;
    return table;
}

std::unordered_map<std::string, int32_t>& names() {
    static std::unordered_map<std::string, int32_t> index;
    return index;
}

}  // namespace

int32_t register_code(std::string_view name, code routine) {
    if (!routine || name.empty()) return 0;
    std::string key(name);
    auto found = names().find(key);
    if (found != names().end()) {
        entries()[static_cast<size_t>(found->second - 1)].routine = routine;
        return found->second;
    }
    entries().push_back({key, routine});
    int32_t index = static_cast<int32_t>(entries().size());
    names().emplace(std::move(key), index);
    return index;
}

code code_of(int32_t index) {
    if (index < 1 || index > count()) return nullptr;
    return entries()[static_cast<size_t>(index - 1)].routine;
}

int32_t index_of(std::string_view name) {
    auto found = names().find(std::string(name));
    return found == names().end() ? 0 : found->second;
}

std::string_view name_of(int32_t index) {
    if (index < 1 || index > count()) return {};
    return entries()[static_cast<size_t>(index - 1)].name;
}

int32_t count() { return static_cast<int32_t>(entries().size()); }

}  // namespace zor::code_registry
