// Environment, clock, zone, waiting and the desktop opener (see environment.h).
#include "platform/environment.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
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

namespace {

// The architecture word of a machine name as uname gives it.
const char* architecture_of(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return "x86-32";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.compare(0, 3, "arm") == 0) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

// Reads a run of digits at text[at], capped so it never overflows; -1 when none is there.
int64_t read_number(const std::string& text, size_t& at) {
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
    int64_t value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        if (value < INT32_MAX) value = value * 10 + (text[at] - '0');
        ++at;
    }
    return value < INT32_MAX ? value : INT32_MAX;
}

}  // namespace

system_description describe_system() {
    system_description description;
    struct utsname names;
    if (::uname(&names) != 0) {
        description.name = "Linux";
        description.arch = "Unknown";
        return description;
    }
    const std::string release = names.release;
    description.name = std::string(names.sysname) + " " + release;
    description.arch = architecture_of(names.machine);
    // "6.1.0-18-amd64": the numbers before the first character that continues none.
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        int64_t number = read_number(release, at);
        if (number < 0) break;
        description.version[i] = number > 255 ? 255 : static_cast<int>(number);
        if (at >= release.size() || release[at] != '.') break;
        ++at;
    }
    // "#1 SMP PREEMPT_DYNAMIC ...": the count after "#".
    const std::string version = names.version;
    size_t hash = version.find('#');
    if (hash != std::string::npos) {
        at = hash + 1;
        int64_t build = read_number(version, at);
        if (build > 0) description.build = static_cast<int32_t>(build);
    }
    return description;
}

}  // namespace zor::environment
