// The lexer: turns UTF-8 text into values. A table-driven state machine over bytes
// (lexer-machine.cpp, its tables generated from runtime/data/lexer-*.txt) finds each token
// and its class; the structural classes (brackets, braced strings, paths, comments,
// commas) are handled by the machine's own scanners, and every literal class has a
// scanner that checks its shape and/or a loader that builds its value (lexer-loaders.cpp,
// lexer-strings.cpp, lexer-numbers.cpp). lexer.cpp holds the shared buffers and the
// driver, lexer-events.cpp the callback and the errors.
//
// Scans nest: a /trace callback may call transcode again, so the active scans form a
// chain of states. Values are built into one shared output cell buffer (malloc'd; the
// collector reaches it through a mark callback that marks every active state's cells),
// and copied once into the result. Positions in that buffer are indexes, so a buffer
// that grows never leaves a state pointing at freed memory.
//
// Errors: every syntax error goes through raise_error, which never returns. In load mode
// it raises the language error (syntax/invalid, missing, malconstruct or bad-char, with
// "(line N)" and up to 30 bytes of the text); in /scan and /prescan mode, or when a
// callback answers false to the error event, it ends the current step quietly by throwing
// quiet_stop, which only the scan loop and the driver catch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::lexer {

// Token classes: final state minus 65.
enum token_class : int {
    TOKEN_END = 1, TOKEN_INVALID, TOKEN_BLOCK_OPEN, TOKEN_BLOCK_CLOSE, TOKEN_PAREN_OPEN,
    TOKEN_PAREN_CLOSE, TOKEN_BRACE_OPEN, TOKEN_BRACE_CLOSE, TOKEN_MAP_OPEN, TOKEN_PATH_HEAD,
    TOKEN_CONSTRUCTION, TOKEN_COMMENT, TOKEN_COMMA, TOKEN_STRING, TOKEN_WORD, TOKEN_ISSUE,
    TOKEN_INTEGER, TOKEN_REFINEMENT, TOKEN_CHAR, TOKEN_FILE, TOKEN_BINARY, TOKEN_PERCENT,
    TOKEN_FLOAT, TOKEN_SPECIAL_FLOAT, TOKEN_TUPLE, TOKEN_DATE, TOKEN_PAIR, TOKEN_POINT,
    TOKEN_TIME, TOKEN_MONEY, TOKEN_TAG, TOKEN_URL, TOKEN_EMAIL, TOKEN_HEX_INTEGER,
    TOKEN_RAW_STRING, TOKEN_REF,
};
inline constexpr int TOKEN_CLASS_COUNT = 36;

// Flag bits of the character table, ORed over the bytes of a token.
inline constexpr uint32_t FLAG_PERCENT = 1u << 18;
inline constexpr uint32_t FLAG_GREATER = 1u << 19;
inline constexpr uint32_t FLAG_LESSER = 1u << 20;
inline constexpr uint32_t FLAG_SIGN = 1u << 21;
inline constexpr uint32_t FLAG_NUL = 1u << 22;
inline constexpr uint32_t FLAG_SHARP = 1u << 23;
inline constexpr uint32_t FLAG_EXPONENT = 1u << 24;
inline constexpr uint32_t FLAG_APOSTROPHE = 1u << 25;
inline constexpr uint32_t FLAG_COLON = 1u << 26;
inline constexpr uint32_t FLAG_COMMA = 1u << 27;
inline constexpr uint32_t FLAG_DOT = 1u << 28;
inline constexpr uint32_t FLAG_CARET = 1u << 29;
inline constexpr uint32_t FLAG_UTF8_2_3 = 1u << 30;  // a lead byte 0xC2-0xEF
inline constexpr uint32_t FLAG_UTF8_4 = 1u << 31;    // a lead byte 0xF0-0xF7
// Set by the "{" scanner when the braced string began after a line break.
inline constexpr uint32_t FLAG_BRACED_NEW_LINE = 1u << 17;

// Event bits of a /trace callback.
inline constexpr uint32_t EVENT_PRESCAN = 1, EVENT_SCAN = 2, EVENT_LOAD = 4, EVENT_OPEN = 8,
                          EVENT_CLOSE = 16, EVENT_ERROR = 32;

// raise_error kinds besides a datatype id.
inline constexpr int ERROR_BAD_CHAR = -1, ERROR_BAD_CONSTRUCTION = -2,
                     ERROR_WRONG_CLOSE = -3, ERROR_MISSING_CLOSE = -4;

// One active scan.
// A byte position of the input and its character offset from the input start.
struct offset_mark {
    const uint8_t* position = nullptr;
    int64_t offset = 0;
};

