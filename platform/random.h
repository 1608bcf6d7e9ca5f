// The process-wide pseudo-random generator behind every type's random action, and the
// secure draws of random/secure.
//
// The generator is a 624-word twister with the reference constants in which every right
// shift is arithmetic (the sign bit is copied in). That makes every draw a non-negative
// 31-bit number and gives the sequence of its own: a seeded sequence is reproducible
// only if seeding, twisting and tempering follow these exact steps. After seeding, the
// first 624 draws temper the seeded words without a twist.
//
// Secure draws come from getrandom(2) and never touch the generator's state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::random {

inline constexpr int STATE_WORDS = 624;
inline constexpr uint32_t START_SEED = 19650218;

// Allocates the state from the tracked heap and seeds it with START_SEED. Run once at
// start-up; draws made before it initialise the state themselves.
void init_state();
// Reseeds the state and sets the position to 0.
void seed(uint32_t value);
// The next draw, 0..2147483647.
int32_t next();
// 31 random bits from the operating system's cryptographic generator.
int32_t next_secure();
// A random integer for the bound: 1..N for N > 0, -1..-|N| for N < 0, 0 for 0 (without
// drawing), and the complement of one raw draw for -2147483648. Rejection sampling keeps
// the results uniform.
int32_t pick_int(int32_t bound, bool secure);
// Fills the buffer with cryptographically secure random bytes.
void fill_secure(void* buffer, size_t count);

// The position in the state (0..624), for tests.
int position();

}  // namespace zor::random
