// SPDX-License-Identifier: ISC
/*
 * Local time conversion with the result of mktime(3) but without its cost
 * on every line: mktime looks at the time zone again on each call (a stat
 * of /etc/localtime when TZ is unset), which costs more than decoding the
 * rest of the line.
 *
 * A listing holds few distinct days, so the start of each day is converted
 * once and kept.  In a regular day (below) every time h:mm happens exactly
 * once, at its midnight plus h hours and mm minutes, which is what mktime
 * gives.  Days near a clock change, where a time may be missing or happen
 * twice and mktime's choice is its own, and fields outside their usual
 * ranges go to mktime itself; so does every date while TZ is too long to
 * be kept (ZONE_LEN).
 *
 * The zone is looked at only in NdirFollowZone (ndirtime.h).  Like the
 * name buffers, the cache belongs to the process, so scanners must not run
 * in two threads at once.
 */
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ndirtime.h"

namespace {

/*
 * Years 1900 to 3000 (tm_year 0 to 1100) go through the cache: far beyond
 * the dates of any listing, and small enough that neither year + 1900 nor
 * a day's key can overflow.  Other years go to mktime.
 */
const int LAST_YEAR = 1100;

/* A day's key: a slot for each day of a 31-day month in every month. */
const int MONTH_DAYS = 31;
const int YEAR_DAYS = 12 * MONTH_DAYS;

const time_t MINUTE_SECONDS = 60;
const time_t HOUR_SECONDS = 60 * MINUTE_SECONDS;
const time_t DAY_SECONDS = 24 * HOUR_SECONDS;

/*
 * Consecutive days have consecutive keys, so the days of any 22 years
 * (DAY_SLOTS / YEAR_DAYS) have slots of their own, more than the dates of
 * a server's listing span; a day outside them only costs its conversion
 * again.  16 bytes a slot: 128 KiB, cleared whole on a change of zone.
 */
const int DAY_SLOTS = 8192;

/* The longest TZ kept: zone names and POSIX rules are far shorter. */
const size_t ZONE_LEN = 128;

struct Day {
	time_t midnight;	/* the day's local midnight */
	int key;		/* -1: an empty slot */
	bool regular;		/* false: the day goes to mktime */
};

Day days[DAY_SLOTS];
char zone[ZONE_LEN];		/* TZ that the cached days belong to */
bool zoneKept;			/* false: convert every time with mktime */

/* The UTC offset in force at t, by localtime_r, or LONG_MIN. */
long
offsetAt(time_t t)
{
	struct tm tm;
	return localtime_r(&t, &tm) != nullptr ? tm.tm_gmtoff : LONG_MIN;
}

/*
 * A day is regular when one UTC offset holds from the midnight before it
 * to the midnight two days on.  Then no clock change is near enough for a
 * time of the day to be missing or to happen twice, and its midnight is
 * midnight UTC less that offset.
 *
 * The offsets come from localtime_r, which, unlike mktime, does not look
 * at the time zone again on every call.
 */
const Day &
lookupDay(int year, int month, int day)
{
	int key = year * YEAR_DAYS + month * MONTH_DAYS + day - 1;
	Day &d = days[key % DAY_SLOTS];

	if (d.key == key)
		return d;
	struct tm utc = {};
	utc.tm_year = year;
	utc.tm_mon = month;
	utc.tm_mday = day;
	time_t midnightUtc = timegm(&utc);
	long offset = offsetAt(midnightUtc);
	d.key = key;
	d.midnight = midnightUtc - offset;
	d.regular = midnightUtc != static_cast<time_t>(-1) && offset != LONG_MIN;
	for (int i = -1; i <= 2 && d.regular; i++)
		if (offsetAt(d.midnight + i * DAY_SECONDS) != offset)
			d.regular = false;
	return d;
}

/* Whether the fields name a time that the calendar has, 0:00 to 23:59. */
bool
ordinary(const struct tm *tm)
{
	static const int length[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

	if (tm->tm_year < 0 || tm->tm_year > LAST_YEAR || tm->tm_mon < 0 ||
	    tm->tm_mon > 11 || tm->tm_mday < 1 || tm->tm_mday > length[tm->tm_mon] ||
	    tm->tm_hour < 0 || tm->tm_hour > 23 || tm->tm_min < 0 ||
	    tm->tm_min > 59 || tm->tm_sec != 0)
		return false;
	int year = tm->tm_year + 1900;	/* only now known not to overflow */
	bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
	return tm->tm_mon != 1 || tm->tm_mday <= 28 || leap;
}

} // namespace

/* Forgets the cached days when TZ is not what they were converted for. */
void
NdirFollowZone()
{
	const char *tz = getenv("TZ");
	const char *now = tz ? tz : "";

	if (zoneKept && strcmp(now, zone) == 0)
		return;
	tzset();
	for (Day &d : days)
		d.key = -1;
	size_t length = strlen(now);
	zoneKept = length < ZONE_LEN;
	if (zoneKept)
		memcpy(zone, now, length + 1);
}

time_t
NdirMakeTime(struct tm *tm)
{
	if (zoneKept && ordinary(tm)) {
		const Day &d = lookupDay(tm->tm_year, tm->tm_mon, tm->tm_mday);
		if (d.regular)
			return d.midnight + tm->tm_hour * HOUR_SECONDS + tm->tm_min * MINUTE_SECONDS;
	}
	return mktime(tm);
}
