// SPDX-License-Identifier: ISC
/*
 * The script lines of torbek00.  For every file line: an ECHO line with
 * the file's old name, a MYMKDIR -p line for the target directory and an
 * NCOPY /V line, both logging to TORBEK00.LOG; program files (.EXE, .DLL)
 * get the ECHO line only.
 *
 * Every % that comes from the listing is written as %%, which every DOS
 * and Windows command interpreter reads as one %.  A file whose names the
 * script cannot carry safely is left out with a warning.
 */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ndirprogram.h"
#include "torbek00.h"

static const char HEADER[] = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";
/* Appends what a command prints to the log that the script starts afresh. */
static const char TO_LOG[] = " >> TORBEK00.LOG";

/* Owners whose files go to a personal directory of another name. */
static const struct {
	const char *owner;
	const char *directory;
} OWNER_MAP[] = {
	{"QXV0", "QXV1"},
	{"DRK", "DRK0"},
	{"TZF0", "TZF1"},
	{"STUD", "NUSTUD"},
	{"TRAIN", "KELVOMAR"},
};

/* System and shared accounts: their files go to the shared drive. */
static const char *const SHARED_OWNERS[] = {
	"SUPERVISO", "LANSTUD", "N/A", "IS", "MASTER", "SUPPORT", "ARCSERVE",
};

/*
 * The longest texts one record gives, each field at its longest and made
 * of nothing but %, which is written twice: the source name
 * SERVER/VOLUME:PATH\NAME, the target O:\OWNER\OLDSERV\PATH\NAME, and all
 * lines of the record with the header, whose fixed texts take less than
 * 128 characters.
 */
static const size_t SERVER_MAX = sizeof NdirVol::server - 1;
static const size_t VOLUME_MAX = sizeof NdirVol::volume - 1;
static const size_t PATH_TEXT_MAX = sizeof NdirVol::path - 1;
static const size_t OWNER_MAX = sizeof NdirFile::owner - 1;
static const size_t SOURCE_MAX = 2 * (SERVER_MAX + VOLUME_MAX + PATH_TEXT_MAX + NDIR_NAME_MAX) + 3;
static const size_t TARGET_MAX = 3 + 2 * OWNER_MAX + 9 + 2 * PATH_TEXT_MAX + 1 + 2 * NDIR_NAME_MAX;
static const size_t LINES_MAX = 128 + 2 * SOURCE_MAX + 2 * TARGET_MAX;

/*
 * A text under construction in a fixed buffer.  Text that would not fit
 * is cut, never written past the end; the sizes above leave room for the
 * longest record.
 */
template <size_t N> struct Text {
	char buf[N + 1];
	size_t n = 0;

	Text() { buf[0] = '\0'; }

	/* Appends at most `len' bytes of s: a line is built by whole copies. */
	Text &append(const char *s, size_t len)
	{
		len = std::min(len, N - n);
		memcpy(buf + n, s, len);
		n += len;
		buf[n] = '\0';
		return *this;
	}

	Text &operator<<(const char *s) { return append(s, strnlen(s, N - n)); }

	/* Appends a field of the listing, % doubled, or the placeholder. */
	Text &field(const char *s, const char *placeholder = "")
	{
		if (s == nullptr)
			return *this << placeholder;
		for (const char *pct; (pct = strchr(s, '%')) != nullptr; s = pct + 1) {
			append(s, static_cast<size_t>(pct - s));
			append("%%", n < N - 1 ? 2 : 1);
		}
		return *this << s;
	}

	/* Appends the first `len' bytes of s, each backslash as a slash. */
	Text &slashed(const char *s, size_t len)
	{
		char *p = buf + n;

		append(s, len);
		while ((p = static_cast<char *>(memchr(p, '\\', static_cast<size_t>(buf + n - p)))) != nullptr)
			*p++ = '/';
		return *this;
	}
};

/* The fields of the file record that the script is made of. */
struct Record {
	const char *server, *volume, *path, *name, *owner;
};

/*
 * The copy targets of the run, as 64-bit hashes: two different targets
 * are taken for one with odds of about n * n / 2^65 for n targets.  They
 * lie in an open-addressed table kept from 3/8 to 3/4 full: 11 to 22 bytes
 * a target, 32 while it grows, where a node-based set takes 40 and a
 * pointer to follow on every look-up.
 */
