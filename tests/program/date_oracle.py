#!/usr/bin/env python3
"""date! against Python's datetime: every day of the years 1 to 9999 (its text, its day
number counted from 1 March of year 0, its weekday, ISO week, day of the year and
Sunday-based week), then
date + integer, date - date, epoch seconds both ways and the same instant written in
two zones, over random cases.

usage: date_oracle.py ZOR_BINARY
"""
import datetime
import random
import subprocess
import sys
import tempfile

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
# Day number of 1 January of year 1: 306 days of year 0 from 1 March on.
DAY_NUMBER_OF_ORDINAL_1 = 306
EPOCH = datetime.datetime(1970, 1, 1)


def zor_text(d):
    year = f"{d.year:04d}" if d.year <= 99 else str(d.year)
    return f"{d.day}-{MONTHS[d.month - 1]}-{year}"


def run_zor(zor, code):
    with tempfile.NamedTemporaryFile("w", suffix=".zor", delete=False) as f:
        f.write("Zor []\n" + code)
        path = f.name
    result = subprocess.run([zor, path], capture_output=True, timeout=1200)
    if result.returncode != 0:
        sys.exit(f"zor failed ({result.returncode}): {result.stderr.decode()[:2000]}{result.stdout.decode()[-2000:]}")
    return result.stdout.decode().splitlines()


def compare(name, got, expected):
    if len(got) != len(expected):
        print(f"{name}: {len(got)} lines, expected {len(expected)}")
    for i, (g, e) in enumerate(zip(got, expected)):
        if g != e:
            sys.exit(f"{name}: line {i + 1}: got {g!r}, expected {e!r}")
    if len(got) != len(expected):
        sys.exit(1)
    print(f"{name}: {len(expected)} cases agree", flush=True)


def every_day(zor):
    # One line a day, gathered into a string and printed a thousand days at a time.
    code = """
d: 1-Jan-0001 base: 1-Mar-0000 out: make string! 60000
until [
    append out form reduce [d d - base pick d 'weekday pick d 'isoweek pick d 'yearday pick d 'week]
    append out #"^/"
    d: d + 1
    if 1000 <= length? out [prin out clear out]
    d = 1-Jan-10000
]
prin out
"""
    # 1-Jan-10000 is not a literal: the loop ends on the day after 31-Dec-9999.
    code = code.replace("d = 1-Jan-10000", "d = (31-Dec-9999 + 1)")
    got = run_zor(zor, code)
    expected = []
    day = datetime.date(1, 1, 1)
    one = datetime.timedelta(days=1)
    while True:
        iso = day.isocalendar()
        # Weeks starting on Sunday, the first one ending on the first Saturday: %U counts
        # the days before the first Sunday as week 0.
        sunday_week = int(day.strftime("%U")) + (0 if day.replace(month=1, day=1).weekday() == 6 else 1)
        expected.append(
            f"{zor_text(day)} {day.toordinal() - 1 + DAY_NUMBER_OF_ORDINAL_1} {iso[2]} {iso[1]} "
            f"{day.timetuple().tm_yday} {sunday_week}")
        if day == datetime.date.max:
            break
        day += one
    compare("every day", got, expected)


def arithmetic(zor, rng):
    lo, hi = datetime.date(1, 1, 1).toordinal(), datetime.date(9999, 12, 31).toordinal()
    lines, expected = [], []
    for _ in range(20000):
        a = datetime.date.fromordinal(rng.randint(lo, hi))
        n = rng.randint(lo - a.toordinal(), hi - a.toordinal())
        b = datetime.date.fromordinal(rng.randint(lo, hi))
        lines.append(f"{zor_text(a)} {n} {zor_text(b)}")
        expected.append(f"{zor_text(a + datetime.timedelta(days=n))} {(a - b).days}")
    code = "foreach [a n b] [\n" + "\n".join(lines) + "\n] [print [a + n a - b]]\n"
    compare("date + integer, date - date", run_zor(zor, code), expected)


def epoch_seconds(zor, rng):
    lines, expected = [], []
    for _ in range(5000):
        seconds = rng.randint(-2**31, 2**31 - 1)
        moment = EPOCH + datetime.timedelta(seconds=seconds)
        zone_quarters = rng.randint(-15 * 4 - 3, 15 * 4 + 3)
        zone = datetime.timedelta(minutes=15 * zone_quarters)
        local = moment + zone
        sign = "-" if zone_quarters < 0 else "+"
        quarters = abs(zone_quarters)
        zone_text = f"{sign}{quarters // 4:02d}:{quarters % 4 * 15:02d}"
        literal = f"{zor_text(local.date())}/{local.hour}:{local.minute:02d}:{local.second:02d}{zone_text}"
        lines.append(f"{seconds} {literal}")
        utc = f"{zor_text(moment.date())}/{moment.hour}:{moment.minute:02d}:{moment.second:02d}"
        # A zero zone is not written.
        shown = literal if quarters else utc
        expected.append(f"{utc} {seconds} {shown} true")
    code = ("foreach [n d] [\n" + "\n".join(lines) +
            "\n] [print [to date! n to integer! d d (to date! n) = d]]\n")
    compare("epoch seconds and zones", run_zor(zor, code), expected)


def main():
    zor = sys.argv[1]
    rng = random.Random(1582)
    arithmetic(zor, rng)
    epoch_seconds(zor, rng)
    every_day(zor)


if __name__ == "__main__":
    main()
