// The two hook lists live in arrays from the tracked heap that grow by five entries when
// full. The value list starts with the default console printer.
#include "runtime/text/output-hooks.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/console-output.h"
#include "runtime/memory/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/value/upcalls.h"

namespace zor::output_hooks {

namespace {

constexpr int CAPACITY_STEP = 5;

template <typename Hook> struct hook_list {
    Hook* entries = nullptr;
    int count = 0;
    int capacity = 0;

    void allocate() {
        entries = static_cast<Hook*>(heap::allocate(sizeof(Hook) * CAPACITY_STEP));
        count = 0;
        capacity = CAPACITY_STEP;
    }

    void append(Hook hook) {
        if (count == capacity) {
            auto* larger = static_cast<Hook*>(heap::allocate(sizeof(Hook) * size_t(capacity + CAPACITY_STEP)));
            std::memcpy(static_cast<void*>(larger), entries, sizeof(Hook) * size_t(count));
            heap::release(entries);
            entries = larger;
            capacity += CAPACITY_STEP;
        }
        entries[count++] = hook;
    }

    // Only the first matching entry goes; the later ones move down.
    void remove(Hook hook) {
        for (int i = 0; i < count; ++i) {
            if (entries[i] != hook) continue;
            std::memmove(static_cast<void*>(entries + i), entries + i + 1, sizeof(Hook) * size_t(count - i - 1));
            --count;
            return;
        }
    }
};

hook_list<value_hook> value_hooks;
hook_list<text_hook> text_hooks;
bool lists_ready = false;

}  // namespace

void init() {
    value_hooks.allocate();
    text_hooks.allocate();
    value_hooks.append(&print_to_console);
    lists_ready = true;
}

bool ready() { return lists_ready; }

void add(value_hook value, text_hook text) {
    if (!lists_ready) init();
    if (value) value_hooks.append(value);
    if (text) text_hooks.append(text);
}

void remove(value_hook value, text_hook text) {
    if (!lists_ready) return;
    if (value) value_hooks.remove(value);
    if (text) text_hooks.remove(text);
}

void call_value_hooks(const cell* string, bool newline) {
    if (!lists_ready) return;
    for (int i = 0; i < value_hooks.count; ++i) value_hooks.entries[i](string, newline);
}

void call_text_hooks(const void* text, size_t length, int flag) {
    // The console printers call in here from the first write on, lists or not.
    if (!lists_ready) return;
    for (int i = 0; i < text_hooks.count; ++i) text_hooks.entries[i](text, length, flag);
}

void print_to_console(const cell* string, bool newline) {
    if (upcalls::clear_before_print) upcalls::clear_before_print();

    memory::series_buffer* buffer = memory::buffer_of(string->w2);
    uint32_t unit = buffer->unit();
    // An index past the tail prints as the tail.
    const std::byte* start = buffer->head + int64_t(string->w1) * unit;
    if (start > buffer->tail) start = buffer->tail;
    size_t bytes = static_cast<size_t>(buffer->tail - start);

    switch (unit) {
        case 1: {
            auto* text = reinterpret_cast<const uint8_t*>(start);
            if (newline) platform::print_latin1_line(text, bytes); else platform::print_latin1(text, bytes);
            break;
        }
        case 2: {
            auto* text = reinterpret_cast<const uint16_t*>(start);
            if (newline) platform::print_ucs2_line(text, bytes); else platform::print_ucs2(text, bytes);
            break;
        }
        case 4: {
            auto* text = reinterpret_cast<const uint32_t*>(start);
            if (newline) platform::print_ucs4_line(text, bytes); else platform::print_ucs4(text, bytes);
            break;
        }
        default: {
            char message[64];
            int n = std::snprintf(message, sizeof message, "Error: unknown string encoding: %u\n", unit);
            platform::print_utf8(message, static_cast<size_t>(n));
            break;
        }
    }

    platform::flush_output();
    if (upcalls::resume_after_print) upcalls::resume_after_print();
}

int value_hook_count() { return value_hooks.count; }
int value_hook_capacity() { return value_hooks.capacity; }
value_hook value_hook_at(int i) { return i >= 0 && i < value_hooks.count ? value_hooks.entries[i] : nullptr; }
int text_hook_count() { return text_hooks.count; }
text_hook text_hook_at(int i) { return i >= 0 && i < text_hooks.count ? text_hooks.entries[i] : nullptr; }

}  // namespace zor::output_hooks
