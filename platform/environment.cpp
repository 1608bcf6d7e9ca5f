// Environment, clock, zone, waiting and the desktop opener (see environment.h).
#include "platform/environment.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace zor::environment {

std::optional<std::string> get_env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

bool set_env(const std::string& name, const std::string* value) {
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos) return false;
    bool done = value ? ::setenv(name.c_str(), value->c_str(), 1) == 0 : ::unsetenv(name.c_str()) == 0;
    // The C library reads TZ once and caches the zone; a change must reach `now`.
    if (done && name == "TZ") ::tzset();
    return done;
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text = *entry;
        size_t equals = text.empty() ? std::string::npos : text.find('=', 1);
        if (equals == std::string::npos) entries.emplace_back(text, std::string());
        else entries.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return entries;
}

void sleep_seconds(double seconds) {
    double milliseconds = seconds * 1000.0;
    if (!(milliseconds >= 1.0)) milliseconds = 1.0;  // also NaN
    // Beyond about 292 million years the count no longer fits; nobody waits that long.
    int64_t whole = milliseconds >= 9.2e15 ? int64_t(9.2e15) : int64_t(milliseconds);
    timespec wait{time_t(whole / 1000), long(whole % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

clock_reading read_clock(bool utc, bool precise) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    clock_reading reading;
    reading.epoch_seconds = int64_t(now.tv_sec);
    reading.nanoseconds = precise ? int32_t(now.tv_nsec) : 0;
    if (!utc) {
        // TZ may have changed since the last reading (set-env re-reads it too).
        ::tzset();
        std::tm parts{};
        ::localtime_r(&now.tv_sec, &parts);
        reading.offset_minutes = int32_t(parts.tm_gmtoff / 60);
    }
    return reading;
}

bool open_with_desktop(const std::string& target) {
    // A child that starts the opener and leaves at once: the opener is adopted by init,
    // so no zombie is left behind and nothing waits for the desktop.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"/bin/sh", "-c", "xdg-open \"$1\" & exit 0", "sh", target.c_str(), nullptr};
    pid_t child = 0;
    int failed = ::posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

}  // namespace zor::environment
