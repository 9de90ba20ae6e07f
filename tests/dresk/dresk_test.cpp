// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"

namespace {

const std::string DOCS = "DOCS              [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a";

std::string
listing(const std::string &volume, const std::string &dir, const std::string &file)
{
	return volume + " (volume line)\n\nDirectories:\n" + std::string(17, '-') + "\n" +
	    dir + "\n\nFiles:\n" + std::string(17, '-') + "\n" + file + "\n\n" +
	    "       12,345 bytes in      1 files\n"
	    "       12,345 total bytes in      1 files\n";
}

TEST(Dresk, PrintsThePathsOfTheExampleListings)
{
	std::string users = run({DRESK, EXAMPLES "/oldserv-users.lst"}).out;
	struct {
		const char *name, *command;
		std::string out;
	} cases[] = {
		{"three listings", SH(DRESK) " " SH(EXAMPLES "/oldserv-sys.lst") " " SH(EXAMPLES "/oldserv-users.lst")
		    " " SH(EXAMPLES "/acctsrv-data.lst"), slurp(GOLDEN)},
		{"saved on DOS", SH(DRESK) " " SH(EXAMPLES "/dos/oldserv-users.lst"), users},
		{"saved on DOS, standard input", SH(DRESK) " < " SH(EXAMPLES "/dos/oldserv-users.lst"), users},
	};
	for (const auto &c : cases) {
		Outcome r = run({"/bin/sh", "-c", c.command});
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.err, "") << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
	}
	EXPECT_NE(users.find("DRAFTS"), std::string::npos);
}

/*
 * The scanner reads its input in blocks of 8 KiB into a buffer of 16 KiB:
 * a CR LF split across either boundary is still one line end.
 */
TEST(Dresk, TakesCarriageReturnLineFeedAcrossReadBlocksForALineEnd)
{
	std::string dos = "S\\V:P\r\n\r\nFiles:\r\n" + fileLine("A", "", "X") + "\r\n\r\n";
	for (size_t block : {8192, 16384})
		for (size_t cr = block - 3; cr <= block + 1; cr++) {
			/* Text before the first volume line is passed over. */
			std::string text = std::string(cr - 6, ' ') + "\n" + dos;
			TempListing l(text);
			Outcome file = run({DRESK, l.path}), input = run({DRESK}, &text);
			EXPECT_EQ(file.out, "S\\V:P\\A\n") << "CR at " << cr;
			EXPECT_EQ(input.out, file.out) << "CR at " << cr;
		}
}

TEST(Dresk, PrintsOnePathPerDirectoryAndFile)
{
	struct {
		const char *name;
		std::string text, out;
	} cases[] = {
		{"path", listing("SRV1\\VOL1:PROJ", DOCS, fileLine("PLAN", "TXT", "QXV0")),
		    "SRV1\\VOL1:PROJ\\DOCS\nSRV1\\VOL1:PROJ\\PLAN.TXT\n"},
		{"volume root", listing("SRV1\\VOL1:", DOCS, fileLine("PLAN", "TXT", "QXV0")),
		    "SRV1\\VOL1:DOCS\nSRV1\\VOL1:PLAN.TXT\n"},
		{"no extension, program file", listing("SRV1\\VOL1:PROJ", DOCS, fileLine("NOTES", "", "X") +
		    "\n" + fileLine("RUN", "EXE", "X")),
		    "SRV1\\VOL1:PROJ\\DOCS\nSRV1\\VOL1:PROJ\\NOTES\nSRV1\\VOL1:PROJ\\RUN.EXE\n"},
		{"no entries", "SRV1\\VOL1:\n       12,345 total bytes in      1 files\n", ""},
		{"absent volume", listing("SRV1/VOL1:PROJ", DOCS, fileLine("A", "", "X")),
		    "SRV1/VOL1:PROJ\\:DOCS\nSRV1/VOL1:PROJ\\:A\n"},
		{"absent server and name", listing("\\VOL1:P", "   ", "   "), "\\VOL1:P\\\n\\VOL1:P\\\n"},
		{"lone carriage return kept", listing("S\\V:P\rQ", DOCS, fileLine("A", "", "X\r")),
		    "S\\V:P\rQ\\DOCS\nS\\V:P\rQ\\A\n"},
	};
	for (const auto &c : cases) {
		TempListing l(c.text);
		Outcome r = run({DRESK, l.path});
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
	}
}

TEST(Dresk, ReadsStandardInputOnlyWithoutArguments)
{
	std::string text = listing("S\\V:", DOCS, fileLine("A", "", "X"));
	TempListing good(text);
	std::string empty, cut = text.substr(0, text.size() - 1);
	struct {
		const char *name;
		std::vector<std::string> args;
		const std::string *input;
		std::string out, err;
	} cases[] = {
		{"standard input", {}, &text, "S\\V:DOCS\nS\\V:A\n", ""},
		{"empty standard input", {}, &empty, "", ""},
		{"arguments only", {good.path}, &text, "S\\V:DOCS\nS\\V:A\n", ""},
		{"missing file between good ones", {good.path, "/nonexistent/x", good.path}, &text,
		    "S\\V:DOCS\nS\\V:A\nS\\V:DOCS\nS\\V:A\n", "Unable to open /nonexistent/x\n"},
		{"directory", {"/tmp"}, &text, "", "Unable to open /tmp\n"},
		{"no line feed at the end", {}, &cut, "S\\V:DOCS\nS\\V:A\n",
		    "dresk: standard input: no line feed after the last line: the listing may be cut short\n"},
	};
	for (const auto &c : cases) {
		std::vector<std::string> argv = {DRESK};
		argv.insert(argv.end(), c.args.begin(), c.args.end());
		Outcome r = run(argv, c.input);
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

TEST(Dresk, FailsWhenItCannotWriteOrRead)
{
	expectFailures({
		{"full disk", SH(DRESK) " " SH(EXAMPLES "/oldserv-users.lst") " > /dev/full", 1,
		    "dresk: error writing standard output\n"},
		{"directory on standard input", SH(DRESK) " < /", 2, "input in flex scanner failed\n"},
		{"read error", SH(DRESK) " /proc/self/mem " SH(EXAMPLES "/oldserv-users.lst"), 2,
		    "input in flex scanner failed\n"},
	});
}

} // namespace
