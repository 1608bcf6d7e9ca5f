// time!: a signed duration or time of day, held as a number of seconds.
//
// Cell: header type 43; payload word 1 unused (0); words 2-3 one IEEE double, the signed
// seconds, low word first (fractions allowed, no range limit). The layout is float!'s, so
// float_::get and float_::store read and write it, and time! registers with float! as
// parent: random, compare (near-equality for =), absolute, negate and remainder are
// float!'s own actions on the seconds.
//
// This module owns construction, the hours:minutes:seconds text (also the time part of
// date!'s text), the hour/minute/second accessors and their path setters, and the type
// rules of time arithmetic. It also owns the notification that every scalar path setter
// (time!, pair!, tuple!, date!, points) sends to the container of the scalar it changed.
//
// Field conventions: a time is sign x (H:M:S) with H, M, S magnitudes; the hour field reads
// as sign x H, the minute field as M (0..59), the second field as sign x S. Setters read a
// new field value in the same convention, so writing back what was read changes nothing.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::time {

inline constexpr double SECONDS_PER_HOUR = 3600.0;
inline constexpr double SECONDS_PER_MINUTE = 60.0;
// The smallest seconds field that is printed, and the nudge of the parity tests.
inline constexpr double SMALLEST_SECONDS = 1e-6;

// Accessor indexes.
enum field : int { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };

// Registers time! (id 43, parent float!, which must be registered before).
void init_type();

// --- Cell builders ----------------------------------------------------------------------

// Makes the cell a time! holding the seconds; answers the cell.
cell* set_cell(double seconds, cell* c);
// Pushes a new time! on the argument stack.
cell* push(double seconds);
// Appends a time! made from the two halves of the double (low half first) at the tail of
// the block (a rooted block! cell).
cell* append_to_block(uint32_t low, uint32_t high, cell* block);

// --- Fields ---------------------------------------------------------------------------------

// The seconds divided by 3600, truncated toward zero (sign x H). A value whose hours do not
// fit in 32 bits, or that is not finite, raises math/overflow.
int32_t whole_hours(double seconds);
// The minutes field of the magnitude, 0..59; a value that is not finite raises math/overflow.
int32_t whole_minutes(double seconds);
// Pushes a field of the seconds: 1 integer! hours, 2 integer! minutes, 3 float! seconds
// with the value's sign (so -1:30:15 has second -15.0).
cell* get_field(double seconds, int index);
// 1, 2 or 3 for the words hour, minute and second (any letter case), else -1; when the
// word is none of them and the second value is a time!, raises script/cannot-use with the
// word and that value.
int accessor_index(const cell* word, const cell* second_value);
// The seconds after writing a field (index 1..3) with a value: an integer! for hour and
// minute, an integer! or float! for second (anything else raises script/invalid-arg with
// the value). Fields carry through the total, so minute 75 on 1:10:20 gives 2:15:20.
double with_field(double seconds, int index, const cell* value);

// --- Text --------------------------------------------------------------------------------------

// Appends the text of the seconds ("-" for a negative value, hours without padding, two
// minute digits, at least two integer digits of seconds, "00" below a millionth of a
// second; the seconds are rounded before the fields are split, so a rounding up to a
// whole minute carries into minutes and hours). A value that is not finite appends the
// float special text. Answers the budget less every character written.
int form_into_string(double seconds, cell* output, int budget);

// --- Owners of changed scalars --------------------------------------------------------------

}  // namespace zor::time
