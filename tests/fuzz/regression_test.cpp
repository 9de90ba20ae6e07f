// SPDX-License-Identifier: ISC
/*
 * What fuzzing found, kept found: every saved input runs through its
 * harness again, and each fault it revealed has a test of its own.
 */
#include <gtest/gtest.h>

#include <dirent.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz.h"
#include "ndirtime.h"
#include "ndirlexer.h"
#include "zone.h"

namespace {

std::vector<std::string>
filesIn(const std::string &dir)
{
	std::vector<std::string> files;
	DIR *d = opendir(dir.c_str());
	if (d == nullptr) {
		ADD_FAILURE() << "no folder " << dir;
		return files;
	}
	while (struct dirent *e = readdir(d))
		if (e->d_name[0] != '.')
			files.push_back(dir + "/" + e->d_name);
	closedir(d);
	return files;
}

std::string
slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

typedef int (*Harness)(const uint8_t *, size_t);

/* A harness that finds a fault aborts, and the test with it. */
TEST(FuzzInputs, EverySeedAndSavedFailureRunsCleanThroughItsHarnesses)
{
	const std::string fuzz = FUZZ_DIR;
	const struct {
		std::string dir;
		std::vector<Harness> harnesses;
	} sets[] = {
		{fuzz + "/corpus/listing", {NdirFuzzListing, NdirFuzzPrograms}},
		{EXAMPLES, {NdirFuzzListing, NdirFuzzPrograms}},
		{fuzz + "/corpus/line", {NdirFuzzDecoders, NdirFuzzReaders}},
		{fuzz + "/regressions/listing", {NdirFuzzListing}},
		{fuzz + "/regressions/decoders", {NdirFuzzDecoders}},
		{fuzz + "/regressions/readers", {NdirFuzzReaders}},
	};
	size_t runs = 0;
	for (const auto &set : sets) {
		for (const std::string &file : filesIn(set.dir)) {
			std::string input = slurp(file);
			const uint8_t *data = reinterpret_cast<const uint8_t *>(input.data());
			for (Harness h : set.harnesses) {
				SCOPED_TRACE(file);
				EXPECT_EQ(h(data, input.size()), 0);
				runs++;
			}
		}
	}
	EXPECT_GT(runs, 40u);
}

/* Names the hooks' calls, with the fields that they are about. */
class Calls : public NdirLexer {
public:
	explicit Calls(std::istream *in) : NdirLexer(in, nullptr) {}

	std::string seen;

	int VolUpdate() override
	{
		return note("Vol " + show(VolServer()) + "|" + show(VolVolume()) +
		    "|" + show(VolPath()));
	}
	int DirUpdate() override { return note("Dir " + show(DirName()) + "|" + show(DirOwner())); }
	int FileUpdate() override { return note("File " + show(FileName()) + "|" + show(FileOwner())); }
	int FileCountSizeUpdate() override
	{
		seen += "Count " + std::to_string(VolFileBytes()) + ";";
		return 1;
	}

private:
	static std::string show(const char *s) { return s ? s : "-"; }

