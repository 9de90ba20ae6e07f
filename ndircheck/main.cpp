// SPDX-License-Identifier: ISC
/*
 * ndircheck: size the copy that torbek00's script makes of saved NDIR
 * listings before it runs (the plan), and prove it after (the check).
 * The check walks the new tree depth first, in the order of the sorted
 * targets: each directory on the way is opened once, relative to its
 * parent, and read once into an index of its names as DOS compares them.
 */
#include <sys/stat.h>

#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <memory>
#include <numeric>
#include <set>
#include <string_view>

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

/* A new drive ("O:" in the map) and where it is mounted. */
struct Drive {
	std::string dir;
	int fd;
};

struct Options {
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
	/* The option that getopt found wrong, as it was given. */
	auto bad = [argv] {
		return optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
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
			usageError(bad() + " needs an argument");
		default:
			usageError("unknown option " + bad());
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

/* What stands at a target directory: ABSENT, its files are missing; UNMAPPED, UNREADABLE: not checked. */
enum State { FOUND, ABSENT, UNMAPPED, UNREADABLE };

/* A directory on the path being checked, with its names by their DOS form. */
struct Level {
	std::string part;	/* in DOS form */
	State state = ABSENT;
	std::unique_ptr<DIR, int (*)(DIR *)> dir{nullptr, closedir};	/* open while on the path */
	std::string path;	/* for messages */
	std::vector<std::pair<std::string, std::string>> names;	/* DOS form, name: sorted */

	/* The name DOS finds for a part, or null: of names differing in case alone, the first in byte order. */
	const char *find(std::string_view part) const
	{
		auto at = std::lower_bound(names.begin(), names.end(), part,
		    [](const auto &n, std::string_view p) { return n.first < p; });
		return at != names.end() && at->first == part ? at->second.c_str() : nullptr;
	}
};

/* What a check finds of a file, and how a problem line names it. */
enum Finding { WHOLE, MISSING, WRONG_SIZE, WRONG_DATE, WRONG_TYPE, FINDINGS };
static const char *const KIND[] = {"", "missing", "size", "date", "type"};

class Checker {
public:
	Checker(const Migration &m, const std::map<std::string, Drive> &drives, bool times,
	    std::ostream &out, std::ostream *redo)
	    : m(m), drives(drives), times(times), out(out), redo(redo), tty(isatty(2)) {}

	int Run();	/* the check and its summary; returns the status */

private:
	void enter(const std::string &dir);
	void push(std::string_view part);
	void check(const Level &at, const Copy &c);
	void progress(size_t done);

	/* Names a directory that cannot be read: its files are not checked. */
	State unreadable(const std::string &path, int error)
	{
		progress(0);
		std::cerr << "ndircheck: " + path + ": " + strerror(error) + "\n" << std::flush;
		return UNREADABLE;
	}

	static double now()
	{
		return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
	}

	const Migration &m;
	const std::map<std::string, Drive> &drives;
	bool times;
	std::ostream &out, *redo;
	NdirScript script;	/* of the redo */
	std::vector<Level> levels;

	uint64_t found[FINDINGS] = {}, notRead = 0;
	Bytes confirmed = 0;
	std::map<std::string, uint64_t> unmapped;	/* files not checked, by drive */
	bool tty;
	size_t width = 0;
	double start = now(), last = 0;
};

/* The progress line on a terminal: at most ten a second after the first; done 0 erases it. */
void
Checker::progress(size_t done)
{
	std::string text;

	if (!tty || (done % 64 != 0 && done != 0))
		return;
	double t = now();
	if (done == 0 ? width == 0 : t - start < 1 || t - last < 0.1)
		return;
	if (done != 0)
		last = t, text = "ndircheck: " + std::to_string(done) + " of " + std::to_string(m.copies.size()) +
		    " files checked (" + std::to_string(100 * done / m.copies.size()) + " %), " +
		    std::to_string(std::lround(static_cast<double>(done) / (t - start))) + " a second";
	/* A shorter line leaves the end of the longer one before it. */
	std::cerr << '\r' << text << std::string(width > text.size() ? width - text.size() : 0, ' ');
	std::cerr << (done == 0 ? "\r" : "") << std::flush;
	width = done == 0 ? 0 : std::max(width, text.size());
}

/* One level deeper: a drive, or a directory opened relative to its parent; missing, its files are too. */
void
Checker::push(std::string_view part)
{
	Level &l = levels.emplace_back();
	int at = -1;
	std::string name = ".";

	l.part = part;
	if (levels.size() == 1) {
		auto drive = drives.find(l.part);
		if (drive == drives.end()) {
			l.state = UNMAPPED;
			return;
		}
		const Drive &d = drive->second;
		l.path = d.dir, at = d.fd;
	} else {
		const Level &parent = levels[levels.size() - 2];
		const char *named = parent.find(l.part);
		l.state = parent.state == FOUND ? ABSENT : parent.state;
		if (named == nullptr)
			return;
		name = named, l.path = parent.path + "/" + name, at = dirfd(parent.dir.get());
	}
	int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0) {
		l.state = errno == ENOENT || errno == ENOTDIR ? ABSENT : unreadable(l.path, errno);
		return;
	}
	l.dir.reset(fdopendir(fd));
	if (l.dir == nullptr) {
		l.state = unreadable(l.path, errno);
		close(fd);
		return;
	}
	/* Read in the page where it is UTF-8 of its letters (as the drives show it), else as DOS wrote it. */
	struct dirent *e;
	// cppcheck-suppress readdirCalled
	for (errno = 0; (e = readdir(l.dir.get())) != nullptr; errno = 0) {
		std::string key = e->d_name;
		if (std::any_of(key.begin(), key.end(), [](char c) { return c & 0x80; }))
			m.page.FromTree(e->d_name, key) || (key = e->d_name, true);
		for (char &c : key)
			c = m.page.fold(c);
		l.names.emplace_back(std::move(key), e->d_name);
	}
	l.state = errno == 0 ? FOUND : unreadable(l.path, errno);
	std::sort(l.names.begin(), l.names.end());
}

/* The directory of a target in DOS form, reached from the levels in common. */
void
Checker::enter(const std::string &dir)
{
	std::vector<std::string_view> parts;
	size_t depth = 0;

	for (size_t from = 0, to = 0; to != std::string::npos; from = to + 1) {
		to = dir.find('\\', from);
		parts.push_back(std::string_view(dir).substr(from, to - from));
	}
	while (depth < levels.size() && depth < parts.size() && levels[depth].part == parts[depth])
		depth++;
	levels.resize(depth);
	for (; depth < parts.size(); depth++)
		push(parts[depth]);
}

/* What stands where a file was copied, for a type line. */
static const char *
kind(mode_t mode)
{
	return S_ISDIR(mode) ? "directory" : S_ISFIFO(mode) ? "fifo" : S_ISSOCK(mode) ? "socket" :
	    S_ISCHR(mode) || S_ISBLK(mode) ? "device" : "other";
}

/* A time in the local zone, as the listings' are read. */
static std::string
local(time_t t, const char *format)
{
	struct tm tm;
	char text[64];

	if (localtime_r(&t, &tm) == nullptr || strftime(text, sizeof text, format, &tm) == 0)
		return std::to_string(t);
	return text;
}

/*
 * The first and last instants of a listed time (0 where it was not read): a year before 80 is
 * 20xx, where DOS's dates end, and the hour that the change to winter time repeats comes twice.
 */
static std::pair<time_t, time_t>
listedAt(time_t listed)
{
	struct tm tm;
	time_t first = 0, last = 0;

	if (listed == 0 || localtime_r(&listed, &tm) == nullptr)
		return {0, 0};
	tm.tm_year += tm.tm_year < 80 ? 100 : 0;
	for (int dst : {1, 0, -1}) {
		struct tm t = tm;
		t.tm_isdst = dst;
		time_t at = mktime(&t);
		/* Summer or winter time where the clock shows it; else where mktime puts it. */
		if (at == -1 || (dst >= 0 && (t.tm_hour != tm.tm_hour || t.tm_min != tm.tm_min)) ||
		    (dst < 0 && first != 0))
			continue;
		first = first == 0 || at < first ? at : first;
		last = std::max(last, at);
	}
	return {first, last};
}

/* In the listed minute, or at its end: a copy keeping DOS's two-second times may round up. */
static bool
inMinute(time_t listed, time_t found)
{
	auto [first, last] = listedAt(listed);

	return first == 0 || (found >= first && found - first <= 60) || (found >= last && found - last <= 60);
}

void
Checker::check(const Level &at, const Copy &c)
{
	const char *name = at.find(c.leaf);
	std::string listed, seen;
	struct stat st;
	Finding f = WHOLE;

	if (at.state == UNMAPPED || at.state == UNREADABLE) {
		(at.state == UNMAPPED ? unmapped[levels.front().part] : notRead)++;
		return;
	}
	if (name != nullptr && fstatat(dirfd(at.dir.get()), name, &st, 0) != 0) {
		if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
			unreadable(at.path + "/" + name, errno);
			notRead++;
			return;
		}
		name = nullptr;		/* a link to nothing, or to itself */
	}
	if (name == nullptr)
		f = MISSING;
	else if (!S_ISREG(st.st_mode))
		f = WRONG_TYPE, listed = "file", seen = kind(st.st_mode);
	else if (st.st_size != c.size)
		f = WRONG_SIZE, listed = std::to_string(c.size), seen = std::to_string(st.st_size);
	else if (times && !inMinute(c.time, st.st_mtime))
		f = WRONG_DATE, listed = local(listedAt(c.time).first, "%Y-%m-%d %H:%M"),
		seen = local(st.st_mtime, "%Y-%m-%d %H:%M:%S");
	found[f]++;
	if (f == WHOLE) {
		confirmed += c.size;
		return;
	}
	NdirRecord r = m.Record(c);
	std::string target, source;
	NdirTarget(r, [&target](const char *piece) { target += piece; });
	NdirSourceName(r, [&source](const char *piece) { source += piece; });
	out << KIND[f] << '\t' << m.page.Shown(target) << '\t' << m.page.Shown(source);
	if (!listed.empty())
		out << '\t' << listed << '\t' << seen;
	out << '\n';
	if (redo) {
		NdirOutcome o = {};
		o.r = r, o.fate = NDIR_COPIED;
		o.Compose(m.page.fold);
		const auto &lines = script.Lines(o);
		redo->write(lines.buf, static_cast<std::streamsize>(lines.n));
	}
}

