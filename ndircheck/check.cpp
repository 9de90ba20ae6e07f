// SPDX-License-Identifier: ISC
/*
 * The check of the copy.  The copies are sorted by target, so that the
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

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <numeric>

#include "ndircheck.h"

/* A name's byte as DOS compares it. */
static unsigned char
folded(char c)
{
	return static_cast<unsigned char>(NdirDosFold(c));
}

/* How a name compares with a part of a target in DOS form: <0, 0 or >0. */
static int
compareFolded(const char *name, std::string_view part)
{
	size_t i = 0;

	for (; i < part.size() && name[i] != '\0'; i++)
		if (folded(name[i]) != static_cast<unsigned char>(part[i]))
			return folded(name[i]) < static_cast<unsigned char>(part[i]) ? -1 : 1;
	if (name[i] != '\0')
		return 1;
	return i < part.size() ? -1 : 0;
}

/* The names of one directory, found as DOS finds them. */
class DirIndex {
public:
	/* Reads the directory; false, with errno set, when that fails. */
	bool Read(DIR *dir);
	/*
	 * The name that DOS takes for a part in DOS form, or null.  Of names
	 * that differ in case alone, the first in byte order.
	 */
	const char *Find(std::string_view part) const;

private:
	std::string names;		/* each followed by a NUL */
	std::vector<uint32_t> order;	/* where each begins, in DOS order */
};

bool
DirIndex::Read(DIR *dir)
{
	struct dirent *e;

	/* One thread reads one directory at a time: readdir_r is not needed. */
	// cppcheck-suppress readdirCalled
	for (errno = 0; (e = readdir(dir)) != nullptr; errno = 0) {
		if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
			continue;
		order.push_back(static_cast<uint32_t>(names.size()));
		names.append(e->d_name).push_back('\0');
	}
	if (errno != 0)
		return false;
	const char *base = names.c_str();
	std::sort(order.begin(), order.end(), [base](uint32_t a, uint32_t b) {
		const char *x = base + a, *y = base + b;
		for (; *x != '\0' && folded(*x) == folded(*y); x++, y++)
			continue;
		if (folded(*x) != folded(*y))
			return folded(*x) < folded(*y);
		return strcmp(base + a, base + b) < 0;
	});
	return true;
}

const char *
DirIndex::Find(std::string_view part) const
{
	const char *base = names.c_str();
	auto at = std::lower_bound(order.begin(), order.end(), part,
	    [base](uint32_t name, std::string_view p) { return compareFolded(base + name, p) < 0; });

	if (at == order.end() || compareFolded(base + *at, part) != 0)
		return nullptr;
	return base + *at;
}

/*
 * The progress line on a terminal: rewritten in place at most ten times
 * a second once the check has run a second, and erased at the end.
 */
class Progress {
public:
	explicit Progress(size_t total) : total(total), tty(isatty(2)), start(now()) {}

	/* Every 64th file: the clock is not read for each. */
	void Tick(size_t done)
	{
		if (tty && done % 64 == 0)
			show(done);
	}
	void Erase();

private:
	static double now();
	void show(size_t done);

	size_t total;
	bool tty;
	double start, last = 0;
	size_t width = 0;
};

double
Progress::now()
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void
Progress::show(size_t done)
{
	double t = now();
	char line[160];

	if (t - start < 1 || t - last < 0.1)
		return;
	last = t;
	int n = snprintf(line, sizeof line, "\rndircheck: %zu of %zu files checked (%zu %%), %.0f a second",
	    done, total, total ? 100 * done / total : 100, static_cast<double>(done) / (t - start));
	/* A shorter line leaves the end of the longer one before it. */
	std::string text(line, std::min(static_cast<size_t>(n), sizeof line - 1));
	if (text.size() < width)
		text.append(width - text.size(), ' ');
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
	State state;
	DIR *dir;
	std::string path;	/* for messages */
	DirIndex index;
};

class Checker {
public:
	Checker(NdirMigration &m, const std::map<std::string, NdirDrive> &drives, bool times,
	    std::ostream &out) : m(m), drives(drives), times(times), out(out) {}

	void Run();
	int Summary();

private:
	const Level &enter(std::string_view dir);
	void push(std::string_view part);
	void open(Level &l, int at, const char *name);
	void pop();
	void check(const Level &at, const NdirCopy &c);
	void problem(const char *kind, const NdirCopy &c, const std::string &listed = "",
	    const std::string &found = "");
	State unreadable(const std::string &path, int error);

	NdirMigration &m;
	const std::map<std::string, NdirDrive> &drives;
	bool times;
	std::ostream &out;
	Progress *progress = nullptr;
	std::vector<Level> levels;

	uint64_t checked = 0, whole = 0, missing = 0, wrongSize = 0, wrongDate = 0, wrongType = 0;
	uint64_t notRead = 0;
	NdirBytes confirmed = 0;
	/* Files not checked, by drive. */
	std::map<std::string, uint64_t> unmapped;
};

/* Names a directory that cannot be read: its files are not checked. */
State
Checker::unreadable(const std::string &path, int error)
{
	std::string line = "ndircheck: " + path + ": " + strerror(error) + "\n";

	progress->Erase();
	std::cerr << line << std::flush;
	return UNREADABLE;
}

