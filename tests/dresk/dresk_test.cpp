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
	Outcome r = run({DRESK, EXAMPLES "/oldserv-sys.lst", EXAMPLES "/oldserv-users.lst",
	    EXAMPLES "/acctsrv-data.lst"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, slurp(GOLDEN));
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
	std::string empty;
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

} // namespace