	int note(const std::string &call)
	{
		seen += call + ";";
		return 1;
	}
};

/*
 * Full scanner tables are built for 7-bit input unless 8-bit input is
 * asked for; a byte above 127 then indexed past the table, and the
 * scanner lost lines or took the wrong rule.  Names with such bytes
 * (code page letters) must scan like any other.
 */
TEST(FuzzFindings, BytesAbove127AreOrdinaryListingCharacters)
{
	const std::string F = "Files:\n-----------------\n";
	const std::string D = "Directories:\n-----------------\n";
	const std::string TAIL = "  1  1-01-95 12:00a [Rw-A--------------] GUEST\n";
	const struct {
		const char *name;
		std::string listing, calls;
	} cases[] = {
		{"file name", "SRV\\VOL:P\n" + F + "CAF\xc9          TXT" + TAIL +
		    "NEXT          TXT" + TAIL + "\n",
		    "Vol SRV|VOL|P;File CAF\xc9.TXT|GUEST;File NEXT.TXT|GUEST;"},
		{"directory line starting with one",
		    "SRV\\VOL:P\n" + D + "\xe9T\xc9 [SRWCEMFA] [SRWCEMFA] GUEST 1-01-95 12:00a\n" +
		    "OTHER [SRWCEMFA] [SRWCEMFA] GUEST 1-01-95 12:00a\n\nFiles:\nA\n",
		    "Vol SRV|VOL|P;Dir \xe9T\xc9|GUEST;Dir OTHER|GUEST;File A|-;"},
		{"volume word", "\xff\xfe\\V\x80L:X\xa0Y rest\n" + F + "A\n",
		    "Vol \xff\xfe|V\x80L|X\xa0Y;File A|-;"},
		{"dropped line between count lines", "SRV\\VOL:\n\xb0\xb1\xb2\n" +
		    std::string("          512 bytes in 3 files\n"),
		    "Vol SRV|VOL|-;Count 512;"},
		{"every byte value in a section",
		    "SRV\\VOL:\n" + F + [] {
			    std::string all;
			    for (int c = 128; c < 256; c++)
				    all += static_cast<char>(c);
			    return all;
		    }() + "\n\nFiles:\nB\n",
		    "Vol SRV|VOL|-;File \x80\x81\x82\x83\x84\x85\x86\x87|-;File B|-;"},
	};
	for (const auto &c : cases) {
		std::istringstream in(c.listing);
		Calls calls(&in);
		EXPECT_EQ(calls.yylex(), 0) << c.name;
		EXPECT_EQ(calls.seen, c.calls) << c.name;
	}
}

/*
 * The year of a date is read as a plain int, so a listing can give any
 * value up to INT_MAX.  The date conversion first added 1900 to it and
 * only then looked whether it was in range: a signed overflow.  Such a
 * date must convert as mktime converts it (to -1 where it cannot).
 */
TEST(FuzzFindings, YearsAtTheLimitsOfIntConvertLikeMktime)
{
	const struct {
		const char *date;
		int year, month, day, hour;
	} cases[] = {
		{"1-01-2147483647 12:00a", 2147483647, 0, 1, 0},
		{"2-29-2147481748  1:00p", 2147481748, 1, 29, 13},
		{"2-01-2147483296  4:07p", 2147483296, 1, 1, 16},
		{"12-31--2147483648 11:59p", -2147483647 - 1, 11, 31, 23},
		{"3-15-1101  4:07p", 1101, 2, 15, 16},
		{"3-15-1100  4:07p", 1100, 2, 15, 16},
	};
	for (const auto &c : cases) {
		std::string line = std::string("A             B                1  ") +
		    c.date + " [Rw-A--------------] GUEST";
		NdirLexer lexer(nullptr, nullptr);
		lexer.NdirFileLine(line.c_str());

		struct tm tm = {};
		tm.tm_year = c.year;
		tm.tm_mon = c.month;
		tm.tm_mday = c.day;
		tm.tm_hour = c.hour;
		tm.tm_min = c.hour == 23 ? 59 : c.hour == 16 ? 7 : 0;
		tm.tm_isdst = -1;
		EXPECT_EQ(lexer.FileUpdateTime(), mktime(&tm)) << c.date;
	}
}

/*
 * Around clock changes the day cache of the date conversion must leave
 * the answer to mktime: the hour before a change, the change itself, the
 * hour after it, in zones that shift by an hour, half an hour, a quarter
 * of an hour and two hours, forward and back.  A time that the change
 * skips has no single answer (glibc's mktime gives one that depends on its
 * last call); there the result must be one of mktime's.
 */
TEST(FuzzFindings, DateConversionAgreesWithMktimeAroundClockChanges)
{
	const struct {
		const char *zone;
		int year, month, day;	/* the day of a change */
	} changes[] = {
		{"Asia/Kathmandu", 86, 0, 1},
		{"Europe/Berlin", 96, 2, 31},
		{"Europe/Berlin", 96, 9, 27},
		{"America/New_York", 95, 3, 2},
		{"America/New_York", 95, 9, 29},
		{"Australia/Lord_Howe", 95, 9, 29},
		{"Antarctica/Troll", 105, 2, 27},
		{"Pacific/Apia", 111, 11, 30},
	};
	ScopedZone zone;
	for (const auto &c : changes) {
		zone.set(c.zone);
		for (int day = c.day - 1; day <= c.day + 1; day++) {
			for (int minute = 0; minute < 24 * 60; minute += 15) {
				struct tm tm = {};
				tm.tm_year = c.year;
				tm.tm_mon = c.month;
				tm.tm_mday = day;
				tm.tm_hour = minute / 60;
				tm.tm_min = minute % 60;
				tm.tm_isdst = -1;
				struct tm a = tm, b = tm, prime = tm;
				prime.tm_mday -= 2;
				mktime(&prime);
				time_t early = mktime(&a);
				prime.tm_mday += 4;
				mktime(&prime);
				time_t late = mktime(&b);
				time_t got = NdirMakeTime(&tm);
				EXPECT_TRUE(got == early || got == late)
				    << c.zone << " " << c.year + 1900 << "-" << c.month + 1
				    << "-" << day << " " << minute / 60 << ":" << minute % 60
				    << ": " << got << " not " << early << " or " << late;
			}
		}
	}
}

/*
 * The date conversion keeps the start of each day it has met, for the
 * zone that TZ named when it last followed the zone.  After a change of
 * TZ a new scanner must drop them: the readers target once converted a
 * day in UTC and then found it again in St. John's, 3:30:52 off, because
 * the harness had changed TZ without making a scanner.  A TZ of 128 bytes
 * or more is not kept at all: two such zones that differ only after their
 * first 128 bytes must not pass for one.
 */
TEST(FuzzFindings, ANewScannerFollowsAChangedTimeZone)
{
	std::string padded = ":/usr/share/zoneinfo";
	while (padded.size() < 128)
		padded += "/.";
	const std::string zones[] = {
		"UTC0", "America/St_Johns", "Asia/Kathmandu", "UTC0",
		padded + "/Europe/Berlin", padded + "/America/New_York",
	};
	ScopedZone scoped;	/* puts TZ back after the test */
	for (const std::string &zone : zones) {
		setenv("TZ", zone.c_str(), 1);
		NdirLexer lexer(nullptr, nullptr);
		for (int year : {0, 95, 96}) {
			std::string line = "A             B                1  1-01-" +
			    std::to_string(year) + " 12:00a [Rw-A--------------] GUEST";
			lexer.NdirFileLine(line.c_str());
			struct tm tm = {};
			tm.tm_year = year;
			tm.tm_mday = 1;
			tm.tm_isdst = -1;
			EXPECT_EQ(lexer.FileUpdateTime(), mktime(&tm)) << zone << " " << year;
		}
	}
}

} // namespace
