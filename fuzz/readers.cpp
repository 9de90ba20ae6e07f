// SPDX-License-Identifier: ISC
/*
 * Differential checks of the code that stands in for standard facilities
 * for speed:
 *
 *   - NdirCursor against NdirStdReader (std::istringstream): every
 *     decoding template on the whole input as one line's text, and a
 *     sequence of single reading operations taken from the input's tail
 *     on the text at its head.  Fields, results and the fail and eof
 *     states must be the same after every step.
 *   - NdirMakeTime against mktime, on dates made from the input, in a
 *     time zone chosen by the input.
 */
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "fuzz.h"
#include "ndirdecode.h"
#include "stdreader.h"

namespace {

/* Takes bytes one at a time from the input's end; 0 once none is left. */
class Tail {
public:
	Tail(const uint8_t *data, size_t size) : data(data), left(size) {}

	unsigned byte()
	{
		return left > 0 ? data[--left] : 0;
	}
	unsigned word()
	{
		unsigned high = byte();
		return high << 8 | byte();
	}
	/* Values on both sides of zero, for the fields outside their ranges. */
	int signedByte() { return static_cast<int>(byte()) - 128; }
	int signedWord() { return static_cast<int>(word()) - 32768; }
	size_t rest() const { return left; }

private:
	const uint8_t *data;
	size_t left;
};

template <class A, class B> void
sameState(const A &a, const B &b, const char *what)
{
	if (a.fail() != b.fail() || a.eof() != b.eof())
		NdirFuzzFail(what);
}

template <size_t N> void
sameField(const char (&a)[N], const char (&b)[N], const char *what)
{
	if (memcmp(a, b, N) != 0)
		NdirFuzzFail(what);
}

/*
 * Each template runs on records filled with the same bytes beforehand, so
 * that any byte one reader writes and the other does not shows up.
 */
template <class T> void
fill(T &a, T &b)
{
	memset(static_cast<void *>(&a), 0x5a, sizeof a);
	memset(static_cast<void *>(&b), 0x5a, sizeof b);
}

void
compareVol(const char *text)
{
	NdirVol a, b;
	fill(a, b);
	NdirStdReader std(text);
	NdirCursor cur(text);
	NdirReadVol(std, a);
	NdirReadVol(cur, b);
	sameField(a.server, b.server, "NdirReadVol server");
	sameField(a.volume, b.volume, "NdirReadVol volume");
	sameField(a.path, b.path, "NdirReadVol path");
	sameState(std, cur, "NdirReadVol state");
}

void
compareDir(const char *text)
{
	NdirDir a, b;
	fill(a, b);
	NdirStdReader std(text);
	NdirCursor cur(text);
	NdirReadDir(std, a);
	NdirReadDir(cur, b);
	sameField(a.name, b.name, "NdirReadDir name");
	sameField(a.extension, b.extension, "NdirReadDir extension");
	sameField(a.inheritedRights, b.inheritedRights, "NdirReadDir inherited");
	sameField(a.effectiveRights, b.effectiveRights, "NdirReadDir effective");
	sameField(a.owner, b.owner, "NdirReadDir owner");
	NdirFuzzCheck(a.createTime == b.createTime, "NdirReadDir createTime");
	sameState(std, cur, "NdirReadDir state");
}

void
compareFile(const char *text)
{
	NdirFile a, b;
	fill(a, b);
	NdirStdReader std(text);
	NdirCursor cur(text);
	NdirReadFile(std, a);
	NdirReadFile(cur, b);
	sameField(a.name, b.name, "NdirReadFile name");
	sameField(a.extension, b.extension, "NdirReadFile extension");
	NdirFuzzCheck(a.size == b.size, "NdirReadFile size");
	NdirFuzzCheck(a.updateTime == b.updateTime, "NdirReadFile updateTime");
	sameField(a.flags, b.flags, "NdirReadFile flags");
	sameField(a.owner, b.owner, "NdirReadFile owner");
	sameState(std, cur, "NdirReadFile state");
}

void
compareCount(const char *text, std::streamsize skip)
{
	long bytesA = 7, countA = 7, bytesB = 7, countB = 7;
	NdirStdReader std(text);
	NdirCursor cur(text);
	NdirReadCount(std, bytesA, countA, skip);
	NdirReadCount(cur, bytesB, countB, skip);
	NdirFuzzCheck(bytesA == bytesB && countA == countB, "NdirReadCount");
	sameState(std, cur, "NdirReadCount state");
}

/* One reading operation, described by what it stored and returned. */
template <class In> std::string
step(In &in, unsigned op, unsigned arg, char delim, std::vector<char> &buf)
{
	/* Sizes stay inside the buffer, except for the skips, which may be
	 * unbounded as std::istream::ignore allows. */
	std::streamsize room = static_cast<std::streamsize>(buf.size());
	std::streamsize n = static_cast<std::streamsize>(arg % 72) - 2;
	std::string r;

	switch (op % 11) {
	case 0:
		in.getline(buf.data(), n, delim);
		break;
	case 1:		/* width 0: no limit, the buffer holds the whole text */
		in.word(buf.data(), n < 0 ? 0 : n);
		break;
	case 2: {
		int v = 7;
		in.number(v);
		r = std::to_string(v);
		break;
	}
	case 3: {
		long v = 7;
		in.number(v);
		r = std::to_string(v);
		break;
	}
	case 4:
		in.ws();
		break;
	case 5:
		in.ignore(arg == 255 ? std::numeric_limits<std::streamsize>::max() : n);
		break;
	case 6:
		in.ignore(arg == 255 ? std::numeric_limits<std::streamsize>::max() : n,
		    delim);
		break;
	case 7:		/* a negative count has no meaning for read */
		in.read(buf.data(), n < 0 ? 0 : n < room ? n : room);
		break;
	case 8:
		r = std::to_string(in.peek());
		break;
	case 9:
		r = std::to_string(in.get());
		break;
	case 10:
		r = std::to_string(in.look(n < 0 ? 0 : n));
		break;
	}
	r.append(buf.begin(), buf.end());
	return r + (in.fail() ? " fail" : "") + (in.eof() ? " eof" : "");
}

void
compareSteps(const uint8_t *data, size_t size)
{
	Tail tail(data, size);
	unsigned steps = tail.byte() % 24;
	std::vector<unsigned> ops;
	for (unsigned i = 0; i < steps * 3; i++)
		ops.push_back(tail.byte());
	std::string text(reinterpret_cast<const char *>(data), tail.rest());
	const char *s = text.c_str();

	NdirStdReader std(s);
	NdirCursor cur(s);
	std::vector<char> bufA(text.size() + 80, 'Z'), bufB(bufA);
	for (unsigned i = 0; i + 2 < ops.size(); i += 3) {
		char delim = static_cast<char>(ops[i + 2]);
		if (step(std, ops[i], ops[i + 1], delim, bufA) !=
		    step(cur, ops[i], ops[i + 1], delim, bufB))
			NdirFuzzFail("a reading operation differs");
	}
}

/*
 * Zones with summer time either way round, odd offsets, two-hour and
 * half-hour shifts and a skipped day, so that every kind of clock change
 * is met.
 */
const char *const ZONES[] = {
	"UTC0", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
	"Europe/Dublin", "Africa/Casablanca", "America/St_Johns",
	"Pacific/Apia", "Antarctica/Troll", "Asia/Kathmandu", "EST5EDT",
	"<+0330>-3:30", "Europe/London",
};

/*
 * mktime's result for a time, after a call for a day two days before it
 * or after it.  glibc's mktime starts from the UTC offset of its last call,
 * so for a local time that a clock change skips or repeats its answer
 * depends on that history; for every other time both calls agree.
 */
time_t
reference(const struct tm &asked, int days)
{
	struct tm before = asked, t = asked;
	before.tm_mday += days;
	before.tm_hour = 0;
	before.tm_min = 0;
	(void)mktime(&before);
	return mktime(&t);
}

/*
 * A date as the decoders build it, from the next bytes: year 0 to 1100
 * (1900 to 3000) and the other fields in their usual ranges most of the
 * time, outside them now and then.  NdirMakeTime must give what mktime
 * gives; where mktime's own answer depends on its last call, one of its
 * answers.
 */
void
compareDate(Tail &in)
{
	struct tm tm;
	memset(&tm, 0, sizeof tm);
	unsigned wild = in.byte();
	tm.tm_year = static_cast<int>(in.word() % 1101);
	tm.tm_mon = static_cast<int>(in.byte() % 12);
	tm.tm_mday = static_cast<int>(in.byte() % 31) + 1;
	tm.tm_hour = static_cast<int>(in.byte() % 24);
	tm.tm_min = static_cast<int>(in.byte() % 60);
	if (wild & 1)
		tm.tm_mday = in.signedByte();
	if (wild & 2)
		tm.tm_hour = in.signedByte();
	if (wild & 4)
		tm.tm_min = in.signedByte();
	if (wild & 8)
		tm.tm_mon = in.signedByte();
	if (wild & 16)
		tm.tm_year = in.signedWord();
	tm.tm_isdst = -1;

	struct tm asked = tm;
	time_t early = reference(asked, -2), late = reference(asked, 2);
	time_t got = NdirMakeTime(&tm);
	if (got != early && got != late) {
		char what[200];
		(void)snprintf(what, sizeof what,
		    "NdirMakeTime %lld, mktime %lld or %lld for %d-%d-%d %d:%d in %s",
		    static_cast<long long>(got), static_cast<long long>(early),
		    static_cast<long long>(late), asked.tm_year, asked.tm_mon,
		    asked.tm_mday, asked.tm_hour, asked.tm_min, getenv("TZ"));
		NdirFuzzFail(what);
	}
}

void
compareDates(const uint8_t *data, size_t size)
{
	Tail in(data, size);
	const char *zone = ZONES[in.byte() % (sizeof ZONES / sizeof ZONES[0])];
	const char *was = getenv("TZ");
	std::string saved = was ? was : "";

	setenv("TZ", zone, 1);
	NdirFollowZone();
	for (int i = 0; i < 64 && in.rest() > 0; i++)
		compareDate(in);

	/* The decoding templates above convert dates too: in the old zone. */
	if (was)
		setenv("TZ", saved.c_str(), 1);
	else
		unsetenv("TZ");
	NdirFollowZone();
}

} // namespace

int
NdirFuzzReaders(const uint8_t *data, size_t size)
{
	std::string line(reinterpret_cast<const char *>(data), size);
	std::string counted = line + "\n";

	compareVol(line.c_str());
	compareDir(line.c_str());
	compareFile(line.c_str());
	for (std::streamsize skip : {NDIR_BYTES_IN, NDIR_TOTAL_BYTES_IN})
		compareCount(counted.c_str(), skip);
	compareSteps(data, size);
	compareDates(data, size);
	return 0;
}
