// The file services (see file-io.h).
//
// A binary! read goes straight from the file into the new binary!'s buffer: the buffer is
// allocated first and nothing allocates while the system fills it. Writes of a binary!
// hand the system its buffer the same way.
#include "runtime/datatypes/file-io.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/console-output.h"
#include "platform/file-system.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/binding/symbol.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/heap-limit.h"
#include "runtime/memory/memory.h"
#include "runtime/text/unicode.h"

namespace zor::file_io {

namespace {

[[noreturn]] void cannot_open(const cell* file) {
    cell copy = *file;
    raise::throw_error(err::access_cannot_open, &copy);
}

// An optional integer refinement argument: -1 when absent (null or none!). Anything but
// an integer! raises script/invalid-refine-arg naming the refinement.
int64_t integer_argument(const cell* argument, const char* refinement) {
    if (!argument || argument->is(TYPE_NONE)) return -1;
    if (!argument->is(TYPE_INTEGER)) {
        cell value = *argument;
        cell name = *word::push_global(symbol::make(refinement));
        cell::set_type(&name, TYPE_REFINEMENT);
        raise::throw_error(err::script_invalid_refine_arg, &name, &value);
    }
    return integer::read_cell(argument);
}

// Closes a descriptor when the scope ends, errors included.
struct open_file {
    int descriptor;
    ~open_file() { file_system::close_file(descriptor); }
};

// True when every byte is below 0x80 and none is a CR: such text needs no decoding.
bool is_plain_ascii(const uint8_t* bytes, int64_t length) {
    int64_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        // High bits, and bytes equal to CR (0x0D) found by the zero-byte trick.
        uint64_t cr = word ^ 0x0D0D0D0D0D0D0D0Dull;
        if ((word | ((cr - 0x0101010101010101ull) & ~cr)) & 0x8080808080808080ull) return false;
    }
    for (; i < length; ++i) {
        if (bytes[i] >= 0x80 || bytes[i] == '\r') return false;
    }
    return true;
}

// Decodes UTF-8 text (a byte order mark skipped, line ends made LF) into a new string!
// pushed on the stack. The bytes must not lie in a series buffer.
cell* push_text(const uint8_t* bytes, int64_t length) {
    cell* text = string::make_empty(stack::push_slot(), std::max<int64_t>(length, 1));
    // Plain ASCII without CR (most text files) is its own Latin-1 string: copied whole.
    if (is_plain_ascii(bytes, length)) {
        memory::series_buffer* buffer = memory::buffer_of(text->w2);
        if (length > 0) std::memcpy(buffer->head, bytes, size_t(length));
        buffer->tail = buffer->head + length;
        return text;
    }
    unicode::load_utf8(unicode::input_bytes::at(bytes), length, text, nullptr, true);
    return text;
}

// The lines of UTF-8 text as a new block of strings pushed on the stack: cut at each LF,
// a CR before it dropped; a last line without LF counts, a final LF adds no empty line.
cell* push_lines(const uint8_t* bytes, int64_t length) {
    cell* block = block::push_empty(16);
    int64_t start = 0;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start = 3;
    while (start < length) {
        const void* found = std::memchr(bytes + start, '\n', size_t(length - start));
        int64_t end = found ? static_cast<const uint8_t*>(found) - bytes : length;
        int64_t line_end = end > start && bytes[end - 1] == '\r' ? end - 1 : end;
        cell* line = push_text(bytes + start, line_end - start);
        block::append_copy(block, line);
        stack::drop_slots(1);
        start = end + 1;
    }
    return block;
}

// The file's bytes from the current position to its end, for files whose size the system
// does not know (it reports 0): read through, then cut to part.
cell* push_unsized(int descriptor, int64_t part, bool binary, bool lines, const cell* file) {
    // Never more than a series can hold or the heap may take: a source without end
    // (/dev/zero, a pipe that never closes) is refused once it passes that, instead of
    // being read for ever.
    const int64_t most = part >= 0 ? part : std::min<int64_t>(INT32_MAX, heap_limit::limit());
    std::optional<std::vector<uint8_t>> bytes = file_system::read_to_end(descriptor, size_t(most));
    if (!bytes) cannot_open(file);
    if (part < 0 && int64_t(bytes->size()) > most) {
        bytes.reset();
        raise::throw_error(err::internal_no_memory);
    }
    if (part >= 0 && part < int64_t(bytes->size())) bytes->resize(size_t(part));
    if (binary) return binary::load(bytes->data(), int64_t(bytes->size()));
    if (lines) return push_lines(bytes->data(), int64_t(bytes->size()));
    return push_text(bytes->data(), int64_t(bytes->size()));
}

// Appends the UTF-8 bytes of one value to the buffer: a string's text (at most part
// characters when part > 0), a binary!'s bytes (at most part), or the value molded.
void append_value_bytes(cell* value, int64_t part, std::vector<uint8_t>& out) {
    if (value->is(TYPE_BINARY)) {
        int64_t length = binary::get_length(value);
        if (part > 0 && part < length) length = part;
        const auto* at = reinterpret_cast<const uint8_t*>(memory::buffer_of(value->w2)->head) +
                         series::clamped_index(value);
        out.insert(out.end(), at, at + length);
        return;
    }
    cell* text = value;
    bool molded = false;
    if (!string::is_any_string(value->type())) {
        cell* held = stack::push_copy(value);
        text = string::push_empty();
        actions::dispatch_mold(held, text, false, false, false, nullptr, 0, 0);
        molded = true;
    }
    int64_t length = part > 0 && !molded ? part : -1;
    const char* utf8 = unicode::string_to_utf8(text, &length);
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(utf8), reinterpret_cast<const uint8_t*>(utf8) + length);
    if (molded) stack::drop_slots(2);
}

