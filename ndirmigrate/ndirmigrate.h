/* SPDX-License-Identifier: ISC */
/*
 * The migration: which listed files the script copies, where to, which
 * records it refuses, and the script's lines.  NdirMigrate reads the
 * listings by these rules for torbek00 and for ndircheck alike.  Not installed.
 */
#ifndef NDIRMIGRATE_H
#define NDIRMIGRATE_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <istream>
#include <ostream>
#include <vector>

#include "ndirlexer.h"

/* The fields of a file record that the script is made of; null when absent. */
struct NdirRecord {
	const char *server, *volume, *path, *name, *owner;
};

/* What the script does with a file line. */
enum NdirFate {
	NDIR_REFUSED,		/* no line; a warning */
	NDIR_INCOMPLETE,	/* an error line, and the listing ends */
	NDIR_ECHOED,		/* a program file: named, not copied */
	NDIR_COPIED,
};

/* The verdict on a volume line, which holds for every file of its block. */
struct NdirVerdict {
	bool unsafe;		/* its text holds bytes that no line of the script carries */
	const char *reason;	/* why, by the first rule of DOS it breaks; null for none */
};

/* Judges a volume line from its record. */
NdirVerdict NdirJudgeVolume(const NdirVol &vol);

/*
 * What the script does with a file record (its fields in `r', what its
 * line held beyond them in `facts') in a block judged `volume'.  `reason'
 * gets why it is not copied, in the words of its warning; null when it is.
 */
NdirFate NdirJudgeFile(const NdirRecord &r, const NdirFile &facts, NdirVerdict volume,
    const char **reason);

/* The folder under O:\ for an owner, or null for the shared drive N:\. */
const char *NdirOwnerFolder(const char *owner);

const char NDIR_SHARED_ROOT[] = "N:\\";
const char NDIR_PERSONAL_ROOT[] = "O:\\";
const char NDIR_OLD_SERVER[] = "\\OLDSERV\\";

/* The file's old place, SERVER/VOLUME:PATH\NAME with placeholders for what is absent, to add(piece). */
template <class Add> void
NdirSourceName(const NdirRecord &r, Add add)
{
	add(r.server ? r.server : "<VolServer>");
	add("/");
	add(r.volume ? r.volume : "<VolVolume>");
	add(":");
	if (r.path) {
		add(r.path);
		add("\\");
	}
	add(r.name ? r.name : "<FileName>");
}

/* The owner's part of the target, O:\FOLDER or N:\; true for a personal folder. */
template <class Add> bool
NdirTargetRoot(const NdirRecord &r, Add add)
{
	const char *folder = NdirOwnerFolder(r.owner);

	add(folder ? NDIR_PERSONAL_ROOT : NDIR_SHARED_ROOT);
	if (folder)
		add(folder);
	return folder != nullptr;
}

/* The target directory: N:\PATH, or O:\FOLDER\OLDSERV\PATH. */
template <class Add> void
NdirTargetDirectory(const NdirRecord &r, Add add)
{
	if (NdirTargetRoot(r, add))
		add(NDIR_OLD_SERVER);
	if (r.path)
		add(r.path);
}

/* The directory, a backslash and the name; at the volume root DOS reads the two backslashes as one. */
template <class Add> void
NdirTarget(const NdirRecord &r, Add add)
{
	NdirTargetDirectory(r, add);
	add("\\");
	add(r.name);
}

/* Each byte as names compare on the new drives: "/" as "\\", the letters of a case pair as one. */
struct NdirFold {
	char of[256];

