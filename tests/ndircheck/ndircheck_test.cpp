// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "changes.h"
#include "ndirlexer.h"
#include "run.h"
#include "zone.h"

namespace {

namespace fs = std::filesystem;

const std::string EXAMPLE_LISTINGS[] = {EXAMPLES "/acctsrv-data.lst", EXAMPLES "/oldserv-sys.lst",
    EXAMPLES "/oldserv-users.lst"};

std::string
summary(const std::string &counts)
{
	return "ndircheck: " + counts + " bytes confirmed\n";
}

/* A directory for the length of a test, with the new drives in n/ and o/. */
struct Scratch {
	std::string dir;

	Scratch()
	{
		char name[] = "/tmp/ndircheckXXXXXX";
		dir = mkdtemp(name);
		fs::create_directories(dir + "/n");
		fs::create_directories(dir + "/o");
	}
	~Scratch() { fs::remove_all(dir); }
	Scratch(const Scratch &) = delete;
	Scratch &operator=(const Scratch &) = delete;

	/* A file of `size' bytes last modified at `time', its directories made. */
	void file(const std::string &path, off_t size, time_t time) const
	{
		std::string p = dir + "/" + path;
		fs::create_directories(fs::path(p).parent_path());
		std::ofstream(p).close();
		fs::resize_file(p, static_cast<uintmax_t>(size));
		struct timespec times[2] = {{time, 0}, {time, 0}};
		utimensat(AT_FDCWD, p.c_str(), times, 0);
	}
};

/* 3-15-96 4:07p in UTC, the zone of the tests. */
const time_t LISTED = 826906020;

/* How each test's tree is made: a file, a directory or a symbolic link. */
struct Node {
	std::string path;
	off_t size = 0;
	time_t time = LISTED;
	enum Kind { REGULAR, FOLDER, SYMLINK } kind = REGULAR;
	std::string to = "";
};

void
make(const Scratch &s, const std::vector<Node> &tree)
{
	for (const auto &n : tree) {
		std::string p = s.dir + "/" + n.path;
		fs::create_directories(n.kind == Node::FOLDER ? p : fs::path(p).parent_path().string());
		if (n.kind == Node::REGULAR)
			s.file(n.path, n.size, n.time);
		else if (n.kind == Node::SYMLINK)
			fs::create_symlink(n.to, p);
	}
}

/* The listed size and time of every file, by its source name as the script writes it. */
typedef std::map<std::string, std::pair<long, time_t>> Listed;

class ListedFiles : public NdirLexer {
public:
	ListedFiles(std::istream *in, Listed &files) : NdirLexer(in, nullptr), files(files) {}

	int FileUpdate() override
	{
		std::string path = VolPath() ? std::string(VolPath()) + "\\" : "";
		files[std::string(VolServer()) + "/" + VolVolume() + ":" + path + FileName()] = {FileSize(),
		    FileUpdateTime()};
		return 1;
	}

private:
	Listed &files;
};

/*
 * Does what the NCOPY lines of torbek00's script for the listings do,
 * with drives N: and O: in n/ and o/: each target becomes a file of the
 * size and time listed for its source.
 */
void
copyAsTheScript(const Scratch &s, const std::vector<std::string> &listings)
{
	Listed listed;
	std::vector<std::string> argv = {TORBEK00};

	for (const auto &l : listings) {
		std::ifstream in(l);
		ListedFiles(&in, listed).yylex();
		argv.push_back(l);
	}
	std::istringstream script(run(argv).out);
	for (std::string line; std::getline(script, line);) {
		std::istringstream words(line);
		std::string command, verify, from, to;
		if (!(words >> command >> verify >> from >> to) || command != "NCOPY")
			continue;
		std::string path(1, static_cast<char>(tolower(to[0])));
		for (char c : to.substr(2))
			if (c != '\\')
				path += c;
			else if (path.back() != '/')
				path += '/';
		auto [size, time] = listed.at(from);
		s.file(path, size, time);
	}
}

/* A command of the manual page's examples and the output that it shows. */
struct Example {
	std::vector<std::string> argv;
	std::string output;
};

/*
 * The examples of the manual page that show their output: a .Dl line
 * with the command, then a literal display.  The example listings and
 * the drives' directories are put in.
 */
std::vector<Example>
manualExamples(const Scratch &s)
{
	std::istringstream page(slurp(MANUAL));
	std::vector<Example> examples;

	for (std::string line; std::getline(page, line);) {
		if (line.rfind(".Dl $ ndircheck ", 0) != 0)
			continue;
		std::istringstream words(line.substr(16));
		Example e = {{NDIRCHECK}, ""};
		for (std::string w; words >> w;)
			if (w == "$ex/*.lst")
				e.argv.insert(e.argv.end(), std::begin(EXAMPLE_LISTINGS), std::end(EXAMPLE_LISTINGS));
			else
				e.argv.push_back(replaced(w, "/mnt/", s.dir + "/"));
		if (!std::getline(page, line) || line != ".Bd -literal")
			continue;
		while (std::getline(page, line) && line != ".Ed")
			e.output += replaced(line, "\\e", "\\") + "\n";
		examples.push_back(e);
	}
	return examples;
}

/* With a listing that cannot be opened among them, named as torbek00 names it: the plan is short. */
TEST(Ndircheck, PlansTheExampleListings)
{
	std::vector<std::string> argv = {NDIRCHECK, "/nonexistent"};
	argv.insert(argv.end(), std::begin(EXAMPLE_LISTINGS), std::end(EXAMPLE_LISTINGS));
	Outcome r = run(argv);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "Unable to open /nonexistent\n");
	EXPECT_EQ(r.out, slurp(GOLDEN));
}

