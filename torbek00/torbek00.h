/* SPDX-License-Identifier: ISC */
/*
 * torbek00: the scanner of the migration script generator, which writes
 * the batch lines that copy each listed file to its new place.
 */
#ifndef TORBEK00_H
#define TORBEK00_H

#include <istream>
#include <ostream>

#include "ndirlexer.h"

class torbek00 : public NdirLexer {
public:
	torbek00(std::istream *in, std::ostream *out) : NdirLexer(in, out) {}

	int VolUpdate() override;
	int FileUpdate() override;

	/*
	 * Starts a new run: the header is written again, and no earlier
	 * target counts; for a process that writes many scripts.
	 */
	static void ResetRun();
};

#endif /* TORBEK00_H */
