/* SPDX-License-Identifier: ISC */
/*
 * What the listing programs share: each listing named on the command line
 * (or standard input) read through the program's own scanner, DOS line
 * ends taken as line ends; messages; exit status.  Not installed: it is
 * the programs' plumbing, not the scanner's interface.
 */
#ifndef NDIRPROGRAM_H
#define NDIRPROGRAM_H

#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

#include "ndirlexer.h"

/*
 * Reads another stream buffer with each carriage return just before a
 * line feed left out (others stay): a listing saved on DOS reads as one
 * with Unix line ends.  No copy of the input is kept.
 */
class NdirLineEnds : public std::streambuf {
public:
	explicit NdirLineEnds(std::streambuf *source) : source(source) {}

	/* Whether the input read so far ends inside a line. */
	bool EndsInsideLine() const { return last != '\n'; }
	/* Reads what is left, to learn how the input ends. */
	void Drain();

protected:
	int_type underflow() override;
	std::streamsize xsgetn(char *s, std::streamsize n) override;

private:
	std::streamsize fill(char *s, std::streamsize n);

	std::streambuf *source;
	char one = 0;		/* underflow()'s get area; the scanner reads by xsgetn */
	char last = '\n';	/* empty input counts as ending at a line end */
};

/*
 * Makes the program's scanner on a listing, with new; what a run keeps
 * from one listing to the next, the maker holds.
 */
typedef std::function<NdirLexer *(std::istream *in)> NdirMakeLexer;

/*
 * Scans one listing read from `source' with a new scanner from `make'
 * and returns what yylex() returned.  `listing' names it in warnings.
 */
int NdirProgramScan(const NdirMakeLexer &make, std::streambuf *source, const char *listing);

/*
 * The whole program: scans every listing named in argv (standard input
 * when there is none and `readsInput' is set) and returns the exit
 * status.  `name' begins the program's messages.
 */
int NdirProgramMain(const char *name, const NdirMakeLexer &make, bool readsInput,
    int argc, char *argv[]);

/*
 * Flushes standard output and returns the exit status: 1 when output was
 * not written in full (said once, on standard error) or a record was left
 * out, else 0.  NdirProgramMain ends with it; call again after more output.
 */
int NdirProgramEnd();

/* Writes program output; a failure is reported at the end, status 1. */
void NdirProgramWrite(std::ostream &os, const char *text, size_t n);

/*
 * Writes a warning about the listing being scanned on standard error, in
 * one line: the program's name, the listing's name and the text.
 */
void NdirProgramWarn(const std::string &text);

/* Appends text for a message, control and non-ASCII bytes as \xNN. */
void NdirProgramShow(std::string &message, const char *text);

/* Makes the program end with status 1 once every listing is read. */
void NdirProgramFail();

/* How many listings could not be opened. */
int NdirProgramUnopened();

#endif /* NDIRPROGRAM_H */
