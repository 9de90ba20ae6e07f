/* SPDX-License-Identifier: ISC */
/*
 * The reading steps of each kind of listing line, written once for any
 * reader with the operations of NdirCursor (ndirread.h): the scanner's
 * cursor, and the std::istream reader the tests hold it to.  Each function
 * fills one record from one line and never judges the line: a step that
 * fails leaves the reader failed, the later steps take nothing, and the
 * fields they would have filled are left empty or 0.  Every field thus
 * shows what this line holds, never a value left over from an earlier one.
 */
#ifndef NDIRDECODE_H
#define NDIRDECODE_H

#include <climits>
#include <cstring>
#include <ctime>

#include "ndirrecord.h"
#include "ndirread.h"
#include "ndirtime.h"

/*
 * The farthest a reading step looks for a bracket: more than a printed
 * line holds between two fields, so a bracket in its column is always
 * found, while a line without one is not searched to its end.
 */
const std::streamsize NDIR_BRACKET_REACH = 128;

/* Where a file line's extension starts, counted from its name's start. */
const std::streamsize NDIR_EXTENSION_COLUMN = 14;

/*
 * What a count line holds between its byte number and its count, trailing
 * blank included; the decoders skip it by length, without comparing.
 */
const std::streamsize NDIR_BYTES_IN = sizeof "bytes in " - 1;
const std::streamsize NDIR_TOTAL_BYTES_IN = sizeof "total bytes in " - 1;

/* target * 1000 + group, held at long's limits instead of overflowing. */
inline long
NdirGroup(long target, int group)
{
	long r;
	if (__builtin_mul_overflow(target, 1000L, &r))
		return target < 0 ? LONG_MIN : LONG_MAX;
	if (__builtin_add_overflow(r, static_cast<long>(group), &r))
		return group < 0 ? LONG_MIN : LONG_MAX;
	return r;
}

/*
 * A number printed in comma groups (1,234,567).  The character after the
 * last group is consumed.  A group that cannot be read ends the number with
 * the groups read so far.
 */
template <class In> long
NdirReadGrouped(In &in)
{
	long target = 0;

	for (;;) {
		int group = 0;
		in.number(group);
		if (in.fail() && group == 0)
			break;
		target = NdirGroup(target, group);
		if (in.get() != ',')
			break;
	}
	return target;
}

/*
 * A listing date, month-day-year hour:minutes and 'a' or 'p', with any
 * one-character separators.  The year counts from 1900 as printed.  A date
 * that cannot be read completely gives 0.
 */
template <class In> time_t
NdirReadDate(In &in, bool skipMeridiem)
{
	int month = 0, day = 0, year = 0, hour = 0, minutes = 0;

	in.number(month);
	in.ignore(1);
	in.number(day);
	in.ignore(1);
	in.number(year);
	in.ws();
	in.number(hour);
	in.ignore(1);
	in.number(minutes);
	bool complete = !in.fail();
	int meridiem = in.peek();
	if (skipMeridiem)
		in.ignore(1);

	if (!complete || month == INT_MIN || hour > INT_MAX - 12)
		return 0;
	if (meridiem == 'p' && hour != 12)
		hour += 12;
	else if (meridiem == 'a' && hour == 12)
		hour = 0;

	struct tm tm = {};
	tm.tm_min = minutes;
	tm.tm_hour = hour;
	tm.tm_mday = day;
	tm.tm_mon = month - 1;
	tm.tm_year = year;
	tm.tm_isdst = -1;		/* let the zone rules decide summer time */
	return NdirMakeTime(&tm);
}

/*
 * The name word of a directory or file line.  The field keeps the first 8
 * characters; the rest of a longer word is passed over, so that reading
 * goes on after the whole word as printed and the columns that follow are
 * found where they are.  Returns the length of the whole word.
 */
template <class In> std::streamsize
NdirReadName(In &in, char (&name)[NDIR_NAME_LEN])
{
	name[0] = '\0';
	in.word(name, sizeof name);
	std::streamsize length = static_cast<std::streamsize>(strnlen(name, sizeof name - 1));
	if (length == sizeof name - 1)
		for (int c; (c = in.peek()) != EOF && !NdirIsSpace(c); length++)
			in.get();
	return length;
}

/*
 * Whether the field went on after a run of white space other than the
 * blank that starts n places ahead: whether the run ends at anything but
 * a blank, a line end or the end of the text.
 */
template <class In> bool
NdirGoesOn(const In &in, std::streamsize n)
{
	int c;
	while ((c = in.look(n)) != ' ' && c != '\n' && NdirIsSpace(c))
		n++;
	return c != EOF && c != ' ' && c != '\n';
}

