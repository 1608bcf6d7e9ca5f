// Whole-file and line reads with read(2).
#include "platform/plain-input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zor::platform {
namespace {

// One read of at most this many bytes at a time.
constexpr size_t CHUNK = 65536;

// Standard input's bytes read but not yet handed out as lines.
std::string pending_input;
size_t pending_start = 0;
bool input_ended = false;

// Reads until EOF, EINTR retried; answers 0 or the errno.
int read_all(int fd, std::string& out) {
    char chunk[CHUNK];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        out.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace

int read_whole_file(const char* path, std::string& out) {
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
    else failure = read_all(fd, out);
    ::close(fd);
    if (failure) out.clear();
    return failure;
}

bool read_input_line(std::string& out) {
    out.clear();
    for (;;) {
        size_t end = pending_input.find('\n', pending_start);
        if (end != std::string::npos) {
            out.assign(pending_input, pending_start, end - pending_start);
            pending_start = end + 1;
            break;
        }
        if (input_ended) {
            if (pending_start >= pending_input.size()) return false;
            out.assign(pending_input, pending_start);
            pending_start = pending_input.size();
            break;
        }
        // Only the unread rest is kept before reading more.
        pending_input.erase(0, pending_start);
        pending_start = 0;
        char chunk[CHUNK];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) input_ended = true;
        else pending_input.append(chunk, static_cast<size_t>(n));
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

}  // namespace zor::platform
