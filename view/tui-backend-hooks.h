// The text-mode display's side of console output: the default console printer asks the
// display to step aside before it writes (restore the console mode, clear the drawn view
// lines) and to come back afterwards (redraw the view). It reaches these through
// upcalls::clear_before_print and upcalls::resume_after_print, which start-up points here.
#pragma once

namespace zor::tui_backend {

void clear_before_print();
void resume_after_print();

}  // namespace zor::tui_backend
