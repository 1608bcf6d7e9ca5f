// Whole-file and line reads with read(2).
#include "platform/plain-input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace zor::platform {
namespace {

// One read of at most this many bytes at a time.
constexpr size_t CHUNK = 65536;

// Standard input's bytes read but not yet handed out as lines; the bytes before
// pending_searched hold no LF.
std::string pending_input;
size_t pending_start = 0;
size_t pending_searched = 0;
bool input_ended = false;
// Skipping the rest of a line that was too long.
bool skipping = false;

// Reads until EOF, EINTR retried; answers 0 or the errno (EFBIG past the limit, ENOMEM
// when the bytes could not be held).
int read_all(int fd, std::string& out, size_t limit) {
    char chunk[CHUNK];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        if (out.size() + static_cast<size_t>(n) > limit) return EFBIG;
        try {
            out.append(chunk, static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
    }
}

}  // namespace

int read_whole_file(const char* path, std::string& out, size_t limit) {
    out.clear();
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    struct stat info {};
    int failure = 0;
    if (::fstat(fd, &info) != 0) failure = errno;
    else if (S_ISDIR(info.st_mode)) failure = EISDIR;
    else if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limit) failure = EFBIG;
    else failure = read_all(fd, out, limit);
    ::close(fd);
    if (failure) out.clear();
    return failure;
}

line_read read_input_line(std::string& out, size_t limit) {
    out.clear();
    for (;;) {
        size_t end = pending_input.find('\n', pending_searched);
        if (skipping) {
            // The rest of a line that was too long is dropped as it comes.
            if (end == std::string::npos) {
                pending_input.clear();
                pending_start = pending_searched = 0;
                if (input_ended) return LINE_END_OF_INPUT;
            } else {
                pending_start = pending_searched = end + 1;
                skipping = false;
                continue;
            }
        } else if (end != std::string::npos) {
            out.assign(pending_input, pending_start, end - pending_start);
            pending_start = pending_searched = end + 1;
            break;
        } else if (pending_input.size() - pending_start > limit) {
            skipping = true;
            pending_input.clear();
            pending_start = pending_searched = 0;
            return LINE_TOO_LONG;
        } else if (input_ended) {
            if (pending_start >= pending_input.size()) return LINE_END_OF_INPUT;
            out.assign(pending_input, pending_start);
            pending_start = pending_searched = pending_input.size();
            break;
        } else {
            // Only the new bytes are searched next time.
            pending_searched = pending_input.size();
        }
        if (input_ended) continue;
        // Only the unread rest is kept before reading more.
        pending_input.erase(0, pending_start);
        pending_searched -= pending_start;
        pending_start = 0;
        char chunk[CHUNK];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            input_ended = true;
            continue;
        }
        try {
            pending_input.append(chunk, static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            // What cannot be held is a line too long for this process.
            skipping = true;
            pending_input.clear();
            pending_start = pending_searched = 0;
            return LINE_TOO_LONG;
        }
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return LINE_READ;
}

}  // namespace zor::platform
