// No view is ever drawn yet: the text-mode display hooks in here once it exists, and
// until then printing needs nothing from it.
#include "view/tui-backend-hooks.h"

namespace zor::tui_backend {

void clear_before_print() {}

void resume_after_print() {}

}  // namespace zor::tui_backend
