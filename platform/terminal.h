// The terminal under the console line editor: its modes, its size, its key input and
// one-write screen updates. This is the program's own small replacement for a console
// API, over termios and the VT sequences every Linux terminal understands.
//
// Raw mode turns off what the line discipline does to input (echo, line buffering,
// signal keys, CR-to-LF and flow control) and keeps output processing, so LF still
// starts a new line when anything else prints. The modes saved on entering raw mode are
// put back by leave_raw_mode, and also on every other way out while raw mode is on:
// exit_process and the fatal-signal report (through platform/fatal.h's at-exit list),
// and the signals that end a process by default (SIGTERM, SIGHUP, SIGINT, SIGQUIT,
// SIGABRT), which are then re-raised with the handler that was there before. A stop
// (SIGTSTP) while raw puts the saved modes back for the shell, and the continue after it
// (SIGCONT) takes raw mode up again.
//
// Invariants for callers: one raw period at a time (enter, then leave); the window size
// is re-read after each resize event; terminal output written here bypasses the console
// printers, so a caller that needs the printers' state (the output line tail) writes its
// final line feed through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zor::platform::terminal {

// Standard input and standard output are both terminals: the line editor can work.
bool is_interactive();

struct window_size {
    int columns;
    int rows;
};
// The terminal window's size in cells; {0, 0} when it cannot be read.
window_size get_window_size();

// Switches standard input's terminal to raw mode; false when its modes cannot be read or
// set (then nothing changed). Installs the resize (SIGWINCH) notifier the first time.
bool enter_raw_mode();
// Puts the saved modes back; nothing when raw mode is off.
void leave_raw_mode();
bool in_raw_mode();

// EVENT_CONTINUED: the process was stopped and continued meanwhile (the screen may show
// anything now; raw mode is on again).
enum event_kind { EVENT_KEY, EVENT_RESIZE, EVENT_CONTINUED, EVENT_END };
struct event {
    event_kind kind;
    int32_t code;  // the key code of an EVENT_KEY (platform/key-decoder.h)
};

// How long a lone ESC waits for the rest of a sequence before it counts as Esc.
inline constexpr int ESCAPE_TIMEOUT_MS = 40;

// Waits for the next key, window-size change or continue after a stop. Bytes arrive through standard input's
// shared buffer (platform/standard-input.h); the bytes of one key are decoded together.
// EVENT_END when the input ended (the terminal hung up).
event read_event();
// Drops resize and continue notices that came while no one was reading (the next edit
// reads the size and draws afresh anyway).
void forget_notices();

// Writes all the bytes to standard output in one write(2) when the system allows (the
// rest with more writes); answers false when the terminal refused them.
bool write_all(std::string_view bytes);

// Sets the window title (OSC 0) when standard output is a terminal; answers false when
// that write failed.
bool set_title(std::string_view title);

}  // namespace zor::platform::terminal
