// SPDX-License-Identifier: ISC
/*
 * ndircheck: size the copy that torbek00's script makes of saved NDIR
 * listings before it runs, and prove it after.  With no -d it prints the
 * plan of the new drives; with -d it looks every copied file up at its
 * target in the directories where the new drives are mounted.
 */
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>

#include "ndircheck.h"
#include "ndirprogram.h"

static const char NAME[] = "ndircheck";
static const char USAGE[] =
    "usage: ndircheck [-t] [-C CODEPAGE] [-d LETTER=DIR]... [-s FILE] listing...\n";
static const char HELP[] =
    "Sizes the copy that torbek00's script makes of the listings, or checks it.\n"
    "\n"
    "With no -d: the files and bytes copied to each owner's folder, drive root\n"
    "and drive, in total, and the files left out, as FILES, BYTES and TARGET.\n"
    "\n"
    "  -C, --codepage=CODEPAGE  the listings' code page (default 437)\n"
    "  -d LETTER=DIR            check the files copied to drive LETTER: in DIR,\n"
    "                           where the drive is mounted; once for each drive\n"
    "  -s, --script=FILE        with -d: write a script that copies again the\n"
    "                           files that are not whole\n"
    "  -t                       check that each file's time lies in its listed minute\n"
    "  -h, --help               print this help and exit\n"
    "      --version            print the version and exit\n"
    "\n"
    "A check prints a line for each file that is missing, of another size or\n"
    "time, or not a regular file, and a summary on standard error.\n"
    "Exit status: 0 all is well (a check: every listing read, every file whole),\n"
    "1 a file has a problem or a record is left out or incomplete, 2 a usage\n"
    "error, or a listing or directory that cannot be read.\n"
    "Details: ndircheck(1).\n";

/* What the command line asks for. */
struct Options {
	/* Drive ("O:") to directory; opened once every option is read. */
	std::map<std::string, Drive> drives;
	bool times = false;
	std::string codepage = "437";
	const char *script = nullptr;
};

[[noreturn]] static void
usageError(const std::string &why)
{
	std::cerr << NAME << ": " << why << "\n" << USAGE << std::flush;
	exit(2);
}

/* -d LETTER=DIR, the letter in either case. */
static void
mapDrive(Options &o, const char *arg)
{
	char letter = static_cast<char>(arg[0] & ~0x20);

	if (letter < 'A' || letter > 'Z' || arg[1] != '=' || arg[2] == '\0')
		usageError(std::string("-d ") + arg + ": not LETTER=DIR");
	std::string drive = {letter, ':'};
	if (!o.drives.try_emplace(drive, Drive{arg + 2, -1}).second)
		usageError(std::string("-d ") + letter + " is given twice");
}

/* The option that getopt found wrong, as it was given. */
static std::string
badOption(const char *const argv[])
{
	if (optopt != 0)
		return std::string("-") + static_cast<char>(optopt);
	return argv[optind - 1];
}

/* Reads the options and returns the index of the first listing. */
static int
parseOptions(int argc, char *argv[], Options &o)
{
	static const struct option longOptions[] = {
		{"codepage", required_argument, nullptr, 'C'},
		{"script", required_argument, nullptr, 's'},
		{"help", no_argument, nullptr, 'h'},
		{"version", no_argument, nullptr, 'V'},
		{nullptr, 0, nullptr, 0},
	};
	int c;

	opterr = 0;
	while ((c = getopt_long(argc, argv, ":C:d:s:th", longOptions, nullptr)) != -1) {
		switch (c) {
		case 'd':
			mapDrive(o, optarg);
			break;
		case 't':
			o.times = true;
			break;
		case 'C':
			o.codepage = optarg;
			break;
		case 's':
			o.script = optarg;
			break;
		case 'h':
			std::cout << USAGE << HELP << std::flush;
			exit(0);
		case 'V':
			std::cout << NAME << " (ndirtools) " NDIR_VERSION "\n" << std::flush;
			exit(0);
		case ':':
			usageError(badOption(argv) + " needs an argument");
		default:
			usageError("unknown option " + badOption(argv));
		}
	}
	if (optind == argc)
		usageError("no listing named");
	if (o.times && o.drives.empty())
		usageError("-t needs -d: times are checked only in a check");
	if (o.script && o.drives.empty())
		usageError("-s needs -d: the script copies again what a check finds");
	return optind;
}

/* A file or directory that cannot be opened or written: status 2. */
[[noreturn]] static void
fail(const std::string &name)
{
	std::cerr << NAME << ": " << name << ": " << strerror(errno) << "\n" << std::flush;
	exit(2);
}

/* Opens every mapped directory before any listing is read. */
static void
openDrives(Options &o)
{
	for (auto &[drive, d] : o.drives)
		if ((d.fd = open(d.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
			fail(d.dir);
}

/* A drive of -d that no file is copied to is a usage error that names the drives used. */
static void
checkDrives(const Options &o, const Migration &m)
{
	std::set<std::string> used;
	std::string named;

	for (const std::string *dir : m.dirs)
		used.insert(dir->substr(0, dir->find('\\')));
	for (const std::string &d : used)
		named += (named.empty() ? "" : ", ") + d;
	for (const auto &[drive, d] : o.drives)
		if (used.count(drive) == 0)
			usageError("-d " + drive.substr(0, 1) + ": the listings copy no file to " + drive +
			    " (they copy to " + (named.empty() ? "no drive" : named) + ")");
}

int
main(int argc, char *argv[])
{
	Options o;
	int first = parseOptions(argc, argv, o);
	Migration m;
	NdirTargets targets(m.page.fold);
	std::ofstream redo;

	if (!m.page.Open(o.codepage))
		usageError("-C " + o.codepage + ": a code page that iconv does not know");
	openDrives(o);
	if (o.script && (redo.open(o.script), !redo))
		fail(o.script);
	/* The plumbing reads argv[1] on: the listings, past the options. */
	int status = NdirProgramMain(NAME, [&](std::istream *in) { return new ndircheck(in, targets, m); },
	    false, argc - first + 1, argv + first - 1);
	m.Settle();
	if (o.drives.empty())
		PrintPlan(m, std::cout);
	else {
		checkDrives(o, m);
		status = std::max(status, CheckCopy(m, o.drives, o.times, std::cout, o.script ? &redo : nullptr));
	}
	if (o.script && (redo.close(), !redo))
		fail(o.script);
	/* A listing that cannot be read leaves the plan or the check short. */
	if (NdirProgramUnopened() > 0)
		status = 2;
	return std::max(status, NdirProgramEnd());
}
