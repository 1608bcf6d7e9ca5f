// The console line editor (see line-editor.h).
//
// Screen model: the prompt starts at column start_column of the row the cursor was on
// (the start row). Every character of the prompt and the line has a place in one linear
// column space counted from column 0 of the start row, so place / columns is its row
// below the start row and place % columns its column. The terminal's cursor row is
// tracked relative to the start row; updates move it with CUU/CUD, CR and CUF only,
// never to an absolute screen position, so output that scrolled the screen before the
// edit does not matter.
#include "console/line-editor.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/console-output.h"
#include "platform/key-decoder.h"
#include "platform/standard-input.h"
#include "platform/terminal.h"
#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/actions.h"
#include "runtime/eval/natives/natives.h"
#include "runtime/eval/stack.h"
#include "runtime/gc/gc.h"
#include "runtime/memory/heap-limit.h"
#include "runtime/memory/memory.h"
#include "runtime/text/char-width.h"
#include "runtime/text/unicode.h"

namespace zor::line_editor {
namespace {

namespace keys = key_decoder;

// The console size when the terminal tells none (and always with redirected input).
constexpr int DEFAULT_COLUMNS = 80;
constexpr int DEFAULT_ROWS = 50;

// What a tab shows as.
constexpr int TAB_COLUMNS = 4;

// The caller's string (0) and history block (1) from _set-buffer-history.
cell held[2] = {{TYPE_UNSET, 0, 0, 0}, {TYPE_UNSET, 0, 0, 0}};
bool held_marked = false;

// The line the next edit starts from after Tab listed several candidates, with its cursor.
std::u32string carry_over;
size_t carry_cursor = 0;

// The terminal's size in cells.
int columns = DEFAULT_COLUMNS;
int rows = DEFAULT_ROWS;

void mark_held() { gc::mark_cells(held, held + 2); }

// The held cells are marked from the first routine call on.
void mark_held_from_now_on() {
    if (held_marked) return;
    gc::add_mark_callback(&mark_held);
    held_marked = true;
}

cell* line_cell() { return &held[0]; }
cell* history_cell() { return &held[1]; }

// --- Text between strings and the editor ---------------------------------------------------

// The characters of an any-string from `from` units after its head to its tail.
std::u32string text_of(const cell* string, int64_t from) {
    std::u32string text;
    memory::series_buffer* buffer = memory::buffer_of(string->w2);
    const uint32_t unit = buffer->unit();
    const int64_t length = buffer->length();
    text.reserve(static_cast<size_t>(std::max<int64_t>(0, length - from)));
    for (int64_t i = std::max<int64_t>(0, from); i < length; ++i)
        text += static_cast<char32_t>(string::read_unit(buffer->head + i * unit, unit));
    return text;
}

// The string's index, clamped to its text.
int64_t index_in(const cell* string) {
    const int64_t index = static_cast<int32_t>(string->w1);
    return std::clamp<int64_t>(index, 0, string::length_from_head(string));
}

// Replaces the whole text of the string (a rooted cell) with the characters.
void store_text(cell* string, const std::u32string& text) {
    string::reset(string);
    for (char32_t c : text) string::append_codepoint(string, static_cast<uint32_t>(c));
}

// Appends the UTF-8 line to the string (a rooted cell), bytes that are not UTF-8 as U+FFFD.
void append_decoded(cell* string, const std::string& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t at = 0;
    while (at < bytes.size()) {
        keys::decoded next = keys::decode_utf8(data + at, bytes.size() - at, true);
        string::append_codepoint(string, static_cast<uint32_t>(next.code));
        at += next.consumed;
    }
}

// --- The console object ----------------------------------------------------------------------

// `system/console/size`, when the console object exists yet; null otherwise.
cell* console_size_cell() {
    const cell* system = natives::global_value("system");
    if (!system || !system->is(TYPE_OBJECT)) return nullptr;
    const int32_t console_symbol = symbol::find("console");
    const int32_t size_symbol = symbol::find("size");
    if (!console_symbol || !size_symbol) return nullptr;
    const cell* console = context::value_of_symbol(system->w1, console_symbol);
    if (!console || !console->is(TYPE_OBJECT)) return nullptr;
    return context::value_of_symbol(console->w1, size_symbol);
}

void set_console_size(int width, int height) {
    if (cell* size = console_size_cell()) pair::make_at(size, width, height);
}

// Reads the terminal's size into columns and rows and `system/console/size`; a terminal
// that tells none keeps the sizes known so far.
void refresh_size() {
    platform::terminal::window_size size = platform::terminal::get_window_size();
    if (size.columns <= 0) {
        if (columns <= 0) columns = DEFAULT_COLUMNS;
        return;
    }
    columns = size.columns;
    rows = size.rows > 0 ? size.rows : DEFAULT_ROWS;
    set_console_size(columns, rows);
}

// --- Placing characters ------------------------------------------------------------------------

int columns_of(char32_t c) {
    // Pictographs that terminals draw two cells wide whatever the width table says.
    if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
    return char_width::columns_of_char(static_cast<uint32_t>(c));
}

// Advances a place in the linear column space over characters, optionally writing their
// bytes.
struct painter {
    int64_t place;
    std::string* out;