	constexpr NdirFold() : of()
	{
		for (int c = 0; c < 256; c++)
			of[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
		of[static_cast<unsigned char>('/')] = '\\';
	}
	char operator()(char c) const { return of[static_cast<unsigned char>(c)]; }
};

inline constexpr NdirFold NDIR_ASCII_FOLD;

/*
 * Adds the case pairs of a code page that iconv knows ("CP437") as Unicode
 * has them: é and É of page 437 become one.  Pairs added before stay, so
 * several pages fold every pair of each.  False when iconv does not know it.
 */
bool NdirAddCodePage(NdirFold &fold, const char *codepage);

/* The fold of a run whose page is not known: the pairs of pages 437 and 850, DOS's in the West. */
const NdirFold &NdirDosFold();

/*
 * The target as the new drives compare it, into `key' (which may be
 * `target'), returning its length: letters folded, "/" as "\", a run of
 * separators as one and none at the end.
 */
size_t NdirDosKey(const char *target, char *key, const NdirFold &fold);

/* A text in a fixed buffer: what would not fit is cut (the sizes below fit the longest record). */
template <size_t N> struct NdirText {
	char buf[N + 1];
	size_t n = 0;

	NdirText() { buf[0] = '\0'; }
	void clear() { buf[n = 0] = '\0'; }

	NdirText &append(const char *s, size_t len)
	{
		len = std::min(len, N - n);
		memcpy(buf + n, s, len);
		n += len;
		buf[n] = '\0';
		return *this;
	}
	NdirText &operator<<(const char *s) { return append(s, strnlen(s, N - n)); }
};

/*
 * Appends text as the script writes it.  The command interpreter reads
 * each line whole before it runs it: a listing's %, & and ^ would start a
 * variable, a command or an escape.  Each of `specials' is written after
 * its escape: % doubled, the others after a ^.
 */
const char NDIR_SCRIPT_SPECIALS[] = "%&^";

template <class Out> void
NdirEscape(Out &out, const char *text, const char *specials = NDIR_SCRIPT_SPECIALS)
{
	for (const char *c; (c = strpbrk(text, specials)) != nullptr; text = c + 1) {
		const char escaped[] = {*c == '%' ? '%' : '^', *c};
		out.append(text, static_cast<size_t>(c - text));
		out.append(escaped, sizeof escaped);
	}
	out.append(text, strlen(text));
}

/*
 * The longest texts one record gives, each field at its longest and made
 * of nothing but characters that are written twice: the source name
 * SERVER/VOLUME:PATH\NAME, the target O:\OWNER\OLDSERV\PATH\NAME, and the
 * lines of a record, whose fixed texts take less than 128 characters.
 */
const size_t NDIR_SOURCE_MAX = 2 * (NDIR_SERVER_LEN + NDIR_VOLUME_LEN + NDIR_PATH_LEN +
    NDIR_FULL_NAME_LEN);
const size_t NDIR_TARGET_MAX = sizeof NDIR_PERSONAL_ROOT + 2 * NDIR_OWNER_LEN +
    sizeof NDIR_OLD_SERVER + 2 * NDIR_PATH_LEN + 2 * NDIR_FULL_NAME_LEN;
const size_t NDIR_LINES_MAX = 128 + 2 * NDIR_SOURCE_MAX + 2 * NDIR_TARGET_MAX;

/* A file line as the migration takes it, with the script's names for it. */
struct NdirOutcome {
	NdirRecord r;
	NdirFate fate;
	const char *reason;	/* why it is not copied, as its warning says; null when copied */
	long size;
	time_t time;
	/* Escaped as the script writes them (all but a refused record). */
	NdirText<NDIR_SOURCE_MAX> source;
	NdirText<NDIR_TARGET_MAX> target;	/* a copy's only */
	size_t directory;			/* the target's directory: its first characters */
	NdirText<NDIR_TARGET_MAX> key;		/* a copy's target as the new drives compare it */

	/* Composes a copy's key by `fold', and with `names' the source and the target. */
	void Compose(const NdirFold &fold, bool names = true);
};

/* The script as a run goes: the header first, delayed expansion off before the first "!". */
class NdirScript {
public:
	/* The lines of a copied, echoed or incomplete record, to be written next. */
	const NdirText<NDIR_LINES_MAX> &Lines(const NdirOutcome &o);

private:
	NdirText<NDIR_LINES_MAX> out;
	bool headerWritten = false, expansionOff = false;
};

/*
 * The copy targets of a run, as 64-bit hashes of their DOS form (two taken
 * for one with odds of n * n / 2^65), in an open-addressed table 3/8 to 3/4
 * full: 11 to 22 bytes a target, where a node-based set took 40 and a
 * pointer chase on every look-up (a third of ndircheck's time).
 */
class NdirTargets {
public:
	explicit NdirTargets(const NdirFold &fold) : fold(fold) {}

	/*
	 * The hash of a target's key (NdirOutcome::key), whose slot it starts
	 * fetching: in a large run the look-up of Add waits for memory.
	 */
	uint64_t Hash(const NdirText<NDIR_TARGET_MAX> &key) const;
	/* Adds a target by its hash; false when it was added before. */
	bool Add(uint64_t hash);

	const NdirFold &fold;	/* how the run's targets compare */

private:
	std::vector<uint64_t> slots;	/* a power of two of them; 0 marks a free one */
	size_t used = 0;
};

/*
 * The scanner of the migration: judges each volume and file line once,
 * warns of a refused record (status 1), an incomplete one (which ends its
 * listing) and a target copied to again, and hands every file line to Take().
 */
class NdirMigrate : public NdirLexer {
public:
	NdirMigrate(std::istream *in, NdirTargets &targets) : NdirLexer(in, nullptr), targets(targets) {}

	int VolUpdate() override;
	int FileUpdate() override;

protected:
	virtual void Take(const NdirOutcome &o) = 0;
	/* Whether Take() reads the script's names: ndircheck does not. */
	virtual bool TakesNames() { return true; }

private:
	NdirTargets &targets;
	NdirVerdict volume = {false, nullptr};
	NdirOutcome o{};
};

/* A warning about a record: its source name and owner, shown safely, and the text. */
void NdirWarnRecord(const NdirRecord &r, const char *text);

#endif /* NDIRMIGRATE_H */