// Writes count characters of a string from its index as UTF-8, straight from its buffer:
// nothing here allocates, so the buffer stays put. Answers the bytes written, or -1.
int64_t write_text(int descriptor, cell* text, int64_t count) {
    memory::series_buffer* buffer = memory::buffer_of(text->w2);
    const uint32_t unit = buffer->unit();
    const std::byte* at = buffer->head + series::clamped_index(text) * int64_t(unit);
    if (unit == 1) {
        // Latin-1 units below 0x80 are their own UTF-8.
        const auto* bytes = reinterpret_cast<const uint8_t*>(at);
        int64_t ascii = 0;
        while (ascii < count && bytes[ascii] < 0x80) ++ascii;
        if (ascii == count) return file_system::write_fully(descriptor, bytes, size_t(count));
    }
    uint8_t chunk[65536];
    size_t used = 0;
    int64_t total = 0;
    for (int64_t i = 0; i < count; ++i) {
        if (used > sizeof chunk - 4) {
            if (file_system::write_fully(descriptor, chunk, used) < 0) return -1;
            total += int64_t(used);
            used = 0;
        }
        uint32_t c = unicode::read_unit(at + i * int64_t(unit), unit);
        if (c > 0x10FFFF) c = 0xFFFD;
        used += size_t(unicode::encode_utf8_char(c, chunk + used));
    }
    if (used && file_system::write_fully(descriptor, chunk, used) < 0) return -1;
    return total + int64_t(used);
}

}  // namespace

std::string system_path(cell* file) { return string::to_utf8(file); }

bool is_dir_path(cell* file) {
    std::string path = system_path(file);
    if (path.empty()) return false;
    if (path.back() == '/') return true;
    auto ends_with = [&](const char* tail) {
        std::string_view t(tail);
        return path.size() >= t.size() && path.compare(path.size() - t.size(), t.size(), t) == 0;
    };
    return path == "." || path == ".." || ends_with("/.") || ends_with("/..");
}

std::optional<std::vector<uint8_t>> read_whole_file(cell* file) {
    if (is_dir_path(file)) return std::nullopt;
    return file_system::read_whole_file(system_path(file));
}

cell* read_path(cell* file, cell* part, cell* seek, bool binary, bool lines) {
    if (is_dir_path(file)) return list_directory(file);
    int64_t part_count = integer_argument(part, "part");
    int64_t seek_index = integer_argument(seek, "seek");
    const std::string path = system_path(file);
    if (file_system::is_directory(path)) cannot_open(file);
    open_file opened{file_system::open_for_reading(path)};
    if (opened.descriptor < 0) cannot_open(file);
    int64_t size = file_system::size_of(opened.descriptor);
    if (size < 0) cannot_open(file);
    if (seek_index >= 0) {
        if (!file_system::seek_to(opened.descriptor, seek_index)) cannot_open(file);
        // A seek past the end leaves nothing to read.
        size = size > seek_index ? size - seek_index : 0;
    }
    if (size == 0 && part_count != 0) return push_unsized(opened.descriptor, part_count, binary, lines, file);
    if (part_count >= 0 && part_count < size) size = part_count;
    if (size > int64_t(INT32_MAX)) raise::throw_error(err::internal_no_memory);

    if (binary) {
        cell* result = binary::make_at(stack::push_slot(), std::max<int64_t>(size, 1));
        memory::series_buffer* buffer = memory::buffer_of(result->w2);
        int64_t got = file_system::read_fully(opened.descriptor, buffer->head, size_t(size));
        if (got < 0) cannot_open(file);
        buffer->tail = buffer->head + got;
        return result;
    }
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(size) + 1]);
    int64_t got = file_system::read_fully(opened.descriptor, bytes.get(), static_cast<size_t>(size));
    if (got < 0) cannot_open(file);
    return lines ? push_lines(bytes.get(), got) : push_text(bytes.get(), got);
}

