// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "run.h"

namespace {

const std::string HEADER = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";
#define INCOMPLETE ": incomplete record: the rest of the listing is skipped\n"

std::string
listing(const std::string &volume, const std::vector<std::string> &files)
{
	std::string s = volume + "\n\nFiles:    Size  Last Update  Flags  Owner\n" +
	    std::string(17, '-') + " ------\n";
	for (const auto &f : files)
		s += f + "\n";
	return s + "\n       12,345 bytes in      1 files\n";
}

/*
 * Runs torbek00 on the given listings, each written to a file of its own;
 * in its standard error the files are named L1, L2, ...
 */
Outcome
torbek(const std::vector<std::string> &listings)
{
	std::vector<std::unique_ptr<TempListing>> files;
	std::vector<std::string> argv = {TORBEK00};
	for (const auto &l : listings) {
		files.push_back(std::make_unique<TempListing>(l));
		argv.push_back(files.back()->path);
	}
	Outcome r = run(argv);
	for (size_t i = 0; i < files.size(); i++)
		for (size_t at; (at = r.err.find(files[i]->path)) != std::string::npos;)
			r.err.replace(at, files[i]->path.size(), "L" + std::to_string(i + 1));
	return r;
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
	const std::string examples = EXAMPLES "/oldserv-sys.lst " EXAMPLES "/oldserv-users.lst "
	    EXAMPLES "/acctsrv-data.lst";
	std::string users = run({TORBEK00, EXAMPLES "/oldserv-users.lst"}).out;
	struct {
		const char *name;
		std::string command, script;
	} cases[] = {
		{"to a pipe", TORBEK00 " " + examples, slurp(GOLDEN)},
		{"to a file", TORBEK00 " " + examples + " > \"$0\" && cat \"$0\"", slurp(GOLDEN)},
		{"saved on DOS", TORBEK00 " " EXAMPLES "/dos/oldserv-users.lst", users},
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

/*
 * Thousands of files of one directory, as the volume roots of the shared
 * owners give, and enough targets elsewhere to make the remembered targets
 * grow several times: every repeated target is found, and no other.
 */
TEST(Torbek00, WarnsOfEveryRepeatedTargetInDirectoriesOfAnySize)
{
	std::vector<std::string> root, spread;
	for (int i = 0; i < 3000; i++) {
		root.push_back(fileLine("R" + std::to_string(i), "", "IS"));
		spread.push_back(fileLine("F" + std::to_string(i % 7), "", "U" + std::to_string(i)));
	}
	Outcome r = torbek({listing("S\\V:", root), listing("S\\W:", spread),
	    listing("S\\X:", root), listing("S\\Y:", spread)});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6000);
	EXPECT_EQ(r.err.find("L1"), std::string::npos);
	EXPECT_EQ(r.err.find("L2"), std::string::npos);
	EXPECT_NE(r.err.find("L3: S/X:R2999 (IS): copied to N:\\\\R2999 again"), std::string::npos);
	EXPECT_NE(r.err.find("L4: S/Y:F3 (U2999): copied to O:\\U2999\\OLDSERV\\\\F3 again"),
	    std::string::npos);
}

TEST(Torbek00, LeavesOutRecordsTheScriptOrDosCannotCarry)
{
	const std::string good = copied("S/V:P\\OK", "N:/P", "N:\\P\\OK");
	const char *UNSAFE = "a name holds a control character, < > | \" or a . or .. part";
	const char *DEVICE = "a name is a DOS device name";
	const char *FORBIDDEN = "a name holds a character DOS does not allow: * ? + , ; = [ ] :";
	const char *DOT = "a name ends in a full stop, which DOS drops";
	const char *SWITCH = "a name begins with /, which NCOPY takes for an option";
	const char *CUT = "a name is longer than the listing's field holds: the real name is unknown";
	const std::string longPath(256, 'P'), tail = "  12,345  3-15-96  4:07p [Rw-A--------------] IS";
	struct {
		const char *name;
		std::string volume, file, shown;
		const char *reason;
	} cases[] = {
		{"end of file byte in a name", "S\\V:P", fileLine("A\x1a", "", "IS"), "S/V:P\\A\\x1a (IS)", UNSAFE},
		{"delete byte in a name", "S\\V:P", fileLine("A\x7f", "", "IS"), "S/V:P\\A\\x7f (IS)", UNSAFE},
		{"lone carriage return in a path", "S\\V:X\rY", fileLine("A", "", "IS"), "S/V:X\\x0dY\\A (IS)", UNSAFE},
		{"redirection in a path", "S\\V:X<Y", fileLine("A", "", "IS"), "S/V:X<Y\\A (IS)", UNSAFE},
		{"redirection in a server", "X>Y\\V:P", fileLine("A", "", "IS"), "X>Y/V:P\\A (IS)", UNSAFE},
		{"pipe in a volume", "S\\V|W:P", fileLine("A", "", "IS"), "S/V|W:P\\A (IS)", UNSAFE},
		{"quote in an owner", "S\\V:P", fileLine("A", "", "I\"S"), "S/V:P\\A (I\"S)", UNSAFE},
		{"full stop as a path part", "S\\V:.\\P", fileLine("A", "", "IS"), "S/V:.\\P\\A (IS)", UNSAFE},
		{"parent as a path part after a slash", "S\\V:P/../Q", fileLine("A", "", "IS"), "S/V:P/../Q\\A (IS)", UNSAFE},
		{"parent as a name", "S\\V:P", fileLine("..", "", "IS"), "S/V:P\\.. (IS)", UNSAFE},
		{"parents as an owner", "S\\V:P", fileLine("A", "", "..\\.."), "S/V:P\\A (..\\..)", UNSAFE},
		{"parent as an owner part after a slash", "S\\V:P", fileLine("A", "", "N/.."), "S/V:P\\A (N/..)", UNSAFE},
		{"device as a name, with an extension", "S\\V:P", fileLine("CON", "TXT", "IS"), "S/V:P\\CON.TXT (IS)", DEVICE},
		{"device as a path part, in lower case", "S\\V:A\\nul\\B", fileLine("A", "", "IS"), "S/V:A\\nul\\B\\A (IS)", DEVICE},
		{"device as an owner", "S\\V:P", fileLine("A", "", "COM1"), "S/V:P\\A (COM1)", DEVICE},
		{"device as a server", "LPT9\\V:P", fileLine("A", "", "IS"), "LPT9/V:P\\A (IS)", DEVICE},
		{"clock device as a volume", "S\\Clock$:P", fileLine("A", "", "IS"), "S/Clock$:P\\A (IS)", DEVICE},
		{"asterisk in a name", "S\\V:P", fileLine("A*", "", "IS"), "S/V:P\\A* (IS)", FORBIDDEN},
		{"semicolon in a path", "S\\V:A;B", fileLine("A", "", "IS"), "S/V:A;B\\A (IS)", FORBIDDEN},
		{"equals sign in a server", "S=T\\V:P", fileLine("A", "", "IS"), "S=T/V:P\\A (IS)", FORBIDDEN},
		{"bracket in an owner", "S\\V:P", fileLine("A", "", "[X]"), "S/V:P\\A ([X])", FORBIDDEN},
		{"name ending in a full stop", "S\\V:P", fileLine("ABC.", "", "IS"), "S/V:P\\ABC. (IS)", DOT},
		{"path part ending in a full stop", "S\\V:A.\\B", fileLine("A", "", "IS"), "S/V:A.\\B\\A (IS)", DOT},
		{"server beginning with a slash", "/Q\\V:P", fileLine("A", "", "IS"), "/Q/V:P\\A (IS)", SWITCH},
		{"path longer than its field", "S\\V:" + longPath, fileLine("A", "", "IS"),
		    "S/V:" + longPath.substr(1) + "\\A (IS)", CUT},
		{"name longer than its field", "S\\V:P", fileLine("NINELONGX", "", "IS"), "S/V:P\\NINELONG (IS)", CUT},
		{"extension longer than its field", "S\\V:P", "A             TEXT" + tail, "S/V:P\\A.TEX (<FileOwner>)", CUT},
	};
	for (const auto &c : cases) {
		std::string text = c.volume + "\n\nFiles:\n" + c.file + "\n\nS\\V:P\n\nFiles:\n" +
		    fileLine("OK", "", "IS") + "\n";
		Outcome r = torbek({text});
		EXPECT_EQ(r.status, 1) << c.name;
		EXPECT_EQ(r.out, HEADER + good) << c.name;
		EXPECT_EQ(r.err, "torbek00: L1: " + c.shown + ": left out: " + c.reason + "\n") << c.name;
	}
}

TEST(Torbek00, CopiesFullFieldsAndCutOwners)
{
	const std::string path(255, 'P');
	struct {
		const char *name;
		std::string volume, file, source, target;
	} cases[] = {
		{"a name of eight letters", "S\\V:P", fileLine("EIGHTLET", "TXT", "IS"), "S/V:P\\EIGHTLET.TXT", "N:\\P\\EIGHTLET.TXT"},
		{"a path of 255 characters", "S\\V:" + path, fileLine("A", "", "IS"), "S/V:" + path + "\\A", "N:\\" + path + "\\A"},
		{"an owner longer than its field", "S\\V:P", fileLine("A", "", "TWELVELETTER"), "S/V:P\\A",
		    "O:\\TWELVELETTE\\OLDSERV\\P\\A"},
	};
	for (const auto &c : cases) {
		Outcome r = torbek({listing(c.volume, {c.file})});
		std::string dir = c.target.substr(0, c.target.rfind('\\'));
		std::replace(dir.begin(), dir.end(), '\\', '/');
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.out, HEADER + copied(c.source, dir, c.target)) << c.name;
	}
}

TEST(Torbek00, ChoosesTheTargetByExactOwner)
{
	struct {
		const char *owner, *target;
	} cases[] = {
		{"QXV0", "O:/QXV1/OLDSERV/P"}, {"QXV1", "O:/QXV1/OLDSERV/P"},
		{"DRK", "O:/DRK0/OLDSERV/P"}, {"DRK0", "O:/DRK0/OLDSERV/P"},
		{"TZF0", "O:/TZF1/OLDSERV/P"}, {"STUD", "O:/NUSTUD/OLDSERV/P"},
		{"NUSTUD", "O:/NUSTUD/OLDSERV/P"}, {"TRAIN", "O:/KELVOMAR/OLDSERV/P"},
		{"SUPERVISO", "N:/P"}, {"LANSTUD", "N:/P"}, {"N/A", "N:/P"}, {"IS", "N:/P"},
		{"MASTER", "N:/P"}, {"SUPPORT", "N:/P"}, {"ARCSERVE", "N:/P"},
		{"SUPERVISOR", "O:/SUPERVISOR/OLDSERV/P"}, {"supervisor", "O:/supervisor/OLDSERV/P"},
		{"Is", "O:/Is/OLDSERV/P"}, {"train", "O:/train/OLDSERV/P"},
	};
	for (const auto &c : cases) {
		Outcome r = torbek({listing("S\\V:P", {fileLine("F", "", c.owner)})});
		std::string mkdir = std::string("MYMKDIR -p ") + c.target + " >> TORBEK00.LOG\n";
		EXPECT_NE(r.out.find(mkdir), std::string::npos) << c.owner << "\n" << r.out;
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
		{"full disk", TORBEK00 " " EXAMPLES "/oldserv-users.lst > /dev/full", 1,
		    "torbek00: error writing standard output\n"},
		{"read error", TORBEK00 " /proc/self/mem " EXAMPLES "/oldserv-users.lst", 2,
		    "input in flex scanner failed\n"},
	});
}

} // namespace