class TargetSet {
public:
	/* Adds a hash; false when it was there already. */
	bool insert(uint64_t hash);
	void clear()
	{
		std::vector<uint64_t>().swap(slots);
		used = 0;
	}

private:
	void grow();

	/* A power of two of slots; 0 marks a free one. */
	std::vector<uint64_t> slots;
	size_t used = 0;
};

bool
TargetSet::insert(uint64_t hash)
{
	/* 0 marks a free slot: the one hash in 2^64 that is 0 counts as 1. */
	if (hash == 0)
		hash = 1;
	if (4 * (used + 1) > 3 * slots.size())
		grow();
	size_t mask = slots.size() - 1;
	for (size_t i = hash & mask;; i = (i + 1) & mask) {
		if (slots[i] == hash)
			return false;
		if (slots[i] == 0) {
			slots[i] = hash;
			used++;
			return true;
		}
	}
}

void
TargetSet::grow()
{
	/* The targets of a small listing fit the first table. */
	std::vector<uint64_t> old(slots.empty() ? 1024 : 2 * slots.size());

	old.swap(slots);
	used = 0;
	for (uint64_t hash : old)
		if (hash != 0)
			insert(hash);
}

static TargetSet targets;

static const char *
mapOwner(const char *owner)
{
	for (const auto &m : OWNER_MAP)
		if (strcmp(owner, m.owner) == 0)
			return m.directory;
	return owner;
}

static bool
isSharedOwner(const char *owner)
{
	for (const char *s : SHARED_OWNERS)
		if (strcmp(owner, s) == 0)
			return true;
	return false;
}

static bool
isProgramFile(const char *name)
{
	return strstr(name, ".EXE") != nullptr || strstr(name, ".DLL") != nullptr;
}

/*
 * Whether a field holds what no DOS name can hold and the script must not
 * carry: a control byte (0x1A ends a batch file), the interpreter's
 * redirections and quote, or "." or ".." as a part between backslashes,
 * or slashes too when `slash' is set.  Bytes above 127 are the code
 * page's letters.
 */
static bool
isUnsafe(const char *field, bool slash)
{
	const char *part = field;

	if (field == nullptr)
		return false;
	for (const char *p = field;; p++) {
		unsigned char c = *p;
		if (c == '\0' || c == '\\' || (slash && c == '/')) {
			if (*part == '.' && (p - part == 1 || (p - part == 2 && part[1] == '.')))
				return true;
			if (c == '\0')
				return false;
			part = p + 1;
		} else if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '|' || c == '"')
			return true;
	}
}

/*
 * The volume fields last found safe.  The files of a block share them, so
 * a comparison (a fast library call) stands in for a check byte by byte.
 */
static struct {
	char server[NDIR_SERVER_LEN], volume[NDIR_VOLUME_LEN], path[NDIR_PATH_LEN];
} safeVolume;

static bool
isSafeVolume(const char *server, const char *volume, const char *path)
{
	if (strcmp(server, safeVolume.server) == 0 && strcmp(volume, safeVolume.volume) == 0 &&
	    strcmp(path, safeVolume.path) == 0)
		return true;
	if (isUnsafe(server, false) || isUnsafe(volume, false) || isUnsafe(path, true))
		return false;
	(void)snprintf(safeVolume.server, sizeof safeVolume.server, "%s", server);
	(void)snprintf(safeVolume.volume, sizeof safeVolume.volume, "%s", volume);
	(void)snprintf(safeVolume.path, sizeof safeVolume.path, "%s", path);
	return true;
}

/*
 * The slash form of the script and Windows take "/" as a separator too:
 * it divides the path, the owner (a directory of the target) and the name
 * into parts as well; "/" in an owner such as N/A is harmless.
 */
static bool
isUnsafe(const Record &r)
{
	return !isSafeVolume(r.server ? r.server : "", r.volume ? r.volume : "",
	    r.path ? r.path : "") || isUnsafe(r.name, true) || isUnsafe(r.owner, true);
}

/*
 * A 64-bit hash of a target of n bytes, with ASCII letters taken in upper
 * case, as DOS compares names.  It takes eight bytes at a time: their
 * lower-case letters found and cleared of 0x20 all at once, then mixed in
 * by a multiplication and a shift, each one-to-one, so that targets of the
 * same length that differ in one word never share a hash.
 */
