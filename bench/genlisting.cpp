// SPDX-License-Identifier: ISC
/*
 * genlisting: write a realistic NDIR listing of about the given size.
 *
 *	genlisting megabytes [seed] > listing.lst
 *
 * Blocks of 20 to 400 files and a few directories under nested paths on
 * two servers, with the owners, extensions and dates of a working server,
 * per-block and grand-total count lines.  The same seed gives the same
 * listing.
 */
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>

static std::mt19937 rng;

static const char *pick(const char *const *list, size_t n) { return list[rng() % n]; }
#define PICK(a) pick(a, sizeof a / sizeof a[0])

static const char *const OWNERS[] = {
	"QXV0", "DRK", "TZF0", "STUD", "TRAIN", "SUPERVISO", "LANSTUD", "N/A", "IS",
	"MASTER", "SUPPORT", "ARCSERVE", "KMARSH", "PAYROLL", "AHOLM", "BVESTIN",
	"CLUNDE", "DPRYOR", "EKASK", "FNORUM", "GTAVER", "HOLSEN",
};
static const char *const EXTS[] = {
	"TXT", "DOC", "WK1", "DBF", "EXE", "DLL", "BAT", "CFG", "LOG", "DAT",
	"", "", "IDX", "HLP", "BAK", "TMP", "RPT", "1", "NCF", "PCX",
};
static const char *const WORDS[] = {
	"HOME", "PROJ", "DATA", "LEDGER", "COURSE", "WEEK", "ARCHIVE", "PUBLIC",
	"SYSTEM", "REPORTS", "BUDGET", "MAIL", "USERS", "DOCS", "OLD", "TEMP",
};

static std::string
word(size_t max)
{
	static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	std::string s(1 + rng() % max, 'A');
	for (char &c : s)
		c = letters[rng() % (sizeof letters - 1)];
	s[0] = 'A' + rng() % 26;
	/* A server lists no DOS device names, and the script leaves them out. */
	static const std::regex device("CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]");
	if (std::regex_match(s, device))
		s[0] = 'Q';
	return s;
}

static std::string
grouped(long n)
{
	std::string s = std::to_string(n);
	for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
		s.insert(i, ",");
	return s;
}

static void
date(char *buf, size_t size)
{
	int h = 1 + rng() % 12;
	snprintf(buf, size, "%2d-%02d-%02d %2d:%02d%c", 1 + static_cast<int>(rng() % 12),
	    1 + static_cast<int>(rng() % 28), 90 + static_cast<int>(rng() % 7), h,
	    static_cast<int>(rng() % 60), rng() % 2 ? 'a' : 'p');
}

int
main(int argc, char *argv[])
{
	if (argc < 2) {
		fprintf(stderr, "usage: genlisting megabytes [seed]\n");
		return 2;
	}
	long target = atol(argv[1]) * 1000000L;
	rng.seed(argc > 2 ? atol(argv[2]) : 1996);

	long written = 0, totalBytes = 0, totalFiles = 0, totalBlocks = 0;
	written += printf("NDIR listing saved for the migration\n\n");
	while (written < target) {
		std::string path;
		for (int d = rng() % 4; d > 0; d--)
			path += (path.empty() ? "" : "\\") + std::string(PICK(WORDS)) +
			    (rng() % 2 ? std::to_string(rng() % 100) : "");
		written += printf("%s\\%s:%s\n\n", rng() % 3 ? "OLDSERV" : "ACCTSRV",
		    rng() % 2 ? "SYS" : "USERS", path.c_str());

		written += printf("Files:                          Size Last Update    Flags                Owner\n"
		    "----------------- ---------------- -------------- -------------------- -----------\n");
		long bytes = 0, blocks = 0, files = 20 + rng() % 380;
		for (long i = 0; i < files; i++) {
			char when[32];
			long size = static_cast<long>(rng() % 2000000);
			date(when, sizeof when);
			written += printf("%-14s%-3s%17s %s [Rw-A--------------] %s\n",
			    word(8).c_str(), PICK(EXTS), grouped(size).c_str(), when, PICK(OWNERS));
			bytes += size;
			blocks += (size + 4095) / 4096;
		}
		written += printf("\n%13s bytes in %6ld files\n%13s bytes in %6ld blocks\n\n",
		    grouped(bytes).c_str(), files, grouped(blocks * 4096).c_str(), blocks);
		totalBytes += bytes;
		totalFiles += files;
		totalBlocks += blocks;

		written += printf("Directories:      Inherited  Effective  Owner      Created\n"
		    "----------------- ---------- ---------- ---------- --------------\n");
		for (int i = rng() % 6; i >= 0; i--) {
			char when[32];
			date(when, sizeof when);
			written += printf("%-9s%-9s[SRWCEMFA] [ RWCEMF ] %-11s%s\n", word(8).c_str(),
			    rng() % 5 ? "" : "OLD", PICK(OWNERS), when);
		}
		written += printf("\n");
	}
	printf("%13s total bytes in %6ld files\n%13s total bytes in %6ld blocks\n",
	    grouped(totalBytes).c_str(), totalFiles, grouped(totalBlocks * 4096).c_str(), totalBlocks);
	return 0;
}
