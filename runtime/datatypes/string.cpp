// string! storage: making strings and appending narrow text.
#include "runtime/datatypes/string.h"

#include <cstring>

#include "runtime/eval/stack.h"
#include "runtime/memory.h"

namespace zor::string {

namespace {

memory::series_buffer* buffer(const cell* s) { return memory::buffer_of(s->w2); }

template <typename Unit> void store_bytes(std::byte* at, const char* bytes, int64_t n) {
    auto* out = reinterpret_cast<Unit*>(at);
    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(bytes[i]);
}

}  // namespace

cell* make_in_cell(cell* destination, int64_t capacity, uint32_t unit) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_units(capacity, unit);
    destination->w2 = node;
    destination->header = TYPE_STRING;
    return destination;
}

cell* make_empty(cell* destination, int64_t capacity) {
    cell::init_unset(destination);
    node_ref node = memory::alloc_series(capacity == 0 ? 1 : capacity, 1, 0);
    destination->w2 = node;
    destination->header = TYPE_STRING;
    return destination;
}

cell* push_empty() { return make_empty(stack::push_slot(), 16); }

void append_bytes(cell* string, const char* bytes, int64_t n) {
    if (n < 1) return;
    memory::series_buffer* b = buffer(string);
    uint32_t unit = b->unit();
    std::byte* at = memory::reserve_tail_bytes(b, n * unit);
    switch (unit) {
        case 1: std::memcpy(at, bytes, static_cast<size_t>(n)); break;
        case 2: store_bytes<uint16_t>(at, bytes, n); break;
        default: store_bytes<uint32_t>(at, bytes, n); break;
    }
}

void append_c_string(cell* string, const char* text) {
    int64_t n = static_cast<int64_t>(std::strlen(text));
    append_bytes(string, text, n == 0 ? 0 : n);
}

namespace {

uint32_t unit_at(memory::series_buffer* b, int64_t i) {
    switch (b->unit()) {
        case 1: return reinterpret_cast<uint8_t*>(b->head)[i];
        case 2: return reinterpret_cast<uint16_t*>(b->head)[i];
        default: return reinterpret_cast<uint32_t*>(b->head)[i];
    }
}

// Rewrites the whole buffer with wider units; the node keeps the string's identity.
memory::series_buffer* widen(cell* string, uint32_t unit) {
    memory::series_buffer* b = buffer(string);
    int64_t length = b->length();
    node_ref wider = memory::alloc_series(length * 2 + 16, unit, 0);
    b = buffer(string);
    memory::series_buffer* w = memory::buffer_of(wider);
    for (int64_t i = 0; i < length; ++i) {
        uint32_t c = unit_at(b, i);
        if (unit == 2) reinterpret_cast<uint16_t*>(w->head)[i] = static_cast<uint16_t>(c);
        else reinterpret_cast<uint32_t*>(w->head)[i] = c;
    }
    w->tail = w->head + length * unit;
    // The old node now refers to the wider buffer; the temporary node is given back.
    w->flags = (b->flags & ~memory::UNIT_MASK & ~memory::FLAG_BIG) | unit | (w->flags & memory::FLAG_BIG);
    memory::slot_of(string->w2) = w;
    w->node = string->w2;
    b->node = 0;
    b->flags &= ~memory::FLAG_IN_USE;
    memory::slot_of(wider) = nullptr;
    memory::free_node(wider);
    return w;
}

}  // namespace

void append_codepoint(cell* string, uint32_t c) {
    memory::series_buffer* b = buffer(string);
    uint32_t unit = b->unit();
    uint32_t needed = c < 0x80 ? 1 : c < 0x10000 ? 2 : 4;
    if (needed > unit) b = widen(string, unit = needed);
    std::byte* at = memory::reserve_tail_bytes(b, unit);
    switch (unit) {
        case 1: *reinterpret_cast<uint8_t*>(at) = static_cast<uint8_t>(c); break;
        case 2: { uint16_t u = static_cast<uint16_t>(c); std::memcpy(at, &u, 2); break; }
        default: std::memcpy(at, &c, 4); break;
    }
}

void append_units(cell* output, const cell* source) {
    int64_t length = buffer(source)->length();
    for (int64_t i = source->w1; i < length; ++i) append_codepoint(output, unit_at(buffer(source), i));
}

int64_t rest_length(const cell* string) {
    memory::series_buffer* b = buffer(string);
    int64_t length = b->length();
    int64_t index = string->w1;
    return index >= length ? 0 : length - index;
}

void truncate(cell* string, int64_t n) {
    memory::series_buffer* b = buffer(string);
    uint32_t unit = b->unit();
    if (b->size >= n * unit && b->tail > b->head + n * unit) b->tail = b->head + n * unit;
}

std::string to_utf8(const cell* string) {
    memory::series_buffer* b = buffer(string);
    std::string out;
    int64_t length = b->length();
    for (int64_t i = string->w1; i < length; ++i) {
        uint32_t c = unit_at(b, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace zor::string
