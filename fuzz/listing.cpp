// SPDX-License-Identifier: ISC
/*
 * A whole listing through the scanner.  The hooks read every accessor and
 * the whole of every text it returns, and check what the records may hold.
 * Each input is scanned twice: once straight through, and once with some
 * hooks asking to stop, yylex called again after each stop, and an input
 * buffer of a few bytes, so that lines straddle refills and the buffer
 * has to grow.  Both scans must see the same lines with the same fields.
 * Now and then a third scan reads the input stretched (below).
 */
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz.h"
#include "ndirlexer.h"

namespace {

enum Hook {
	ON_START, ON_VOL, ON_DIR, ON_FILE, ON_FILECOUNT, ON_FILEBLOCK,
	ON_TOTALCOUNT, ON_TOTALBLOCK
};

/* An output stream buffer that only counts what is written to it. */
class CountingBuf : public std::streambuf {
public:
	size_t written = 0;

protected:
	int_type overflow(int_type c) override
	{
		written++;
		return traits_type::not_eof(c);
	}
	std::streamsize xsputn(const char *, std::streamsize n) override
	{
		written += static_cast<size_t>(n);
		return n;
	}
};

/*
 * An accessor's text: null or not empty, and never longer than its field
 * allows.
 */
std::string
show(const char *s, size_t most, const char *what)
{
	if (s == nullptr)
		return "-";
	NdirFuzzCheck(s[0] != '\0', what);
	size_t n = strlen(s);
	NdirFuzzCheck(n <= most, what);
	return std::string(s, n);
}

class Probe : public NdirLexer {
public:
	Probe(std::istream *in, std::ostream *out, unsigned stops)
	    : NdirLexer(in, out), stops(stops) {}

	std::string events;	/* one line per hook call, with every field */
	bool stopped = false;	/* a hook of this yylex call returned 0 */
	bool started = false;	/* a volume line has been decoded */

	/* yylex, with the hooks' results checked against its own. */
	int lex()
	{
		stopped = false;
		scanning = true;
		int result = yylex();
		scanning = false;
		NdirFuzzCheck(result == (stopped ? 1 : 0),
		    "yylex result does not match the hooks' results");
		return result;
	}

	int StartUpdate() override { return hook(ON_START); }
	int VolUpdate() override { return hook(ON_VOL); }
	int DirUpdate() override { return hook(ON_DIR); }
	int FileUpdate() override { return hook(ON_FILE); }
	int FileCountSizeUpdate() override { return hook(ON_FILECOUNT); }
	int FileBlockSizeUpdate() override { return hook(ON_FILEBLOCK); }
	int TotalFileCountSizeUpdate() override { return hook(ON_TOTALCOUNT); }
	int TotalFileBlockSizeUpdate() override { return hook(ON_TOTALBLOCK); }
	int ExitUpdate() override
	{
		NdirFuzzCheck(!scanning, "the scanner called ExitUpdate");
		return 1;
	}

private:
	unsigned stops;		/* bit h set: hook h returns 0 */
	bool scanning = false;	/* inside yylex */

	int hook(Hook h)
	{
		NdirFuzzCheck(scanning, "hook called outside yylex");
		NdirFuzzCheck(!stopped, "hook called after a hook asked to stop");
		if (h == ON_START)
			NdirFuzzCheck(!started, "StartUpdate after a volume line");
		if (h == ON_VOL) {
			started = true;
			NdirFuzzCheck(DirName() == nullptr && FileName() == nullptr &&
			    DirOwner() == nullptr && FileOwner() == nullptr &&
			    DirInheritedRights() == nullptr &&
			    DirEffectiveRights() == nullptr && FileFlags() == nullptr &&
			    FileSize() == 0 && FileUpdateTime() == 0 &&
			    DirCreateTime() == 0 && VolFileCount() == 0 &&
			    VolFileBytes() == 0 && VolFileBlocks() == 0 &&
			    VolFileBlockBytes() == 0,
			    "a volume line left a record of the last block");
		}
		events += std::to_string(h) + " " + fields() + "\n";
		if (stops >> h & 1) {
			stopped = true;
			return 0;
		}
		return 1;
	}

