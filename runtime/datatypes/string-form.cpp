// Text routines shared by the mold and form of every datatype: the indentation writer
// (nested lines start with four spaces a level) and forming a value into a new string.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "runtime/datatypes/string.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"

namespace zor::string {

namespace {
constexpr int INDENT_WIDTH = 4;
constexpr char SPACES[] = "                                                                ";  // 64
constexpr int64_t SPACES_LENGTH = sizeof SPACES - 1;
}  // namespace

int append_indent(cell* output, int n, int budget) {
    if (n <= 0) return budget;
    int64_t remaining = int64_t(n) * INDENT_WIDTH;
    int64_t written = remaining;
    while (remaining > 0) {
        int64_t chunk = std::min(remaining, SPACES_LENGTH);
        append_bytes(output, SPACES, chunk);
        remaining -= chunk;
    }
    return static_cast<int>(std::max<int64_t>(int64_t(budget) - written, INT_MIN));
}

}  // namespace zor::string
