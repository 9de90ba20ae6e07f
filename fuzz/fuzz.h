/* SPDX-License-Identifier: ISC */
/*
 * The fuzz harnesses.  Each takes one input of arbitrary bytes, drives the
 * scanner or the programs with it, and aborts when something that must
 * always hold does not.  Memory errors and undefined behaviour are left to
 * the sanitizers.
 *
 * The same functions serve libFuzzer (entry.cpp wraps one of them as
 * LLVMFuzzerTestOneInput) and the replay tests of the ordinary build,
 * which run the seeds and every saved crash input through them.
 */
#ifndef NDIR_FUZZ_H
#define NDIR_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <streambuf>

/* A whole listing through an NdirLexer whose hooks read every accessor. */
int NdirFuzzListing(const uint8_t *data, size_t size);
/* The text of one line through each of the seven line decoders. */
int NdirFuzzDecoders(const uint8_t *data, size_t size);
/* A whole listing through the torbek00 and dresk scanner classes. */
int NdirFuzzPrograms(const uint8_t *data, size_t size);
/* NdirCursor against NdirStdReader, and the date conversion against mktime. */
int NdirFuzzReaders(const uint8_t *data, size_t size);

/* Reports a broken rule and stops, so that the fuzzer keeps the input. */
[[noreturn]] inline void
NdirFuzzFail(const char *what)
{
	(void)fprintf(stderr, "fuzz check failed: %s\n", what);
	abort();
}

inline void
NdirFuzzCheck(bool ok, const char *what)
{
	if (!ok)
		NdirFuzzFail(what);
}

/* A stream buffer that takes everything and keeps nothing. */
class NdirNullBuf : public std::streambuf {
protected:
	int_type overflow(int_type c) override { return traits_type::not_eof(c); }
	std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

#endif /* NDIR_FUZZ_H */