struct state {
    state* next = nullptr;      // the scan nested inside this one
    state* previous = nullptr;  // the enclosing scan
    // Indexes into the shared output buffer.
    uint32_t output_base = 0;  // this scan's first cell
    uint32_t output_head = 0;  // first cell of the innermost open series
    uint32_t output_tail = 0;  // next free cell
    const uint8_t* input_start = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* position = nullptr;
    const uint8_t* token_end = nullptr;  // the byte that ended the last token
    int32_t line = 1;
    int32_t token_new_lines = 0;  // LF bytes since the previous token
    int32_t forced_type = -1;     // a scanner's choice of type for the loader or error
    int32_t token_type = 0;       // datatype id of the last token (TYPE_ERROR when invalid)
    int32_t start_state = 0;      // 0, 4, 35 or 59
    int32_t last_state = 0;       // the state before the final one
    int32_t open_type = 0;        // type of the series whose closer is missing
    int32_t previous_token_type = 0;
    const uint8_t* braced_start = nullptr;  // the outermost "{" of a braced string
    int32_t brace_depth = 0;
    uint32_t braced_flags = 0;
    int32_t saved_token_new_lines = 0;  // kept across a point literal
    cell callback;                // the /trace function, or none
    int32_t callback_locals = 0;
    uint32_t event_mask = 0;
    cell source;                  // the string! or binary! being scanned, or none
    int32_t load_mode = 1;        // 0 with /prescan or /scan
    // Byte positions with their character offsets from the input start, the last start
    // and the last end of an event's range (see offset_of).
    offset_mark start_mark;
    offset_mark end_mark;
    // The machine's own bookkeeping.
    uint32_t step_tail = 0;       // cells before this index are complete; a failing step
                                  // drops the ones after it
    const uint8_t* moved_position = nullptr;  // where a callback moved the input, or null
    int64_t source_index = 0;     // the source's index when the scan began
};

// Thrown by raise_error to end the current step without a language error.
struct quiet_stop {};

// Every scanner and loader: (state, token start, token end, flags, load flag). With load
// false a loader only validates; with load true it fills new_cell(s). Each leaves the
// input position at the token end, or one byte after it when the ending byte belongs to
// the token.
using token_routine = void (*)(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                               bool load);

// --- The machine (lexer.cpp) ----------------------------------------------------------------

// Start-up: the shared buffers, the blank bit array and the token-class table.
void init();
// The services the runtime reaches the lexer through (upcalls::scan_text and
// upcalls::scan_string): the first value of the UTF-8 text into out, answering whether
// there was one; the values of the string's text from its index, appended to the block.
bool scan_text(const char* utf8, int64_t length, cell* out);
void scan_string_into_block(cell* string, cell* block);
// The collector's root hook: every active state's output cells, source and callback.
void mark_active_states();
// How many scans are running now (nested ones included).
int active_scan_count();

struct scan_request {
    bool single = false;       // /next, /one, /scan: stop after the first value or token
    bool prescan = false;      // /prescan
    bool scan = false;         // /scan
    bool block = false;        // a block result even in single mode
    const cell* callback = nullptr;  // /trace function, or null
    const cell* source = nullptr;    // the input series, or null
    cell* into = nullptr;            // /into target block, or null
};

// `lexer/scan-buffer`: scans length bytes of UTF-8 text (which must stay in place for the
// scan: callers pass the work buffer or memory that nothing can move) into result (a
// stack slot): a block! of all loaded values, the single value, or with /scan or /prescan
// the datatype of the token (none! when there was none, error! when invalid). consumed
// receives how much input was used (characters for a string! source, else bytes).
void scan_buffer(cell* result, const uint8_t* text, size_t length, const scan_request& request,
                 int64_t* consumed);
// `lexer/scan-string`: converts length characters (all from the index when -1) of the
// string! cell to UTF-8 in the work buffer and scans them with the string as the source.
void scan_string(cell* result, const cell* string, int64_t length, const scan_request& request,
                 int64_t* consumed);
// The same for length bytes of a binary! from its index (consumed counts bytes). The bytes
// are scanned from a copy, so a callback may change the binary meanwhile.
void scan_binary(cell* result, const cell* binary, int64_t length, const scan_request& request,
                 int64_t* consumed);

// Takes the next output cell (unset!, with the new-line flag when token_new_lines > 0).
// The pointer stays valid until the next new_cell (the buffer may grow then); the
// collector never moves the buffer.
cell* new_cell(state& s);
[[noreturn]] void raise_error(state& s, const uint8_t* start, const uint8_t* end, int kind);
// Calls the callback when the event is in its mask; answers true (go on with the default
// action) when it is not. value is the loaded cell for load events, else null.
bool fire_event(state& s, uint32_t event, int type, cell* value, const uint8_t* start,
                const uint8_t* end);
// The end of a word-like token at a Unicode blank (`lexer/scan-word-end`).
const uint8_t* scan_word_end(const uint8_t* start, const uint8_t* end);
// Whether the code point is one of the 21 Unicode blanks.
bool is_unicode_blank(uint32_t code_point);

// --- The scanners and loaders (lexer-loaders.cpp and its companions) -----------------------

// The scanner and loader of a token class 11 or 14..36; null when the class has none.
token_routine token_scanner(int token_class);
token_routine token_loader(int token_class);

}  // namespace zor::lexer
