// SPDX-License-Identifier: ISC
/*
 * torbek00: write a DOS batch script that copies the files of saved NDIR
 * listings to new places chosen by each file's owner.
 *
 * For every file line the script echoes the file's old name, creates the
 * target directory with MYMKDIR -p and copies the file with NCOPY /V, both
 * logging to TORBEK00.LOG.  Program files (.EXE, .DLL) are echoed only.
 */
#include "ndirprogram.h"
#include "torbek00.h"

static NdirLexer *
makeLexer(std::istream *in)
{
	return new torbek00(in, nullptr);
}

int
main(int argc, char *argv[])
{
	return NdirProgramMain("torbek00", makeLexer, false, argc, argv);
}
