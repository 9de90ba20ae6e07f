// SPDX-License-Identifier: ISC
/*
 * The script lines of torbek00.  For every file line: an ECHO line with
 * the file's old name, a MYMKDIR -p line for the target directory and an
 * NCOPY /V line, both logging to TORBEK00.LOG; program files (.EXE, .DLL)
 * get the ECHO line only, an incomplete record an error line.  Where each
 * file goes, which records are refused and how the lines are written, the
 * migration decides.
 */
#include "ndirprogram.h"
#include "torbek00.h"

void
torbek00::Take(const NdirOutcome &o)
{
	if (o.fate != NDIR_REFUSED) {
		const auto &lines = script.Lines(o);
		NdirProgramWrite(yyout, lines.buf, lines.n);
	}
}
