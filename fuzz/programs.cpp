/*
 * A whole listing through the scanner classes of the two programs, with
 * their hooks writing as they do in the programs: torbek00 to the
 * scanner's output stream, dresk to standard output.  Both go to streams
 * that discard what they are given.
 */
#include <iostream>
#include <sstream>
#include <string>

#include "fuzz.h"

void NdirFuzzTorbek00(std::istream *in, std::ostream *out);
void NdirFuzzDresk(std::istream *in);

namespace {

/* Points std::cout at a discarding buffer for as long as it lives. */
class QuietCout {
public:
	QuietCout() : saved(std::cout.rdbuf(&null)) {}
	~QuietCout() { std::cout.rdbuf(saved); }
	QuietCout(const QuietCout &) = delete;
	QuietCout &operator=(const QuietCout &) = delete;

private:
	NdirNullBuf null;
	std::streambuf *saved;
};

} // namespace

int
NdirFuzzPrograms(const uint8_t *data, size_t size)
{
	std::string listing(reinterpret_cast<const char *>(data), size);
	NdirNullBuf null;
	std::ostream out(&null);
	QuietCout quiet;

	std::istringstream forTorbek00(listing);
	NdirFuzzTorbek00(&forTorbek00, &out);
	std::istringstream forDresk(listing);
	NdirFuzzDresk(&forDresk);
	return 0;
}
