// SPDX-License-Identifier: ISC
/*
 * A whole listing through the scanner classes of the listing programs,
 * read the way the programs read it (DOS line ends too), with their hooks
 * writing as they do in the programs, to standard output.  Output and
 * warnings go to streams that discard what they are given.
 */
#include <iostream>
#include <sstream>
#include <string>

#include "dresk.h"
#include "fuzz.h"
#include "ndircheck.h"
#include "ndirprogram.h"
#include "torbek00.h"

namespace {

/* Points a stream at a discarding buffer for as long as it lives. */
class Quiet {
public:
	explicit Quiet(std::ostream &os) : os(os), saved(os.rdbuf(&null)) {}
	~Quiet() { os.rdbuf(saved); }
	Quiet(const Quiet &) = delete;
	Quiet &operator=(const Quiet &) = delete;

private:
	NdirNullBuf null;
	std::ostream &os;
	std::streambuf *saved;
};

} // namespace

int
NdirFuzzPrograms(const uint8_t *data, size_t size)
{
	std::string listing(reinterpret_cast<const char *>(data), size);
	Quiet out(std::cout), err(std::cerr);
	/* Each input is a run of its own. */
	NdirTargets targets(NdirDosFold());
	NdirScript script;
	Migration m;
	NdirTargets checked(m.page.fold);

	std::stringbuf forTorbek00(listing);
	NdirProgramScan([&](std::istream *in) { return new torbek00(in, targets, script); },
	    &forTorbek00, "fuzz");
	std::stringbuf forDresk(listing);
	NdirProgramScan([](std::istream *in) { return new NdirLexerList(in, nullptr); }, &forDresk, "fuzz");
	/* ndircheck's plan, which sums what the script copies. */
	std::stringbuf forNdircheck(listing);
	NdirProgramScan([&](std::istream *in) { return new ndircheck(in, checked, m); }, &forNdircheck,
	    "fuzz");
	m.Settle();
	PrintPlan(m, std::cout);
	return 0;
}
