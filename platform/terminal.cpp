// The terminal layer of the line editor (see terminal.h).
#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/fatal.h"
#include "platform/key-decoder.h"
#include "platform/standard-input.h"

namespace zor::platform::terminal {
namespace {

// The modes to put back, and the raw ones, valid while raw is set. All three are read by
// signal handlers.
termios saved_modes{};
termios raw_modes{};
volatile sig_atomic_t raw = 0;

// The signals whose default action ends the process: while raw mode is on, their handler
// puts the modes back first.
constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGABRT};
constexpr int ENDING_SIGNAL_COUNT = sizeof ENDING_SIGNALS / sizeof ENDING_SIGNALS[0];
struct sigaction previous_actions[ENDING_SIGNAL_COUNT];

// Stopping (SIGTSTP from kill, or a job-control stop of any kind) while raw mode is on
// hands the terminal back in its saved modes; continuing takes raw mode up again and asks
// the editor to draw its line afresh.
constexpr int JOB_SIGNALS[] = {SIGTSTP, SIGCONT};
constexpr int JOB_SIGNAL_COUNT = sizeof JOB_SIGNALS / sizeof JOB_SIGNALS[0];
struct sigaction previous_job_actions[JOB_SIGNAL_COUNT];

// The self-pipe that turns SIGWINCH into something poll can wait for.
int resize_pipe[2] = {-1, -1};

void restore_modes() {
    if (!raw) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
    raw = 0;
}

void on_ending_signal(int signal_number) {
    const int saved_errno = errno;
    restore_modes();
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) {
        if (ENDING_SIGNALS[i] != signal_number) continue;
        sigaction(signal_number, &previous_actions[i], nullptr);
        // Delivered as soon as this handler returns, to the handler that was there before
        // (the default one ends the process with the signal's status).
        raise(signal_number);
    }
    errno = saved_errno;
}

// Notices through the self-pipe: 'w' a window-size change, 'c' a continue after a stop.
void notify(char notice) {
    if (resize_pipe[1] >= 0) (void)!::write(resize_pipe[1], &notice, 1);
}

void on_resize(int) {
    const int saved_errno = errno;
    notify('w');
    errno = saved_errno;
}

void on_job_signal(int signal_number) {
    const int saved_errno = errno;
    if (raw && signal_number == SIGTSTP) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
        raise(SIGSTOP);
    } else if (raw && signal_number == SIGCONT) {
        tcsetattr(STDIN_FILENO, TCSANOW, &raw_modes);
        notify('c');
    }
    errno = saved_errno;
}

void install_resize_notifier() {
    if (resize_pipe[0] >= 0) return;
    if (::pipe2(resize_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        resize_pipe[0] = resize_pipe[1] = -1;
        return;
    }
    struct sigaction action{};
    action.sa_handler = on_resize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
}

// The notices waiting (all taken): EVENT_CONTINUED when the process was continued after
// a stop, else EVENT_RESIZE for a size change, else EVENT_KEY for none.
event_kind take_notices() {
    if (resize_pipe[0] < 0) return EVENT_KEY;
    char notices[64];
    event_kind kind = EVENT_KEY;
    ssize_t n;
    while ((n = ::read(resize_pipe[0], notices, sizeof notices)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (notices[i] == 'c') kind = EVENT_CONTINUED;
            else if (kind == EVENT_KEY) kind = EVENT_RESIZE;
        }
    }
    return kind;
}

enum wait_result { WAIT_INPUT, WAIT_RESIZE, WAIT_TIMEOUT };

// Waits for standard input or a resize notice; timeout in milliseconds, -1 for none.
wait_result wait_for(int timeout) {
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {resize_pipe[0], POLLIN, 0}};
    const nfds_t count = resize_pipe[0] >= 0 ? 2 : 1;
    for (;;) {
        int ready = ::poll(watched, count, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                // Most likely the resize handler; its notice is in the pipe now.
                if (count == 2) return WAIT_RESIZE;
                continue;
            }
            return WAIT_INPUT;  // the read that follows tells what went wrong
        }
        if (ready == 0) return WAIT_TIMEOUT;
        if (count == 2 && (watched[1].revents & POLLIN)) return WAIT_RESIZE;
        return WAIT_INPUT;
    }
}

