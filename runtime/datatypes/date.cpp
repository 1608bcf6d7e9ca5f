// date!: the calendar routines, construction from blocks and epoch seconds, the text form,
// the accessors with their setters, comparison as instants and date arithmetic.
#include "runtime/datatypes/date.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/random.h"
#include "runtime/binding/symbol.h"
#include "runtime/binding/system-object.h"
#include "runtime/binding/word-table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors/raise.h"
#include "runtime/eval/stack.h"
#include "runtime/value/type-registry.h"

namespace zor::date {

namespace {

// The names whose first three letters the text form writes until the boot environment
// makes system/locale/months, which starts with the same names.
const char* const MONTH_NAMES[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

[[noreturn]] void raise_type_limit(type_id type) {
    cell t = datatype::value_of(type);
    raise::throw_error(err::script_type_limit, &t);
}

[[noreturn]] void raise_bad_to_arg(const cell* spec) {
    cell t = datatype::value_of(TYPE_DATE);
    raise::throw_error(err::script_bad_to_arg, &t, spec);
}

bool is_word(const cell* c) { return c->type() >= TYPE_WORD && c->type() <= TYPE_GET_WORD; }

bool same_name(const cell* word, int32_t symbol) {
    return symbol != 0 && symbol::canonical_id(static_cast<int32_t>(word->w2)) == symbol::canonical_id(symbol);
}

// The accessor index of a word, or 0.
int accessor_of_word(const cell* word) {
    static const int32_t* const names[] = {
        &symbols::date,    &symbols::year,    &symbols::month,   &symbols::day,     &symbols::zone,
        &symbols::time,    &symbols::hour,    &symbols::minute,  &symbols::second,  &symbols::weekday,
        &symbols::yearday, &symbols::timezone, &symbols::week,   &symbols::isoweek};
    for (int i = 0; i < FIELD_COUNT; ++i) {
        if (same_name(word, *names[i])) return i + 1;
    }
    if (same_name(word, symbols::julian)) return FIELD_YEARDAY;
    return 0;
}

uint32_t zone_bits_of(uint32_t packed) { return packed & ZONE_MASK; }
double local_time(const cell* c) { return stored_time(c) + zone_offset(zone_bits_of(packed_of(c))); }

// A day number and a stored time brought to a local time in [0, 86400) of the zone.
// Not-finite or absurd times raise script/type-limit (date!).
void normalize(int64_t* days, double* stored, uint32_t zone_bits) {
    double offset = zone_offset(zone_bits);
    double local = *stored + offset;
    if (!std::isfinite(local)) raise_type_limit(TYPE_DATE);
    double whole_days = std::floor(local / SECONDS_PER_DAY);
    // Far beyond every representable year: refused before the day count is converted.
    if (std::fabs(whole_days) > 1e8) raise_type_limit(TYPE_DATE);
    local -= whole_days * SECONDS_PER_DAY;
    int64_t shift = static_cast<int64_t>(whole_days);
    // Rounding can leave a tiny negative time at exactly a whole day.
    if (local >= SECONDS_PER_DAY) {
        local -= SECONDS_PER_DAY;
        ++shift;
    } else if (local < 0) {
        local += SECONDS_PER_DAY;
        --shift;
    }
    *days += shift;
    *stored = local - offset;
}

// Rebuilds the cell from its day number and a new stored time, normalised in its zone.
void renormalize(cell* c, double stored, bool time_flag) {
    uint32_t packed = packed_of(c);
    set_normalized(c, day_number_of(packed), stored, zone_bits_of(packed), time_flag);
}

int32_t first_year_day_weekday(int32_t year) { return weekday_of(to_day_number(year, 1, 1)); }

// Week of the year with weeks starting on Sunday; week 1 ends on the first Saturday.
int32_t sunday_week(int64_t days, int32_t year) {
    int64_t january_first = to_day_number(year, 1, 1);
    int64_t e = floor_mod(january_first + 3, 7);  // 0 = Sunday
    int64_t yearday = days - january_first + 1;
    if (yearday <= 7 - e) return 1;
    return static_cast<int32_t>((yearday + e - 1) / 7 + 1);
}

int32_t iso_week(int64_t days, int32_t year) {
    int64_t start = iso_week_start(year);
    if (days < start) {
        // The last week of the previous year.
        int32_t w1 = first_year_day_weekday(year);
        if (w1 == 5) return 53;
        if (w1 == 6) return is_leap_year(year - 1) ? 53 : 52;
        return 52;
    }
    if (days < iso_week_start(year + 1)) return static_cast<int32_t>((days - start) / 7 + 1);
    return 1;
}

// --- Accessors ----------------------------------------------------------------------------------

cell* push_zone(uint32_t packed) {
    if (!has_time(packed)) return &none::value;
    return time::push(zone_offset(zone_bits_of(packed)));
}

cell* get_field(const cell* c, int index) {
    uint32_t packed = packed_of(c);
    int64_t days = day_number_of(packed);
    switch (index) {
        case FIELD_DATE: return push(packed & ~(TIME_FLAG | ZONE_MASK), 0.0);
        case FIELD_YEAR: return integer::push(year_of(packed));
        case FIELD_MONTH: return integer::push(month_of(packed));
        case FIELD_DAY: return integer::push(day_of(packed));
        case FIELD_ZONE:
        case FIELD_TIMEZONE: return push_zone(packed);
        case FIELD_TIME:
            if (!has_time(packed)) return &none::value;
            return time::push(local_time(c));
        case FIELD_HOUR: return time::get_field(local_time(c), time::FIELD_HOUR);
        case FIELD_MINUTE: return time::get_field(local_time(c), time::FIELD_MINUTE);
        case FIELD_SECOND: return time::get_field(local_time(c), time::FIELD_SECOND);
        case FIELD_WEEKDAY: return integer::push(weekday_of(days));
        case FIELD_YEARDAY:
            return integer::push(static_cast<int32_t>(days - to_day_number(year_of(packed), 1, 1) + 1));
        case FIELD_WEEK: return integer::push(sunday_week(days, year_of(packed)));
        default: return integer::push(iso_week(days, year_of(packed)));
    }
}

int32_t integer_value(const cell* value) {
    if (!value->is(TYPE_INTEGER)) raise::throw_error(err::script_invalid_arg, value);
    return static_cast<int32_t>(value->w2);
}

// The zone bits of a zone setter's value: an integer! of hours (kept below 16 by remainder)
// or a time! (kept below 16 hours by remainder; its quarter hours count). The sign is the
// value's own, so -0:30 stays west of UTC.
uint32_t zone_bits_of_value(const cell* value) {
    int32_t minutes;
    if (value->is(TYPE_INTEGER)) {
        minutes = (static_cast<int32_t>(value->w2) % 16) * 60;
    } else if (value->is(TYPE_TIME)) {
        double r = std::fmod(float_::get(value), 57600.0);
        if (!std::isfinite(r)) raise::throw_error(err::script_invalid_arg, value);
        int32_t hours = static_cast<int32_t>(std::trunc(r / 3600.0));
        int32_t field_minutes = time::whole_minutes(r);
        int32_t magnitude = (hours < 0 ? -hours : hours) * 60 + field_minutes;
        minutes = r < 0 ? -magnitude : magnitude;
    } else {
        raise::throw_error(err::script_invalid_arg, value);
    }
    return zone_bits_of_minutes(minutes);
}

void set_day_number(cell* c, int64_t days) {
    uint32_t packed = packed_of(c);
    c->w1 = pack_day_number(days, zone_bits_of(packed), has_time(packed));
}

// The date in the cell with its year, month (carried into the year) and day (carried
// through the month) replaced.
void set_year_month_day(cell* c, int64_t year, int64_t month, int64_t day) {
    year += floor_div(month - 1, 12);
    month = floor_mod(month - 1, 12) + 1;
    if (year < LOWEST_YEAR || year > HIGHEST_YEAR) raise_type_limit(TYPE_DATE);
    set_day_number(c, to_day_number(static_cast<int32_t>(year), static_cast<int32_t>(month), 1) + day - 1);
}

void set_field(cell* c, int index, const cell* value) {
    uint32_t packed = packed_of(c);
    int64_t days = day_number_of(packed);
    int32_t year = year_of(packed);
    switch (index) {
        case FIELD_DATE: {
            if (!value->is(TYPE_DATE)) raise::throw_error(err::script_invalid_arg, value);
            // Only the calendar date changes: this date's time flag, zone and time stay, so
            // no time is lost or hidden behind a cleared flag.
            uint32_t theirs = packed_of(value) & ~(TIME_FLAG | ZONE_MASK);
            c->w1 = theirs | (packed & (TIME_FLAG | ZONE_MASK));
            return;
        }
        case FIELD_YEAR:
            set_year_month_day(c, integer_value(value), month_of(packed), day_of(packed));
            return;
        case FIELD_MONTH:
            set_year_month_day(c, year, integer_value(value), day_of(packed));
            return;
        case FIELD_DAY:
            set_year_month_day(c, year, month_of(packed), integer_value(value));
            return;
        case FIELD_ZONE: {
            uint32_t bits = zone_bits_of_value(value);
            double local = local_time(c);
            c->w1 = (packed & ~ZONE_MASK) | bits | TIME_FLAG;
            float_::store(c, local - zone_offset(bits));
            return;
        }
        case FIELD_TIMEZONE: {
            uint32_t bits = zone_bits_of_value(value);
            set_normalized(c, days, stored_time(c), bits, true);
            return;
        }
        case FIELD_TIME:
            if (value->is(TYPE_NONE)) {
                set_cell(c, packed & ~(TIME_FLAG | ZONE_MASK), 0.0);
                return;
            }
            if (!value->is(TYPE_TIME)) raise::throw_error(err::script_invalid_arg, value);
            renormalize(c, float_::get(value) - zone_offset(zone_bits_of(packed)), true);
            return;
        case FIELD_HOUR:
        case FIELD_MINUTE:
        case FIELD_SECOND: {
            double local = time::with_field(local_time(c), index - FIELD_HOUR + time::FIELD_HOUR, value);
            renormalize(c, local - zone_offset(zone_bits_of(packed)), true);
            return;
        }
        case FIELD_WEEKDAY: set_weekday(c, integer_value(value)); return;
        case FIELD_YEARDAY: set_yearday(c, integer_value(value)); return;
        case FIELD_WEEK: {
            int32_t n = integer_value(value);
            int64_t january_first = to_day_number(year, 1, 1);
            if (n <= 1) {
                set_day_number(c, january_first);
            } else {
                int64_t e = floor_mod(january_first + 3, 7);
                set_day_number(c, january_first + 7 * (static_cast<int64_t>(n) - 1) - e);
            }
            return;
        }
        default: set_isoweek(c, integer_value(value)); return;
    }
}

// The field index of a path element: an integer! as it is, an accessor word by name.
int element_index(const cell* element) {
    if (element->is(TYPE_INTEGER)) return static_cast<int32_t>(element->w2);
    if (is_word(element)) return accessor_of_word(element);
    return 0;
}

// --- Construction ----------------------------------------------------------------------------

// The fields of a date block, read by the state machine of its value classes.
struct block_fields {
    int count = 0;
    int64_t day = 0, month = 0, year = 0;
    bool time_given = false;
    double time = 0;
    int64_t hour = 0, minute = 0;
    double second = 0;
    bool clock_fields = false;  // hour, minute, second as integers
    bool zone_given = false;
    int32_t zone_minutes = 0;
};

enum value_class { CLASS_INTEGER, CLASS_TIME, CLASS_FLOAT };

// From the block's values to the fields; script/bad-to-arg for any other shape.
block_fields read_block(const cell* spec) {
    // state -> next state for integer!, time!, float! (-1: refused)
    static constexpr int next[14][3] = {
        {1, -1, -1},  {2, -1, -1},  {3, -1, -1}, {8, 4, -1},  {6, 5, -1},  {-1, -1, -1}, {7, -1, -1},
        {-1, -1, -1}, {9, -1, -1},  {10, -1, 10}, {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1}};
    block_fields f;
    int64_t count = block::rest_length(spec);
    int64_t index = static_cast<int32_t>(spec->w1);
    if (index < 0) index = 0;
    int state = 0;
    int64_t zone_hours = 0;
    double zone_time = 0;
    bool zone_as_time = false;
    for (int64_t i = 0; i < count; ++i) {
        const cell element = *block::get_cell(spec, index + i);
        value_class kind;
        if (element.is(TYPE_INTEGER)) kind = CLASS_INTEGER;
        else if (element.is(TYPE_TIME)) kind = CLASS_TIME;
        else if (element.is(TYPE_FLOAT)) kind = CLASS_FLOAT;
        else raise_bad_to_arg(spec);
        int to = next[state][kind];
        if (to < 0) raise_bad_to_arg(spec);
        int64_t n = static_cast<int32_t>(element.w2);
        switch (to) {
            case 1: f.day = n; break;
            case 2: f.month = n; break;
            case 3: f.year = n; break;
            case 4: f.time = float_::get(&element); f.time_given = true; break;
            case 8: f.hour = n; f.clock_fields = true; f.time_given = true; break;
            case 9: f.minute = n; break;
            case 10: f.second = kind == CLASS_FLOAT ? float_::get(&element) : static_cast<double>(n); break;
            case 6: case 12: zone_hours = n; f.zone_given = true; break;
            case 7: case 13:
                if (n < 0 || n > 59) raise_bad_to_arg(spec);
                f.zone_minutes = static_cast<int32_t>(n);
                break;
            case 5: case 11: zone_time = float_::get(&element); zone_as_time = true; f.zone_given = true; break;
            default: break;
        }
        state = to;
    }
    f.count = static_cast<int>(count);
    if (count < 3) raise_bad_to_arg(spec);
    if (f.zone_given) {
        int32_t minutes;
        if (zone_as_time) {
            if (!std::isfinite(zone_time) || std::fabs(zone_time) >= 16 * 3600.0) raise_bad_to_arg(spec);
            int32_t magnitude = static_cast<int32_t>(std::fabs(zone_time) / 60.0);
            minutes = zone_time < 0 ? -magnitude : magnitude;
        } else {
            if (zone_hours < -15 || zone_hours > 15) raise_bad_to_arg(spec);
            int32_t magnitude = static_cast<int32_t>(zone_hours < 0 ? -zone_hours : zone_hours) * 60 + f.zone_minutes;
            minutes = zone_hours < 0 ? -magnitude : magnitude;
        }
        f.zone_minutes = minutes;
    }
    if (f.clock_fields) f.time = static_cast<double>(f.hour) * 3600.0 + static_cast<double>(f.minute) * 60.0 + f.second;
    return f;
}

// make (strict) and to (lenient) of a block.
cell* from_block(cell* result, const cell* spec, bool strict) {
    block_fields f = read_block(spec);
    // [2020 1 15] and [15 1 2020] both mean 15 January 2020.
    if (f.day > 99 && f.year < f.day) std::swap(f.day, f.year);
    if (!std::isfinite(f.time)) raise_bad_to_arg(spec);
    int64_t year = f.year + floor_div(f.month - 1, 12);
    int64_t month = floor_mod(f.month - 1, 12) + 1;
    if (year < LOWEST_YEAR || year > HIGHEST_YEAR) raise_bad_to_arg(spec);
    int64_t days = to_day_number(static_cast<int32_t>(year), static_cast<int32_t>(month), 1) + f.day - 1;
    if (strict) {
        int32_t y, m, d;
        from_day_number(days, &y, &m, &d);
        if (y != f.year || m != f.month || d != f.day) raise_bad_to_arg(spec);
        if (f.time_given) {
            double hours = std::trunc(f.time / 3600.0);
            int64_t minutes = f.clock_fields ? f.minute : time::whole_minutes(f.time);
            double local = f.time - std::floor(f.time / SECONDS_PER_DAY) * SECONDS_PER_DAY;
            if (hours < 0 || hours > 23 || time::whole_minutes(local) != minutes) raise_bad_to_arg(spec);
        }
    }
    uint32_t zone = zone_bits_of_minutes(f.zone_minutes);
    bool with_time = f.count > 3;
    return set_normalized(result, days, with_time ? f.time - zone_offset(zone) : 0.0, with_time ? zone : 0, with_time);
}

cell* from_epoch_seconds(cell* result, int32_t seconds) {
    int64_t n = seconds;
    return set_normalized(result, EPOCH_DAY, static_cast<double>(n), 0, true);
}

// --- Actions ---------------------------------------------------------------------------------------

cell* make(cell* /*value*/, cell* spec, type_id /*type*/) {
    switch (spec->type()) {
        case TYPE_DATE: return spec;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(stack::result_slot(), spec, true);
        default: raise_bad_to_arg(spec);
    }
}

cell* to(cell* /*value*/, cell* spec, type_id /*type*/) {
    switch (spec->type()) {
        case TYPE_DATE: return spec;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(stack::result_slot(), spec, false);
        case TYPE_INTEGER: return from_epoch_seconds(stack::result_slot(), static_cast<int32_t>(spec->w2));
        default: raise_bad_to_arg(spec);
    }
}

cell* random_value(cell* value, bool seed, bool secure, bool /*only*/) {
    uint32_t packed = packed_of(value);
    if (seed) {
        double t = std::trunc(stored_time(value));
        uint32_t whole = std::isfinite(t) && std::fabs(t) < 2147483648.0 ? static_cast<uint32_t>(static_cast<int32_t>(t)) : 0u;
        random::seed(packed + whole);
        return &unset::value;
    }
    // A day between day 0 and the date, the date itself excluded (the date when it is day 0).
    int64_t days = day_number_of(packed);
    int64_t drawn = 0;
    if (days > 0) drawn = random::pick_int(static_cast<int32_t>(days), secure) - 1;
    else if (days < 0) drawn = random::pick_int(static_cast<int32_t>(days), secure) + 1;
    if (!has_time(packed)) {
        set_cell(value, pack_day_number(drawn, 0, false), 0.0);
        return value;
    }
    uint32_t zone = static_cast<uint32_t>(secure ? random::next_secure() : random::next()) & ZONE_MASK;
    int32_t draw = secure ? random::next_secure() : random::next();
    double local = static_cast<double>(draw) / 2147483647.0 * SECONDS_PER_DAY;
    return set_normalized(value, drawn, local - zone_offset(zone), zone, true);
}

// The first three characters of a month's name: from system/locale/months once the boot
// environment has made it (a missing or non-string entry raises script/invalid-months),
// else from the built-in names. Read before anything is written, so nothing allocates
// while the entry is read. Answers the count (a name may be shorter than three).
int month_name_start(int32_t month, uint32_t name[3]) {
    if (system_object::object()) {
        const cell* months = system_object::path({symbols::locale, symbols::months});
        if (!months || !months->is(TYPE_BLOCK) || month < 1 || month > block::rest_length(months))
            raise::throw_error(err::script_invalid_months);
        const cell* entry = block::get_cell(months, series::index_of(months) + month - 1);
        if (!entry->is(TYPE_STRING)) raise::throw_error(err::script_invalid_months);
        const int count = static_cast<int>(std::min<int64_t>(3, string::rest_length(entry)));
        for (int i = 0; i < count; ++i) name[i] = string::char_at(entry, series::index_of(entry) + i);
        return count;
    }
    const char* builtin = month >= 1 && month <= 12 ? MONTH_NAMES[month - 1] : "???";
    for (int i = 0; i < 3; ++i) name[i] = static_cast<unsigned char>(builtin[i]);
    return 3;
}

int form_text(cell* value, cell* output, int budget) {
    uint32_t packed = packed_of(value);
    double local = local_time(value);
    char text[480];
    int n = 0;
    const char separator = static_cast<int32_t>(packed) < 0 ? '/' : '-';
    int32_t year = year_of(packed);
    int32_t month = month_of(packed);
    uint32_t name[3];
    const int name_length = month_name_start(month, name);
    n += std::snprintf(text + n, 16, "%d%c", day_of(packed), separator);
    string::append_bytes(output, text, n);
    for (int i = 0; i < name_length; ++i) string::append_codepoint(output, name[i]);
    n += name_length;
    int written_before_year = n;
    n = 0;
    text[n++] = separator;
    int32_t magnitude = year < 0 ? -year : year;
    n += std::snprintf(text + n, 16, magnitude <= 99 ? "%s%04d" : "%s%d", year < 0 ? "-" : "", magnitude);
    string::append_bytes(output, text, n);
    int written = written_before_year + n;
    if (has_time(packed)) {
        string::append_bytes(output, "/", 1);
        written += 1;
        written += budget - time::form_into_string(local, output, budget);
    }
    uint32_t zone = zone_bits_of(packed);
    if (zone != 0) {
        int hours = static_cast<int>((zone >> 2) & 0xF);
        int minutes = static_cast<int>(zone & 3) * 15;
        n = std::snprintf(text, sizeof text, "%c%02d:%02d", (zone & ZONE_SIGN) ? '-' : '+', hours, minutes);
        string::append_bytes(output, text, n);
        written += n;
    }
    return budget - written;
}

int form(cell* value, cell* output, cell* /*part*/, int budget) { return form_text(value, output, budget); }

int mold(cell* value, cell* output, bool /*only*/, bool /*all*/, bool /*flat*/, cell* /*part*/, int budget,
         int /*indent*/) {
    return form_text(value, output, budget);
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* /*grandparent*/, cell* /*previous*/,
                int /*position*/, int /*pass_through*/, bool /*get_only*/, bool /*tail*/, bool /*in_place*/) {
    int index = element_index(element);
    if (index < FIELD_DATE || index > FIELD_COUNT) raise::throw_error(err::script_invalid_path, path, element);
    if (!value) return get_field(parent, index);
    set_field(parent, index, value);
    return value;
}

cell* pick(cell* value, int index, cell* index_cell) {
    if (index_cell && is_word(index_cell)) {
        index = accessor_of_word(index_cell);
        if (index == 0) raise::throw_error(err::script_cannot_use, index_cell, value);
    } else if (index < FIELD_DATE || index > FIELD_COUNT) {
        cell number{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        raise::throw_error(err::script_out_of_range, index_cell ? index_cell : &number);
    }
    return get_field(value, index);
}

struct instant {
    int64_t days;
    double seconds;
};
instant instant_key(const cell* c) {
    instant i;
    instant_of(c, &i.days, &i.seconds);
    return i;
}

int compare(cell* value, cell* other, int op) {
    if (!other->is(TYPE_DATE)) return -2;
    if (op == COMPARE_SAME) {
        return packed_of(value) == packed_of(other) && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
    }
    instant a = instant_key(value);
    instant b = instant_key(other);
    switch (op) {
        case COMPARE_EQUAL: case COMPARE_NOT_EQUAL: case COMPARE_STRICT_EQUAL: case COMPARE_FIND:
        case COMPARE_LIT_FORM_EQUAL: case COMPARE_LIT_FORM_EQUAL_FOLDED:
            return a.days == b.days && float_::almost_equal(a.seconds, b.seconds) ? 0 : 1;
        default:
            if (a.days != b.days) return a.days < b.days ? -1 : 1;
            return (a.seconds > b.seconds) - (a.seconds < b.seconds);
    }
}

cell* add() { return add_or_subtract(integer::OP_ADD); }
cell* subtract() { return add_or_subtract(integer::OP_SUBTRACT); }

// The date core reached from a number or a time on the left: the operands arrive swapped.
cell* math_core(int op) { return add_or_subtract(op); }

}  // namespace

void init_type() {
    type_registry::action_list list(TYPE_NONE_ID);
    list.set<ACTION_MAKE>(&make);
    list.set<ACTION_RANDOM>(&random_value);
    list.set<ACTION_TO>(&to);
    list.set<ACTION_FORM>(&form);
    list.set<ACTION_MOLD>(&mold);
    list.set<ACTION_EVAL_PATH>(&eval_path);
    list.set<ACTION_COMPARE>(&compare);
    list.set<ACTION_ADD>(&add);
    list.set<ACTION_SUBTRACT>(&subtract);
    list.set<ACTION_PICK>(&pick);
    type_registry::register_type(TYPE_DATE, TYPE_NONE_ID, "date!", list);
    integer::register_math_core(TYPE_DATE, &math_core);
    integer::register_converter(TYPE_DATE, [](const cell* value) { return to_epoch_seconds(value); });
}

double zone_offset(uint32_t zone_bits) {
    double magnitude = static_cast<double>((zone_bits >> 2) & 0xF) * 3600.0 + static_cast<double>(zone_bits & 3) * 900.0;
    return (zone_bits & ZONE_SIGN) ? -magnitude : magnitude;
}

uint32_t zone_bits_of_minutes(int32_t minutes) {
    int32_t magnitude = minutes < 0 ? -minutes : minutes;
    uint32_t hours = static_cast<uint32_t>(magnitude / 60) & 0xF;
    uint32_t quarters = static_cast<uint32_t>((magnitude % 60) / 15);
    uint32_t bits = (hours << 2) | quarters;
    if (minutes < 0 && bits != 0) bits |= ZONE_SIGN;
    return bits;
}

bool is_leap_year(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t days_in_month(int32_t year, int32_t month) {
    static constexpr int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

int64_t to_day_number(int32_t year, int32_t month, int32_t day) {
    int64_t m = (month + 9) % 12;  // March = 0 .. February = 11
    int64_t y = static_cast<int64_t>(year) - m / 10;
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) + (306 * m + 5) / 10 + (day - 1);
}

void from_day_number(int64_t days, int32_t* year, int32_t* month, int32_t* day) {
    auto year_start = [](int64_t f) { return 365 * f + floor_div(f, 4) - floor_div(f, 100) + floor_div(f, 400); };
    int64_t f = floor_div(10000 * days + 14780, 3652425);
    int64_t g = days - year_start(f);
    if (g < 0) {
        --f;
        g = days - year_start(f);
    }
    int64_t mi = (100 * g + 52) / 3060;
    *year = static_cast<int32_t>(f + (mi + 2) / 12);
    *month = static_cast<int32_t>((mi + 2) % 12 + 1);
    *day = static_cast<int32_t>(g - (306 * mi + 5) / 10 + 1);
}

uint32_t pack_day_number(int64_t days, uint32_t zone_bits, bool time_flag) {
    // Beyond the last day of the highest year, or before the first of the lowest.
    if (days < to_day_number(LOWEST_YEAR, 1, 1) || days > to_day_number(HIGHEST_YEAR, 12, 31)) {
        raise_type_limit(TYPE_DATE);
    }
    int32_t year, month, day;
    from_day_number(days, &year, &month, &day);
    return (static_cast<uint32_t>(year) << 17) | (time_flag ? TIME_FLAG : 0u) | (static_cast<uint32_t>(month) << 12) |
           (static_cast<uint32_t>(day) << 7) | (zone_bits & ZONE_MASK);
}

int32_t weekday_of(int64_t days) { return static_cast<int32_t>(floor_mod(days + 2, 7) + 1); }

int64_t iso_week_start(int32_t year) {
    int64_t j = to_day_number(year, 1, 1);
    int64_t w = floor_mod(j + 2, 7);  // 0 = Monday
    return j - w + (w >= 4 ? 7 : 0);
}

double stored_time(const cell* c) { return float_::get(c); }

cell* set_cell(cell* c, uint32_t packed, double stored) {
    cell::set_type(c, TYPE_DATE);
    c->w1 = packed;
    float_::store(c, stored);
    return c;
}

cell* push(uint32_t packed, double stored) {
    cell* c = stack::push_slot();
    *c = cell{TYPE_DATE, packed, 0, 0};
    float_::store(c, stored);
    return c;
}

cell* set_normalized(cell* c, int64_t days, double stored, uint32_t zone_bits, bool time_flag) {
    if (!time_flag) {
        stored = 0.0;
        zone_bits = 0;
    } else {
        normalize(&days, &stored, zone_bits);
    }
    uint32_t packed = pack_day_number(days, zone_bits, time_flag);
    return set_cell(c, packed, stored);
}

cell* make_at(cell* c, int32_t year, int32_t month, int32_t day, bool time_given, double seconds,
              int32_t zone_minutes) {
    if (year < LOWEST_YEAR || year > HIGHEST_YEAR) raise_type_limit(TYPE_DATE);
    int64_t days = to_day_number(year, month, day);
    uint32_t zone = zone_bits_of_minutes(zone_minutes);
    return set_normalized(c, days, time_given ? seconds - zone_offset(zone) : 0.0, zone, time_given);
}

void set_isoweek(cell* c, int32_t week) {
    set_day_number(c, iso_week_start(year_of(packed_of(c))) + 7 * static_cast<int64_t>(week) - 7);
}

void set_weekday(cell* c, int32_t weekday) {
    int64_t days = day_number_of(packed_of(c));
    set_day_number(c, days - floor_mod(days + 2, 7) + weekday - 1);
}

void set_yearday(cell* c, int32_t yearday) {
    set_day_number(c, to_day_number(year_of(packed_of(c)), 1, 1) + yearday - 1);
}

void instant_of(const cell* c, int64_t* days, double* seconds) {
    double stored = stored_time(c);
    double whole = std::floor(stored / SECONDS_PER_DAY);
    *days = day_number_of(packed_of(c)) + static_cast<int64_t>(whole);
    *seconds = stored - whole * SECONDS_PER_DAY;
}

int32_t to_epoch_seconds(const cell* c) {
    double stored = stored_time(c);
    double seconds = static_cast<double>(day_number_of(packed_of(c)) - EPOCH_DAY) * SECONDS_PER_DAY +
                     std::floor(stored + 0.5);
    if (!(seconds >= -2147483648.0 && seconds <= 2147483647.0)) raise_type_limit(TYPE_INTEGER);
    return static_cast<int32_t>(seconds);
}

void difference_as_time(cell* c, const cell* other) {
    double days = static_cast<double>(day_number_of(packed_of(c)) - day_number_of(packed_of(other)));
    double seconds = days * SECONDS_PER_DAY + (stored_time(c) - stored_time(other));
    time::set_cell(seconds, c);
}

cell* add_or_subtract(int op) {
    cell* left = stack::argument(0);
    cell* right = stack::argument(1);
    uint32_t packed = packed_of(left);
    int64_t days = day_number_of(packed);
    double stored = stored_time(left);
    bool time_flag = has_time(packed);
    double sign = op == integer::OP_SUBTRACT ? -1.0 : 1.0;
    switch (right->type()) {
        case TYPE_INTEGER:
            days += op == integer::OP_SUBTRACT ? -static_cast<int64_t>(static_cast<int32_t>(right->w2))
                                               : static_cast<int64_t>(static_cast<int32_t>(right->w2));
            break;
        case TYPE_TIME:
            stored += sign * float_::get(right);
            time_flag = true;
            break;
        case TYPE_DATE: {
            if (op != integer::OP_SUBTRACT) {
                const cell name = integer::named_word("add");
                cell* word = stack::push_copy(&name);
                cell t = datatype::value_of(TYPE_DATE);
                raise::throw_error(err::script_not_related, word, &t);
            }
            int64_t difference = days - day_number_of(packed_of(right));
            double time_difference = stored - stored_time(right);
            if (has_time(packed) || has_time(packed_of(right))) {
                normalize(&difference, &time_difference, zone_bits_of(packed));
            }
            if (difference < INT32_MIN || difference > INT32_MAX) raise_type_limit(TYPE_INTEGER);
            return integer::make_in(left, static_cast<int32_t>(difference));
        }
        default:
            raise::invalid_type(right->type());
    }
    return set_normalized(left, days, stored, zone_bits_of(packed), time_flag);
}

}  // namespace zor::date
