// SPDX-License-Identifier: ISC
/*
 * dresk: print the full NetWare name of every directory and file listed
 * in saved NDIR listings, one per line, in listing order.  With no
 * argument the listing is read from standard input.
 */
#include "dresk.h"

int
main(int argc, char *argv[])
{
	return NdirProgramMain("dresk", [](std::istream *in) { return new NdirLexerList(in, nullptr); },
	    true, argc, argv);
}
