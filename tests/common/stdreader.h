/* SPDX-License-Identifier: ISC */
/*
 * The reading operations of the line decoders as std::istream performs
 * them, over a std::istringstream of the text: the reference that the
 * tests, the fuzz targets and the benchmarks hold NdirCursor to.
 */
#ifndef STDREADER_H
#define STDREADER_H

#include <iomanip>
#include <ios>
#include <sstream>

class NdirStdReader {
public:
	explicit NdirStdReader(const char *text) : in(text) {}

	bool fail() const { return in.fail(); }
	bool eof() const { return in.eof(); }

	void getline(char *s, std::streamsize n, char delim) { in.getline(s, n, delim); }
	void word(char *s, std::streamsize width) { in >> std::setw(static_cast<int>(width)) >> s; }
	void number(int &v) { in >> v; }
	void number(long &v) { in >> v; }
	void ws() { in >> std::ws; }
	void ignore(std::streamsize n) { in.ignore(n); }
	void ignore(std::streamsize n, char delim)
	{
		in.ignore(n, std::istream::traits_type::to_int_type(delim));
	}
	void read(char *s, std::streamsize n) { in.read(s, n); }
	int peek() { return in.peek(); }
	int get() { return in.get(); }

	/* NdirCursor::look: the stream buffer is read ahead and put back. */
	int look(std::streamsize n) const
	{
		std::streambuf *b = in.rdbuf();
		auto at = b->pubseekoff(0, std::ios::cur, std::ios::in);
		int c = b->sgetc();
		for (; n > 0 && c != EOF; n--)
			c = b->snextc();
		b->pubseekpos(at, std::ios::in);
		return c;
	}

private:
	std::istringstream in;
};

#endif /* STDREADER_H */