int
Checker::Run()
{
	for (size_t i = 0; i < m.copies.size(); i++) {
		const Copy &c = m.copies[i];
		if (i == 0 || c.dir != m.copies[i - 1].dir)
			enter(*m.dirs[c.dir]);
		check(levels.back(), c);
		progress(i + 1);
	}
	progress(0);

	std::string s;
	uint64_t checked = std::accumulate(std::begin(found), std::end(found), uint64_t(0));
	for (const auto &[drive, files] : unmapped)
		s += "ndircheck: " + drive + " is not mapped (no -d " + drive.substr(0, 1) + "=DIR): " +
		    std::to_string(files) + " files not checked\n";
	if (notRead > 0)
		s += "ndircheck: " + std::to_string(notRead) + " files not checked: not readable\n";
	s += "ndircheck: " + std::to_string(checked) + " files checked: " + std::to_string(found[WHOLE]) +
	    " whole, " + std::to_string(found[MISSING]) + " missing, " + std::to_string(found[WRONG_SIZE]) +
	    " wrong size, " + (times ? std::to_string(found[WRONG_DATE]) + " wrong date, " : "") +
	    std::to_string(found[WRONG_TYPE]) + " not a regular file; " + decimal(confirmed) +
	    " bytes confirmed\n";
	const uint64_t *left = m.notCopied;
	if (uint64_t n = left[NDIR_REFUSED] + left[NDIR_INCOMPLETE] + left[NDIR_ECHOED])
		s += "ndircheck: " + std::to_string(n) + " files not copied by the script: " +
		    std::to_string(left[NDIR_REFUSED]) + " left out, " + std::to_string(left[NDIR_INCOMPLETE]) +
		    " incomplete, " + std::to_string(left[NDIR_ECHOED]) + " program files\n";
	std::cerr << s << std::flush;
	/* A listing that an incomplete record ends is not read to its end. */
	return notRead > 0 ? 2 : found[WHOLE] < checked || left[NDIR_INCOMPLETE] > 0 ? 1 : 0;
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
	/* Every mapped directory is opened before any listing is read. */
	for (auto &[drive, d] : o.drives)
		if ((d.fd = open(d.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
			fail(d.dir);
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
		status = std::max(status, Checker(m, o.drives, o.times, std::cout, o.script ? &redo : nullptr).Run());
	}
	if (o.script && (redo.close(), !redo))
		fail(o.script);
	/* A listing that cannot be read leaves the plan or the check short. */
	if (NdirProgramUnopened() > 0)
		status = 2;
	return std::max(status, NdirProgramEnd());
}
