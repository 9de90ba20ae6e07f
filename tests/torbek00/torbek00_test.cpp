#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "run.h"

namespace {

const std::string HEADER = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";

std::string
listing(const std::string &volume, const std::vector<std::string> &files)
{
	std::string s = volume + "\n\nFiles:    Size  Last Update  Flags  Owner\n" +
	    std::string(17, '-') + " ------\n";
	for (const auto &f : files)
		s += f + "\n";
	return s + "\n       12,345 bytes in      1 files\n";
}

/* Runs torbek00 on the given listings, each written to a file of its own. */
Outcome
torbek(const std::vector<std::string> &listings)
{
	std::vector<std::unique_ptr<TempListing>> files;
	std::vector<std::string> argv = {TORBEK00};
	for (const auto &l : listings) {
		files.push_back(std::make_unique<TempListing>(l));
		argv.push_back(files.back()->path);
	}
	return run(argv);
}

TEST(Torbek00, WritesTheScriptForTheExampleListings)
{
	Outcome r = run({TORBEK00, EXAMPLES "/oldserv-sys.lst", EXAMPLES "/oldserv-users.lst",
	    EXAMPLES "/acctsrv-data.lst"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, slurp(GOLDEN));
}

TEST(Torbek00, WritesTheLinesOfEachFileRecord)
{
	struct {
		const char *name;
		std::vector<std::string> listings;
		std::string script;
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
		    HEADER + "ECHO Error: SRV1/VOL1:PROJ\\DATA.DBF    (<FileOwner>) >> TORBEK00.LOG\n"},
		{"slash instead of backslash leaves the volume absent",
		    {listing("SRV1/VOL1:PROJ", {fileLine("README", "TXT", "GUEST")})},
		    HEADER + "ECHO Error: SRV1/VOL1:PROJ/<VolVolume>:README.TXT    (GUEST) >> TORBEK00.LOG\n"},
		{"missing server and name",
		    {listing("\\VOL1:", {"   "})},
		    HEADER + "ECHO Error: <VolServer>/VOL1:<FileName>    (<FileOwner>) >> TORBEK00.LOG\n"},
		{"error listing then a good one: no second header",
		    {listing("SRV1\\VOL1:A", {fileLine("X", "", "")}), listing("SRV2\\VOL2:", {fileLine("Y", "", "QXV0")})},
		    HEADER + "ECHO Error: SRV1/VOL1:A\\X    (<FileOwner>) >> TORBEK00.LOG\n"
		    "ECHO SRV2/VOL2:Y\nMYMKDIR -p O:/QXV1/OLDSERV/ >> TORBEK00.LOG\n"
		    "NCOPY /V SRV2/VOL2:Y O:\\QXV1\\OLDSERV\\\\Y >> TORBEK00.LOG\n\n"},
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
	};
	for (const auto &c : cases) {
		Outcome r = torbek(c.listings);
		EXPECT_EQ(r.status, 0) << c.name;
		EXPECT_EQ(r.out, c.script) << c.name;
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
		    script + again, "Unable to open /nonexistent/x\n"},
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

TEST(Torbek00, WritesTheWholeScriptToAFile)
{
	char name[] = "/tmp/scriptXXXXXX";
	int fd = mkstemp(name);
	close(fd);
	std::string cmd = std::string(TORBEK00) + " " + EXAMPLES "/oldserv-sys.lst " +
	    EXAMPLES "/oldserv-users.lst " + EXAMPLES "/acctsrv-data.lst > " + name;
	ASSERT_EQ(system(cmd.c_str()), 0);
	EXPECT_EQ(slurp(name), slurp(GOLDEN));
	unlink(name);
}

} // namespace
