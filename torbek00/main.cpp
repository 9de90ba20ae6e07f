// SPDX-License-Identifier: ISC
/*
 * torbek00: write a DOS batch script that copies the files of saved NDIR
 * listings to new places chosen by each file's owner.  Program files
 * (.EXE, .DLL) are named, not copied.
 */
#include "torbek00.h"

int
main(int argc, char *argv[])
{
	/* The run's: one header, and every target once, as pages 437 and 850 fold letters. */
	NdirTargets targets(NdirDosFold());
	NdirScript script;

	return NdirProgramMain("torbek00",
	    [&](std::istream *in) { return new torbek00(in, targets, script); }, false, argc, argv);
}
