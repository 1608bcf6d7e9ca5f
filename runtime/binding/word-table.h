// The predefined symbols, words and refinements that the runtime compares with and looks
// up by name, made once at start-up in a fixed order (so every run gives them the same
// symbol ids): first the symbols (ids only, no word), then the global words, then the
// unbound refinements.
//
// Each list below is the one table of its names: X(C++ name, the name as the language
// spells it). Symbols are kept as ids; words and refinements as cells of the runtime's
// root block, read through predefined_cell (the root block can grow, so no address of
// one of them is kept). The symbol "stack" is interned in its place but not kept.
//
// C++ names follow the language's names: "-" becomes "_", "?" "_q", "*" "_star", a
// type name drops its "!", the angle brackets of internal names go (words::body is
// "<body>"), C++ keywords take a trailing "_", and the platform names a "platform_"
// prefix. A name listed twice gets a second C++ name saying what that entry is for
// (symbols::money_code, words::throw_category); both hold the same symbol.
//
// Invariant: nothing here is valid before word_table::init has run at start-up.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

// clang-format off
#define ZOR_PREDEFINED_SYMBOLS(X, UNKEPT) \
    X(spec, "spec") \
    X(body, "body") \
    X(words, "words") \
    X(class_, "class") \
    X(logic, "logic!") \
    X(integer, "integer!") \
    X(char_, "char!") \
    X(float_, "float!") \
    X(percent, "percent!") \
    X(any_type, "any-type!") \
    X(exit, "exit") \
    X(return_, "return") \
    X(platform_windows, "Windows") \
    X(platform_syllable, "Syllable") \
    X(platform_macos, "macOS") \
    X(platform_linux, "Linux") \
    X(platform_netbsd, "NetBSD") \
    X(repeat, "repeat") \
    X(foreach, "foreach") \
    X(map_each, "map-each") \
    X(remove_each, "remove-each") \
    X(any, "any") \
    X(break_, "break") \
    X(copy, "copy") \
    X(end, "end") \
    X(fail, "fail") \
    X(into, "into") \
    X(opt, "opt") \
    X(not_, "not") \
    X(quote, "quote") \
    X(case_, "case") \
    X(reject, "reject") \
    X(set, "set") \
    X(skip, "skip") \
    X(some, "some") \
    X(thru, "thru") \
    X(to, "to") \
    X(none, "none") \
    X(bar, "|") \
    X(minus, "-") \
    X(if_, "if") \
    X(remove, "remove") \
    X(while_, "while") \
    X(insert, "insert") \
    X(only, "only") \
    X(collect, "collect") \
    X(keep, "keep") \
    X(pick, "pick") \
    X(ahead, "ahead") \
    X(after, "after") \
    X(x, "x") \
    X(y, "y") \
    X(z, "z") \
    X(self, "self") \
    X(values, "values") \
    X(owner, "owner") \
    X(owned, "owned") \
    X(events_q, "events?") \
    X(true_, "true") \
    X(false_, "false") \
    X(yes, "yes") \
    X(no, "no") \
    X(on, "on") \
    X(off, "off") \
    X(type, "type") \
    X(face, "face") \
    X(window, "window") \
    X(offset, "offset") \
    X(key, "key") \
    X(flag, "flag") \
    X(code, "code") \
    X(picked, "picked") \
    X(flags, "flags") \
    X(away_q, "away?") \
    X(ctrl_q, "ctrl?") \
    X(shift_q, "shift?") \
    X(down_q, "down?") \
    X(mid_down_q, "mid-down?") \
    X(alt_down_q, "alt-down?") \
    X(aux_down_q, "aux-down?") \
    X(orientation, "orientation") \
    X(get, "get") \
    X(put, "put") \
    X(post, "post") \
    X(head, "head") \
    X(size, "size") \
    X(rgb, "rgb") \
    X(alpha, "alpha") \
    X(argb, "argb") \
    X(date, "date") \
    X(year, "year") \
    X(month, "month") \
    X(day, "day") \
    X(zone, "zone") \
    X(isoweek, "isoweek") \
    X(week, "week") \
    X(weekday, "weekday") \
    X(yearday, "yearday") \
    X(julian, "julian") \
    X(time, "time") \
    X(hour, "hour") \
    X(minute, "minute") \
    X(second, "second") \
    X(timezone, "timezone") \
    X(money_code, "code") \
    X(amount, "amount") \
    X(user, "user") \
    X(host, "host") \
    X(system, "system") \
    X(system_global, "system-global") \
    UNKEPT("stack") \
    X(trace, "trace") \
    X(no_trace, "no-trace") \
    X(state, "state") \
    X(callbacks, "callbacks") \
    X(bits, "bits") \
    X(locale, "locale") \
    X(months, "months") \
    X(currencies, "currencies") \
    X(list, "list") \
    X(options, "options") \
    X(money_digits, "money-digits") \
    X(lexer, "lexer") \
    X(exit_states, "exit-states") \
    X(schemes, "schemes")

