// The file system as the runtime's file services see it: POSIX files named by UTF-8
// paths, opened and closed by each operation, with 64-bit sizes and offsets throughout.
//
// Failures come back as -1, false or an empty optional, never as an exception: the
// calling action decides which language error to raise. Reads and writes loop until the
// whole count is done, the file ends or the system reports an error, so a short transfer
// of the system (a signal, a pipe, a network file system) never shortens the data.
//
// Invariant for callers: buffers passed in must stay put while the call runs (nothing
// here allocates in the runtime, so a pointer into a series buffer is fine as long as the
// caller allocates nothing between taking it and the call's return).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zor::file_system {

// A descriptor open for reading, or -1.
int open_for_reading(const std::string& path);
// A descriptor open for writing, created when missing (mode 0666 less the umask), or -1.
// Without keep the file is truncated; with it the content stays (appending and seeking).
int open_for_writing(const std::string& path, bool keep);
void close_file(int descriptor);

// The size of an open file in bytes, or -1. Files that the system reports as empty may
// still yield bytes (/proc files, pipes): read_to_end measures them.
int64_t size_of(int descriptor);
// Sets the position from the start; false on failure.
bool seek_to(int descriptor, int64_t offset);
// Moves the position to the end; false on failure.
bool seek_to_end(int descriptor);
// Reads until count bytes are read or the file ends; the count read, or -1.
int64_t read_fully(int descriptor, void* buffer, size_t count);
// Reads everything from the position to the end, but never more than limit + 1 bytes: a
// source without end (a device, a pipe that never closes) stops there, and the caller
// tells it by the size. Nothing on failure.
std::optional<std::vector<uint8_t>> read_to_end(int descriptor, size_t limit = SIZE_MAX - 1);
// Writes all count bytes; the count written, or -1.
int64_t write_fully(int descriptor, const void* buffer, size_t count);

// The whole content of a file, or nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path);

bool exists(const std::string& path);
bool is_directory(const std::string& path);
// The size in bytes of what the path names (a directory's as the system reports it), or -1.
int64_t size_of_path(const std::string& path);

struct directory_entry {
    std::string name;
    bool directory = false;
};
// The entries of a directory without "." and "..", sorted by name (bytewise) so that
// listings are the same on every run; nothing when it cannot be read.
std::optional<std::vector<directory_entry>> list_directory(const std::string& path);

bool make_directory(const std::string& path);
// Removes a file, or an empty directory when directory is set.
bool remove_path(const std::string& path, bool directory);
// Renames without ever replacing what the new name already names: false then.
bool rename_path(const std::string& from, const std::string& to);

// The last modification time of what the path names, in UTC.
struct modification_time {
    int64_t seconds = 0;  // since 1970-01-01 00:00:00 UTC
    int32_t nanoseconds = 0;
};
std::optional<modification_time> modified_at(const std::string& path);

}  // namespace zor::file_system