	std::string fields()
	{
		std::string s;
		s += show(VolServer(), NDIR_SERVER_LEN - 1, "VolServer") + "|";
		s += show(VolVolume(), NDIR_VOLUME_LEN - 1, "VolVolume") + "|";
		s += show(VolPath(), NDIR_PATH_LEN - 1, "VolPath") + "|";
		s += show(DirName(), 12, "DirName") + "|";
		s += show(DirOwner(), 11, "DirOwner") + "|";
		s += show(DirInheritedRights(), 8, "DirInheritedRights") + "|";
		s += show(DirEffectiveRights(), 8, "DirEffectiveRights") + "|";
		s += show(FileName(), 12, "FileName") + "|";
		s += show(FileOwner(), 11, "FileOwner") + "|";
		s += show(FileFlags(), 18, "FileFlags") + "|";
		const long numbers[] = {
			static_cast<long>(DirCreateTime()), FileSize(),
			static_cast<long>(FileUpdateTime()), VolFileCount(),
			VolFileBytes(), VolFileBlocks(), VolFileBlockBytes(),
			TotalFileCount(), TotalFileBytes(), TotalFileBlocks(),
			TotalFileBlockBytes(),
		};
		for (long n : numbers)
			s += std::to_string(n) + "|";
		return s;
	}
};

/*
 * Scans the listing to its end, calling yylex again after every stop.
 * Every stop consumes at least one character, so the number of calls is
 * bounded by the input's size.
 */
std::string
scan(const std::string &listing, unsigned stops, int bufferSize)
{
	std::istringstream in(listing);
	CountingBuf outBuf;
	std::ostream out(&outBuf);
	Probe probe(&in, &out, stops);
	size_t calls = 0;

	/* The scanner owns the buffer it is switched to and frees it. */
	if (bufferSize > 0)
		probe.yy_switch_to_buffer(probe.yy_create_buffer(&in, bufferSize));

	while (probe.lex() != 0)
		NdirFuzzCheck(++calls <= listing.size() + 1,
		    "yylex stopped without making progress");

	/* At the end of the input a further call finds nothing more. */
	std::string before = probe.events;
	NdirFuzzCheck(probe.lex() == 0, "yylex after the end did not return 0");
	NdirFuzzCheck(probe.events == before, "yylex after the end called a hook");
	NdirFuzzCheck(probe.NdirExit() == 1, "NdirExit");
	NdirFuzzCheck(outBuf.written == 0, "the scanner wrote to its output stream");
	return probe.events;
}

} // namespace

int
NdirFuzzListing(const uint8_t *data, size_t size)
{
	std::string listing(reinterpret_cast<const char *>(data), size);
	std::string straight = scan(listing, 0, 0);

	/*
	 * The last byte picks the hooks that stop the second scan, the one
	 * before it the buffer size.  A stop in StartUpdate leaves its volume
	 * line undecoded, so only without it must the two scans agree.
	 */
	unsigned stops = size > 0 ? data[size - 1] : 0;
	int bufferSize = 2 + (size > 1 ? data[size - 2] % 62 : 0);
	std::string resumed = scan(listing, stops, bufferSize);
	if ((stops & 1u << ON_START) == 0)
		NdirFuzzCheck(straight == resumed,
		    "stopping and resuming changed what the scanner saw");

	/*
	 * Inputs are capped far below the lengths at which a scan that is
	 * slower than linear shows.  For one input in 16 (a zero byte third
	 * from the end picks it, as in a run of them) every byte is scanned
	 * STRETCH times over: runs of a byte and lines grow that much, and a
	 * scan whose time grows faster than its input takes longer than the
	 * fuzzer allows.
	 */
	const size_t STRETCH = 64;
	if (size > 2 && data[size - 3] % 16 == 0) {
		std::string stretched;
		stretched.reserve(size * STRETCH);
		for (char c : listing)
			stretched.append(STRETCH, c);
		scan(stretched, 0, 0);
	}
	return 0;
}
