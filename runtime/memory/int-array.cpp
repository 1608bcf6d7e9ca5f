// Raw byte and 32-bit integer arrays on series buffers.
#include "runtime/memory/int-array.h"

#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/errors/raise.h"

namespace zor::int_array {
namespace {

constexpr int64_t INT_BYTES = 4;

// Bytes between head and tail.
int64_t byte_length(const memory::series_buffer* buffer) { return buffer->tail - buffer->head; }

// The head address of the 32-bit item at a 1-based index, checked against the tail.
std::byte* int_at(memory::series_buffer* buffer, int64_t index) {
    if (index < 1 || index > byte_length(buffer) / INT_BYTES) raise::throw_error(err::script_past_end);
    return buffer->head + (index - 1) * INT_BYTES;
}

}  // namespace

node_ref make(int64_t n, int32_t width) {
    if (width != 1 && width != 2 && width != 4) {
        cell bad{TYPE_INTEGER, 0, static_cast<uint32_t>(width), 0};
        raise::throw_error(err::script_out_of_range, &bad);
    }
    if (n < 0) raise::throw_error(err::script_past_end);
    return memory::alloc_units(n, static_cast<uint32_t>(width));
}

int64_t length(node_ref node) { return memory::buffer_of(node)->length(); }

void clear(node_ref node) {
    memory::series_buffer* buffer = memory::buffer_of(node);
    buffer->tail = buffer->head;
}

void truncate_at(node_ref node, int64_t position) {
    memory::series_buffer* buffer = memory::buffer_of(node);
    if (position < 1 || position - 1 > buffer->length()) raise::throw_error(err::script_past_end);
    buffer->tail = buffer->head + (position - 1) * int64_t(buffer->unit());
}

node_ref copy(node_ref node) { return memory::copy_series(memory::buffer_of(node)); }

uint32_t buffer_flags(node_ref node) { return memory::buffer_of(node)->flags; }

void append_byte(node_ref node, uint8_t byte) {
    std::byte* slot = memory::reserve_tail_bytes(memory::buffer_of(node), 1);
    *slot = static_cast<std::byte>(byte);
}

void append_bytes(node_ref node, const void* source, int64_t n) {
    if (n < 0) raise::throw_error(err::script_past_end);
    if (n == 0) return;
    std::byte* slot = memory::reserve_tail_bytes(memory::buffer_of(node), n);
    std::memcpy(slot, source, static_cast<size_t>(n));
}

void append_int(node_ref node, int32_t value) {
    std::byte* slot = memory::reserve_tail_bytes(memory::buffer_of(node), INT_BYTES);
    std::memcpy(slot, &value, INT_BYTES);
}

int64_t find_int(node_ref node, int32_t value) {
    memory::series_buffer* buffer = memory::buffer_of(node);
    int64_t end = byte_length(buffer) / INT_BYTES * INT_BYTES;
    for (int64_t offset = 0; offset < end; offset += INT_BYTES) {
        int32_t item;
        std::memcpy(&item, buffer->head + offset, INT_BYTES);
        if (item == value) return offset;
    }
    return -1;
}

int32_t pick_int(node_ref node, int64_t index) {
    int32_t item;
    std::memcpy(&item, int_at(memory::buffer_of(node), index), INT_BYTES);
    return item;
}

void poke_int(node_ref node, int64_t index, int32_t value) {
    std::memcpy(int_at(memory::buffer_of(node), index), &value, INT_BYTES);
}

void remove_int(node_ref node, int32_t value) {
    int64_t offset = find_int(node, value);
    if (offset >= 0) remove_bytes_at(node, offset, INT_BYTES);
}

void remove_bytes_at(node_ref node, int64_t offset, int64_t n) {
    memory::series_buffer* buffer = memory::buffer_of(node);
    int64_t bytes = byte_length(buffer);
    if (offset < 0 || n < 0 || n > bytes - offset) raise::throw_error(err::script_past_end);
    if (n == 0) return;
    std::byte* at = buffer->head + offset;
    std::memmove(at, at + n, static_cast<size_t>(bytes - offset - n));
    buffer->tail -= n;
}

}  // namespace zor::int_array