#define ZOR_PREDEFINED_WORDS(X) \
    X(at, "at") \
    X(back, "back") \
    X(find, "find") \
    X(head, "head") \
    X(head_q, "head?") \
    X(index_q, "index?") \
    X(length_q, "length?") \
    X(next, "next") \
    X(pick, "pick") \
    X(skip, "skip") \
    X(select, "select") \
    X(tail, "tail") \
    X(tail_q, "tail?") \
    X(change, "change") \
    X(changed, "changed") \
    X(clear, "clear") \
    X(cleared, "cleared") \
    X(set_path, "set-path") \
    X(append, "append") \
    X(appended, "appended") \
    X(move, "move") \
    X(moved, "moved") \
    X(poke, "poke") \
    X(poked, "poked") \
    X(put, "put") \
    X(put_ed, "put-ed") \
    X(removed, "removed") \
    X(random, "random") \
    X(randomized, "randomized") \
    X(reverse, "reverse") \
    X(reversed, "reversed") \
    X(sort, "sort") \
    X(sorted, "sorted") \
    X(swap, "swap") \
    X(swaped, "swaped") \
    X(take, "take") \
    X(taken, "taken") \
    X(trim, "trim") \
    X(trimmed, "trimmed") \
    X(inserted, "inserted") \
    X(uppercase, "uppercase") \
    X(lowercase, "lowercase") \
    X(checksum, "checksum") \
    X(push, "push") \
    X(pop, "pop") \
    X(fetch, "fetch") \
    X(match, "match") \
    X(iterate, "iterate") \
    X(paren, "paren") \
    X(anon, "<anon>") \
    X(body, "<body>") \
    X(not_found, "<not-found>") \
    X(add, "add") \
    X(subtract, "subtract") \
    X(divide, "divide") \
    X(on_parse_event, "on-parse-event") \
    X(on_change_star, "on-change*") \
    X(on_deep_change_star, "on-deep-change*") \
    X(type, "type") \
    X(id, "id") \
    X(try_, "try") \
    X(catch_, "catch") \
    X(name, "name") \
    X(multiply, "multiply") \
    X(browse, "browse") \
    X(open, "open") \
    X(create, "create") \
    X(close, "close") \
    X(delete_, "delete") \
    X(modify, "modify") \
    X(query, "query") \
    X(read, "read") \
    X(rename, "rename") \
    X(update, "update") \
    X(write, "write") \
    X(prescan, "prescan") \
    X(scan, "scan") \
    X(load, "load") \
    X(error, "error") \
    X(comment, "comment") \
    X(init, "init") \
    X(exec, "exec") \
    X(call, "call") \
    X(return_, "return") \
    X(enter, "enter") \
    X(exit, "exit") \
    X(prolog, "prolog") \
    X(epilog, "epilog") \
    X(throw_, "throw") \
    X(expr, "expr") \
    X(interp_callback, "<interp-callback>") \
    X(lexer_callback, "<lexer-callback>") \
    X(parse_callback, "<parse-callback>") \
    X(compare_callback, "<compare-callback>") \
    X(throw_category, "throw") \
    X(note, "note") \
    X(syntax, "syntax") \
    X(script, "script") \
    X(math, "math") \
    X(access, "access") \
    X(user, "user") \
    X(internal, "internal") \
    X(invalid_error, "invalid-error") \
    X(local, "local") \
    X(applied, "<applied>")

#define ZOR_PREDEFINED_REFINEMENTS(X) \
    X(local, "local") \
    X(extern_, "extern") \
    X(compare, "compare") \
    X(part, "part") \
    X(skip, "skip") \
    X(with, "with")
// clang-format on

namespace zor {

// A cell of the runtime's root block, named by its position there.
class predefined_cell {
public:
    cell* get() const;
    cell* operator->() const { return get(); }
    operator cell*() const { return get(); }  // NOLINT: passed wherever a cell is expected
    int32_t symbol() const { return static_cast<int32_t>(get()->w2); }
    int32_t root_index = -1;
};

namespace symbols {
#define ZOR_DECLARE(name, text) extern int32_t name;
#define ZOR_SKIP(text)
ZOR_PREDEFINED_SYMBOLS(ZOR_DECLARE, ZOR_SKIP)
#undef ZOR_SKIP
#undef ZOR_DECLARE
}  // namespace symbols

namespace words {
#define ZOR_DECLARE(name, text) extern predefined_cell name;
ZOR_PREDEFINED_WORDS(ZOR_DECLARE)
#undef ZOR_DECLARE
}  // namespace words

namespace refinements {
#define ZOR_DECLARE(name, text) extern predefined_cell name;
ZOR_PREDEFINED_REFINEMENTS(ZOR_DECLARE)
#undef ZOR_DECLARE
}  // namespace refinements

namespace word_table {

inline constexpr int SYMBOL_COUNT = 125;
inline constexpr int WORD_COUNT = 105;
inline constexpr int REFINEMENT_COUNT = 6;

// Start-up: makes the symbols, the words (bound in the global context) and the
// refinements, in that order, and names the <body> and <anon> frames for the stack.
void init();

}  // namespace word_table
}  // namespace zor