/* Opens and reads a directory of the targets, `name' relative to `at'. */
void
Checker::open(Level &l, int at, const char *name)
{
	int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	int error = errno;

	if (fd < 0) {
		/* No directory there, or a file that the copy could not pass. */
		l.state = error == ENOENT || error == ENOTDIR ? ABSENT : unreadable(l.path, error);
		return;
	}
	l.dir = fdopendir(fd);
	if (l.dir == nullptr) {
		error = errno;
		close(fd);
	} else if (!l.index.Read(l.dir))
		error = errno;
	else {
		l.state = FOUND;
		return;
	}
	l.state = unreadable(l.path, error);
}

/* One level deeper: a drive first, then each directory in it. */
void
Checker::push(std::string_view part)
{
	Level l = {std::string(part), ABSENT, nullptr, "", {}};

	if (levels.empty()) {
		auto drive = drives.find(l.part);
		if (drive == drives.end())
			l.state = UNMAPPED;
		else {
			l.path = drive->second.dir;
			open(l, drive->second.fd, ".");
		}
	} else if (levels.back().state != FOUND)
		l.state = levels.back().state;
	else {
		const Level &parent = levels.back();
		const char *name = parent.index.Find(part);
		if (name != nullptr) {
			l.path = parent.path + "/" + name;
			open(l, dirfd(parent.dir), name);
		}
	}
	levels.push_back(std::move(l));
}

void
Checker::pop()
{
	if (levels.back().dir != nullptr)
		closedir(levels.back().dir);
	levels.pop_back();
}

/* The directory of a target in DOS form, reached from the levels in common. */
const Level &
Checker::enter(std::string_view dir)
{
	std::vector<std::string_view> parts;
	size_t depth = 0;

	for (size_t from = 0, to;; from = to + 1) {
		to = dir.find('\\', from);
		parts.push_back(dir.substr(from, to - from));
		if (to == std::string_view::npos)
			break;
	}
	while (depth < levels.size() && depth < parts.size() && levels[depth].part == parts[depth])
		depth++;
	while (levels.size() > depth)
		pop();
	for (; depth < parts.size(); depth++)
		push(parts[depth]);
	return levels.back();
}

void
Checker::problem(const char *kind, const NdirCopy &c, const std::string &listed,
    const std::string &found)
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
	if (S_ISDIR(mode))
		return "directory";
	if (S_ISFIFO(mode))
		return "fifo";
	if (S_ISSOCK(mode))
		return "socket";
	if (S_ISCHR(mode) || S_ISBLK(mode))
		return "device";
	return "other";
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
Checker::check(const Level &at, const NdirCopy &c)
{
	const char *name = nullptr;
	struct stat st;

	if (at.state == UNMAPPED) {
		unmapped[levels.front().part]++;
		return;
	}
	if (at.state == UNREADABLE) {
		notRead++;
		return;
	}
	if (at.state == FOUND)
		name = at.index.Find(m.Leaf(c));
	if (name != nullptr && fstatat(dirfd(at.dir), name, &st, 0) != 0) {
		int error = errno;
		if (error != ENOENT && error != ENOTDIR && error != ELOOP) {
			unreadable(at.path + "/" + name, error);
			notRead++;
			return;
		}
		name = nullptr;		/* a link to nothing */
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
	Progress shown(m.copies.size());

	progress = &shown;
	for (size_t i = 0; i < m.copies.size(); i++) {
		const NdirCopy &c = m.copies[i];
		if (i == 0 || c.dir != m.copies[i - 1].dir)
			enter(m.Dir(c));
		check(levels.back(), c);
		shown.Tick(i + 1);
	}
	while (!levels.empty())
		pop();
	shown.Erase();
	progress = nullptr;
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
	s += std::to_string(wrongType) + " not a regular file; " + NdirDecimal(confirmed) +
	    " bytes confirmed\n";
	std::cerr << s << std::flush;

	if (notRead > 0)
		return 2;
	return whole < checked ? 1 : 0;
}

/*
 * The separator sorts before every other byte, so that whatever lies in a
 * directory follows it at once.
 */
static bool
partsBefore(const std::string &a, const std::string &b)
{
	auto weight = [](char c) { return c == '\\' ? 0 : static_cast<unsigned char>(c) + 1; };

	return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
	    [&weight](char x, char y) { return weight(x) < weight(y); });
}

void
NdirMigration::SortByTarget()
{
	std::vector<uint32_t> byKey(dirs.size()), rank(dirs.size());

	std::vector<uint64_t>().swap(table);	/* it holds the places before the sort */
	std::iota(byKey.begin(), byKey.end(), 0);
	std::sort(byKey.begin(), byKey.end(),
	    [this](uint32_t a, uint32_t b) { return partsBefore(*dirs[a], *dirs[b]); });
	for (uint32_t i = 0; i < byKey.size(); i++)
		rank[byKey[i]] = i;
	std::sort(copies.begin(), copies.end(), [this, &rank](const NdirCopy &a, const NdirCopy &b) {
		if (rank[a.dir] != rank[b.dir])
			return rank[a.dir] < rank[b.dir];
		return Leaf(a) < Leaf(b);
	});
}

int
NdirCheckCopy(NdirMigration &m, const std::map<std::string, NdirDrive> &drives, bool times,
    std::ostream &out)
{
	Checker checker(m, drives, times, out);

	m.SortByTarget();
	checker.Run();
	return checker.Summary();
}
