// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"

namespace {

#define INCOMPLETE ": incomplete record: the rest of the listing is skipped\n"

/* Runs torbek00 on the listings, named L1, L2, ... in its standard error. */
Outcome
torbek(const std::vector<std::string> &listings)
{
	return runOn(TORBEK00, {}, listings);
}

/* The lines of a copied file, as the script gives them. */
std::string
copied(const std::string &source, const std::string &dir, const std::string &target)
{
	return "ECHO " + source + "\nMYMKDIR -p " + dir + " >> TORBEK00.LOG\nNCOPY /V " + source +
	    " " + target + " >> TORBEK00.LOG\n\n";
}

TEST(Torbek00, WritesTheScriptForTheExampleListings)
{
	const std::string examples = SH(EXAMPLES "/oldserv-sys.lst") " " SH(EXAMPLES "/oldserv-users.lst") " "
	    SH(EXAMPLES "/acctsrv-data.lst");
	std::string users = run({TORBEK00, EXAMPLES "/oldserv-users.lst"}).out;
	struct {
		const char *name;
		std::string command, script;
	} cases[] = {
		{"to a pipe", SH(TORBEK00) " " + examples, slurp(GOLDEN)},
		{"to a file", SH(TORBEK00) " " + examples + " > \"$0\" && cat \"$0\"", slurp(GOLDEN)},
		{"saved on DOS", SH(TORBEK00) " " SH(EXAMPLES "/dos/oldserv-users.lst"), users},
	};
	for (const auto &c : cases) {
		char tmp[] = "/tmp/scriptXXXXXX";
		close(mkstemp(tmp));
		Outcome r = run({"/bin/sh", "-c", c.command, tmp});
		unlink(tmp);
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.err, "") << c.name;
		EXPECT_EQ(r.out, c.script) << c.name;
	}
	EXPECT_NE(users.find("NCOPY"), std::string::npos);
}

