// Whole-file and line reads with read(2).
#include "platform/plain-input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/standard-input.h"

namespace zor::platform {
namespace {

// One read of at most this many bytes at a time.
constexpr size_t CHUNK = 65536;

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
    switch (standard_input::read_line(out, limit)) {
        case standard_input::LINE_END_OF_INPUT: return LINE_END_OF_INPUT;
        case standard_input::LINE_TOO_LONG: return LINE_TOO_LONG;
        case standard_input::LINE_READ: break;
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return LINE_READ;
}

}  // namespace zor::platform
