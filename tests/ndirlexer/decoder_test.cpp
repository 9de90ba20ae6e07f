// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "ndirlexer.h"
#include "ndirtime.h"
#include "zone.h"

namespace {

/* Local calendar time, as the decoders are expected to give it. */
time_t
local(int year, int month, int day, int hour, int minutes)
{
	struct tm tm = {};
	tm.tm_year = year - 1900;
	tm.tm_mon = month - 1;
	tm.tm_mday = day;
	tm.tm_hour = hour;
	tm.tm_min = minutes;
	tm.tm_isdst = -1;
	return mktime(&tm);
}

std::string
str(const char *s)
{
	return s ? s : "(null)";
}

TEST(VolumeLine, SplitsServerVolumeAndPath)
{
	struct {
		std::string text, server, volume, path;
		int cut = 0;
	} cases[] = {
		{"FS1\\SYS:APPS\\DATA", "FS1", "SYS", "APPS\\DATA"},
		{"FS1\\SYS:", "FS1", "SYS", "(null)"},
		{"FS1/SYS:APPS", "FS1/SYS:APPS", "(null)", "(null)"},
		{"\\SYS:X", "(null)", "SYS", "X"},
		{"FS1\\SYS:A:B\\C", "FS1", "SYS", "A:B\\C"},
		{std::string(47, 'S') + "\\V:P", std::string(47, 'S'), "V", "P"},
		{std::string(48, 'S') + "\\V:P", std::string(47, 'S'), "(null)", "(null)", NDIR_SERVER_FIELD},
		{std::string(48, 'S') + ":", std::string(47, 'S'), "(null)", "(null)", NDIR_SERVER_FIELD},
		{"FS1\\" + std::string(47, 'V') + ":P", "FS1", std::string(47, 'V'), "P"},
		{"FS1\\" + std::string(60, 'V') + ":P", "FS1", std::string(47, 'V'), "(null)", NDIR_VOLUME_FIELD},
		{"FS1\\SYS:" + std::string(255, 'p'), "FS1", "SYS", std::string(255, 'p')},
		{"FS1\\SYS:" + std::string(300, 'p'), "FS1", "SYS", std::string(255, 'p'), NDIR_PATH_FIELD},
	};
	for (const auto &c : cases) {
		NdirLexer l(nullptr, nullptr);
		EXPECT_EQ(l.NdirVolLine(c.text.c_str()), 1);
		EXPECT_EQ(str(l.VolServer()), c.server) << c.text;
		EXPECT_EQ(str(l.VolVolume()), c.volume) << c.text;
		EXPECT_EQ(str(l.VolPath()), c.path) << c.text;
		EXPECT_EQ(l.vol.cut, c.cut) << c.text;
		EXPECT_EQ(l.vol.split, 0) << c.text;
	}
}

TEST(DirectoryLine, DecodesTheWorkedExamples)
{
	struct {
		const char *text, *name, *inherited, *effective, *owner;
		time_t created;
	} cases[] = {
		{"SYSTEM   OLD      [ RWCEMF ] [SRWCEMFA] SUPERVISO   3-15-96  4:07p",
		    "SYSTEM.OLD", " RWCEMF ", "SRWCEMFA", "SUPERVISO", local(1996, 3, 15, 16, 7)},
		{"PUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a",
		    "PUBLIC", "SRWCEMFA", "SRWCEMFA", "SUPERVISO", local(1995, 1, 1, 0, 0)},
		{"LONGDIRECTORY ABCDE [RWCEMFAS] [        ] ADMINISTRATOR 7/4/99 9:15a",
		    "LONGDIRE.ABC", "RWCEMFAS", "        ", "ADMINISTRAT", 0},
		{"ODD", "ODD", "(null)", "(null)", "(null)", 0},
	};
	for (const auto &c : cases) {
		NdirLexer l(nullptr, nullptr);
		EXPECT_EQ(l.NdirDirLine(c.text), 1);
		EXPECT_EQ(str(l.DirName()), c.name) << c.text;
		EXPECT_EQ(str(l.DirInheritedRights()), c.inherited) << c.text;
		EXPECT_EQ(str(l.DirEffectiveRights()), c.effective) << c.text;
		EXPECT_EQ(str(l.DirOwner()), c.owner) << c.text;
		EXPECT_EQ(l.DirCreateTime(), c.created) << c.text;
	}
}

TEST(FileLine, DecodesTheWorkedExamples)
{
	struct {
		const char *text, *name;
		long size;
		time_t updated;
		const char *flags, *owner;
		int cut = 0, split = 0;
	} cases[] = {
		{"REPORT        TXT        1,234,567  3-15-96  4:07p [Rw-A--------------] SUPERVISO",
		    "REPORT.TXT", 1234567, local(1996, 3, 15, 16, 7), "Rw-A--------------", "SUPERVISO"},
		{"README                         512  1-02-95 12:00p [Rw----------------] GUEST",
		    "README", 512, local(1995, 1, 2, 12, 0), "Rw----------------", "GUEST"},
		/* the extension column is fixed: a blank there means none */
		{"NOTES          TXT       999  1-02-95 12:00p [Rw----------------] GUEST",
		    "NOTES", 0, 0, "(null)", "(null)"},
		/* leading blanks move the column with the name */
		{"  AB            C          1,034  1-02-95 12:00p [Rw----------------] IS",
		    "AB.C", 1034, local(1995, 1, 2, 12, 0), "Rw----------------", "IS"},
		/* a name longer than 8: stored cut, column still 14 after its start */
		{"VERYLONGNAME  DAT  1,000,000  1-02-95 12:00p [Rw----------------] VERYLONGOWNERNAME",
		    "VERYLONG.DAT", 1000000, local(1995, 1, 2, 12, 0), "Rw----------------", "VERYLONGOWN",
		    NDIR_NAME_FIELD | NDIR_OWNER_FIELD},
		{"EIGHTLET      DAT  1  1-02-95 12:00p [Rw----------------] ELEVENCHARS",
		    "EIGHTLET.DAT", 1, local(1995, 1, 2, 12, 0), "Rw----------------", "ELEVENCHARS"},
		/* an extension word longer than 3 keeps 3 */
		{"SETUP         EXEC       1  1-02-95 12:00p [Rw----------------] MASTER",
		    "SETUP.EXE", 0, 0, "(null)", "(null)", NDIR_EXTENSION_FIELD},
		/* white space other than the blank ends a field; with more after it, the field went on */
		{"A\fB           TX\tT  1  1-02-95 12:00p [Rw----------------] IS\tX",
		    "A.TX", 0, 0, "(null)", "(null)", 0, NDIR_NAME_FIELD | NDIR_EXTENSION_FIELD},
		{"A\t\tB          TXT  1  1-02-95 12:00p [Rw----------------] I\v\fS",
		    "A.TXT", 1, local(1995, 1, 2, 12, 0), "Rw----------------", "I", 0, NDIR_NAME_FIELD | NDIR_OWNER_FIELD},
		{"A\f            TXT  1  1-02-95 12:00p [Rw----------------] IS\t",
		    "A.TXT", 1, local(1995, 1, 2, 12, 0), "Rw----------------", "IS"},
		/* short flags: only what is there */
		{"A             B        1  1-02-95 12:00p [Rw", "A.B", 1, local(1995, 1, 2, 12, 0), "Rw", "(null)"},
	};
	for (const auto &c : cases) {
		NdirLexer l(nullptr, nullptr);
		EXPECT_EQ(l.NdirFileLine(c.text), 1);
		EXPECT_EQ(str(l.FileName()), c.name) << c.text;
		EXPECT_EQ(l.FileSize(), c.size) << c.text;
		EXPECT_EQ(l.FileUpdateTime(), c.updated) << c.text;
		EXPECT_EQ(str(l.FileFlags()), c.flags) << c.text;
		EXPECT_EQ(str(l.FileOwner()), c.owner) << c.text;
		EXPECT_EQ(l.file.cut, c.cut) << c.text;
		EXPECT_EQ(l.file.split, c.split) << c.text;
	}
}

TEST(FileLine, ReadsDatesTimesAndSizes)
{
	struct {
		const char *date, *size;
		time_t updated;
		long bytes;
	} cases[] = {
		{"1-01-95 12:00a", "1", local(1995, 1, 1, 0, 0), 1},
		{"1-01-95 12:30a", "999", local(1995, 1, 1, 0, 30), 999},
		{"1-01-95 12:30p", "1,034", local(1995, 1, 1, 12, 30), 1034},
		{"1-01-95  4:07a", "1,000,000", local(1995, 1, 1, 4, 7), 1000000},
		{"1-01-95  4:07P", "0", local(1995, 1, 1, 4, 7), 0},
		{"1-01-05  4:07p", "007", local(1905, 1, 1, 16, 7), 7},
		{"03-08-96 09:09p", "1,2", local(1996, 3, 8, 21, 9), 1002},
		{"3/15/96  4:07p", "12,345,678", local(1996, 3, 15, 16, 7), 12345678},
		{"3.15.96  4.07p", "1", local(1996, 3, 15, 16, 7), 1},
		{"3-15-1996 4:07p", "5", local(1996 + 1900, 3, 15, 16, 7), 5},
		{"3-15-96", "5", 0, 5},
		/* far too many digits: held at a limit, never undefined */
		{"1-01-95 1:00a", "99999999999999999999999999999999999999999", 0, INT_MAX},
		{"1-01-95 1:00a", "999,999,999,999,999,999,999,999", local(1995, 1, 1, 1, 0), LONG_MAX},
		{"1-01-95 1:00a", "-999,999,999,999,999,999,999,999", local(1995, 1, 1, 1, 0), LONG_MIN},
		{"99999999999-01-95 1:00a", "1", 0, 1},
		{"-2147483648-01-95 1:00p", "1", 0, 1},
		{"1-01-95 2147483647:00p", "1", 0, 1},
	};
	for (const auto &c : cases) {
		std::string text = std::string("NAME          EXT ") + c.size + "  " + c.date +
		    " [Rw----------------] GUEST";
		NdirLexer l(nullptr, nullptr);
		l.NdirFileLine(text.c_str());
		EXPECT_EQ(l.FileUpdateTime(), c.updated) << text;
		EXPECT_EQ(l.FileSize(), c.bytes) << text;
	}
}

TEST(FileLine, SummerTimeDatesGiveThePrintedTime)
{
	ScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
	NdirLexer l(nullptr, nullptr);
	l.NdirFileLine("SUMMER        TXT       10  7-15-96  4:07p [Rw----------------] GUEST");
	time_t t = l.FileUpdateTime();
	struct tm tm;
	localtime_r(&t, &tm);
	EXPECT_EQ(tm.tm_hour, 16);
	EXPECT_EQ(tm.tm_min, 7);
	EXPECT_EQ(t, 837439620);	/* 1996-07-15 14:07 UTC */
}

/* The default hooks go on: each decoder passes their 1 back. */
TEST(CountLines, SetTheirTwoFieldsOnly)
{
	NdirLexer l(nullptr, nullptr);
	EXPECT_EQ(l.NdirFileCountSizeLine("    1,234,567 bytes in     42 files\n"), 1);
	EXPECT_EQ(l.NdirFileBlockSizeLine("       12,288 bytes in     24 blocks\n"), 1);
	EXPECT_EQ(l.NdirTotalFileCountSizeLine("   12,345,678 total bytes in     812 files\n"), 1);
	EXPECT_EQ(l.NdirTotalFileBlockSizeLine("    1,097,728 total bytes in     268 blocks\n"), 1);
	EXPECT_EQ(l.VolFileBytes(), 1234567);
	EXPECT_EQ(l.VolFileCount(), 42);
	EXPECT_EQ(l.VolFileBlockBytes(), 12288);
	EXPECT_EQ(l.VolFileBlocks(), 24);
	EXPECT_EQ(l.TotalFileBytes(), 12345678);
	EXPECT_EQ(l.TotalFileCount(), 812);
	EXPECT_EQ(l.TotalFileBlockBytes(), 1097728);
	EXPECT_EQ(l.TotalFileBlocks(), 268);
}

TEST(CountLines, SkipByCharacterCountNotByText)
{
	struct {
		const char *text;
		long bytes, count;
	} cases[] = {
		{"    1,234,567 bytes in     42 files\n", 1234567, 42},
		{"    1,234,567 bytes in42 files\n", 1234567, 2},
		{"          512 bytes infiles\n", 512, 0},
		{"       08,008 bytes in 0009 files\n", 8008, 9},
		{"  99999999999999999999 bytes in 99999999999999999999999 files\n", INT_MAX, 0},
	};
	for (const auto &c : cases) {
		NdirLexer l(nullptr, nullptr);
		l.NdirFileCountSizeLine(c.text);
		EXPECT_EQ(l.VolFileBytes(), c.bytes) << c.text;
		EXPECT_EQ(l.VolFileCount(), c.count) << c.text;
	}
}

} // namespace

