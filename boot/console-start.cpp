// Hands the started program to the console: evaluates `cli-console-ctx/launch`.
#include "boot/console-start.h"

#include <cstdint>
#include <string_view>

#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer/lexer.h"
#include "runtime/eval/stack.h"

namespace zor::boot {

int start_console() {
    // Static text: the lexer reads it in place.
    static constexpr std::string_view CALL = "cli-console-ctx/launch";
    stack::stack_guard guard;
    cell* code = stack::push_slot();
    lexer::scan_request request;
    int64_t consumed = 0;
    lexer::scan_buffer(code, reinterpret_cast<const uint8_t*>(CALL.data()), CALL.size(), request, &consumed);
    (void)eval::eval_block(code, false);
    return 0;
}

}  // namespace zor::boot
