// SPDX-License-Identifier: ISC
/*
 * The check of the copy.  The copies come sorted by target, so that the
 * new tree is walked depth first: each directory on the way is opened
 * once, relative to its parent, and read once into an index of its names
 * as DOS compares them; every file is looked up in its directory's index
 * and stat'ed relative to it.  Only the directories on the path being
 * checked are open and indexed at any time.
 */
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <string_view>
#include <unordered_map>

#include "ndircheck.h"

/*
 * The names of one directory by their DOS form: of names that differ in
 * case alone, the first in byte order is the one DOS finds.  False, with
 * errno set, when the directory cannot be read.
 */
typedef std::unordered_map<std::string, std::string> DirIndex;

static bool
readIndex(DIR *dir, DirIndex &index)
{
	struct dirent *e;

	/* One thread reads one directory at a time: readdir_r is not needed. */
	// cppcheck-suppress readdirCalled
	for (errno = 0; (e = readdir(dir)) != nullptr; errno = 0) {
		std::string name = e->d_name, key = name;
		for (char &c : key)
			c = NdirDosFold(c);
		auto [at, added] = index.try_emplace(key, name);
		if (!added && name < at->second)
			at->second = name;
	}
	return errno == 0;
}

/* The progress line on a terminal: rewritten at most ten times a second once the check has run a second. */
class Progress {
public:
	explicit Progress(size_t total) : total(total), tty(isatty(2)), start(now()) {}
	~Progress() { Erase(); }

	void Tick(size_t done);
	void Erase();

private:
	static double now()
	{
		struct timespec t;
		clock_gettime(CLOCK_MONOTONIC, &t);
		return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
	}

	size_t total, width = 0;
	bool tty;
	double start, last = 0;
};

void
Progress::Tick(size_t done)
{
	/* Every 64th file: the clock is not read for each. */
	if (!tty || done % 64 != 0)
		return;
	double t = now();
	if (t - start < 1 || t - last < 0.1)
		return;
	last = t;
	std::string text = "\rndircheck: " + std::to_string(done) + " of " + std::to_string(total) +
	    " files checked (" + std::to_string(100 * done / total) + " %), " +
	    std::to_string(std::lround(static_cast<double>(done) / (t - start))) + " a second";
	/* A shorter line leaves the end of the longer one before it. */
	text.resize(std::max(text.size(), width), ' ');
	width = text.size();
	std::cerr << text << std::flush;
}

void
Progress::Erase()
{
	if (width > 0)
		std::cerr << '\r' << std::string(width, ' ') << '\r' << std::flush;
	width = 0;
}

/* What stands at a directory of the targets. */
enum State {
	FOUND,
	ABSENT,		/* its files are missing */
	UNMAPPED,	/* on a drive that no -d maps: not checked */
	UNREADABLE,	/* named on standard error: not checked */
};

/* A directory on the path being checked. */
struct Level {
	std::string part;	/* in DOS form */
	State state = ABSENT;
	DIR *dir = nullptr;
	std::string path;	/* for messages */
	DirIndex index;
};

class Checker {
public:
	Checker(const Migration &m, const std::map<std::string, Drive> &drives, bool times,
	    std::ostream &out) : m(m), drives(drives), times(times), out(out), progress(m.copies.size()) {}

	void Run();
	int Summary();

private:
	void enter(const std::string &dir);
	void push(std::string_view part);
	void open(Level &l, int at, const char *name);
	void pop();
	void check(const Level &at, const Copy &c);
	void problem(const char *kind, const Copy &c, const std::string &listed = "",
	    const std::string &found = "");
	State unreadable(const std::string &path, int error);

	const Migration &m;
	const std::map<std::string, Drive> &drives;
	bool times;
	std::ostream &out;
	Progress progress;
	std::vector<Level> levels;

	uint64_t checked = 0, whole = 0, missing = 0, wrongSize = 0, wrongDate = 0, wrongType = 0;
	uint64_t notRead = 0;
	Bytes confirmed = 0;
	std::map<std::string, uint64_t> unmapped;	/* files not checked, by drive */
};

/* Names a directory that cannot be read: its files are not checked. */
State
Checker::unreadable(const std::string &path, int error)
{
	progress.Erase();
	std::cerr << "ndircheck: " + path + ": " + strerror(error) + "\n" << std::flush;
	return UNREADABLE;
}

/* Opens and reads a directory of the targets, `name' relative to `at'. */
void
Checker::open(Level &l, int at, const char *name)
{
	int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

	if (fd < 0) {
		/* No directory there, or a file that the copy could not pass. */
		l.state = errno == ENOENT || errno == ENOTDIR ? ABSENT : unreadable(l.path, errno);
		return;
	}
	if ((l.dir = fdopendir(fd)) == nullptr) {
		int error = errno;
		close(fd);
		errno = error;
	}
	l.state = l.dir && readIndex(l.dir, l.index) ? FOUND : unreadable(l.path, errno);
}

