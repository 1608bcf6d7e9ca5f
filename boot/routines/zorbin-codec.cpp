// The routines of the zorbin codec object (`system/codecs/zorbin`): `encode*` and
// `decode`, thin wrappers that check their argument and hand the work to the ZORBIN codec
// (codecs/zorbin.h).
//
// Both are cell-calling: they receive their argument cells from the argument stack and
// answer a result cell there. The decoder reads from a binary! whose buffer could move
// when decoding allocates, so the bytes are first copied out of the collected heap.
#include <cstdint>
#include <vector>

#include "boot/routine-table.h"
#include "boot/routines/routines.h"
#include "codecs/zorbin.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/invoke.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"

namespace zor::boot {

namespace {

// A binary of this many bytes or fewer cannot hold a value: the header alone is 8.
constexpr int64_t SHORTEST_BLOB = 10;

// encode* [data [any-type!] compact? [logic!]]
cell* zorbin_encode_star(cell* arguments) {
    bool compact = arguments[1].is(TYPE_LOGIC) && arguments[1].w1 == 1;
    return compact ? zorbin::encode_compact(&arguments[0]) : zorbin::encode_fixed(&arguments[0]);
}

// decode [payload [any-type!]]
cell* zorbin_decode(cell* arguments) {
    cell* payload = &arguments[0];
    if (payload->is(TYPE_FILE) || payload->is(TYPE_URL)) {
        payload = actions::dispatch_read(payload, nullptr, nullptr, true, false, false, nullptr);
    }
    if (!payload->is(TYPE_BINARY)) raise::throw_error(err::script_invalid_data, payload);
    std::vector<uint8_t> bytes = binary::rest_bytes(payload);
    if (int64_t(bytes.size()) <= SHORTEST_BLOB) raise::throw_error(err::script_invalid_data, payload);
    cell* result = block::push_empty(1);
    zorbin::current_mode = zorbin::mode::run_time;
    zorbin::decode(bytes.data(), int64_t(bytes.size()), result);
    memory::series_buffer* b = memory::buffer_of(result->w2);
    if (b->length() == 1) *result = *b->head_cell();
    return result;
}

const boot_routine ZORBIN_CODEC_ROUTINES[] = {
    {"zorbin/encode*", reinterpret_cast<code_registry::code>(&zorbin_encode_star), true, -1},
    {"zorbin/decode", reinterpret_cast<code_registry::code>(&zorbin_decode), true, -1},
};

}  // namespace

void register_zorbin_codec_routines() { register_routines(ZORBIN_CODEC_ROUTINES); }

}  // namespace zor::boot
