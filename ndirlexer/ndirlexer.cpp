/*
 * NdirLexer's records, accessors, hooks and line decoders.  The scanning
 * rules that call the decoders are in ndirlexer.l.
 */
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ndirlexer.h"
#include "ndirdecode.h"

void
NdirVol::clear()
{
	server[0] = '\0';
	volume[0] = '\0';
	path[0] = '\0';
}

/* The rights and flags fields get their NUL only from here. */
void
NdirDir::clear()
{
	name[0] = '\0';
	extension[0] = '\0';
	memset(inheritedRights, 0, sizeof inheritedRights);
	memset(effectiveRights, 0, sizeof effectiveRights);
	owner[0] = '\0';
	createTime = 0;
}

void
NdirFile::clear()
{
	name[0] = '\0';
	extension[0] = '\0';
	size = 0;
	updateTime = 0;
	memset(flags, 0, sizeof flags);
	owner[0] = '\0';
}

void
NdirFileStats::clear()
{
	fileCount = 0;
	fileBlocks = 0;
	fileBytes = 0;
	fileBlockBytes = 0;
}

NdirLexer::NdirLexer(std::istream *in, std::ostream *out)
    : yyFlexLexer(in, out)
{
	NdirCheckZone();
}

NdirLexer::~NdirLexer()
{
}

int NdirLexer::StartUpdate() { return 1; }
int NdirLexer::VolUpdate() { return 1; }
int NdirLexer::DirUpdate() { return 1; }
int NdirLexer::FileUpdate() { return 1; }
int NdirLexer::FileCountSizeUpdate() { return 1; }
int NdirLexer::FileBlockSizeUpdate() { return 1; }
int NdirLexer::TotalFileCountSizeUpdate() { return 1; }
int NdirLexer::TotalFileBlockSizeUpdate() { return 1; }
int NdirLexer::ExitUpdate() { return 1; }

int NdirLexer::NdirStart() { return StartUpdate(); }
int NdirLexer::NdirExit() { return ExitUpdate(); }

static char *
text(char *field)
{
	return field[0] != '\0' ? field : nullptr;
}

/*
 * NAME, or NAME.EXT when there is an extension, in `buf'.  The fields are
 * NUL-terminated within their sizes, so the result fits 8 + 1 + 3 + 1.
 */
static char *
compose(char (&buf)[14], const char (&name)[9], const char (&extension)[4])
{
	size_t n = strnlen(name, sizeof name - 1);
	memcpy(buf, name, n);
	if (extension[0] != '\0') {
		size_t e = strnlen(extension, sizeof extension - 1);
		buf[n++] = '.';
		memcpy(buf + n, extension, e);
		n += e;
	}
	buf[n] = '\0';
	return text(buf);
}

char *NdirLexer::VolServer() { return text(vol.server); }
char *NdirLexer::VolVolume() { return text(vol.volume); }
char *NdirLexer::VolPath() { return text(vol.path); }

char *
NdirLexer::DirName()
{
	static char buf[14];
	return compose(buf, dir.name, dir.extension);
}

char *NdirLexer::DirOwner() { return text(dir.owner); }
char *NdirLexer::DirEffectiveRights() { return text(dir.effectiveRights); }
char *NdirLexer::DirInheritedRights() { return text(dir.inheritedRights); }
time_t NdirLexer::DirCreateTime() { return dir.createTime; }

char *
NdirLexer::FileName()
{
	static char buf[14];
	return compose(buf, file.name, file.extension);
}

char *NdirLexer::FileOwner() { return text(file.owner); }
char *NdirLexer::FileFlags() { return text(file.flags); }
long NdirLexer::FileSize() { return file.size; }
time_t NdirLexer::FileUpdateTime() { return file.updateTime; }
long NdirLexer::VolFileCount() { return volStats.fileCount; }
long NdirLexer::VolFileBytes() { return volStats.fileBytes; }
long NdirLexer::VolFileBlocks() { return volStats.fileBlocks; }
long NdirLexer::VolFileBlockBytes() { return volStats.fileBlockBytes; }
long NdirLexer::TotalFileCount() { return totalStats.fileCount; }
long NdirLexer::TotalFileBytes() { return totalStats.fileBytes; }
long NdirLexer::TotalFileBlocks() { return totalStats.fileBlocks; }
long NdirLexer::TotalFileBlockBytes() { return totalStats.fileBlockBytes; }

/*
 * Local time conversion, with the result of mktime(3) but without its cost
 * on every line: mktime looks at the time zone again on each call (a stat
 * of /etc/localtime when TZ is unset), which costs more than decoding the
 * rest of the line.
 *
 * A listing holds few distinct days, so the start of each day is converted
 * once and kept.  In a regular day (below) every time h:mm happens exactly
 * once, at its midnight plus h hours and mm minutes, which is what mktime
 * gives.  Days near a clock change, where a time may be missing or happen
 * twice and mktime's choice is its own, fields outside their usual ranges,
 * and a change of TZ go to mktime itself.  Like the name buffers, the cache belongs to the
 * process, so scanners must not run in two threads at once.
 */