event decode_pending(bool complete) {
    key_decoder::decoded key =
        key_decoder::decode_key(standard_input::pending_data(), standard_input::pending_size(), complete);
    standard_input::consume(key.consumed);
    return {EVENT_KEY, key.code};
}

}  // namespace

bool is_interactive() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }

window_size get_window_size() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 && ::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) != 0)
        return {0, 0};
    return {size.ws_col, size.ws_row};
}

bool enter_raw_mode() {
    if (raw) return true;
    termios modes{};
    if (tcgetattr(STDIN_FILENO, &modes) != 0) return false;
    static bool registered = false;
    if (!registered) {
        at_exit(restore_modes);
        install_resize_notifier();
        registered = true;
    }
    saved_modes = modes;
    // Not cfmakeraw: output processing (OPOST, ONLCR) stays on.
    modes.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
    modes.c_cflag |= CS8;
    modes.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
    modes.c_cc[VMIN] = 1;
    modes.c_cc[VTIME] = 0;
    raw_modes = modes;
    struct sigaction action{};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) sigaction(ENDING_SIGNALS[i], &action, &previous_actions[i]);
    struct sigaction job_action{};
    job_action.sa_handler = on_job_signal;
    sigemptyset(&job_action.sa_mask);
    job_action.sa_flags = SA_RESTART;
    for (int i = 0; i < JOB_SIGNAL_COUNT; ++i) sigaction(JOB_SIGNALS[i], &job_action, &previous_job_actions[i]);
    raw = 1;
    // TCSANOW, never TCSAFLUSH: keys typed ahead (a paste) must survive the switch.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &modes) != 0) {
        leave_raw_mode();
        return false;
    }
    return true;
}

void leave_raw_mode() {
    if (!raw) return;
    restore_modes();
    for (int i = 0; i < ENDING_SIGNAL_COUNT; ++i) sigaction(ENDING_SIGNALS[i], &previous_actions[i], nullptr);
    for (int i = 0; i < JOB_SIGNAL_COUNT; ++i) sigaction(JOB_SIGNALS[i], &previous_job_actions[i], nullptr);
}

bool in_raw_mode() { return raw != 0; }

event read_event() {
    for (;;) {
        if (event_kind notice = take_notices(); notice != EVENT_KEY) return {notice, 0};
        if (standard_input::pending_size() > 0) {
            key_decoder::decoded key =
                key_decoder::decode_key(standard_input::pending_data(), standard_input::pending_size(), false);
            if (key.consumed > 0) {
                standard_input::consume(key.consumed);
                return {EVENT_KEY, key.code};
            }
            // The bytes begin a longer sequence: the rest comes at once or not at all.
            wait_result waited = wait_for(ESCAPE_TIMEOUT_MS);
            if (waited == WAIT_RESIZE) continue;  // the notice is taken first, the bytes stay
            if (waited == WAIT_INPUT && standard_input::read_more() > 0) continue;
            return decode_pending(true);
        }
        wait_result waited = wait_for(-1);
        if (waited == WAIT_RESIZE || waited == WAIT_TIMEOUT) continue;
        if (standard_input::read_more() == 0) return {EVENT_END, 0};
    }
}

void forget_notices() { (void)take_notices(); }

bool write_all(std::string_view bytes) {
    const char* p = bytes.data();
    size_t n = bytes.size();
    while (n > 0) {
        ssize_t written = ::write(STDOUT_FILENO, p, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += written;
        n -= static_cast<size_t>(written);
    }
    return true;
}

bool set_title(std::string_view title) {
    if (::isatty(STDOUT_FILENO) != 1) return true;
    std::string sequence = "\x1b]0;";
    for (char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        // A control character would end the sequence early or start another one.
        if (byte >= 0x20 && byte != 0x7F) sequence += c;
    }
    sequence += '\a';
    return write_all(sequence);
}

}  // namespace zor::platform::terminal
