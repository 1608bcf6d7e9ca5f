// Standard input's shared read-ahead buffer (see standard-input.h).
#include "platform/standard-input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace zor::platform::standard_input {
namespace {

// One read of at most this many bytes at a time.
constexpr size_t CHUNK = 65536;

// The pending bytes are buffer[start, buffer.size()); the bytes before start + searched
// hold no LF.
std::string buffer;
size_t start = 0;
size_t searched = 0;
// Dropping the rest of a line that was too long.
bool skipping = false;

// Keeps the buffer from growing by the bytes already handed out.
void compact() {
    if (start == 0) return;
    buffer.erase(0, start);
    start = 0;
}

}  // namespace

const uint8_t* pending_data() { return reinterpret_cast<const uint8_t*>(buffer.data() + start); }

size_t pending_size() { return buffer.size() - start; }

void consume(size_t n) {
    size_t pending = pending_size();
    if (n > pending) n = pending;
    start += n;
    searched = searched > n ? searched - n : 0;
    if (start == buffer.size()) {
        buffer.clear();
        start = 0;
    }
}

size_t read_more() {
    char chunk[CHUNK];
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    compact();
    buffer.append(chunk, static_cast<size_t>(n));
    return static_cast<size_t>(n);
}

line_status read_line(std::string& out, size_t limit) {
    out.clear();
    for (;;) {
        const size_t pending = pending_size();
        const void* found = searched < pending ? std::memchr(pending_data() + searched, '\n', pending - searched) : nullptr;
        if (found) {
            size_t length = static_cast<size_t>(static_cast<const uint8_t*>(found) - pending_data());
            if (skipping) {
                skipping = false;
                consume(length + 1);
                continue;
            }
            out.assign(reinterpret_cast<const char*>(pending_data()), length);
            consume(length + 1);
            searched = 0;
            return LINE_READ;
        }
        searched = pending;
        if (skipping) {
            consume(pending);
        } else if (pending > limit) {
            skipping = true;
            consume(pending);
            return LINE_TOO_LONG;
        }
        size_t got;
        try {
            got = read_more();
        } catch (const std::bad_alloc&) {
            // What cannot be held is a line too long for this process.
            skipping = true;
            consume(pending_size());
            return LINE_TOO_LONG;
        }
        if (got == 0) {
            skipping = false;
            if (pending_size() == 0) return LINE_END_OF_INPUT;
            out.assign(reinterpret_cast<const char*>(pending_data()), pending_size());
            consume(pending_size());
            searched = 0;
            return LINE_READ;
        }
    }
}

size_t take(uint8_t* into, size_t n) {
    if (n == 0) return 0;
    if (pending_size() == 0) {
        ssize_t got;
        do {
            got = ::read(STDIN_FILENO, into, n);
        } while (got < 0 && errno == EINTR);
        return got > 0 ? static_cast<size_t>(got) : 0;
    }
    size_t count = pending_size() < n ? pending_size() : n;
    std::memcpy(into, pending_data(), count);
    consume(count);
    return count;
}

}  // namespace zor::platform::standard_input
