// The boot literal table's base; null until the boot data is loaded.
#include "runtime/value/cell.h"

namespace zor {
cell* literal_base = nullptr;
}