static uint64_t
dosNameHash(const char *s, size_t n)
{
	const uint64_t ONES = 0x0101010101010101ULL, HIGH = 0x8080808080808080ULL;
	/* Odd, with its bits well spread: 2^64 divided by the golden ratio. */
	const uint64_t K = 0x9e3779b97f4a7c15ULL;
	uint64_t h = n * K;

	for (size_t i = 0; i < n; i += 8) {
		uint64_t w = 0;
		if (n - i >= 8)
			memcpy(&w, s + i, 8);
		else
			for (size_t k = i; k < n; k++)
				w = w << 8 | static_cast<unsigned char>(s[k]);
		/* Bytes from 'a' and not beyond 'z', without their high bit set. */
		uint64_t low = w & ~HIGH;
		uint64_t lower = (low + (0x80 - 'a') * ONES) & ~(low + (0x7f - 'z') * ONES) & ~w & HIGH;
		h = (h ^ (w ^ lower >> 2)) * K;
		h ^= h >> 32;
	}
	return h;
}

void
torbek00::ForgetTargets()
{
	targets.clear();
}


/* Writes the lines of a record. */
template <size_t N>
static void
writeLines(std::ostream &os, const Text<N> &text)
{
	NdirProgramWrite(os, text.buf, text.n);
}

/*
 * The file's old place, SERVER/VOLUME:PATH\NAME, with a placeholder for a
 * part that is missing.  add(text, field) appends one piece; field tells
 * the listing's text from the program's own, which the script and the
 * warnings write each in their own way.
 */
template <class Add>
static void
sourceName(const Record &r, Add add)
{
	add(r.server ? r.server : "<VolServer>", r.server != nullptr);
	add("/", false);
	add(r.volume ? r.volume : "<VolVolume>", r.volume != nullptr);
	add(":", false);
	if (r.path) {
		add(r.path, true);
		add("\\", false);
	}
	add(r.name ? r.name : "<FileName>", r.name != nullptr);
}

/* Warns about a record: its source name and owner, shown safely, and the text. */
static void
warn(const Record &r, const std::string &text)
{
	std::string m;

	sourceName(r, [&m](const char *piece, bool) { NdirProgramShow(m, piece); });
	m += " (";
	NdirProgramShow(m, r.owner ? r.owner : "<FileOwner>");
	m += "): ";
	NdirProgramWarn(m + text);
}

int
torbek00::FileUpdate()
{
	static int firstcall = 1;
	Text<LINES_MAX> out;
	Text<SOURCE_MAX> source;
	Record r = {VolServer(), VolVolume(), VolPath(), FileName(), FileOwner()};

	if (isUnsafe(r)) {
		warn(r, "left out: a name holds a control character, < > | \" or a . or .. part");
		NdirProgramFail();
		return 1;
	}

	if (firstcall) {
		out << HEADER;
		firstcall = 0;
	}

	/* An incomplete record ends the work on this listing. */
	sourceName(r, [&source](const char *piece, bool field) {
		if (field)
			source.field(piece);
		else
			source << piece;
	});
	if (!r.owner || !r.server || !r.volume || !r.name) {
		out << "ECHO Error: " << source.buf << "    (";
		out.field(r.owner, "<FileOwner>") << ")" << TO_LOG << "\n";
		warn(r, "incomplete record: the rest of the listing is skipped");
		writeLines(yyout, out);
		return 0;
	}

	out << "ECHO " << source.buf << "\n";
	if (isProgramFile(r.name)) {
		writeLines(yyout, out);
		return 1;
	}

	Text<TARGET_MAX> target;
	if (isSharedOwner(r.owner))
		target << "N:\\";
	else
		(target << "O:\\").field(mapOwner(r.owner)) << "\\OLDSERV\\";
	target.field(r.path);
	size_t directory = target.n;

	/* Also at the volume root, where the directory already ends in "\". */
	target << "\\";
	target.field(r.name);

	out << "MYMKDIR -p ";
	out.slashed(target.buf, directory) << TO_LOG << "\n";
	out << "NCOPY /V " << source.buf << " " << target.buf << TO_LOG << "\n\n";
	if (!targets.insert(dosNameHash(target.buf, target.n))) {
		std::string again = "copied to ";
		NdirProgramShow(again, target.buf);
		warn(r, again + " again: the earlier copy is overwritten");
	}
	writeLines(yyout, out);
	return 1;
}
