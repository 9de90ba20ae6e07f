// SPDX-License-Identifier: ISC
/*
 * The script lines of torbek00.  For every file line: an ECHO line with
 * the file's old name, a MYMKDIR -p line for the target directory and an
 * NCOPY /V line, both logging to TORBEK00.LOG; program files (.EXE, .DLL)
 * get the ECHO line only.  Where each file goes, and which records are
 * refused, the migration rules decide.
 *
 * The script is written for the Windows command interpreter, which reads
 * each line whole before it runs it: every % from the listing is written
 * %%, every & and ^ as ^& and ^^, so that the commands receive exactly the
 * listing's text and no part of it runs as a command of its own.
 */
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "ndirmigrate.h"
#include "ndirprogram.h"
#include "torbek00.h"

static const char HEADER[] = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";
/* Appends what a command prints to the log that the script starts afresh. */
static const char TO_LOG[] = " >> TORBEK00.LOG";

/*
 * The longest texts one record gives, each field at its longest and made
 * of nothing but characters that are written twice: the source name
 * SERVER/VOLUME:PATH\NAME, the target O:\OWNER\OLDSERV\PATH\NAME, and all
 * lines of the record with the header, whose fixed texts take less than
 * 128 characters.
 */
static const size_t SERVER = NDIR_SERVER_LEN, VOLUME = NDIR_VOLUME_LEN, PATH = NDIR_PATH_LEN,
    OWNER = NDIR_OWNER_LEN, NAME = NDIR_FULL_NAME_LEN;
static const size_t SOURCE_MAX = 2 * (SERVER + VOLUME + PATH + NAME);
static const size_t TARGET_MAX = sizeof NDIR_PERSONAL_ROOT + 2 * OWNER + sizeof NDIR_OLD_SERVER +
    2 * PATH + 2 * NAME;
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

	/*
	 * Appends text as the script writes it; in the error line < and >
	 * too, which come from the placeholders (the listing's are refused).
	 */
	Text &escaped(const char *s, const char *special = NDIR_SCRIPT_SPECIALS)
	{
		for (const char *c; (c = strpbrk(s, special)) != nullptr; s = c + 1) {
			append(s, static_cast<size_t>(c - s));
			char escape = NdirScriptEscape(*c);
			if (n < N - 1)
				append(&escape, 1);
			append(c, 1);
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

/*
 * The copy targets of the run, as 64-bit hashes of their DOS form: two
 * different targets are taken for one with odds of about n * n / 2^65 for
 * n targets.  They lie in an open-addressed table kept from 3/8 to 3/4
 * full: 11 to 22 bytes a target, 32 while it grows, where a node-based
 * set takes 40 and a pointer to follow on every look-up.
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

/* What torbek00 keeps from one record to the next, for the whole run. */
static struct {
	bool headerWritten;
	/* Why the current block's volume line is refused, or null. */
	const char *volumeRefusal;
	TargetSet targets;
} run;

void
torbek00::ResetRun()
{
	run.headerWritten = false;
	run.volumeRefusal = nullptr;
	run.targets.clear();
}

/*
 * Warns when an earlier file of the run was copied to what DOS takes for
 * the same target.  The target is compared as the script writes it: the
 * escapes neither make nor hide a separator, nor touch a letter, so two
 * targets are one to DOS exactly when their escaped forms are.
 */
static void
checkCopiedBefore(const NdirRecord &r, const char *target)
{
	char key[TARGET_MAX + 1];
	size_t n = NdirDosKey(target, key);

	if (!run.targets.insert(std::hash<std::string_view>()(std::string_view(key, n))))
		NdirWarnCopiedAgain(r, target);
}

int
torbek00::VolUpdate()
{
	run.volumeRefusal = NdirJudgeVolume(*this);
	return 1;
}

int
torbek00::FileUpdate()
{
	Text<LINES_MAX> out;
	Text<SOURCE_MAX> source;
	Text<TARGET_MAX> target;
	NdirRecord r;
	const char *reason;
	/* Adds every piece escaped: the rules' own have nothing to escape. */
	auto add = [](auto &text) {
		return [&text](const char *piece, bool) { text.escaped(piece); };
	};

	NdirFate fate = NdirJudgeFile(*this, run.volumeRefusal, r, &reason);
	if (fate == NDIR_REFUSED) {
		NdirWarnRecord(r, reason);
		NdirProgramFail();
		return 1;
	}

	if (!run.headerWritten) {
		out << HEADER;
		run.headerWritten = true;
	}

	NdirSourceName(r, add(source));
	if (fate == NDIR_INCOMPLETE) {
		auto line = [&out](const char *piece, bool) { out.escaped(piece, "%&^<>"); };
		out << "ECHO Error: ";
		NdirSourceName(r, line);
		out << "    (";
		line(r.owner ? r.owner : "<FileOwner>", r.owner != nullptr);
		out << ")" << TO_LOG << "\n";
		NdirWarnRecord(r, reason);
		NdirProgramWrite(yyout, out.buf, out.n);
		return 0;
	}

	out << "ECHO " << source.buf << "\n";
	if (fate == NDIR_COPIED) {
		NdirTargetDirectory(r, add(target));
		size_t directory = target.n;
		NdirTargetLeaf(r, add(target));
		out << "MYMKDIR -p ";
		out.slashed(target.buf, directory) << TO_LOG << "\n";
		out << "NCOPY /V " << source.buf << " " << target.buf << TO_LOG << "\n\n";
		checkCopiedBefore(r, target.buf);
	}
	NdirProgramWrite(yyout, out.buf, out.n);
	return 1;
}
