// SPDX-License-Identifier: ISC
/*
 * The text of one line through each of the seven line decoders, as the
 * scanner would hand it over: NUL-terminated, and for the count lines with
 * the line feed that their rules match.  The hooks read every field; the
 * checks hold the decoders to what they promise whatever the text:
 * bounded, terminated fields, the hook's result passed back unchanged, a
 * volume line emptying the block's records, and a count line touching only
 * its own two numbers.
 */
#include <cstring>
#include <string>

#include "fuzz.h"
#include "ndirlexer.h"

namespace {

size_t
length(const char *s, size_t most, const char *what)
{
	if (s == nullptr)
		return 0;
	NdirFuzzCheck(s[0] != '\0', what);
	size_t n = strlen(s);
	NdirFuzzCheck(n <= most, what);
	return n;
}

class Probe : public NdirLexer {
public:
	Probe() : NdirLexer(nullptr, nullptr) {}

	int result = 1;		/* what the next hook returns */
	int calls = 0;

	int VolUpdate() override { return look(); }
	int DirUpdate() override { return look(); }
	int FileUpdate() override { return look(); }
	int FileCountSizeUpdate() override { return look(); }
	int FileBlockSizeUpdate() override { return look(); }
	int TotalFileCountSizeUpdate() override { return look(); }
	int TotalFileBlockSizeUpdate() override { return look(); }

private:
	int look()
	{
		size_t n = length(VolServer(), NDIR_SERVER_LEN - 1, "VolServer") +
		    length(VolVolume(), NDIR_VOLUME_LEN - 1, "VolVolume") +
		    length(VolPath(), NDIR_PATH_LEN - 1, "VolPath") +
		    length(DirName(), 12, "DirName") +
		    length(DirOwner(), 11, "DirOwner") +
		    length(DirInheritedRights(), 8, "DirInheritedRights") +
		    length(DirEffectiveRights(), 8, "DirEffectiveRights") +
		    length(FileName(), 12, "FileName") +
		    length(FileOwner(), 11, "FileOwner") +
		    length(FileFlags(), 18, "FileFlags");
		volatile unsigned long sink = n ^
		    static_cast<unsigned long>(DirCreateTime()) ^
		    static_cast<unsigned long>(FileUpdateTime()) ^
		    static_cast<unsigned long>(FileSize());
		(void)sink;
		calls++;
		return result;
	}
};

/* Marks in every number, to see which ones a decoder leaves alone. */
void
mark(NdirFileStats &stats)
{
	stats.fileCount = 101;
	stats.fileBlocks = 202;
	stats.fileBytes = 303;
	stats.fileBlockBytes = 404;
}

bool
marked(const NdirFileStats &stats, bool files, bool blocks)
{
	return (!files || (stats.fileCount == 101 && stats.fileBytes == 303)) &&
	    (!blocks || (stats.fileBlocks == 202 && stats.fileBlockBytes == 404));
}

typedef int (NdirLexer::*Decoder)(const char *);

/* Runs one decoder with both hook results and checks what it returns. */
void
decode(Probe &p, Decoder d, const char *text)
{
	for (int result : {1, 0}) {
		p.result = result;
		int before = p.calls;
		NdirFuzzCheck((p.*d)(text) == result,
		    "a decoder changed its hook's result");
		NdirFuzzCheck(p.calls == before + 1,
		    "a decoder did not call its hook exactly once");
	}
}

} // namespace

int
NdirFuzzDecoders(const uint8_t *data, size_t size)
{
	std::string line(reinterpret_cast<const char *>(data), size);
	std::string counted = line + "\n";
	Probe p;

	decode(p, &NdirLexer::NdirDirLine, line.c_str());
	decode(p, &NdirLexer::NdirFileLine, line.c_str());

	/* A count line sets two numbers of one record and nothing else. */
	const struct {
		Decoder decoder;
		bool total, blocks;
	} counts[] = {
		{&NdirLexer::NdirFileCountSizeLine, false, false},
		{&NdirLexer::NdirFileBlockSizeLine, false, true},
		{&NdirLexer::NdirTotalFileCountSizeLine, true, false},
		{&NdirLexer::NdirTotalFileBlockSizeLine, true, true},
	};
	for (const auto &c : counts) {
		mark(p.volStats);
		mark(p.totalStats);
		decode(p, c.decoder, counted.c_str());
		const NdirFileStats &own = c.total ? p.totalStats : p.volStats;
		const NdirFileStats &other = c.total ? p.volStats : p.totalStats;
		NdirFuzzCheck(marked(own, c.blocks, !c.blocks) &&
		    marked(other, true, true),
		    "a count line changed a number that is not its own");
	}

	/* A volume line empties the block's records and keeps the totals. */
	mark(p.totalStats);
	decode(p, &NdirLexer::NdirVolLine, line.c_str());
	NdirFuzzCheck(p.DirName() == nullptr && p.FileName() == nullptr &&
	    p.DirOwner() == nullptr && p.FileOwner() == nullptr &&
	    p.FileFlags() == nullptr && p.FileSize() == 0 &&
	    p.VolFileCount() == 0 && p.VolFileBlocks() == 0 &&
	    marked(p.totalStats, true, true),
	    "a volume line kept a record of the last block or lost the totals");
	return 0;
}
