// The tracing dispatcher's entry for raised errors.
#include "runtime/eval/tracing.h"

#include "runtime/eval/throw.h"

namespace zor::tracing {

bool active = false;
void (*tracer)(uint32_t event, cell* value) = nullptr;

void fire_error_event(cell* error) {
    if (!active || !tracer) return;
    uint32_t saved = last_throw_code;
    last_throw_code = 0;
    tracer(EVENT_ERROR, error);
    last_throw_code = saved;
}

}  // namespace zor::tracing