/* One level deeper: a drive first, then each directory in it. */
void
Checker::push(std::string_view part)
{
	Level &l = levels.emplace_back();
	l.part = part;
	if (levels.size() == 1) {
		auto drive = drives.find(l.part);
		l.state = drive == drives.end() ? UNMAPPED : ABSENT;
		if (drive != drives.end()) {
			l.path = drive->second.dir;
			open(l, drive->second.fd, ".");
		}
		return;
	}
	const Level &parent = levels[levels.size() - 2];
	auto name = parent.index.find(l.part);
	l.state = parent.state == FOUND ? ABSENT : parent.state;
	if (name != parent.index.end()) {
		l.path = parent.path + "/" + name->second;
		open(l, dirfd(parent.dir), name->second.c_str());
	}
}

void
Checker::pop()
{
	if (levels.back().dir != nullptr)
		closedir(levels.back().dir);
	levels.pop_back();
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
	while (levels.size() > depth)
		pop();
	for (; depth < parts.size(); depth++)
		push(parts[depth]);
}

void
Checker::problem(const char *kind, const Copy &c, const std::string &listed, const std::string &found)
{
	out << kind << '\t' << m.Target(c) << '\t' << m.Source(c);
	if (!listed.empty())
		out << '\t' << listed << '\t' << found;
	out << '\n';
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
 * Whether a modification time falls in the listed minute.  The minute's
 * last two seconds may round up to its end where a copy keeps DOS's
 * two-second times.
 */
static bool
inMinute(time_t listed, time_t found)
{
	return found >= listed && found - listed <= 60;
}

void
Checker::check(const Level &at, const Copy &c)
{
	auto found = at.index.find(c.leaf);
	const char *name = found != at.index.end() ? found->second.c_str() : nullptr;
	struct stat st;

	if (at.state == UNMAPPED || at.state == UNREADABLE) {
		if (at.state == UNMAPPED)
			unmapped[levels.front().part]++;
		else
			notRead++;
		return;
	}
	if (name != nullptr && fstatat(dirfd(at.dir), name, &st, 0) != 0) {
		if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
			unreadable(at.path + "/" + name, errno);
			notRead++;
			return;
		}
		name = nullptr;		/* a link to nothing, or to itself */
	}

	checked++;
	if (name == nullptr) {
		missing++;
		problem("missing", c);
	} else if (!S_ISREG(st.st_mode)) {
		wrongType++;
		problem("type", c, "file", kind(st.st_mode));
	} else if (st.st_size != c.size) {
		wrongSize++;
		problem("size", c, std::to_string(c.size), std::to_string(st.st_size));
	} else if (times && c.time != 0 && !inMinute(c.time, st.st_mtime)) {
		wrongDate++;
		problem("date", c, local(c.time, "%Y-%m-%d %H:%M"), local(st.st_mtime, "%Y-%m-%d %H:%M:%S"));
	} else {
		whole++;
		confirmed += c.size;
	}
}

void
Checker::Run()
{
	for (size_t i = 0; i < m.copies.size(); i++) {
		const Copy &c = m.copies[i];
		if (i == 0 || c.dir != m.copies[i - 1].dir)
			enter(m.dirs[c.dir]);
		check(levels.back(), c);
		progress.Tick(i + 1);
	}
	while (!levels.empty())
		pop();
	progress.Erase();
}

int
Checker::Summary()
{
	std::string s;

	for (const auto &[drive, files] : unmapped)
		s += "ndircheck: " + drive + " is not mapped (no -d " + drive.substr(0, 1) + "=DIR): " +
		    std::to_string(files) + " files not checked\n";
	if (notRead > 0)
		s += "ndircheck: " + std::to_string(notRead) + " files not checked: not readable\n";
	s += "ndircheck: " + std::to_string(checked) + " files checked: " + std::to_string(whole) +
	    " whole, " + std::to_string(missing) + " missing, " + std::to_string(wrongSize) +
	    " wrong size, ";
	if (times)
		s += std::to_string(wrongDate) + " wrong date, ";
	s += std::to_string(wrongType) + " not a regular file; " + decimal(confirmed) +
	    " bytes confirmed\n";
	std::cerr << s << std::flush;
	return notRead > 0 ? 2 : whole < checked ? 1 : 0;
}

int
CheckCopy(Migration &m, const std::map<std::string, Drive> &drives, bool times, std::ostream &out)
{
	Checker checker(m, drives, times, out);

	checker.Run();
	return checker.Summary();
}
