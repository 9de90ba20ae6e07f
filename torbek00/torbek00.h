/* SPDX-License-Identifier: ISC */
/*
 * torbek00's scanner: the script's lines for every file line that the
 * migration takes (an ECHO line with the old name; MYMKDIR -p and NCOPY /V
 * lines, logging to TORBEK00.LOG, for a copy; an error line for an
 * incomplete record).  Where each file goes, which records are refused
 * and how the lines are written, the migration decides.
 */
#ifndef TORBEK00_H
#define TORBEK00_H

#include "ndirmigrate.h"
#include "ndirprogram.h"

class torbek00 : public NdirMigrate {
public:
	/* One listing of a run whose targets and script these are. */
	torbek00(std::istream *in, NdirTargets &targets, NdirScript &script)
	    : NdirMigrate(in, targets), script(script) {}

protected:
	void Take(const NdirOutcome &o) override
	{
		if (o.fate != NDIR_REFUSED) {
			const auto &lines = script.Lines(o);
			NdirProgramWrite(yyout, lines.buf, lines.n);
		}
	}

private:
	NdirScript &script;
};

#endif /* TORBEK00_H */
