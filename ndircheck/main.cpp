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
#include <iostream>

#include "ndircheck.h"
#include "ndirprogram.h"

static const char NAME[] = "ndircheck";
static const char USAGE[] = "usage: ndircheck [-t] [-d LETTER=DIR]... listing...\n";
static const char HELP[] =
    "Sizes the copy that torbek00's script makes of the listings, or checks it.\n"
    "\n"
    "With no -d: the files and bytes copied to each owner's folder, drive root\n"
    "and drive, in total, and the files left out, as FILES, BYTES and TARGET.\n"
    "\n"
    "  -d LETTER=DIR  check the files copied to drive LETTER: in DIR, where the\n"
    "                 drive is mounted; once for each drive\n"
    "  -t             check that each file's time lies in its listed minute\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "A check prints a line for each file that is missing, of another size or\n"
    "time, or not a regular file, and a summary on standard error.\n"
    "Exit status: 0 all is well, 1 a file has a problem or a record is left out\n"
    "for its names, 2 a usage error or a directory that cannot be read.\n"
    "Details: ndircheck(1).\n";

/* What the command line asks for. */
struct Options {
	/* Drive ("O:") to directory; opened once every option is read. */
	std::map<std::string, Drive> drives;
	bool times = false;
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
		{"help", no_argument, nullptr, 'h'},
		{"version", no_argument, nullptr, 'V'},
		{nullptr, 0, nullptr, 0},
	};
	int c;

	opterr = 0;
	while ((c = getopt_long(argc, argv, ":d:th", longOptions, nullptr)) != -1) {
		switch (c) {
		case 'd':
			mapDrive(o, optarg);
			break;
		case 't':
			o.times = true;
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
	return optind;
}

/* Opens every mapped directory before any listing is read: status 2 for one that cannot be read. */
static void
openDrives(Options &o)
{
	for (auto &[drive, d] : o.drives) {
		d.fd = open(d.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		if (d.fd < 0) {
			std::cerr << NAME << ": " << d.dir << ": " << strerror(errno) << "\n" << std::flush;
			exit(2);
		}
	}
}

int
main(int argc, char *argv[])
{
	Options o;
	int first = parseOptions(argc, argv, o);
	NdirTargets targets;
	Migration m;

	openDrives(o);
	/* The plumbing reads argv[1] on: the listings, past the options. */
	int status = NdirProgramMain(NAME, [&](std::istream *in) { return new ndircheck(in, targets, m); },
	    false, argc - first + 1, argv + first - 1);
	m.Settle();
	if (o.drives.empty())
		PrintPlan(m, std::cout);
	else
		status = std::max(status, CheckCopy(m, o.drives, o.times, std::cout));
	return std::max(status, NdirProgramEnd());
}