    void put(const char* bytes, size_t n) {
        if (out) out->append(bytes, n);
    }
    void put_code_point(char32_t c) {
        if (!out) return;
        uint8_t bytes[4];
        uint32_t code = static_cast<uint32_t>(c);
        if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = keys::REPLACEMENT_CHARACTER;
        int n = unicode::encode_utf8_char(code, bytes);
        put(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    void narrow(const char* bytes, size_t n, int width) {
        put(bytes, n);
        place += width;
    }
    void character(char32_t c) {
        const int width = columns_of(c);
        // A wide character does not start in the last column: that cell stays blank and
        // the character goes on the next row. The blank is written as a space, so
        // terminals that would squeeze the character into the last cell show the same.
        if (width == 2 && place % columns == columns - 1) narrow(" ", 1, 1);
        put_code_point(c);
        place += width;
    }
    // A character of the line. Control characters show in caret form, so the text never
    // sends the terminal a control of its own.
    void line_char(char32_t c, bool hidden) {
        if (hidden) return narrow("*", 1, 1);
        if (c == '\t') return narrow("    ", TAB_COLUMNS, TAB_COLUMNS);
        if (c < 0x20 || c == 0x7F) {
            const char caret[2] = {'^', static_cast<char>(c ^ 0x40)};
            return narrow(caret, 2, 2);
        }
        if ((c >= 0x80 && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            put_code_point(keys::REPLACEMENT_CHARACTER);
            place += 1;
            return;
        }
        character(c);
    }
    // The prompt's character at i; answers the index after what it used. Colour sequences
    // (ESC, then "[" or "(" with digits and ";" up to a final character) pass through
    // without taking a column; line ends start a new row.
    size_t prompt_char(const std::u32string& prompt, size_t i) {
        const char32_t c = prompt[i];
        if (c == 0x1B) {
            put("\x1b", 1);
            size_t next = i + 1;
            if (next < prompt.size() && (prompt[next] == '[' || prompt[next] == '(')) {
                put_code_point(prompt[next]);
                ++next;
                while (next < prompt.size()) {
                    const char32_t p = prompt[next++];
                    put_code_point(p);
                    if (!((p >= '0' && p <= '9') || p == ';')) break;
                }
            }
            return next;
        }
        if (c == '\n') {
            put("\n", 1);
            place = (place / columns + 1) * columns;
        } else if (c == '\r') {
            put("\r", 1);
            place = place / columns * columns;
        } else {
            line_char(c, false);
        }
        return i + 1;
    }
};

std::string csi(int count, char final) { return "\x1b[" + std::to_string(count) + final; }

// --- One edit --------------------------------------------------------------------------------------

enum class ending { ENTER, QUIT, ESCAPE, LISTED, END_OF_INPUT };

class edit {
public:
    edit(std::u32string prompt, bool hidden, int64_t start_column)
        : prompt_(std::move(prompt)), hidden_(hidden), start_column_(start_column) {}

    std::u32string text;
    size_t cursor = 0;

    // Writes the pending update (one write for all the keys handled since the last one).
    void flush() {
        if (out_.empty()) return;
        platform::terminal::write_all(out_);
        out_.clear();
    }

    // The whole prompt and line, from the start, over whatever the screen showed there.
    void redraw() {
        move_to(start_column_);
        out_ += "\x1b[J";
        places at = measure(&out_);
        // Text that ends exactly at the right margin leaves the terminal's cursor on that
        // row until another character comes; a line feed takes it where that character
        // would go, so the tracked row stays right.
        if (at.end > start_column_ && at.end % columns == 0) out_ += '\n';
        cursor_row_ = at.end / columns;
        end_ = at.end;
        move_to(at.cursor_place);
    }

    // The cursor moved; the text did not change.
    void place_cursor() { move_to(measure(nullptr).cursor_place); }

    // The text lost its end (Backspace at the end, Ctrl-K): blank from the cursor on.
    void cut_end() {
        places at = measure(nullptr);
        end_ = at.end;
        move_to(at.cursor_place);
        out_ += "\x1b[J";
    }

    // A character appended at the end (the cursor was there): only it is written.
    void echo_last() {
        painter paint{end_, &out_};
        paint.line_char(text.back(), hidden_);
        if (paint.place > end_ && paint.place % columns == 0) out_ += '\n';
        end_ = paint.place;
        cursor_row_ = end_ / columns;
    }

    // The size changed: the start column must still be on the screen.
    void resized() { start_column_ = std::min<int64_t>(start_column_, columns - 1); }

    // Where the cursor is now becomes the start, at column 0 of a new row.
    void restart() {
        out_ += "\r\n";
        start_column_ = 0;
        cursor_row_ = 0;
    }

    // Leaves the cursor at column 0 of the row after the text's last row, ready for the
    // line feed that follows every edit.
    void finish() {
        move_to(end_ / columns * columns);
        flush();
    }

    bool hidden() const { return hidden_; }
    bool cursor_at_end() const { return cursor == text.size(); }

private:
    struct places {
        int64_t end;           // after the last character
        int64_t cursor_place;  // where the character at the cursor shows
    };

    places measure(std::string* bytes) const {
        painter paint{start_column_, bytes};
        for (size_t i = 0; i < prompt_.size();) i = paint.prompt_char(prompt_, i);
        for (size_t i = 0; i < cursor; ++i) paint.line_char(text[i], hidden_);
        int64_t cursor_place = paint.place;
        if (cursor < text.size() && !hidden_ && columns_of(text[cursor]) == 2 && cursor_place % columns == columns - 1)
            ++cursor_place;
        for (size_t i = cursor; i < text.size(); ++i) paint.line_char(text[i], hidden_);
        return {paint.place, cursor_place};
    }

    void move_to(int64_t place) {
        const int64_t row = place / columns;
        const int64_t column = place % columns;
        if (row < cursor_row_) out_ += csi(static_cast<int>(cursor_row_ - row), 'A');
        if (row > cursor_row_) out_ += csi(static_cast<int>(row - cursor_row_), 'B');
        out_ += '\r';
        if (column > 0) out_ += csi(static_cast<int>(column), 'C');
        cursor_row_ = row;
    }

    std::u32string prompt_;
    bool hidden_;
    int64_t start_column_;
    int64_t cursor_row_ = 0;  // the terminal cursor's row below the start row
    int64_t end_ = 0;         // the place after the text, as last written
    std::string out_;
};

// The column the cursor is in now: what the console printers wrote after their last line
// end, measured as the prompt is.
int64_t current_column() {
    std::string_view tail = platform::output_line_tail();
    std::u32string text;
    const auto* data = reinterpret_cast<const uint8_t*>(tail.data());
    for (size_t at = 0; at < tail.size();) {
        keys::decoded next = keys::decode_utf8(data + at, tail.size() - at, true);
        text += static_cast<char32_t>(next.code);
        at += next.consumed;
    }
    painter paint{0, nullptr};
    for (size_t i = 0; i < text.size();) i = paint.prompt_char(text, i);
    return paint.place % columns;
}

// --- History ---------------------------------------------------------------------------------------

int64_t history_entries() {
    cell* history = history_cell();
    return history->is(TYPE_BLOCK) ? std::max<int64_t>(0, block::rest_length(history)) : 0;
}

// The text of entry n (0 the most recent); a value that is no string gives no text.
std::u32string history_entry(int64_t n) {
    cell* history = history_cell();
    const cell* entry = block::get_cell(history, series::index_of(history) + n);
    if (!string::is_any_string(entry->type())) return {};
    return text_of(entry, 0);
}

// Enter: a copy of the line goes to the head of the history, unless the line is hidden,
// empty or the same as the most recent entry. The copy keeps the entry from changing
// with the string that the caller goes on to use.
void add_to_history(const std::u32string& text, bool hidden) {
    if (hidden || text.empty() || !history_cell()->is(TYPE_BLOCK)) return;
    if (history_entries() > 0) {
        const cell* latest = block::get_cell(history_cell(), series::index_of(history_cell()));
        if (string::is_any_string(latest->type()) && text_of(latest, 0) == text) return;
    }
    stack::slot_mark mark;
    cell* entry = string::push_empty();
    store_text(entry, text);
    block::insert_cell(history_cell(), entry, false, false);
}

// --- Completion ------------------------------------------------------------------------------------

enum class completion { NOTHING, REPLACED, LISTED };

// Appends the value's text as `form` gives it.
std::u32string formed_text(const cell* value) {
    if (string::is_any_string(value->type())) return text_of(value, index_in(value));
    stack::slot_mark mark;
    cell* copy = stack::push_copy(value);
    cell* output = string::push_empty();
    actions::dispatch_form(copy, output, nullptr, 0);
    return text_of(output, 0);
}

// Tab: asks `zor-complete-input` (the completion context's function, once it exists) for
// the completed line and its candidates.
completion complete(edit& editing) {
    static const char* const NAME = "zor-complete-input";
    const cell* function = natives::global_value(NAME);
    if (!function || !function->is(TYPE_FUNCTION)) return completion::NOTHING;
    stack::slot_mark mark;
    cell* callee = stack::push_copy(function);
    cell* line = string::push_empty();
    store_text(line, editing.text);
    line->w1 = static_cast<uint32_t>(editing.cursor);
    cell* console = stack::push_slot();
    logic::make_in(console, true);
    const cell* arguments[2] = {line, console};
    if (natives::call_function(callee, symbol::make(NAME), arguments, 2) != 0) stack::throw_if_pending();
    cell* answer = stack::last_slot();
    if (!answer->is(TYPE_BLOCK) || block::rest_length(answer) <= 0) return completion::NOTHING;
    const int64_t head = series::index_of(answer);
    const int64_t count = block::rest_length(answer);
    const cell* first = block::get_cell(answer, head);
    if (!string::is_any_string(first->type())) return completion::NOTHING;
    std::u32string completed = text_of(first, 0);
    const size_t completed_cursor = static_cast<size_t>(index_in(first));
    if (count == 1) {
        editing.text = std::move(completed);
        editing.cursor = completed_cursor;
        return completion::REPLACED;
    }
    carry_over = std::move(completed);
    carry_cursor = completed_cursor;
    std::u32string listed;
    for (int64_t i = 1; i < count; ++i) {
        listed += formed_text(block::get_cell(answer, head + i));
        listed += U' ';
    }
    editing.text = std::move(listed);
    editing.cursor = editing.text.size();
    return completion::LISTED;
}

// --- The edit loop ---------------------------------------------------------------------------------

// Whether the bytes read ahead hold a whole key (so the update can wait for it).
bool key_waiting() {
    if (platform::standard_input::pending_size() == 0) return false;
    return keys::decode_key(platform::standard_input::pending_data(), platform::standard_input::pending_size(), false).consumed > 0;
}

// Leaves raw mode however the edit ends.
struct raw_mode_scope {
    ~raw_mode_scope() { platform::terminal::leave_raw_mode(); }
};

// The history position of the edit running now (see the Up and Down keys).
int64_t recall_ = -1;

ending run_edit(edit& editing) {
    for (;;) {
        if (!key_waiting()) editing.flush();
        platform::terminal::event next = platform::terminal::read_event();
        if (next.kind == platform::terminal::EVENT_END) return ending::END_OF_INPUT;
        if (next.kind == platform::terminal::EVENT_RESIZE) {
            refresh_size();
            editing.resized();
            editing.redraw();
            continue;
        }
        if (next.kind == platform::terminal::EVENT_CONTINUED) {
            // The shell wrote on the screen while the process was stopped: the line is
            // drawn again on a row of its own.
            refresh_size();
            editing.restart();
            editing.redraw();
            continue;
        }
        std::u32string& text = editing.text;
        size_t& cursor = editing.cursor;
        switch (const int32_t key = next.code) {
            case 9:
                switch (complete(editing)) {
                    case completion::NOTHING:
                        text.insert(cursor++, 1, U'\t');
                        editing.redraw();
                        break;
                    case completion::REPLACED: editing.redraw(); break;
                    case completion::LISTED:
                        editing.redraw();
                        return ending::LISTED;
                }
                break;
            case keys::KEY_ENTER: return ending::ENTER;
            case 8:
            case 127:
                if (cursor == 0) break;
                text.erase(--cursor, 1);
                if (editing.cursor_at_end()) editing.cut_end();
                else editing.redraw();
                break;
            case keys::KEY_LEFT:
            case 2:
                if (cursor == 0) break;
                --cursor;
                editing.place_cursor();
                break;
            case keys::KEY_RIGHT:
            case 6:
                if (cursor >= text.size()) break;
                ++cursor;
                editing.place_cursor();
                break;
            case keys::KEY_HOME:
            case 1:
                cursor = 0;
                editing.place_cursor();
                break;
            case keys::KEY_END:
            case 5:
                cursor = text.size();
                editing.place_cursor();
                break;
            case keys::KEY_DOWN:
            case 14:
            case keys::KEY_UP:
            case 16: {
                // recall: -1 the fresh line, 0 .. entries - 1 an entry, entries past the oldest.
                // Each key steps first and then shows where it landed, so Down after Up
                // shows the newer entry, not the same one again.
                const int64_t entries = history_entries();
                const bool older = key == keys::KEY_UP || key == 16;
                if (older && recall_ < entries) ++recall_;
                if (!older && recall_ >= 0) --recall_;
                text = recall_ >= 0 && recall_ < entries ? history_entry(recall_) : std::u32string();
                cursor = text.size();
                editing.redraw();
                break;
            }
            case keys::KEY_DELETE:
                if (cursor >= text.size()) break;
                text.erase(cursor, 1);
                editing.redraw();
                break;
            case 11:
                if (cursor >= text.size()) break;
                text.erase(cursor);
                editing.cut_end();
                break;
            case 4:
                if (cursor < text.size()) {
                    text.erase(cursor, 1);
                    editing.redraw();
                } else if (text.empty()) {
                    return ending::QUIT;
                }
                break;
            case 3: return ending::QUIT;
            case keys::KEY_ESCAPE: return ending::ESCAPE;
            default:
                if (key < 0x20) break;  // other controls, keys without a character
                text.insert(cursor++, 1, static_cast<char32_t>(key));
                if (editing.cursor_at_end()) editing.echo_last();
                else editing.redraw();
                break;
        }
    }
}

// Reads one line on the terminal into the caller's string.
bool edit_line(const std::u32string& prompt, bool hidden) {
    refresh_size();
    platform::terminal::forget_notices();
    raw_mode_scope raw;
    edit editing(prompt, hidden, current_column());
    cell* line = line_cell();
    if (string::is_any_string(line->type())) {
        editing.text = text_of(line, 0);
        editing.cursor = static_cast<size_t>(index_in(line));
    }
    if (!carry_over.empty()) {
        editing.cursor = editing.text.size() + std::min(carry_cursor, carry_over.size());
        editing.text += carry_over;
    }
    recall_ = -1;
    editing.redraw();
    ending how = run_edit(editing);
    editing.finish();
    std::u32string result = editing.text;
    switch (how) {
        case ending::ENTER:
            add_to_history(result, hidden);
            carry_over.clear();
            break;
        case ending::QUIT: result.assign(1, U'q'); break;
        case ending::ESCAPE:
            carry_over.clear();
            result += U'\x1b';
            break;
        case ending::LISTED: result.clear(); break;
        case ending::END_OF_INPUT: break;
    }
    if (string::is_any_string(line->type())) {
        store_text(line, result);
        line->w1 = 0;
    }
    return how != ending::END_OF_INPUT || !result.empty();
}

// The longest line standard input may give: what one string can hold, and no more than
// the heap may.
size_t line_limit() { return static_cast<size_t>(std::min<int64_t>(INT32_MAX, heap_limit::limit())); }

}  // namespace

void init(const cell* title) {
    mark_held_from_now_on();
    if (title && string::is_any_string(title->type())) {
        std::u32string text = text_of(title, 0);
        std::string bytes;
        for (char32_t c : text) {
            uint8_t encoded[4];
            uint32_t code = static_cast<uint32_t>(c);
            if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = keys::REPLACEMENT_CHARACTER;
            const int length = unicode::encode_utf8_char(code, encoded);
            bytes.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
        }
        platform::terminal::set_title(bytes);
    }
    carry_over.clear();
    if (platform::terminal::is_interactive()) refresh_size();
    cell* size = console_size_cell();
    if (size && (!size->is(TYPE_PAIR) || pair::x_of(size) == 0 || pair::y_of(size) == 0))
        set_console_size(DEFAULT_COLUMNS, DEFAULT_ROWS);
}

void set_buffer_history(const cell* line, const cell* history) {
    mark_held_from_now_on();
    held[0] = *line;
    held[1] = *history;
}

bool read_input(const cell* prompt, bool hidden) {
    if (!held_marked || !string::is_any_string(line_cell()->type())) return false;
    if (platform::terminal::is_interactive()) {
        std::u32string prompt_text = prompt && string::is_any_string(prompt->type()) ? text_of(prompt, index_in(prompt))
                                                                                      : std::u32string();
        // A terminal whose modes cannot be set is read as redirected input is.
        if (platform::terminal::enter_raw_mode()) {
            // An error raised inside the edit (by completion code) is reported on a line
            // of its own.
            struct line_end_on_unwind {
                int exceptions = std::uncaught_exceptions();
                ~line_end_on_unwind() {
                    if (std::uncaught_exceptions() > exceptions) platform::print_utf8("\n", 1);
                }
            } line_end;
            bool read = edit_line(prompt_text, hidden);
            platform::print_utf8("\n", 1);
            return read;
        }
    }
    cell* line = line_cell();
    string::reset(line);
    return read_standard_input_line(line);
}

void terminate() { platform::terminal::leave_raw_mode(); }

bool read_standard_input_line(cell* string) {
    std::string bytes;
    switch (platform::standard_input::read_line(bytes, line_limit())) {
        case platform::standard_input::LINE_END_OF_INPUT: return false;
        case platform::standard_input::LINE_TOO_LONG: raise::throw_error(err::internal_no_memory);
        case platform::standard_input::LINE_READ: break;
    }
    append_decoded(string, bytes);
    return true;
}

}  // namespace zor::line_editor
