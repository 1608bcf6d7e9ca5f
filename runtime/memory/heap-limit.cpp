// The total heap limit (see heap-limit.h): its default from the machine and the process's
// limits, or the environment's setting.
#include "runtime/memory/heap-limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console-output.h"
#include "platform/fatal.h"

namespace zor::heap_limit {
namespace {

int64_t current = INT64_MAX;

int64_t default_limit() {
    int64_t result = INT64_MAX;
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) result = int64_t(pages) * page / 4 * 3;
    rlimit address{};
    if (getrlimit(RLIMIT_AS, &address) == 0 && address.rlim_cur != RLIM_INFINITY) {
        result = std::min<int64_t>(result, static_cast<int64_t>(address.rlim_cur / 4 * 3));
    }
    return std::max(result, MINIMUM_LIMIT);
}

}  // namespace

int64_t parse_size(std::string_view text) {
    size_t i = 0;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) return -1;
        value = value * 10 + (text[i] - '0');
    }
    if (i == 0) return -1;
    std::string_view unit = text.substr(i);
    int shift = 0;
    if (!unit.empty()) {
        switch (unit[0]) {
            case 'k': case 'K': shift = 10; break;
            case 'm': case 'M': shift = 20; break;
            case 'g': case 'G': shift = 30; break;
            case 't': case 'T': shift = 40; break;
            default: break;
        }
        if (shift) unit.remove_prefix(1);
        if (shift && (unit == "iB" || unit == "ib")) unit.remove_prefix(2);
        else if (unit == "B" || unit == "b") unit.remove_prefix(1);
        if (!unit.empty()) return -1;
    }
    if (value > (INT64_MAX >> shift)) return -1;
    return value << shift;
}

void init() {
    const char* setting = std::getenv("ZOR_HEAP_LIMIT");
    if (!setting) {
        current = default_limit();
        return;
    }
    int64_t size = parse_size(setting);
    if (size < 0) {
        std::string line = "*** Error: ZOR_HEAP_LIMIT is no size: \"" + std::string(setting) +
                           "\" (a number of bytes, optionally followed by K, M, G or T)\n";
        platform::write_raw(line.data(), line.size());
        platform::exit_process(1);
    }
    current = std::max(size, MINIMUM_LIMIT);
}

int64_t limit() { return current; }

}  // namespace zor::heap_limit
