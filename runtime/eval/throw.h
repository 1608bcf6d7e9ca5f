// Non-local exits as C++ exceptions carrying a 32-bit throw code.
//
// A throw of code c lands at the innermost catch point whose level is at least c
// (unsigned). A catch point is a try/catch that rethrows codes above its level:
//
//     try { ... } catch (const zor_throw& t) { if (t.code > level) throw; ...handle... }
//
// State that a catch point restores (stack tops, the mold cycle guard, tracing flags)
// is restored by RAII guards, never by catch (...).
#pragma once

#include <cstdint>

namespace zor {

enum throw_code : uint32_t {
    THROW_ERROR = 0x7FFFFFFF,
    THROW_BREAK = 0x7FFFFFFE,
    THROW_CONTINUE = 0x7FFFFFFD,
    THROW_RETURN = 0x7FFFFFFC,
    THROW_EXIT = 0x7FFFFFFB,
    THROW_THROW = 0x7FFFFFFA,
    THROW_QUIT = 0x0BADCAFE,
};

// The level of the catch point that takes every code.
inline constexpr uint32_t CATCH_ALL = 0xFFFFFFFF;

struct zor_throw {
    uint32_t code;
};

// The code of the throw travelling now, or of the last one caught.
extern uint32_t last_throw_code;

[[noreturn]] inline void throw_code(uint32_t code) {
    last_throw_code = code;
    throw zor_throw{code};
}

}  // namespace zor
