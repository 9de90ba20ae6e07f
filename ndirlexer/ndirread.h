/* SPDX-License-Identifier: ISC */
/*
 * The reader of one listing line's text.  The line decoders (ndirdecode.h)
 * use the reading operations below, which NdirCursor performs on a plain
 * pointer into the text with exactly the results of std::istream over a
 * std::istringstream of the same text, stream state included: building
 * an istringstream for every line (locale and facet set-up, a copy of the
 * line) would cost more than the rest of the scan.  The tests and the
 * fuzz targets hold the two to agreement on arbitrary text.
 *
 * As with std::istream, a reader is "good" until a step fails or meets the
 * end of the text; from then on every step takes nothing.
 */
#ifndef NDIRREAD_H
#define NDIRREAD_H

#include <climits>
#include <cstdio>
#include <cstring>
#include <ios>

/* White space as the "C" locale classifies it: blank, \t \n \v \f \r. */
inline bool
NdirIsSpace(int c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

/* What ends a word: white space or the end of the text. */
inline bool
NdirEndsWord(char c)
{
	return static_cast<unsigned char>(c) <= ' ' && (c == '\0' || NdirIsSpace(c));
}

/*
 * The reading operations on a pointer into a NUL-terminated text.  Each
 * works on a local copy of the position: a member written beside the
 * characters it copies would be stored and loaded again for every one.
 */
class NdirCursor {
public:
	explicit NdirCursor(const char *text) : p(text), state(0) {}

	bool fail() const { return (state & FAILED) != 0; }
	bool eof() const { return (state & ENDED) != 0; }

	/* istream::getline(s, n, delim) */
	void getline(char *s, std::streamsize n, char delim)
	{
		std::streamsize count = 0;

		if (unformatted()) {
			const char *q = p;
			while (count + 1 < n && q[count] != '\0' && q[count] != delim) {
				s[count] = q[count];
				count++;
			}
			q += count;
			s += count;
			if (*q == '\0')
				state |= ENDED;
			else if (*q == delim) {
				q++;
				count++;
			} else
				state |= FAILED;
			p = q;
		}
		if (n > 0)
			*s = '\0';
		if (count == 0)
			state |= FAILED;
	}

	/* in >> std::setw(width) >> s */
	void word(char *s, std::streamsize width)
	{
		std::streamsize count = 0;

		if (formatted()) {
			const char *q = p;
			std::streamsize limit = width > 0 ? width - 1 : LONG_MAX;
			while (count < limit && !NdirEndsWord(q[count])) {
				s[count] = q[count];
				count++;
			}
			p = q + count;
			if (count < limit && *p == '\0')
				state |= ENDED;
			s[count] = '\0';
		}
		if (count == 0)
			state |= FAILED;
	}

	/* in >> v, for int: read as long, then clamp to int's range */
	void number(int &v)
	{
		long l;

		if (!formatted())
			return;
		digits(l);
		if (l < INT_MIN) {
			state |= FAILED;
			v = INT_MIN;
		} else if (l > INT_MAX) {
			state |= FAILED;
			v = INT_MAX;
		} else
			v = static_cast<int>(l);
	}

	/* in >> v, for long */
	void number(long &v)
	{
		if (formatted())
			digits(v);
	}

	/* in >> std::ws */
	void ws()
	{
		if (!unformatted())
			return;
		p = skipSpace(p);
		if (*p == '\0')
			state |= ENDED;
	}

	/* istream::ignore(n): only the end of the text stops it early */
	void ignore(std::streamsize n) { ignore(n, '\0'); }

	/* istream::ignore(n, delim) */
	void ignore(std::streamsize n, char delim)
	{
		std::streamsize count = 0;

		if (!unformatted() || n <= 0)
			return;
		const char *q = p;
		while (count < n && q[count] != '\0' && q[count] != delim)
			count++;
		q += count;
		if (count < n) {
			/* Testing delim first spares ignore(n) a load. */
			if (delim == '\0' || *q == '\0')
				state |= ENDED;
			else
				q++;
		}
		p = q;
	}

	/* istream::read(s, n): copies what there is, no NUL after it */
	void read(char *s, std::streamsize n)
	{
		if (!unformatted())
			return;
		size_t have = n > 0 ? strnlen(p, static_cast<size_t>(n)) : 0;
		memcpy(s, p, have);
		p += have;
		if (static_cast<std::streamsize>(have) != n)
			state = ENDED | FAILED;
	}

	/* istream::peek() */
	int peek()
	{
		if (!unformatted())
			return EOF;
		if (*p == '\0') {
			state |= ENDED;
			return EOF;
		}
		return static_cast<unsigned char>(*p);
	}

	/*
	 * The character n places after the position (0: the next one), or
	 * EOF past the end; nothing is read and the state stays.  No istream
	 * operation looks ahead like this: the decoders use it only to learn
	 * what a field's end leaves unread.
	 */
	int look(std::streamsize n) const
	{
		for (std::streamsize i = 0; i < n; i++)
			if (p[i] == '\0')
				return EOF;
		return p[n] == '\0' ? EOF : static_cast<unsigned char>(p[n]);
	}

	/* istream::get() */
	int get()
	{
		if (!unformatted())
			return EOF;
		if (*p == '\0') {
			state = ENDED | FAILED;
			return EOF;
		}
		return static_cast<unsigned char>(*p++);
	}

private:
	/* Digits that make a value below 10^18, inside long's range. */
	static const long SAFE_DIGITS = 18;

	/* std::istream's eofbit and failbit, in one byte: good is none. */
	enum { ENDED = 1, FAILED = 2 };

	bool good() const { return state == 0; }

	/* Blanks first: the runs between a listing's columns. */
	static const char *skipSpace(const char *q)
	{
		while (*q == ' ')
			q++;
		while (NdirIsSpace(*q))
			q++;
		return q;
	}

	static bool isDigit(char c) { return static_cast<unsigned>(c - '0') < 10; }

	/* The sentry of an unformatted read: a stream that is not good fails. */
	bool unformatted()
	{
		if (good())
			return true;
		state |= FAILED;
		return false;
	}

	/* The sentry of a formatted read: also skips leading white space. */
	bool formatted()
	{
		if (!unformatted())
			return false;
		p = skipSpace(p);
		if (*p == '\0') {
			state = ENDED | FAILED;
			return false;
		}
		return true;
	}

	/*
	 * Decimal conversion as num_get does it: an optional sign, then
	 * digits.  No digit gives 0 and a failure; a value beyond long's
	 * range gives the nearest limit and a failure.  Every digit is
	 * consumed either way.
	 */
	void digits(long &v)
	{
		const char *q = p;
		bool negative = false;

		if (*q == '-' || *q == '+')
			negative = *q++ == '-';
		const char *first = q;
		unsigned long r = 0;
		while (isDigit(*q))
			r = r * 10 + static_cast<unsigned long>(*q++ - '0');
		p = q;
		if (*q == '\0')
			state |= ENDED;
		if (q == first) {
			v = 0;
			state |= FAILED;
		} else if (q - first > SAFE_DIGITS)
			bounded(first, q, negative, v);
		else
			v = negative ? -static_cast<long>(r) : static_cast<long>(r);
	}

	/* The digits from first to end, held at long's limits. */
	void bounded(const char *first, const char *end, bool negative, long &v)
	{
		unsigned long limit = negative ?
		    static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
		unsigned long most = limit / 10, last = limit % 10, r = 0;

		for (; first < end; first++) {
			unsigned long d = static_cast<unsigned long>(*first - '0');
			if (r > most || (r == most && d > last)) {
				v = negative ? LONG_MIN : LONG_MAX;
				state |= FAILED;
				return;
			}
			r = r * 10 + d;
		}
		if (negative)
			v = r == limit ? LONG_MIN : -static_cast<long>(r);
		else
			v = static_cast<long>(r);
	}

	const char *p;
	unsigned char state;
};

#endif /* NDIRREAD_H */
