/* SPDX-License-Identifier: ISC */
/*
 * torbek00: the scanner of the migration script generator, which writes
 * the script's lines for every file line that the migration takes.
 */
#ifndef TORBEK00_H
#define TORBEK00_H

#include <istream>

#include "ndirmigrate.h"

class torbek00 : public NdirMigrate {
public:
	/* One listing of a run whose targets and script these are. */
	torbek00(std::istream *in, NdirTargets &targets, NdirScript &script)
	    : NdirMigrate(in, targets), script(script) {}

protected:
	void Take(const NdirOutcome &o) override;

private:
	NdirScript &script;
};

#endif /* TORBEK00_H */