namespace {

// What `write` puts in a file for a value: a binary! or a string without lines is written
// from its own buffer; everything else is gathered first (molding can allocate and run
// user code), before anything is opened.
struct value_output {
    std::vector<uint8_t> bytes;
    bool direct_bytes = false;
    bool direct_text = false;
};

value_output gather_output(cell* data, int64_t part_count, bool lines) {
    value_output output;
    output.direct_bytes = data->is(TYPE_BINARY) && !lines;
    output.direct_text = string::is_any_string(data->type()) && !lines;
    if (output.direct_bytes || output.direct_text) return output;
    if (lines && data->is(TYPE_BLOCK)) {
        int64_t count = block::rest_length(data);
        for (int64_t i = 0; i < count; ++i) {
            cell* element = stack::push_copy(block::get_cell(data, series::clamped_index(data) + i));
            append_value_bytes(element, -1, output.bytes);
            stack::drop_slots(1);
            output.bytes.push_back('\n');
        }
    } else {
        append_value_bytes(data, part_count, output.bytes);
        if (lines) output.bytes.push_back('\n');
    }
    return output;
}

// Writes what gather_output found; answers the bytes written, -1 on a failed write.
int64_t write_output(int descriptor, cell* data, const value_output& output, int64_t part_count) {
    if (output.direct_bytes) {
        int64_t length = binary::get_length(data);
        if (part_count > 0 && part_count < length) length = part_count;
        const auto* at = reinterpret_cast<const uint8_t*>(memory::buffer_of(data->w2)->head) +
                         series::clamped_index(data);
        return file_system::write_fully(descriptor, at, size_t(length));
    }
    if (output.direct_text) {
        int64_t count = string::rest_length(data);
        if (part_count > 0 && part_count < count) count = part_count;
        return write_text(descriptor, data, count);
    }
    return file_system::write_fully(descriptor, output.bytes.data(), output.bytes.size());
}

}  // namespace

int64_t write_path(cell* file, cell* data, cell* part, cell* seek, bool binary, bool append, bool lines) {
    (void)binary;  // text and bytes are written alike: UTF-8 with LF line ends
    int64_t part_count = integer_argument(part, "part");
    int64_t seek_index = integer_argument(seek, "seek");
    if (part && part->is(TYPE_INTEGER) && part_count < 0) return -1;
    const value_output output = gather_output(data, part_count, lines);

    const std::string path = system_path(file);
    open_file opened{file_system::open_for_writing(path, append || seek_index >= 0)};
    if (opened.descriptor < 0) cannot_open(file);
    if (append) {
        if (!file_system::seek_to_end(opened.descriptor)) cannot_open(file);
    } else if (seek_index > 0) {
        if (!file_system::seek_to(opened.descriptor, seek_index)) cannot_open(file);
    }
    int64_t written = write_output(opened.descriptor, data, output, part_count);
    if (written < 0) cannot_open(file);
    return written;
}

int64_t write_standard_output(cell* data) {
    const value_output output = gather_output(data, -1, false);
    // Whatever the console printers hold goes first, so the two kinds of output keep
    // their order.
    platform::flush_output();
    return write_output(STDOUT_FILENO, data, output, -1);
}

cell* list_directory(cell* file) {
    std::string path = system_path(file);
    std::optional<std::vector<file_system::directory_entry>> entries = file_system::list_directory(path);
    if (!entries) cannot_open(file);
    cell* block = block::push_empty(int64_t(entries->size()) + 1);
    for (file_system::directory_entry& entry : *entries) {
        if (entry.directory) entry.name.push_back('/');
        string::load_into_block(unicode::input_bytes::at(entry.name.data()), int64_t(entry.name.size()), block,
                                string::ENCODING_UTF8);
        cell::set_type(block::get_tail(block) - 1, TYPE_FILE);
    }
    return block;
}

bool delete_path(cell* file) { return file_system::remove_path(system_path(file), is_dir_path(file)); }

bool rename_path(cell* from, cell* to) { return file_system::rename_path(system_path(from), system_path(to)); }

bool make_directory(cell* file) { return file_system::make_directory(system_path(file)); }

std::optional<file_system::modification_time> modified_at(cell* file) {
    const std::string path = system_path(file);
    if (is_dir_path(file) && !file_system::is_directory(path)) return std::nullopt;
    return file_system::modified_at(path);
}

bool exists(cell* file) { return file_system::exists(system_path(file)); }

int64_t size_of(cell* file) {
    if (is_dir_path(file)) return -1;
    const std::string path = system_path(file);
    if (file_system::is_directory(path)) return -1;
    open_file opened{file_system::open_for_reading(path)};
    if (opened.descriptor < 0) return -1;
    return file_system::size_of(opened.descriptor);
}

}  // namespace zor::file_io
