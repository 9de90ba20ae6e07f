// SPDX-License-Identifier: ISC
/*
 * A whole listing through the scanner classes of the listing programs,
 * read the way the programs read it (DOS line ends too), with their hooks
 * writing as they do in the programs: torbek00 to the scanner's output
 * stream, dresk and ndircheck's plan to standard output.  Output and warnings go to streams
 * that discard what they are given.
 */
#include <iostream>
#include <memory>
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

NdirLexer *
makeTorbek00(std::istream *in)
{
	static NdirNullBuf null;
	static std::ostream script(&null);
	return new torbek00(in, &script);
}

NdirLexer *makeDresk(std::istream *in) { return new NdirLexerList(in, nullptr); }

/* The migration of the input being run. */
std::unique_ptr<NdirMigration> migration;

NdirLexer *makeNdircheck(std::istream *in) { return new ndircheck(in, *migration); }

} // namespace

int
NdirFuzzPrograms(const uint8_t *data, size_t size)
{
	std::string listing(reinterpret_cast<const char *>(data), size);
	Quiet out(std::cout), err(std::cerr);

	std::stringbuf forTorbek00(listing);
	NdirProgramScan(makeTorbek00, &forTorbek00, "fuzz");
	/* Each input is a run of its own. */
	torbek00::ResetRun();
	std::stringbuf forDresk(listing);
	NdirProgramScan(makeDresk, &forDresk, "fuzz");
	/* ndircheck's plan, which sums what the script copies. */
	migration = std::make_unique<NdirMigration>();
	std::stringbuf forNdircheck(listing);
	NdirProgramScan(makeNdircheck, &forNdircheck, "fuzz");
	NdirPrintPlan(*migration, std::cout);
	return 0;
}