namespace {

struct DayCache {
	time_t midnight;
	int year, month, day;	/* key; month -1 marks an empty slot */
	bool regular;
};

DayCache days[16384];
char cachedZone[128];		/* TZ that the cached days belong to */
bool zoneKnown;			/* false: convert every time with mktime */


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
 * at the time zone again on every call; NdirCheckZone reloads the zone
 * when TZ changes.
 */
DayCache &
lookupDay(int year, int month, int day)
{
	unsigned h = (static_cast<unsigned>(year) * 372u + static_cast<unsigned>(month) * 31u +
	    static_cast<unsigned>(day)) % (sizeof days / sizeof days[0]);
	DayCache &d = days[h];

	if (d.month == month && d.year == year && d.day == day)
		return d;
	struct tm utc = {};
	utc.tm_year = year;
	utc.tm_mon = month;
	utc.tm_mday = day;
	time_t midnightUtc = timegm(&utc);
	long offset = offsetAt(midnightUtc);
	d.midnight = midnightUtc - offset;
	d.regular = midnightUtc != static_cast<time_t>(-1) && offset != LONG_MIN;
	for (int i = -1; i <= 2 && d.regular; i++)
		if (offsetAt(d.midnight + i * 86400L) != offset)
			d.regular = false;
	d.year = year;
	d.month = month;
	d.day = day;
	return d;
}

/* Whether the fields name a time that the calendar has, 0:00 to 23:59. */
bool
ordinary(const struct tm *tm)
{
	static const int length[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

	if (tm->tm_year < 0 || tm->tm_year > 1100 || tm->tm_mon < 0 || tm->tm_mon > 11 ||
	    tm->tm_mday < 1 || tm->tm_mday > length[tm->tm_mon] || tm->tm_hour < 0 ||
	    tm->tm_hour > 23 || tm->tm_min < 0 || tm->tm_min > 59 || tm->tm_sec != 0)
		return false;
	int year = tm->tm_year + 1900;	/* only now known not to overflow */
	bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
	return tm->tm_mon != 1 || tm->tm_mday <= 28 || leap;
}

} // namespace

/*
 * Forgets the cached days when TZ is not what it was when they were
 * converted.  Called for every new scanner, so a change of TZ holds from
 * the next listing on.
 */
void
NdirCheckZone()
{
	const char *tz = getenv("TZ");
	const char *now = tz ? tz : "";

	if (zoneKnown && strcmp(now, cachedZone) == 0)
		return;
	tzset();
	for (DayCache &d : days)
		d.month = -1;
	size_t length = strlen(now);
	zoneKnown = length < sizeof cachedZone;
	if (zoneKnown)
		memcpy(cachedZone, now, length + 1);
}

time_t
NdirMakeTime(struct tm *tm)
{
	if (zoneKnown && ordinary(tm)) {
		const DayCache &d = lookupDay(tm->tm_year, tm->tm_mon, tm->tm_mday);
		if (d.regular)
			return d.midnight + static_cast<time_t>(tm->tm_hour) * 3600 +
			    static_cast<time_t>(tm->tm_min) * 60;
	}
	return mktime(tm);
}

/* A volume line starts a new block: what belonged to the last one goes. */
int
NdirLexer::NdirVolLine(const char *line)
{
	NdirCursor in(line);
	NdirReadVol(in, vol);
	dir.clear();
	file.clear();
	volStats.clear();
	return VolUpdate();
}

int
NdirLexer::NdirDirLine(const char *line)
{
	NdirCursor in(line);
	NdirReadDir(in, dir);
	return DirUpdate();
}

int
NdirLexer::NdirFileLine(const char *line)
{
	NdirCursor in(line);
	NdirReadFile(in, file);
	return FileUpdate();
}

int
NdirLexer::NdirFileCountSizeLine(const char *line)
{
	NdirCursor in(line);
	NdirReadCount(in, volStats.fileBytes, volStats.fileCount, 9);
	return FileCountSizeUpdate();
}

int
NdirLexer::NdirFileBlockSizeLine(const char *line)
{
	NdirCursor in(line);
	NdirReadCount(in, volStats.fileBlockBytes, volStats.fileBlocks, 9);
	return FileBlockSizeUpdate();
}

int
NdirLexer::NdirTotalFileCountSizeLine(const char *line)
{
	NdirCursor in(line);
	NdirReadCount(in, totalStats.fileBytes, totalStats.fileCount, 15);
	return TotalFileCountSizeUpdate();
}

int
NdirLexer::NdirTotalFileBlockSizeLine(const char *line)
{
	NdirCursor in(line);
	NdirReadCount(in, totalStats.fileBlockBytes, totalStats.fileBlocks, 15);
	return TotalFileBlockSizeUpdate();
}
