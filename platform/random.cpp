// The twister with arithmetic right shifts, and secure draws from the kernel.
#include "platform/random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/fatal.h"
#include "runtime/memory/heap.h"

namespace zor::random {

namespace {

constexpr int SHIFT_SPAN = 397;
constexpr uint32_t MATRIX = 0x9908B0DF;
constexpr uint32_t UPPER_MASK = 0x80000000;
constexpr uint32_t LOWER_MASK = 0x7FFFFFFF;
constexpr uint32_t SEED_MULTIPLIER = 1812433253;

uint32_t* state = nullptr;
int draw_position = 0;

// The right shift of the whole sequence: it copies the sign bit in. (C++20 defines >> on
// negative values as arithmetic, so the cast is all it takes.)
uint32_t shift_right(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

void ensure_state() {
    if (!state) init_state();
}

uint32_t twisted(uint32_t word, uint32_t next_word, uint32_t far_word) {
    uint32_t y = (word & UPPER_MASK) | (next_word & LOWER_MASK);
    return far_word ^ shift_right(y, 1) ^ ((y & 1) ? MATRIX : 0);
}

void twist() {
    for (int j = 0; j < STATE_WORDS - 1; ++j) {
        state[j] = twisted(state[j], state[j + 1], state[(j + SHIFT_SPAN) % STATE_WORDS]);
    }
    state[STATE_WORDS - 1] = twisted(state[STATE_WORDS - 1], state[0], state[SHIFT_SPAN - 1]);
    draw_position = 0;
}

uint32_t temper(uint32_t y) {
    y ^= shift_right(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    // The sign bit copied in by this shift cancels the top bit, so draws are 31-bit.
    return y ^ shift_right(y, 18);
}

// The kernel's generator, with /dev/urandom for kernels without getrandom(2).
bool read_kernel_random(unsigned char* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::getrandom(out + done, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done == count) return true;

    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (done < count) {
        ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == count;
}

int32_t draw(bool secure) { return secure ? next_secure() : next(); }

}  // namespace

void init_state() {
    state = static_cast<uint32_t*>(heap::allocate(sizeof(uint32_t) * STATE_WORDS));
    seed(START_SEED);
}

void seed(uint32_t value) {
    ensure_state();
    state[0] = value;
    for (int i = 1; i < STATE_WORDS; ++i) {
        uint32_t previous = state[i - 1];
        state[i] = SEED_MULTIPLIER * (previous ^ shift_right(previous, 30)) + static_cast<uint32_t>(i);
    }
    draw_position = 0;
}

int32_t next() {
    ensure_state();
    if (draw_position >= STATE_WORDS) twist();
    return static_cast<int32_t>(temper(state[draw_position++]));
}

int32_t next_secure() {
    uint32_t bits = 0;
    fill_secure(&bits, sizeof bits);
    return static_cast<int32_t>(bits & LOWER_MASK);
}

int32_t pick_int(int32_t bound, bool secure) {
    if (bound == 0) return 0;
    if (bound == INT32_MIN) return ~draw(secure);
    int32_t magnitude = bound < 0 ? -bound : bound;
    // The largest multiple of the bound that fits in 31 bits: draws at or above it would
    // favour the low results.
    int32_t limit = static_cast<int32_t>(LOWER_MASK) / magnitude * magnitude;
    int32_t d;
    do {
        d = draw(secure);
    } while (d >= limit);
    int32_t result = d % magnitude + 1;
    return bound < 0 ? -result : result;
}

void fill_secure(void* buffer, size_t count) {
    if (!read_kernel_random(static_cast<unsigned char*>(buffer), count)) {
        platform::quit_with_error(platform::RUNTIME_ERROR_ASSERTION, 0);
    }
}

int position() { return draw_position; }

}  // namespace zor::random
