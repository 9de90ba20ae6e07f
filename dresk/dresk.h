/* SPDX-License-Identifier: ISC */
/*
 * NdirLexerList: the scanner of dresk, which prints the full NetWare name
 * of every directory and file line on standard output.
 */
#ifndef DRESK_H
#define DRESK_H

#include <istream>
#include <ostream>

#include "ndirlexer.h"

class NdirLexerList : public NdirLexer {
public:
	NdirLexerList(std::istream *in, std::ostream *out) : NdirLexer(in, out) {}

	int DirUpdate() override;
	int FileUpdate() override;

private:
	int printPath(const char *name);
};

#endif /* DRESK_H */
