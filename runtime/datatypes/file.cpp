// file!: its mold and the system form of a path (see file.h). The file actions (read,
// write, delete, rename, query) hand their work to the file services of file-io.h.
#include "runtime/datatypes/file.h"

#include <algorithm>
#include <string>

#include "platform/process.h"
#include "runtime/datatypes/callable.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file-io.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/memory/memory.h"
#include "runtime/value/type-registry.h"

namespace zor::file {

namespace {

// Whether the character keeps a file name from standing bare after "%": one outside the
// url class (DEL included), or one of the url class at which the lexer ends a bare
// file name.
bool forces_quotes(uint32_t c) {
    if (c > 0x7F) return false;
    return !url::keeps_byte(static_cast<uint8_t>(c), url::MODE_URL) || c == '(' || c == ')' || c == ':' || c == '@';
}

// Whether the quoted form writes the character as a %XX escape: the lexer reads a quoted
// name as a string ("^" escapes, no raw line breaks, the closing quote) and then
// percent-decodes it, so these would not come back as themselves.
bool escaped_in_quotes(uint32_t c) { return c == '"' || c == '%' || c == '^' || c < 0x20 || c == 0x7F; }

[[noreturn]] cell* not_done() { raise::throw_error(err::internal_not_done); }

cell* delete_(cell* file) { return file_io::delete_path(file) ? &logic::true_value : &logic::false_value; }
// The last modification time as a date! in UTC, or none when nothing is there.
cell* query(cell* file) {
    std::optional<file_system::modification_time> at = file_io::modified_at(file);
    if (!at) return &none::value;
    int64_t days = at->seconds / 86400;
    int64_t second_of_day = at->seconds % 86400;
    if (second_of_day < 0) second_of_day += 86400, days -= 1;
    static cell answer;
    answer = cell{TYPE_NONE, 0, 0, 0};
    return date::set_normalized(&answer, date::EPOCH_DAY + days, double(second_of_day) + at->nanoseconds * 1e-9, 0,
                                true);
}

cell* rename(cell* from, cell* to) {
    if (!to->is(TYPE_FILE) && !to->is(TYPE_STRING)) raise::expect_arg(to->type(), 1);
    return file_io::rename_path(from, to) ? &logic::true_value : &logic::false_value;
}

// /info and /as (an encoding other than UTF-8) have no service behind them.
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as) {
    if (info || as) not_done();
    return file_io::read_path(source, part, seek, binary, lines);
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append, cell* part, cell* seek,
            cell* allow, cell* as) {
    if (info || allow || as) not_done();
    file_io::write_path(destination, data, part, seek, binary, append, lines);
    return &unset::value;
}

}  // namespace

int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent) {
    (void)only, (void)all, (void)flat, (void)indent;
    // The text is gathered first (reading allocates nothing), then appended once.
    memory::series_buffer* b = memory::buffer_of(value->w2);
    uint32_t unit = b->unit();
    int64_t length = b->length();
    int64_t index = std::clamp<int64_t>(series::index_of(value), 0, length);
    int64_t end = length;
    if (part) end = budget <= 0 ? index : std::min(index + int64_t(budget), length);
    std::u32string name;
    for (int64_t i = index; i < end; ++i) name.push_back(string::read_unit(b->head + i * unit, unit));

    string::append_codepoint(output, '%');
    if (index >= length) {
        string::append_c_string(output, "\"\"");
        return callable::spend(budget, 3);
    }
    bool quoted = std::any_of(name.begin(), name.end(), forces_quotes);
    if (quoted) string::append_codepoint(output, '"');
    for (uint32_t c : name) {
        if (quoted && escaped_in_quotes(c)) {
            string::append_codepoint(output, '%');
            string::append_c_string(output, string::byte_to_hex(static_cast<uint8_t>(c)));
        } else {
            string::append_codepoint(output, c);
        }
    }
    if (quoted) string::append_codepoint(output, '"');
    return callable::spend(budget, int64_t(name.size()) + 1);
}

void append_current_dir(cell* output) {
    std::string dir = platform::current_dir();
    if (dir.empty()) return;
    if (dir.back() != '/') dir.push_back('/');
    cell* text = string::load_onto_stack(unicode::input_bytes::at(dir.data()), int64_t(dir.size()), string::ENCODING_UTF8);
    string::concatenate(output, text, -1, 0, true, string::CONCATENATE_APPEND);
    stack::drop_slots(1);
}

void to_local_path(cell* path, cell* output, bool absolute) {
    cell* held = stack::push_copy(path);
    bool relative = string::rest_length(held) <= 0 ||
                    string::read_unit(string::get_position(held), memory::buffer_of(held->w2)->unit()) != '/';
    if (absolute && relative) append_current_dir(output);
    string::concatenate(output, held, -1, 0, true, string::CONCATENATE_APPEND);
    stack::drop_slots(1);
}

void init_type() {
    type_registry::action_list list(TYPE_URL);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_DELETE>(&delete_);
    list.set<ACTION_QUERY>(&query);
    list.set<ACTION_READ>(&read);
    list.set<ACTION_RENAME>(&rename);
    list.set<ACTION_WRITE>(&write);
    list.unsupported(ACTION_OPEN);
    type_registry::register_type(TYPE_FILE, TYPE_URL, "file!", list);
}

}  // namespace zor::file