TEST(Ndircheck, PlansFilesAndBytesByOwnersFolderDriveAndReason)
{
	struct {
		const char *name;
		std::vector<std::string> listings;
		std::string out, err = "";
		int status = 0;
	} cases[] = {
		{"folders in DOS order, spelt as first copied, then drives and total",
		    {listing("S\\V:HOME\\QXV0", {fileLine("PLAN", "TXT", "QXV0", "12,480"),
		     fileLine("NOTES", "", "IS", "1,000"), fileLine("A", "", "abc", "5"),
		     fileLine("B", "", "ABC", "7"), fileLine("C", "", "DRK", "1")})},
		    "1\t1000\tN:\\\n2\t12\tO:\\abc\n1\t1\tO:\\DRK0\n1\t12480\tO:\\QXV1\n"
		    "1\t1000\tN:\n4\t12493\tO:\n5\t13493\ttotal\n"},
		{"program files and refused records left out, by reason",
		    {listing("S\\V:P", {fileLine("LOGIN", "EXE", "IS", "100"), fileLine("NET", "DLL", "IS", "50"),
		     fileLine("A<B", "", "IS", "7"), fileLine("CON", "", "IS", "3"), fileLine("OK", "", "IS", "1")})},
		    "1\t1\tN:\\\n1\t1\tN:\n1\t1\ttotal\n1\t7\t" + UNSAFE + "\n1\t3\t" + DEVICE + "\n2\t150\t" +
		    PROGRAM + "\n",
		    "ndircheck: L1: S/V:P\\A<B (IS): " + UNSAFE + "\nndircheck: L1: S/V:P\\CON (IS): " + DEVICE + "\n",
		    1},
		{"the last file copied to a target counts, the earlier as overwritten",
		    {listing("S\\SYS:PUBLIC", {fileLine("README", "TXT", "IS", "100")}),
		     listing("S\\VOL1:public", {fileLine("readme", "txt", "MASTER", "200")})},
		    "1\t200\tN:\\\n1\t200\tN:\n1\t200\ttotal\n1\t100\t" + OVERWRITTEN + "\n",
		    "ndircheck: L2: S/VOL1:public\\readme.txt (MASTER): copied to N:\\public\\readme.txt"
		    " again: the earlier copy is overwritten\n"},
		{"an incomplete record ends its listing alone",
		    {listing("S\\V:P", {fileLine("A", "", "IS", "5"), fileLine("B", "", "", "9"), fileLine("C", "", "IS", "3")}),
		     listing("S\\V:Q", {fileLine("D", "", "IS", "4")})},
		    "2\t9\tN:\\\n2\t9\tN:\n2\t9\ttotal\n1\t9\t" + INCOMPLETE + "\n",
		    "ndircheck: L1: S/V:P\\B (<FileOwner>): " + INCOMPLETE + "\n"},
		{"sums past 64 bits exact",
		    {listing("S\\V:P", {fileLine("A", "", "IS", "9,223,372,036,854,775,807"),
		     fileLine("B", "", "IS", "9,223,372,036,854,775,807")})},
		    "2\t18446744073709551614\tN:\\\n2\t18446744073709551614\tN:\n"
		    "2\t18446744073709551614\ttotal\n"},
		{"nothing copied", {listing("S\\V:P", {fileLine("SETUP", "EXE", "IS", "100")})},
		    "0\t0\ttotal\n1\t100\t" + PROGRAM + "\n"},
	};
	for (const auto &c : cases) {
		Outcome r = runOn(NDIRCHECK, {}, c.listings);
		EXPECT_EQ(r.status, c.status) << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

/*
 * Listings that torbek00 copies from, refuses, stops at or warns of: the
 * same warnings and status, and the plan counts every file that the
 * script copies, an overwritten one apart.
 */
TEST(Ndircheck, WarnsAndCountsAsTorbek00WritesTheScript)
{
	/* Thousands of targets in one directory and over many: the table of targets grows. */
	std::vector<std::string> root, spread;
	for (int i = 0; i < 3000; i++) {
		root.push_back(fileLine("R" + std::to_string(i), "", "IS"));
		spread.push_back(fileLine("F" + std::to_string(i % 7), "", "U" + std::to_string(i)));
	}
	struct {
		const char *name;
		std::vector<std::string> listings;
	} cases[] = {
		{"refusals of every kind", {listing("S\\V:P", {fileLine("A\x1a", "", "IS"),
		    fileLine("PRN", "TXT", "IS"), fileLine("A+B", "", "IS"), fileLine("..", "", "IS"),
		    fileLine("OK", "", "I\"S"), fileLine("LONGNAME1", "", "IS"), fileLine("F", "", "N/..")}),
		    listing("S\\V:X.", {fileLine("A", "", "IS")}), listing("S\\V:/Q", {fileLine("A", "", "IS")})}},
		{"incomplete records", {listing("SRV1/VOL1:PROJ", {fileLine("README", "TXT", "GUEST")}),
		    listing("\\VOL1:", {"   "}), listing("S\\V:P", {fileLine("X", "", ""), fileLine("Y", "", "IS")})}},
		{"a listing begins with file lines after a refused volume",
		    {listing("S\\V:A<B", {fileLine("A", "", "IS")}), "Files:\n" + fileLine("B", "", "IS") + "\n"}},
		{"repeated targets in other case, across listings",
		    {listing("S1\\V:Home", {fileLine("a", "txt", "QXV0"), fileLine("a", "txt", "QXV1")}),
		     listing("S2\\V:HOME", {fileLine("A", "TXT", "QXV1"), fileLine("B", "", "QXV1")})}},
		{"cut short", {"S\\V:P\n\nFiles:\n" + fileLine("A", "", "BO")}},
		{"escapes of the script, in a repeated target",
		    {listing("S%1\\V:P%&^", {fileLine("100%", "", "A%B"), fileLine("100%", "", "A%B")})}},
		{"thousands of targets, each again", {listing("S\\V:", root), listing("S\\W:", spread),
		    listing("S\\X:", root), listing("S\\Y:", spread)}},
	};
	for (const auto &c : cases) {
		Outcome script = runOn(TORBEK00, {}, c.listings);
		Outcome plan = runOn(NDIRCHECK, {}, c.listings);
		std::string err = script.err;
		for (size_t at; (at = err.find("torbek00: ")) != std::string::npos;)
			err.replace(at, 8, "ndircheck");
		EXPECT_EQ(plan.err, err) << c.name;
		EXPECT_EQ(plan.status, script.status) << c.name;

		size_t copies = 0, again = 0, total = plan.out.rfind('\n', plan.out.find("\ttotal\n")) + 1;
		for (size_t at = 0; (at = script.out.find("\nNCOPY ", at)) != std::string::npos; at++)
			copies++;
		for (size_t at = 0; (at = err.find(" again: the earlier copy", at)) != std::string::npos; at++)
			again++;
		EXPECT_EQ(std::stoul(plan.out.substr(total)), copies - again) << c.name;
	}
}

TEST(Ndircheck, ChecksEveryCopiedFileAtItsTarget)
{
	const std::string home = listing("S\\V:HOME\\QXV0", {fileLine("PLAN", "TXT", "QXV0", "12,480"),
	    fileLine("NOTE", "", "IS", "100")});
	const std::string plan = "O:\\QXV1\\OLDSERV\\HOME\\QXV0\\PLAN.TXT\tS/V:HOME\\QXV0\\PLAN.TXT";
	const std::string planPath = "o/QXV1/OLDSERV/HOME/QXV0/PLAN.TXT";
	const Node note = {"n/HOME/QXV0/NOTE", 100};
	const std::vector<std::string> both = {"-d", "N={n}", "-d", "o={o}"};
	const std::vector<std::string> times = {"-t", "-d", "N={n}", "-d", "O={o}"};
	const std::vector<std::string> nOnly = {"-d", "N={n}"};
	const std::string whole = summary("2 files checked: 2 whole, 0 missing, 0 wrong size, "
	    "0 not a regular file; 12580");
	const std::string wholeTimes = summary("2 files checked: 2 whole, 0 missing, 0 wrong size, "
	    "0 wrong date, 0 not a regular file; 12580");
	struct {
		const char *name;
		std::vector<std::string> listings;
		std::vector<Node> tree;
		std::vector<std::string> options;
		std::string out, err;
		int status;
		const char *zone = "UTC0", *locale = "C.UTF-8";
		std::string redo = "";
	} cases[] = {
		{"every file whole", {home}, {{planPath, 12480}, note}, both, "", whole, 0},
		{"every part in another case", {home},
		    {{"o/qxv1/OldServ/home/Qxv0/plan.txt", 12480}, {"n/home/qxv0/note", 100}}, both, "", whole, 0},
		{"a file missing", {home}, {note}, both, "missing\t" + plan + "\n",
		    summary("2 files checked: 1 whole, 1 missing, 0 wrong size, 0 not a regular file; 100"), 1},
		{"a file where a directory belongs", {home}, {{"o/QXV1/OLDSERV", 5}, note}, both,
		    "missing\t" + plan + "\n",
		    summary("2 files checked: 1 whole, 1 missing, 0 wrong size, 0 not a regular file; 100"), 1},
		{"a link to nothing", {home}, {{planPath, 0, 0, Node::SYMLINK, "nowhere"}, note}, both,
		    "missing\t" + plan + "\n",
		    summary("2 files checked: 1 whole, 1 missing, 0 wrong size, 0 not a regular file; 100"), 1},
		{"a link to itself", {home}, {{planPath, 0, 0, Node::SYMLINK, "PLAN.TXT"}, note}, both,
		    "missing\t" + plan + "\n",
		    summary("2 files checked: 1 whole, 1 missing, 0 wrong size, 0 not a regular file; 100"), 1},
		{"of names that differ in case alone, the first in byte order", {home}, {{planPath, 12480},
		    {"o/QXV1/OLDSERV/HOME/QXV0/plan.txt", 1}, {"o/QXV1/OLDSERV/HOME/QXV0/Plan.txt", 2},
		    {"o/QXV1/OLDSERV/HOME/QXV0/pLAN.TXT", 3}, note}, both, "", whole, 0},
		{"no time check of a listed time of 0", {listing("S\\V:HOME\\QXV0", {fileLine("PLAN", "TXT",
		    "QXV0", "12,480", " 1-01-70 12:00a"), fileLine("NOTE", "", "IS", "100")})}, {{planPath, 12480}, note},
		    times, "", wholeTimes, 0},
		{"a link to a file of the size", {home}, {{"o/PLAN", 12480}, {planPath, 0, 0, Node::SYMLINK,
		    "../../../../PLAN"}, note}, both, "", whole, 0},
		{"another size", {home}, {{planPath, 12479}, note}, both, "size\t" + plan + "\t12480\t12479\n",
		    summary("2 files checked: 1 whole, 0 missing, 1 wrong size, 0 not a regular file; 100"), 1},
		{"a directory at the target", {home}, {{planPath, 0, 0, Node::FOLDER}, note}, both,
		    "type\t" + plan + "\tfile\tdirectory\n",
		    summary("2 files checked: 1 whole, 0 missing, 0 wrong size, 1 not a regular file; 100"), 1},
		{"a minute late", {home}, {{planPath, 12480, LISTED + 61}, note}, times,
		    "date\t" + plan + "\t1996-03-15 16:07\t1996-03-15 16:08:01\n",
		    summary("2 files checked: 1 whole, 0 missing, 0 wrong size, 1 wrong date, "
		    "0 not a regular file; 100"), 1},
		{"a second early", {home}, {{planPath, 12480, LISTED - 1}, note}, times,
		    "date\t" + plan + "\t1996-03-15 16:07\t1996-03-15 16:06:59\n",
		    summary("2 files checked: 1 whole, 0 missing, 0 wrong size, 1 wrong date, "
		    "0 not a regular file; 100"), 1},
		{"the minute's end, rounded up", {home}, {{planPath, 12480, LISTED + 60}, {"n/HOME/QXV0/NOTE", 100,
		    LISTED + 59}}, times, "", wholeTimes, 0},
		{"times unchecked without -t", {home}, {{planPath, 12480, LISTED + 3600}, note}, both, "", whole, 0},
		{"a size problem before a date problem", {home}, {{planPath, 1, 0}, note}, times,
		    "size\t" + plan + "\t12480\t1\n", summary("2 files checked: 1 whole, 0 missing, 1 wrong size, "
		    "0 wrong date, 0 not a regular file; 100"), 1},
		{"a drive no -d maps", {home}, {}, {"-d", "O={n}"}, "missing\t" + plan + "\n",
		    "ndircheck: N: is not mapped (no -d N=DIR): 1 files not checked\n" +
		    summary("1 files checked: 0 whole, 1 missing, 0 wrong size, 0 not a regular file; 0"), 1},
		{"a directory that cannot be read", {home},
		    {{"o/QXV1/OLDSERV", 0, 0, Node::SYMLINK, "OLDSERV"}, note}, both, "",
		    "ndircheck: {o}/QXV1/OLDSERV: Too many levels of symbolic links\n"
		    "ndircheck: 1 files not checked: not readable\n" +
		    summary("1 files checked: 1 whole, 0 missing, 0 wrong size, 0 not a regular file; 100"), 2},
		{"a repeated target checked against the last file copied there, again by -s",
		    {listing("S\\SYS:P", {fileLine("A", "", "IS", "100")}), listing("S\\VOL1:P", {fileLine("A", "", "IS", "200")})},
		    {{"n/P/A", 100}}, nOnly, "size\tN:\\P\\A\tS/VOL1:P\\A\t200\t100\n",
		    "ndircheck: L2: S/VOL1:P\\A (IS): copied to N:\\P\\A again: the earlier copy is overwritten\n" +
		    summary("1 files checked: 0 whole, 0 missing, 1 wrong size, 0 not a regular file; 0"), 1, "UTC0",
		    "C.UTF-8", HEADER + "ECHO S/VOL1:P\\A\nMYMKDIR -p N:/P >> TORBEK00.LOG\n"
		    "NCOPY /V S/VOL1:P\\A N:\\P\\A >> TORBEK00.LOG\n\n"},
		{"code-page letters in UTF-8 on the new drive, in either case",
		    {listing("S\\V:M\x9aLLER", {fileLine("CAF\x82", "", "IS", "1"), fileLine("GR\xe1" "E", "", "IS", "2")})},
		    {{"n/m\xc3\xbcller/CAF\xc3\x89", 1}, {"n/m\xc3\xbcller/Gr\xc3\x9f" "e", 2}}, nOnly, "",
		    summary("2 files checked: 2 whole, 0 missing, 0 wrong size, 0 not a regular file; 3"), 0},
		{"code-page letters as DOS writes them, and a missing name shown in UTF-8",
		    {listing("S\\V:M\x9aLLER", {fileLine("CAF\x82", "", "IS", "1"), fileLine("CAF\x82X", "", "IS", "1")})},
		    {{"n/M\x9aLLER/CAF\x82", 1}}, nOnly, "missing\tN:\\M\xc3\x9cLLER\\CAF\xc3\xa9X\tS/V:M\xc3\x9cLLER\\CAF\xc3\xa9X\n",
		    summary("2 files checked: 1 whole, 1 missing, 0 wrong size, 0 not a regular file; 1"), 1},
		{"a missing name as listed where the locale is not UTF-8",
		    {listing("S\\V:", {fileLine("CAF\x82", "", "IS", "1")})}, {}, nOnly, "missing\tN:\\\\CAF\x82\tS/V:CAF\x82\n",
		    summary("1 files checked: 0 whole, 1 missing, 0 wrong size, 0 not a regular file; 0"), 1, "UTC0", "C"},
		{"the letters of the code page given",
		    {listing("S\\V:", {fileLine("\xb5", "", "IS", "1")})}, {{"n/\xc3\xa1", 1}}, {"-C", "850", "-d", "N={n}"}, "",
		    summary("1 files checked: 1 whole, 0 missing, 0 wrong size, 0 not a regular file; 1"), 0},
		{"a year before 80 as one of 20xx", {listing("S\\V:P", {fileLine("A", "", "IS", "1", " 3-15-03  4:07p")})},
		    {{"n/P/A", 1, 1047744420}}, {"-t", "-d", "N={n}"}, "", summary("1 files checked: 1 whole, "
		    "0 missing, 0 wrong size, 0 wrong date, 0 not a regular file; 1"), 0},
		{"either instant of the hour that winter time repeats",
		    {listing("S\\V:P", {fileLine("A", "", "IS", "1", " 10-27-96  2:30a"), fileLine("B", "", "IS", "1",
		    " 10-27-96  2:30a")})}, {{"n/P/A", 1, 846376220}, {"n/P/B", 1, 846379820}}, {"-t", "-d", "N={n}"}, "",
		    summary("2 files checked: 2 whole, 0 missing, 0 wrong size, 0 wrong date, 0 not a regular file; 2"), 0,
		    "CET-1CEST,M3.5.0,M10.5.0/3"},
		{"a listing that cannot be read", {home}, {{planPath, 12480}, note}, {"-dN={n}", "-dO={o}", "/nonexistent"}, "",
		    "Unable to open /nonexistent\n" + whole, 2},
		{"an incomplete record", {listing("S\\V:P", {fileLine("A", "", "IS", "1"), fileLine("B", "", "", "1"),
		    fileLine("C", "", "IS", "1")})}, {{"n/P/A", 1}}, nOnly, "",
		    "ndircheck: L1: S/V:P\\B (<FileOwner>): incomplete record: the rest of the listing is skipped\n" +
		    summary("1 files checked: 1 whole, 0 missing, 0 wrong size, 0 not a regular file; 1") +
		    "ndircheck: 1 files not copied by the script: 0 left out, 1 incomplete, 0 program files\n", 1},
	};
	for (const auto &c : cases) {
		ScopedZone zone(c.zone);
		Scratch s;
		make(s, c.tree);
		std::vector<std::string> options = c.options;
		for (auto &o : options)
			o = replaced(replaced(o, "{n}", s.dir + "/n"), "{o}", s.dir + "/o");
		if (!c.redo.empty())
			options.insert(options.begin(), {"-s", s.dir + "/REDO.BAT"});
		setenv("LC_ALL", c.locale, 1);
		Outcome r = runOn(NDIRCHECK, options, c.listings);
		unsetenv("LC_ALL");
		EXPECT_EQ(r.status, c.status) << c.name;
		EXPECT_EQ(r.out, c.out) << c.name;
		EXPECT_EQ(r.err, replaced(c.err, "{o}", s.dir + "/o")) << c.name;
		EXPECT_EQ(c.redo.empty() ? "" : slurp(s.dir + "/REDO.BAT"), c.redo) << c.name;
	}
}

/*
 * The example migration, the copy done as the script's lines say (the
 * interpreter test runs the script itself), then the changes that the
 * manual page tells of: its examples are what the program prints.
 */
TEST(Ndircheck, ChecksTheExampleMigrationAsItsManualPageShows)
{
	ScopedZone utc("UTC0");
	Scratch s;

	copyAsTheScript(s, std::vector<std::string>(std::begin(EXAMPLE_LISTINGS), std::end(EXAMPLE_LISTINGS)));
	changeTheCopy(s.dir + "/n", s.dir + "/o");

	std::vector<Example> examples = manualExamples(s);
	EXPECT_EQ(examples.size(), 3u);
	for (const auto &e : examples) {
		Outcome r = run(e.argv);
		EXPECT_EQ(r.out + r.err, e.output) << e.argv[1];
	}
}

TEST(Ndircheck, RefusesAWrongCommandLine)
{
	const std::string usage = "usage: ndircheck [-t] [-C CODEPAGE] [-d LETTER=DIR]... [-s FILE] listing...\n";
	const std::string l = EXAMPLES "/oldserv-sys.lst", ql = SH(EXAMPLES "/oldserv-sys.lst");
	struct {
		const char *name;
		std::string command, err;
	} cases[] = {
		{"no listing", SH(NDIRCHECK), "ndircheck: no listing named\n" + usage},
		{"only options", SH(NDIRCHECK) " -d O=/tmp", "ndircheck: no listing named\n" + usage},
		{"unknown option", SH(NDIRCHECK) " -x " + ql, "ndircheck: unknown option -x\n" + usage},
		{"unknown long option", SH(NDIRCHECK) " --times " + ql, "ndircheck: unknown option --times\n" + usage},
		{"-d without argument", SH(NDIRCHECK) " " + ql + " -d", "ndircheck: -d needs an argument\n" + usage},
		{"-d without letter", SH(NDIRCHECK) " -d /tmp " + ql, "ndircheck: -d /tmp: not LETTER=DIR\n" + usage},
		{"-d without directory", SH(NDIRCHECK) " -d O= " + ql, "ndircheck: -d O=: not LETTER=DIR\n" + usage},
		{"-d twice for a drive", SH(NDIRCHECK) " -d O=/tmp -d o=/tmp " + ql,
		    "ndircheck: -d O is given twice\n" + usage},
		{"-t without -d", SH(NDIRCHECK) " -t " + ql, "ndircheck: -t needs -d: times are checked only in a check\n" +
		    usage},
		{"an unknown code page", SH(NDIRCHECK) " -C 9999 " + ql, "ndircheck: -C 9999: a code page that iconv does not know\n" +
		    usage},
		{"-s without -d", SH(NDIRCHECK) " -s /tmp/x " + ql, "ndircheck: -s needs -d: the script copies again what a check "
		    "finds\n" + usage},
		{"a drive no file is copied to", SH(NDIRCHECK) " -d N=/tmp -d q=/tmp " + ql, "ndircheck: -d Q: the listings copy no "
		    "file to Q: (they copy to N:)\n" + usage},
		{"a script that cannot be written", SH(NDIRCHECK) " -d N=/tmp -s /nonexistent/x " + ql,
		    "ndircheck: /nonexistent/x: No such file or directory\n"},
		{"a mapped directory that is not there", SH(NDIRCHECK) " -d N=/tmp -d O=/nonexistent " + ql,
		    "ndircheck: /nonexistent: No such file or directory\n"},
		{"a mapped directory that is a file", SH(NDIRCHECK) " -d O=" + ql + " " + ql,
		    "ndircheck: " + l + ": Not a directory\n"},
	};
	for (const auto &c : cases) {
		Outcome r = run({"/bin/sh", "-c", c.command});
		EXPECT_EQ(r.status, 2) << c.name;
		EXPECT_EQ(r.out, "") << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

TEST(Ndircheck, FailsWhenItCannotWriteOrRead)
{
	expectFailures({
		{"plan to a full disk", SH(NDIRCHECK) " " SH(EXAMPLES "/oldserv-users.lst") " > /dev/full", 1,
		    "ndircheck: error writing standard output\n"},
		{"read error", SH(NDIRCHECK) " /proc/self/mem " SH(EXAMPLES "/oldserv-users.lst"), 2,
		    "input in flex scanner failed\n"},
	});
}

TEST(Ndircheck, PrintsItsHelpAndVersion)
{
	Outcome help = run({NDIRCHECK, "--help"}), h = run({NDIRCHECK, "-h", "-d"});
	Outcome version = run({NDIRCHECK, "--version"});
	EXPECT_EQ(help.status, 0);
	EXPECT_EQ(help.out.rfind("usage: ndircheck [-t] [-C CODEPAGE] [-d LETTER=DIR]... [-s FILE] listing...\n", 0), 0u);
	EXPECT_NE(help.out.find("ndircheck(1)"), std::string::npos);
	EXPECT_EQ(h.out, help.out);
	EXPECT_EQ(version.out, "ndircheck (ndirtools) " VERSION "\n");
	EXPECT_EQ(version.status, 0);
}

} // namespace
