/*
 * The reader of one listing line's text.
 *
 * The line decoders (ndirdecode.h) are written against the small set of
 * reading operations below, which NdirCursor performs on a plain pointer
 * into the text with exactly the results of std::istream over a
 * std::istringstream of the same text, stream state included.  Building
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
#include <ios>

/* White space as the "C" locale classifies it: blank, \t \n \v \f \r. */
inline bool
NdirIsSpace(int c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

/* The reading operations on a pointer into a NUL-terminated text. */
class NdirCursor {
public:
	explicit NdirCursor(const char *text)
	    : p(text), eofbit(false), failbit(false) {}

	bool fail() const { return failbit; }
	bool eof() const { return eofbit; }

	/* istream::getline(s, n, delim) */
	void getline(char *s, std::streamsize n, char delim)
	{
		std::streamsize count = 0;

		if (unformatted()) {
			while (count + 1 < n && *p != '\0' && *p != delim) {
				*s++ = *p++;
				count++;
			}
			if (*p == '\0')
				eofbit = true;
			else if (*p == delim) {
				p++;
				count++;
			} else
				failbit = true;
		}
		if (n > 0)
			*s = '\0';
		if (count == 0)
			failbit = true;
	}

	/* in >> std::setw(width) >> s */
	void word(char *s, std::streamsize width)
	{
		std::streamsize count = 0;

		if (formatted()) {
			std::streamsize limit = width > 0 ? width - 1 : LONG_MAX;
			while (count < limit && *p != '\0' && !NdirIsSpace(*p)) {
				*s++ = *p++;
				count++;
			}
			if (count < limit && *p == '\0')
				eofbit = true;
			*s = '\0';
		}
		if (count == 0)
			failbit = true;
	}

	/* in >> v, for int: read as long, then clamp to int's range */
	void number(int &v)
	{
		long l;

		if (!formatted())
			return;
		digits(l);
		if (l < INT_MIN) {
			failbit = true;
			v = INT_MIN;
		} else if (l > INT_MAX) {
			failbit = true;
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
		while (NdirIsSpace(*p))
			p++;
		if (*p == '\0')
			eofbit = true;
	}

	/* istream::ignore(n) */
	void ignore(std::streamsize n)
	{
		if (!unformatted() || n <= 0)
			return;
		std::streamsize left = 0;
		while (left < n && p[left] != '\0')
			left++;
		p += left;
		if (left < n)
			eofbit = true;
	}

	/* istream::ignore(n, delim) */
	void ignore(std::streamsize n, char delim)
	{
		std::streamsize count = 0;

		if (!unformatted() || n <= 0)
			return;
		while (count < n && *p != '\0' && *p != delim) {
			p++;
			count++;
		}
		if (count < n) {
			if (*p == '\0')
				eofbit = true;
			else
				p++;
		}
	}

	/* istream::read(s, n): copies what there is, no NUL after it */
	void read(char *s, std::streamsize n)
	{
		if (!unformatted())
			return;
		std::streamsize have = 0;
		while (have < n && p[have] != '\0') {
			s[have] = p[have];
			have++;
		}
		p += have;
		if (have != n)
			eofbit = failbit = true;
	}

	/* istream::peek() */
	int peek()
	{
		if (!unformatted())
			return EOF;
		if (*p == '\0') {
			eofbit = true;
			return EOF;
		}
		return static_cast<unsigned char>(*p);
	}

	/* istream::get() */
	int get()
	{
		if (!unformatted())
			return EOF;
		if (*p == '\0') {
			eofbit = failbit = true;
			return EOF;
		}
		return static_cast<unsigned char>(*p++);
	}

private:
	bool good() const { return !eofbit && !failbit; }

	/* The sentry of an unformatted read: a stream that is not good fails. */
	bool unformatted()
	{
		if (good())
			return true;
		failbit = true;
		return false;
	}

	/* The sentry of a formatted read: also skips leading white space. */
	bool formatted()
	{
		if (!unformatted())
			return false;
		while (NdirIsSpace(*p))
			p++;
		if (*p == '\0') {
			eofbit = failbit = true;
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
		bool negative = false, any = false, over = false;
		unsigned long r = 0;

		if (*p == '-' || *p == '+')
			negative = *p++ == '-';
		unsigned long limit = negative ?
		    static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
		unsigned long most = limit / 10, last = limit % 10;
		while (*p >= '0' && *p <= '9') {
			unsigned long d = static_cast<unsigned long>(*p++ - '0');
			any = true;
			if (over || r > most || (r == most && d > last))
				over = true;
			else
				r = r * 10 + d;
		}
		if (*p == '\0')
			eofbit = true;
		if (!any) {
			v = 0;
			failbit = true;
		} else if (over) {
			v = negative ? LONG_MIN : LONG_MAX;
			failbit = true;
		} else if (negative)
			v = r == static_cast<unsigned long>(LONG_MAX) + 1 ?
			    LONG_MIN : -static_cast<long>(r);
		else
			v = static_cast<long>(r);
	}

	const char *p;
	bool eofbit;
	bool failbit;
};

#endif /* NDIRREAD_H */