/* Whether the word just read ended at white space other than the blank, and went on. */
template <class In> bool
NdirSplit(const In &in)
{
	int c = in.look(0);
	return c != ' ' && c != '\n' && NdirIsSpace(c) && NdirGoesOn(in, 1);
}

inline void
NdirNote(unsigned char &facts, bool fact, NdirFieldBit bit)
{
	if (fact)
		facts |= bit;
}

/*
 * Reads up to `delim' into the field; a field that took all its room
 * without meeting `delim' or the end was cut.
 */
template <class In, size_t N> void
NdirReadUpTo(In &in, char (&field)[N], char delim, unsigned char &cut, NdirFieldBit bit)
{
	in.getline(field, N, delim);
	NdirNote(cut, in.fail() && !in.eof() && strnlen(field, N) == N - 1, bit);
}

/* A word of at most size - 1 characters; the field is empty if none. */
template <class In, size_t N> void
NdirReadWord(In &in, char (&field)[N])
{
	field[0] = '\0';
	in.word(field, N);
}

/* The same, noting in the record a word cut at the field's size or split. */
template <class In, size_t N, class Record> void
NdirReadWord(In &in, char (&field)[N], Record &r, NdirFieldBit bit)
{
	NdirReadWord(in, field);
	if (field[0] == '\0')
		return;
	int next = in.look(0);
	NdirNote(r.cut, next != EOF && !NdirIsSpace(next), bit);
	NdirNote(r.split, NdirSplit(in), bit);
}

/* Exactly n characters as printed; the field's last byte stays NUL. */
template <class In, size_t N> void
NdirCopy(In &in, char (&field)[N])
{
	memset(field, 0, N);
	in.read(field, N - 1);
}

/* SERVER\VOLUME:PATH */
template <class In> void
NdirReadVol(In &in, NdirVol &vol)
{
	vol.cut = vol.split = 0;
	NdirReadUpTo(in, vol.server, '\\', vol.cut, NDIR_SERVER_FIELD);
	NdirReadUpTo(in, vol.volume, ':', vol.cut, NDIR_VOLUME_FIELD);
	NdirReadUpTo(in, vol.path, '\n', vol.cut, NDIR_PATH_FIELD);
}

/* NAME EXT [inherited] [effective] OWNER m-d-y h:mma */
template <class In> void
NdirReadDir(In &in, NdirDir &dir)
{
	NdirReadName(in, dir.name);
	in.ws();
	dir.extension[0] = '\0';
	if (in.peek() != '[')
		NdirReadWord(in, dir.extension);
	in.ignore(NDIR_BRACKET_REACH, '[');
	NdirCopy(in, dir.inheritedRights);
	in.ignore(NDIR_BRACKET_REACH, '[');
	NdirCopy(in, dir.effectiveRights);
	in.ignore(NDIR_BRACKET_REACH, ']');
	in.ws();
	NdirReadWord(in, dir.owner);
	dir.createTime = NdirReadDate(in, false);
}

/*
 * NAME at the line's start, the extension NDIR_EXTENSION_COLUMN characters
 * after the name's first character (a blank there means none), size, date,
 * [flags], owner.
 */
template <class In> void
NdirReadFile(In &in, NdirFile &file)
{
	std::streamsize length = NdirReadName(in, file.name);
	file.cut = file.split = 0;
	NdirNote(file.cut, length >= NDIR_NAME_LEN, NDIR_NAME_FIELD);
	NdirNote(file.split, length > 0 && NdirSplit(in), NDIR_NAME_FIELD);
	in.ignore(NDIR_EXTENSION_COLUMN - length);
	file.extension[0] = '\0';
	if (in.peek() != ' ')
		NdirReadWord(in, file.extension, file, NDIR_EXTENSION_FIELD);
	file.size = NdirReadGrouped(in);
	in.ws();
	file.updateTime = NdirReadDate(in, true);
	in.ignore(NDIR_BRACKET_REACH, '[');
	NdirCopy(in, file.flags);
	in.ignore(NDIR_BRACKET_REACH, ']');
	in.ws();
	NdirReadWord(in, file.owner, file, NDIR_OWNER_FIELD);
}

/*
 * "     1,234,567 bytes in     42 files": the bytes in comma groups, then
 * a skip of exactly `skip' characters ("bytes in " or "total bytes in "),
 * then the count as a plain number.
 */
template <class In> void
NdirReadCount(In &in, long &bytes, long &count, std::streamsize skip)
{
	bytes = NdirReadGrouped(in);
	in.ignore(skip);
	count = 0;
	in.number(count);
}

#endif /* NDIRDECODE_H */