namespace {

/* Whether a local time happens exactly once: not skipped, not repeated. */
bool
unique(struct tm t)
{
	int found = 0;
	time_t seen = 0;
	for (int dst = 0; dst <= 1; dst++) {
		struct tm x = t, back;
		x.tm_isdst = dst;
		time_t r = mktime(&x);
		localtime_r(&r, &back);
		if (back.tm_hour == t.tm_hour && back.tm_min == t.tm_min && back.tm_mday == x.tm_mday &&
		    back.tm_isdst == dst && (found == 0 || r != seen)) {
			found++;
			seen = r;
		}
	}
	return found == 1;
}

TEST(DateConversion, GivesExactlyWhatMktimeGives)
{
	const char *zones[] = {
		"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0/0,M11.1.0/0",
		"LHST-10:30LHDT-11,M10.1.0,M4.1.0", "NST3:30NDT,M3.2.0/0:01,M11.1.0/0:01",
	};
	for (const char *zone : zones) {
		ScopedZone z(zone);
		for (int year = 95; year <= 97; year++)
			for (int month = 0; month < 12; month++)
				for (int day = 1; day <= 31; day++)
					for (int minute : {0, 1, 30, 59})
						for (int hour = 0; hour < 24; hour++) {
							struct tm a = {};
							a.tm_year = year;
							a.tm_mon = month;
							a.tm_mday = day;
							a.tm_hour = hour;
							a.tm_min = minute;
							a.tm_isdst = -1;
							struct tm b = a;
							time_t got = NdirMakeTime(&a);
							time_t want = mktime(&b);
							if (!unique(a))
								continue;	/* mktime's own choice */
							ASSERT_EQ(got, want)
							    << zone << " " << year << "-" << month + 1 << "-"
							    << day << " " << hour << ":" << minute;
						}
	}
}

} // namespace
