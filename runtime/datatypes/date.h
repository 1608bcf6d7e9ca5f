// date!: a day of the proleptic Gregorian calendar, with an optional time of day and an
// optional time zone.
//
// Cell: header type 47; payload word 1 the packed date; words 2-3 one IEEE double, the
// stored time T in seconds (low word first, float!'s layout).
//
// Packed date (bit 0 lowest): bits 17-31 the signed year (-16384..16383, read by an
// arithmetic shift), bit 16 the time flag, bits 12-15 the month 1..12, bits 7-11 the day
// 1..31, bit 6 the zone sign (1 = west of UTC), bits 2-5 the zone hours 0..15, bits 0-1 the
// zone quarter hours 0..3.
//
// Invariants every builder keeps: year, month and day are the local calendar date; T is
// UTC, T = local time - zone offset, and the local time T + offset lies in [0, 86400)
// after every operation that normalises (T itself may be negative or a day or more); a date
// without the time flag has T = 0 and zone 0. A result whose year leaves the 15-bit range
// raises script/type-limit (date!) instead of wrapping.
//
// All calendar arithmetic goes through a continuous day number: day 0 is 1 March of year 0,
// computed with floor division so negative years round-trip like positive ones. Two dates
// compare as instants (day number and time in UTC): the same instant written in two zones
// is equal.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::date {

inline constexpr int32_t LOWEST_YEAR = -16384;
inline constexpr int32_t HIGHEST_YEAR = 16383;
inline constexpr uint32_t TIME_FLAG = 1u << 16;
inline constexpr uint32_t ZONE_MASK = 0x7F;
inline constexpr uint32_t ZONE_SIGN = 0x40;
inline constexpr double SECONDS_PER_DAY = 86400.0;
// The day number of 1 January 1970, the start of epoch seconds.
inline constexpr int64_t EPOCH_DAY = 719468;

// Accessor indexes (path elements and pick).
enum field : int {
    FIELD_DATE = 1, FIELD_YEAR, FIELD_MONTH, FIELD_DAY, FIELD_ZONE, FIELD_TIME, FIELD_HOUR, FIELD_MINUTE,
    FIELD_SECOND, FIELD_WEEKDAY, FIELD_YEARDAY, FIELD_TIMEZONE, FIELD_WEEK, FIELD_ISOWEEK, FIELD_COUNT = FIELD_ISOWEEK
};

// Registers date! (id 47, no parent) and its math core for time! and integer! on the left.
void init_type();

// --- The packed word -----------------------------------------------------------------------

inline int32_t year_of(uint32_t packed) { return static_cast<int32_t>(packed) >> 17; }
inline int32_t month_of(uint32_t packed) { return static_cast<int32_t>((packed >> 12) & 0xF); }
inline int32_t day_of(uint32_t packed) { return static_cast<int32_t>((packed >> 7) & 0x1F); }
inline bool has_time(uint32_t packed) { return (packed & TIME_FLAG) != 0; }
// The zone offset of the zone bits in seconds.
double zone_offset(uint32_t zone_bits);
// The zone bits of a signed offset in minutes (quarter hours kept, the rest dropped; at
// most 15:45 either way).
uint32_t zone_bits_of_minutes(int32_t minutes);

// --- Calendar ---------------------------------------------------------------------------------

bool is_leap_year(int32_t year);
int32_t days_in_month(int32_t year, int32_t month);
// The day number of a calendar date (any month 1..12, any day, which may run past the
// month or be 0 and below: the count simply carries).
int64_t to_day_number(int32_t year, int32_t month, int32_t day);
// The calendar date of a day number.
void from_day_number(int64_t days, int32_t* year, int32_t* month, int32_t* day);
// The packed word of a day number with the zone bits and time flag; script/type-limit
// (date!) when its year does not fit.
uint32_t pack_day_number(int64_t days, uint32_t zone_bits, bool time_flag);
inline int64_t day_number_of(uint32_t packed) { return to_day_number(year_of(packed), month_of(packed), day_of(packed)); }
// 1 = Monday .. 7 = Sunday.
int32_t weekday_of(int64_t days);
// The Monday that starts ISO week 1 of the year.
int64_t iso_week_start(int32_t year);

// --- Cells -------------------------------------------------------------------------------------

inline uint32_t packed_of(const cell* c) { return c->w1; }
double stored_time(const cell* c);
// Makes the cell a date! from the packed word and T, flags of the header kept.
cell* set_cell(cell* c, uint32_t packed, double stored);
cell* push(uint32_t packed, double stored);
// The cell as the date of a day number and a stored time, normalised with the zone.
cell* set_normalized(cell* c, int64_t days, double stored, uint32_t zone_bits, bool time_flag);

// `date/make-at`: the literal's date. With a time, the seconds are local time in the zone
// (signed minutes east of UTC) and the result is normalised; without one, no time flag,
// zone 0 and T = 0. script/type-limit (date!) for a year out of range.
cell* make_at(cell* c, int32_t year, int32_t month, int32_t day, bool time_given, double seconds,
              int32_t zone_minutes);
// `date/set-isoweek`, `date/set-weekday`, `date/set-yearday`: the day moved to the Monday of
// ISO week n, to day n (1 = Monday) of its Monday-based week, to day n of its year. Zone and
// time are kept.
void set_isoweek(cell* c, int32_t week);
void set_weekday(cell* c, int32_t weekday);
void set_yearday(cell* c, int32_t yearday);

// The instant of a date: its day number and time in UTC, the time in [0, 86400). Dates
// compare by it, and hash by it, so one moment written in two zones is one key.
void instant_of(const cell* c, int64_t* days, double* seconds);

// `date/to-epoch-seconds`: whole seconds since 1970-01-01 00:00 UTC (the time rounded half
// up); script/type-limit (integer!) when that does not fit 32 bits.
int32_t to_epoch_seconds(const cell* c);
// `date/difference-as-time`: the first cell becomes the time! from the second date's
// instant to the first's.
void difference_as_time(cell* c, const cell* other);
// The date arithmetic core (op 0 add, 1 subtract) on the call's two arguments, the date
// first.
cell* add_or_subtract(int op);

}  // namespace zor::date
