// Tracing events as the rest of the runtime fires them. The tracer that receives them is
// installed by the evaluator; until one is, firing does nothing.
#pragma once

#include "runtime/cell.h"

namespace zor::tracing {

inline constexpr uint32_t EVENT_ERROR = 0x1000;

// Whether a tracer is installed and listening.
extern bool active;

// Reports a raised error to the tracer, with the pending throw code cleared around the
// call and restored afterwards.
void fire_error_event(cell* error);

}  // namespace zor::tracing
