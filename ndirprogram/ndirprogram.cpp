// SPDX-License-Identifier: ISC
/* The plumbing of the listing programs (ndirprogram.h). */
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "ndirprogram.h"

static const char *programName = "";	/* begins its own messages */
static const char *listingName = "";	/* the one being scanned */
static bool writeFailed;		/* output could not be written */
static bool failed;			/* a record was left out */
static int unopened;

/* Every message goes out in one write: standard error is unbuffered. */
static void
say(const std::string &line)
{
	std::cerr << line << std::flush;
}

/*
 * Drops every CR that a LF follows within s[from, to) and returns the new
 * end.  Listings with Unix line ends cost one memchr per block.
 */
static std::streamsize
dropLineEndCRs(char *s, std::streamsize from, std::streamsize to)
{
	char *end = s + to;
	char *r = static_cast<char *>(memchr(s + from, '\r', to - from));
	char *w = r;
	if (r == nullptr)
		return to;
	for (; r < end; r++)
		if (*r != '\r' || r + 1 == end || r[1] != '\n')
			*w++ = *r;
	return w - s;
}

/*
 * Fills s with up to n bytes of the source, CR LF read as LF.  Fewer than
 * n only when the source has ended, which the reader takes for the end.
 */
std::streamsize
NdirLineEnds::fill(char *s, std::streamsize n)
{
	std::streamsize got = 0, r;
	while (got < n && (r = source->sgetn(s + got, n - got)) > 0) {
		got = dropLineEndCRs(s, got, got + r);
		/* A CR that ends the block is decided by the next byte. */
		if (s[got - 1] == '\r' && source->sgetc() == traits_type::to_int_type('\n'))
			got--;
	}
	if (got > 0)
		last = s[got - 1];
	return got;
}

void
NdirLineEnds::Drain()
{
	char block[4096];
	for (std::streamsize got = sizeof block; got == sizeof block;)
		got = fill(block, sizeof block);
}

std::streambuf::int_type
NdirLineEnds::underflow()
{
	if (gptr() == egptr()) {
		if (fill(&one, 1) == 0)
			return traits_type::eof();
		setg(&one, &one, &one + 1);
	}
	return traits_type::to_int_type(*gptr());
}

std::streamsize
NdirLineEnds::xsgetn(char *s, std::streamsize n)
{
	if (n > 0 && gptr() < egptr()) {
		*s = traits_type::to_char_type(sbumpc());
		return 1 + fill(s + 1, n - 1);
	}
	return fill(s, n);
}

int
NdirProgramScan(const NdirMakeLexer &make, std::streambuf *source, const char *listing)
{
	NdirLineEnds text(source);
	std::istream in(&text);

	listingName = listing;
	int stopped = std::unique_ptr<NdirLexer>(make(&in))->yylex();

	/* A scan that stopped has left the end of the listing unread. */
	if (stopped)
		text.Drain();
	if (text.EndsInsideLine())
		NdirProgramWarn("no line feed after the last line: the listing may be cut short");
	return stopped;
}

/* Scans one listing file; a directory opens, but is no listing to read. */
static void
scanFile(const NdirMakeLexer &make, const char *name)
{
	struct stat st;
	std::ifstream in(name);

	if (!in.is_open() || (stat(name, &st) == 0 && S_ISDIR(st.st_mode))) {
		say(std::string("Unable to open ") + name + "\n");
		unopened++;
		return;
	}
	NdirProgramScan(make, in.rdbuf(), name);
}

int
NdirProgramMain(const char *name, const NdirMakeLexer &make, bool readsInput,
    int argc, char *argv[])
{
	std::ios::sync_with_stdio(false);
	programName = name;
	if (argc < 2 && readsInput)
		NdirProgramScan(make, std::cin.rdbuf(), "standard input");
	for (int i = 1; i < argc; i++)
		scanFile(make, argv[i]);
	return NdirProgramEnd();
}

int
NdirProgramEnd()
{
	static bool said;

	if (std::cout.flush() && !writeFailed)
		return failed ? 1 : 0;
	if (!said)
		say(std::string(programName) + ": error writing standard output\n");
	said = true;
	return 1;
}

void
NdirProgramWrite(std::ostream &os, const char *text, size_t n)
{
	std::streamsize size = static_cast<std::streamsize>(n);
	if (os.rdbuf()->sputn(text, size) != size)
		writeFailed = true;
}

void
NdirProgramWarn(const std::string &text)
{
	say(std::string(programName) + ": " + listingName + ": " + text + "\n");
}

void
NdirProgramShow(std::string &message, const char *text)
{
	static const char HEX[] = "0123456789abcdef";
	for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
		if (*p >= 0x20 && *p < 0x7f)
			message += static_cast<char>(*p);
		else
			message.append("\\x").append(1, HEX[*p >> 4]).append(1, HEX[*p & 0xf]);
	}
}

void NdirProgramFail() { failed = true; }
int NdirProgramUnopened() { return unopened; }
