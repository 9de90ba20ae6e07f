// SPDX-License-Identifier: ISC
/*
 * The plan of the new drives, du-style: FILES, BYTES and TARGET separated
 * by tabs, for each owner's folder and drive root, each drive and the
 * whole copy, then what the script leaves out, by the reason.
 */
#include "ndircheck.h"

static void
line(std::ostream &out, const NdirTally &t, const std::string &what)
{
	out << t.files << '\t' << NdirDecimal(t.bytes) << '\t' << what << '\n';
}

/* The drive of a folder's DOS form: "O:" of "O:\QXV1". */
static std::string
drive(const std::string &key)
{
	return key.substr(0, key.find('\\'));
}

void
NdirPrintPlan(NdirMigration &m, std::ostream &out)
{
	std::map<std::string, NdirTally> drives;
	NdirTally total;

	for (const NdirCopy &c : m.copies)
		m.Group(c).tally.add(c.size);
	/*
	 * The groups are in the order of their DOS form, and so are the
	 * drives.  A group whose every file was overwritten from another one
	 * has nothing left.
	 */
	for (const auto &[key, group] : m.groups) {
		if (group.tally.files == 0)
			continue;
		drives[drive(key)].add(group.tally);
		total.add(group.tally);
		line(out, group.tally, group.shown);
	}
	for (const auto &[name, tally] : drives)
		line(out, tally, name);
	line(out, total, "total");
	for (const auto &[why, tally] : m.leftOut)
		line(out, tally, why);
}