TEST(Torbek00, WritesTheLinesOfEachFileRecord)
{
	struct {
		const char *name;
		std::vector<std::string> listings;
		std::string script, err = "";
		int status = 0;
	} cases[] = {
		{"owner with a personal directory",
		    {listing("SRV1\\VOL1:PROJ\\DOCS", {fileLine("PLAN", "TXT", "QXV0")})},
		    HEADER + "ECHO SRV1/VOL1:PROJ\\DOCS\\PLAN.TXT\n"
		    "MYMKDIR -p O:/QXV1/OLDSERV/PROJ/DOCS >> TORBEK00.LOG\n"
		    "NCOPY /V SRV1/VOL1:PROJ\\DOCS\\PLAN.TXT O:\\QXV1\\OLDSERV\\PROJ\\DOCS\\PLAN.TXT >> TORBEK00.LOG\n\n"},
		{"program file is echoed only, header once",
		    {listing("SRV1\\VOL1:PROJ\\DOCS", {fileLine("PLAN", "TXT", "QXV0")}) +
		     listing("SRV1\\VOL1:PUBLIC", {fileLine("LOGIN", "EXE", "SUPERVISO"), fileLine("NET", "DLL", "IS")})},
		    HEADER + "ECHO SRV1/VOL1:PROJ\\DOCS\\PLAN.TXT\n"
		    "MYMKDIR -p O:/QXV1/OLDSERV/PROJ/DOCS >> TORBEK00.LOG\n"
		    "NCOPY /V SRV1/VOL1:PROJ\\DOCS\\PLAN.TXT O:\\QXV1\\OLDSERV\\PROJ\\DOCS\\PLAN.TXT >> TORBEK00.LOG\n\n"
		    "ECHO SRV1/VOL1:PUBLIC\\LOGIN.EXE\nECHO SRV1/VOL1:PUBLIC\\NET.DLL\n"},
		{"shared owner at the volume root",
		    {listing("SRV1\\VOL1:", {fileLine("README", "TXT", "MASTER")})},
		    HEADER + "ECHO SRV1/VOL1:README.TXT\nMYMKDIR -p N:/ >> TORBEK00.LOG\n"
		    "NCOPY /V SRV1/VOL1:README.TXT N:\\\\README.TXT >> TORBEK00.LOG\n\n"},
		{"personal owner at the volume root",
		    {listing("SRV1\\VOL1:", {fileLine("README", "TXT", "QXV0")})},
		    HEADER + "ECHO SRV1/VOL1:README.TXT\nMYMKDIR -p O:/QXV1/OLDSERV/ >> TORBEK00.LOG\n"
		    "NCOPY /V SRV1/VOL1:README.TXT O:\\QXV1\\OLDSERV\\\\README.TXT >> TORBEK00.LOG\n\n"},
		{"file without extension",
		    {listing("SRV1\\VOL1:COURSE\\WEEK1", {fileLine("NOTES", "", "TRAIN")})},
		    HEADER + "ECHO SRV1/VOL1:COURSE\\WEEK1\\NOTES\n"
		    "MYMKDIR -p O:/KELVOMAR/OLDSERV/COURSE/WEEK1 >> TORBEK00.LOG\n"
		    "NCOPY /V SRV1/VOL1:COURSE\\WEEK1\\NOTES O:\\KELVOMAR\\OLDSERV\\COURSE\\WEEK1\\NOTES >> TORBEK00.LOG\n\n"},
		{"missing owner ends the listing",
		    {listing("SRV1\\VOL1:PROJ", {fileLine("DATA", "DBF", ""), fileLine("MORE", "TXT", "QXV0")})},
		    HEADER + "ECHO Error: SRV1/VOL1:PROJ\\DATA.DBF    (^<FileOwner^>) >> TORBEK00.LOG\n",
		    "torbek00: L1: SRV1/VOL1:PROJ\\DATA.DBF (<FileOwner>)" INCOMPLETE},
		{"slash instead of backslash leaves the volume absent",
		    {listing("SRV1/VOL1:PROJ", {fileLine("README", "TXT", "GUEST")})},
		    HEADER + "ECHO Error: SRV1/VOL1:PROJ/^<VolVolume^>:README.TXT    (GUEST) >> TORBEK00.LOG\n",
		    "torbek00: L1: SRV1/VOL1:PROJ/<VolVolume>:README.TXT (GUEST)" INCOMPLETE},
		{"missing server and name",
		    {listing("\\VOL1:", {"   "})},
		    HEADER + "ECHO Error: ^<VolServer^>/VOL1:^<FileName^>    (^<FileOwner^>) >> TORBEK00.LOG\n",
		    "torbek00: L1: <VolServer>/VOL1:<FileName> (<FileOwner>)" INCOMPLETE},
		{"error listing then a good one: no second header",
		    {listing("SRV1\\VOL1:A", {fileLine("X", "", "")}), listing("SRV2\\VOL2:", {fileLine("Y", "", "QXV0")})},
		    HEADER + "ECHO Error: SRV1/VOL1:A\\X    (^<FileOwner^>) >> TORBEK00.LOG\n"
		    "ECHO SRV2/VOL2:Y\nMYMKDIR -p O:/QXV1/OLDSERV/ >> TORBEK00.LOG\n"
		    "NCOPY /V SRV2/VOL2:Y O:\\QXV1\\OLDSERV\\\\Y >> TORBEK00.LOG\n\n",
		    "torbek00: L1: SRV1/VOL1:A\\X (<FileOwner>)" INCOMPLETE},
		{"listing without file lines writes nothing",
		    {"SRV1\\VOL1:\n\nDirectories:\nPUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a\n\n"},
		    ""},
		{"lower-case program name is copied",
		    {listing("S\\V:", {fileLine("setup", "exe", "IS")})},
		    HEADER + "ECHO S/V:setup.exe\nMYMKDIR -p N:/ >> TORBEK00.LOG\n"
		    "NCOPY /V S/V:setup.exe N:\\\\setup.exe >> TORBEK00.LOG\n\n"},
		{"program marker anywhere in the name",
		    {listing("S\\V:", {fileLine("A.EXE", "", "IS"), fileLine("B", "DLL", "IS")})},
		    HEADER + "ECHO S/V:A.EXE\nECHO S/V:B.DLL\n"},
		{"percent signs of the listing doubled, in every field",
		    {listing("S%1\\V%2:P%3\\Q", {fileLine("100%", "TXT", "A%B")})},
		    HEADER + copied("S%%1/V%%2:P%%3\\Q\\100%%.TXT", "O:/A%%B/OLDSERV/P%%3/Q",
		    "O:\\A%%B\\OLDSERV\\P%%3\\Q\\100%%.TXT")},
		{"percent signs doubled in the error line",
		    {listing("S\\V:5%", {fileLine("A%", "", "")})},
		    HEADER + "ECHO Error: S/V:5%%\\A%%    (^<FileOwner^>) >> TORBEK00.LOG\n",
		    "torbek00: L1: S/V:5%\\A% (<FileOwner>)" INCOMPLETE},
		{"ampersands and carets escaped in every field",
		    {listing("S&1\\V^2:X&ECHO\\Q", {fileLine("A^B&", "T%", "O&^")})},
		    HEADER + copied("S^&1/V^^2:X^&ECHO\\Q\\A^^B^&.T%%", "O:/O^&^^/OLDSERV/X^&ECHO/Q",
		    "O:\\O^&^^\\OLDSERV\\X^&ECHO\\Q\\A^^B^&.T%%")},
		{"ampersands escaped in the error line, cut last line said too",
		    {"S\\V:X&DEL\n\nFiles:\n" + fileLine("A&B", "", "")},
		    HEADER + "ECHO Error: S/V:X^&DEL\\A^&B    (^<FileOwner^>) >> TORBEK00.LOG\n",
		    "torbek00: L1: S/V:X&DEL\\A&B (<FileOwner>)" INCOMPLETE
		    "torbek00: L1: no line feed after the last line: the listing may be cut short\n"},
		{"targets DOS takes for one: separators, trailing separator, root",
		    {listing("S\\V:DIR/SUB", {fileLine("A", "", "IS")}) + listing("S\\W:DIR\\\\SUB\\", {fileLine("A", "", "IS")}) +
		     listing("S\\V:", {fileLine("R", "", "IS")}) + listing("S\\W:\\", {fileLine("R", "", "IS")})},
		    HEADER + copied("S/V:DIR/SUB\\A", "N:/DIR/SUB", "N:\\DIR/SUB\\A") +
		    copied("S/W:DIR\\\\SUB\\\\A", "N:/DIR//SUB/", "N:\\DIR\\\\SUB\\\\A") +
		    copied("S/V:R", "N:/", "N:\\\\R") + copied("S/W:\\\\R", "N://", "N:\\\\\\R"),
		    "torbek00: L1: S/W:DIR\\\\SUB\\\\A (IS): copied to N:\\DIR\\\\SUB\\\\A again: the earlier copy is overwritten\n"
		    "torbek00: L1: S/W:\\\\R (IS): copied to N:\\\\\\R again: the earlier copy is overwritten\n"},
		{"code-page letters are copied", {listing("S\\V:P", {fileLine("CAF\xc9", "", "IS")})},
		    HEADER + copied("S/V:P\\CAF\xc9", "N:/P", "N:\\P\\CAF\xc9")},
		{"the letters of pages 437 and 850 in either case: one target, the script's bytes unchanged",
		    {listing("S\\V:P", {fileLine("CAF\x82", "", "IS"), fileLine("CAF\x90", "", "IS"),
		     fileLine("\xa0", "", "IS"), fileLine("\xb5", "", "IS"), fileLine("CAFE", "", "IS")})},
		    HEADER + copied("S/V:P\\CAF\x82", "N:/P", "N:\\P\\CAF\x82") +
		    copied("S/V:P\\CAF\x90", "N:/P", "N:\\P\\CAF\x90") + copied("S/V:P\\\xa0", "N:/P", "N:\\P\\\xa0") +
		    copied("S/V:P\\\xb5", "N:/P", "N:\\P\\\xb5") + copied("S/V:P\\CAFE", "N:/P", "N:\\P\\CAFE"),
		    "torbek00: L1: S/V:P\\CAF\\x90 (IS): copied to N:\\P\\CAF\\x90 again: the earlier copy is overwritten\n"
		    "torbek00: L1: S/V:P\\\\xb5 (IS): copied to N:\\P\\\\xb5 again: the earlier copy is overwritten\n"},
		{"same target from two volumes",
		    {listing("S\\SYS:PUBLIC", {fileLine("README", "TXT", "IS")}) +
		     listing("S\\VOL1:PUBLIC", {fileLine("README", "TXT", "MASTER")})},
		    HEADER + copied("S/SYS:PUBLIC\\README.TXT", "N:/PUBLIC", "N:\\PUBLIC\\README.TXT") +
		    copied("S/VOL1:PUBLIC\\README.TXT", "N:/PUBLIC", "N:\\PUBLIC\\README.TXT"),
		    "torbek00: L1: S/VOL1:PUBLIC\\README.TXT (MASTER): copied to N:\\PUBLIC\\README.TXT"
		    " again: the earlier copy is overwritten\n"},
		{"same target from two listings, in other case",
		    {listing("S1\\V:Home", {fileLine("a", "txt", "QXV0")}),
		     listing("S2\\V:HOME", {fileLine("A", "TXT", "QXV1")})},
		    HEADER + copied("S1/V:Home\\a.txt", "O:/QXV1/OLDSERV/Home", "O:\\QXV1\\OLDSERV\\Home\\a.txt") +
		    copied("S2/V:HOME\\A.TXT", "O:/QXV1/OLDSERV/HOME", "O:\\QXV1\\OLDSERV\\HOME\\A.TXT"),
		    "torbek00: L2: S2/V:HOME\\A.TXT (QXV1): copied to O:\\QXV1\\OLDSERV\\HOME\\A.TXT"
		    " again: the earlier copy is overwritten\n"},
		{"same file of two owners: two targets",
		    {listing("S\\V:P", {fileLine("A", "", "QXV0"), fileLine("A", "", "DRK")})},
		    HEADER + copied("S/V:P\\A", "O:/QXV1/OLDSERV/P", "O:\\QXV1\\OLDSERV\\P\\A") +
		    copied("S/V:P\\A", "O:/DRK0/OLDSERV/P", "O:\\DRK0\\OLDSERV\\P\\A")},
		{"last line without line feed",
		    {"S\\V:P\n\nFiles:\n" + fileLine("A", "", "BO")},
		    HEADER + copied("S/V:P\\A", "O:/BO/OLDSERV/P", "O:\\BO\\OLDSERV\\P\\A"),
		    "torbek00: L1: no line feed after the last line: the listing may be cut short\n"},
		{"nothing but a file left out: no header",
		    {listing("S\\V:P", {fileLine("A<B", "", "IS")})}, "",
		    "torbek00: L1: S/V:P\\A<B (IS): left out: a name holds a control character,"
		    " < > | \" or a . or .. part\n", 1},
		{"a server longer than its field: the error line, and the listing ends",
		    {listing(std::string(48, 'S') + "\\V:P", {fileLine("MEMO", "TXT", "QXV0"), fileLine("NEXT", "", "IS")})},
		    HEADER + "ECHO Error: " + std::string(47, 'S') + "/^<VolVolume^>:MEMO.TXT    (QXV0) >> TORBEK00.LOG\n",
		    "torbek00: L1: " + std::string(47, 'S') + "/<VolVolume>:MEMO.TXT (QXV0)" INCOMPLETE},
		{"volume words without a backslash, of 49 and 50 characters",
		    {listing(std::string(48, 'V') + ":", {fileLine("A", "", "IS")}),
		     listing(std::string(49, 'V') + ":", {fileLine("B", "", "IS")})},
		    HEADER + "ECHO Error: " + std::string(47, 'V') + "/^<VolVolume^>:A    (IS) >> TORBEK00.LOG\n"
		    "ECHO Error: " + std::string(47, 'V') + "/^<VolVolume^>:B    (IS) >> TORBEK00.LOG\n",
		    "torbek00: L1: " + std::string(47, 'V') + "/<VolVolume>:A (IS)" INCOMPLETE
		    "torbek00: L2: " + std::string(47, 'V') + "/<VolVolume>:B (IS)" INCOMPLETE},
		{"a device name without owner: the error line before DOS's rules",
		    {listing("S\\V:P", {fileLine("CON", "TXT", ""), fileLine("NEXT", "", "IS")})},
		    HEADER + "ECHO Error: S/V:P\\CON.TXT    (^<FileOwner^>) >> TORBEK00.LOG\n",
		    "torbek00: L1: S/V:P\\CON.TXT (<FileOwner>)" INCOMPLETE},
		{"a slash at the start of a path and of an owner, a path of 255, an owner cut to its field",
		    {listing("S\\V:/P", {fileLine("A", "", "/Q")}) +
		     listing("S\\V:" + std::string(255, 'P'), {fileLine("B", "", "TWELVELETTER")})},
		    HEADER + copied("S/V:/P\\A", "O://Q/OLDSERV//P", "O:\\/Q\\OLDSERV\\/P\\A") +
		    copied("S/V:" + std::string(255, 'P') + "\\B", "O:/TWELVELETTE/OLDSERV/" + std::string(255, 'P'),
		    "O:\\TWELVELETTE\\OLDSERV\\" + std::string(255, 'P') + "\\B")},
		{"delayed expansion turned off once, before the first record with a !",
		    {listing("S\\V:DOCS", {fileLine("PLAIN", "", "IS"), fileLine("HI!", "TXT", "IS"),
		     fileLine("A", "", "A!B")})},
		    HEADER + copied("S/V:DOCS\\PLAIN", "N:/DOCS", "N:\\DOCS\\PLAIN") +
		    "SETLOCAL DISABLEDELAYEDEXPANSION\n" +
		    copied("S/V:DOCS\\HI!.TXT", "N:/DOCS", "N:\\DOCS\\HI!.TXT") +
		    copied("S/V:DOCS\\A", "O:/A!B/OLDSERV/DOCS", "O:\\A!B\\OLDSERV\\DOCS\\A")},
		{"a ! in an echoed record's owner is not written: expansion stays",
		    {listing("S\\V:P", {fileLine("RUN", "EXE", "A!B")})}, HEADER + "ECHO S/V:P\\RUN.EXE\n"},
		{"a record left out, the next one copied",
		    {listing("S\\V:P", {fileLine("A\x1a", "", "IS"), fileLine("OK", "", "IS")})},
		    HEADER + copied("S/V:P\\OK", "N:/P", "N:\\P\\OK"),
		    "torbek00: L1: S/V:P\\A\\x1a (IS): left out: a name holds a control character,"
		    " < > | \" or a . or .. part\n", 1},
		{"DOS and Unix line ends mixed",
		    {"S\\V:P\r\n\r\nFiles:\r\n" + fileLine("A", "", "IS") + "\n\r\n"
		     "S\\V:Q\n\nFiles:\n" + fileLine("B", "", "IS") + "\r\n"},
		    HEADER + copied("S/V:P\\A", "N:/P", "N:\\P\\A") + copied("S/V:Q\\B", "N:/Q", "N:\\Q\\B")},
	};
	for (const auto &c : cases) {
		Outcome r = torbek(c.listings);
		EXPECT_EQ(r.status, c.status) << c.name;
		EXPECT_EQ(r.out, c.script) << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

TEST(Torbek00, ReportsFilesItCannotOpenAndGoesOn)
{
	TempListing good(listing("S\\V:", {fileLine("A", "", "IS")}));
	std::string script = HEADER + "ECHO S/V:A\nMYMKDIR -p N:/ >> TORBEK00.LOG\n"
	    "NCOPY /V S/V:A N:\\\\A >> TORBEK00.LOG\n\n";
	std::string again = script.substr(HEADER.size());
	struct {
		const char *name;
		std::vector<std::string> args;
		std::string out, err;
	} cases[] = {
		{"missing file between good ones", {good.path, "/nonexistent/x", good.path},
		    script + again, "Unable to open /nonexistent/x\ntorbek00: " + good.path +
		    ": S/V:A (IS): copied to N:\\\\A again: the earlier copy is overwritten\n"},
		{"directory", {"/tmp", good.path}, script, "Unable to open /tmp\n"},
		{"no arguments", {}, "", ""},
	};
	for (const auto &c : cases) {
		std::vector<std::string> argv = {TORBEK00};
		argv.insert(argv.end(), c.args.begin(), c.args.end());
		std::string input = slurp(good.path);	/* never read */
		Outcome r = run(argv, &input);
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

TEST(Torbek00, FailsWhenItCannotWriteOrRead)
{
	expectFailures({
		{"full disk", SH(TORBEK00) " " SH(EXAMPLES "/oldserv-users.lst") " > /dev/full", 1,
		    "torbek00: error writing standard output\n"},
		{"read error", SH(TORBEK00) " /proc/self/mem " SH(EXAMPLES "/oldserv-users.lst"), 2,
		    "input in flex scanner failed\n"},
	});
}

} // namespace
