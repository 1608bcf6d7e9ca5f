// The process's surroundings: environment variables, the clock and the time zone, waiting,
// and opening a document or URL with the desktop's handler.
//
// Names and values are UTF-8 bytes. Failures come back as false or an empty optional; the
// calling native decides what to raise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zor::environment {

// The value of a variable, or nothing when it is not set.
std::optional<std::string> get_env(const std::string& name);
// Sets a variable, or removes it when value is null. False when the system refuses (a
// name that is empty or holds "=").
bool set_env(const std::string& name, const std::string* value);
// Every variable as (name, value), in the order the process holds them. The name ends at
// the first "=" after its first character.
std::vector<std::pair<std::string, std::string>> list_env();

// Sleeps for the seconds given, at least 1 ms: milliseconds are computed in 64 bits, so
// long waits are not cut short. Negative and non-finite values wait 1 ms.
void sleep_seconds(double seconds);

// The present instant and the zone in force at it: the offset of local time from UTC at
// this instant (daylight time included), from TZ or the system's zone; 0 with utc.
struct clock_reading {
    int64_t epoch_seconds = 0;   // whole seconds since 1970-01-01 00:00 UTC
    int32_t nanoseconds = 0;     // 0 unless precise
    int32_t offset_minutes = 0;  // local time - UTC
};
clock_reading read_clock(bool utc, bool precise);

// What the system says of itself: the kernel's name and release, the machine's
// architecture, the release's first three numbers and the kernel's build count.
struct system_description {
    std::string name;          // "Linux 6.1.0-18-amd64": the system's name, a space, its release
    std::string arch;          // x86-64, x86-32, ARM64, ARM, IA-64 or Unknown
    int version[3] = {0, 0, 0};  // major, minor, patch of the release, each 0..255
    int32_t build = 0;         // the "#N" build count of the kernel's version text, 0 if none
};
system_description describe_system();

// Starts the desktop's opener (xdg-open) on the target, detached: it is not waited for,
// and its output goes nowhere. False when it could not be started.
bool open_with_desktop(const std::string& target);

}  // namespace zor::environment
