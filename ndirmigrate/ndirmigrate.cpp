// SPDX-License-Identifier: ISC
/*
 * The migration rules.  A file goes to the shared drive N:\ when its owner
 * is one of the system and shared accounts, otherwise to O:\OWNER\OLDSERV\
 * with some owners renamed; the listing's path follows.  Program files are
 * named but not copied.  A record whose names the script cannot carry, or
 * that DOS would take for another file or a device, is refused.
 */
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "ndirdecode.h"
#include "ndirmigrate.h"
#include "ndirprogram.h"

/* Owners whose files go to a personal folder of another name. */
static const struct {
	const char *owner;
	const char *folder;
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

/* Name endings of program files, which are not copied. */
static const char *const PROGRAM_MARKERS[] = {".EXE", ".DLL"};

/* Names DOS gives to devices, with or without an extension. */
static const char *const DEVICES[] = {
	"CON", "PRN", "AUX", "NUL", "CLOCK$",
	"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
	"LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
};

/* The reasons of a refusal, as the warnings give them. */
static const char UNSAFE[] =
    "left out: a name holds a control character, < > | \" or a . or .. part";
static const char DEVICE[] = "left out: a name is a DOS device name";
static const char FORBIDDEN[] =
    "left out: a name holds a character DOS does not allow: * ? + , ; = [ ] :";
static const char TRAILING_DOT[] = "left out: a name ends in a full stop, which DOS drops";
static const char SWITCH[] = "left out: a name begins with /, which NCOPY takes for an option";
static const char CUT[] =
    "left out: a name is longer than the listing's field holds: the real name is unknown";
/* Why the other records that are not copied are not. */
static const char INCOMPLETE[] = "incomplete record: the rest of the listing is skipped";
static const char PROGRAM[] = "named, not copied: a program file (.EXE, .DLL)";

const char *
NdirOwnerFolder(const char *owner)
{
	for (const char *s : SHARED_OWNERS)
		if (strcmp(owner, s) == 0)
			return nullptr;
	for (const auto &m : OWNER_MAP)
		if (strcmp(owner, m.owner) == 0)
			return m.folder;
	return owner;
}

static bool
isProgramFile(const char *name)
{
	for (const char *marker : PROGRAM_MARKERS)
		if (strstr(name, marker) != nullptr)
			return true;
	return false;
}

static bool
isDevice(const char *part, size_t n)
{
	const char *dot = static_cast<const char *>(memchr(part, '.', n));
	size_t base = dot ? static_cast<size_t>(dot - part) : n;
	char upper[sizeof "CLOCK$"];

	/* Most names are passed over here: device names are 3 to 6 long. */
	if (base < 3 || base >= sizeof upper)
		return false;
	for (size_t i = 0; i < base; i++)
		upper[i] = NdirDosFold(part[i]);
	upper[base] = '\0';
	for (const char *d : DEVICES)
		if (d[0] == upper[0] && strcmp(d, upper) == 0)
			return true;
	return false;
}

/* What a byte of a name is to the script and to DOS. */
enum Kind : unsigned char { ORDINARY, UNSAFE_BYTE, FORBIDDEN_BYTE, COLON };

struct Kinds {
	Kind of[256];

	constexpr Kinds() : of()
	{
		for (int c = 0; c < 0x20; c++)
			of[c] = UNSAFE_BYTE;
		for (unsigned char c : "\x7f<>|\"")
			of[c] = UNSAFE_BYTE;
		for (unsigned char c : "*?+,;=[]")
			of[c] = FORBIDDEN_BYTE;
		of[static_cast<unsigned char>(':')] = COLON;
		of[0] = ORDINARY;	/* the terminator the loops above take along */
	}
};

static constexpr Kinds KINDS;

/*
 * The reason one part of a name (between separators) cannot be carried,
 * or null.  Bytes above 127 are the code page's letters.  `dos' adds
 * DOS's own rules for names the copy creates; parts of the old server's
 * and volume's names only have to pass the interpreter.
 */
static const char *
judgePart(const char *part, size_t n, bool dos)
{
	if (n > 0 && part[0] == '.' && (n == 1 || (n == 2 && part[1] == '.')))
		return UNSAFE;
	const char *forbidden = nullptr;
	for (size_t i = 0; i < n; i++) {
		Kind k = KINDS.of[static_cast<unsigned char>(part[i])];
		if (k == UNSAFE_BYTE)
			return UNSAFE;
		if (k == FORBIDDEN_BYTE || (dos && k == COLON))
			forbidden = FORBIDDEN;
	}
	if (forbidden != nullptr)
		return forbidden;
	if (isDevice(part, n))
		return DEVICE;
	if (dos && n > 0 && part[n - 1] == '.')
		return TRAILING_DOT;
	return nullptr;
}

/*
 * The reason a field cannot be carried, or null, judging each part
 * between backslashes, and between slashes too where `slash' is set: the
 * slash form of the script and Windows take "/" as a separator as well.
 * An UNSAFE part outranks the others, as it did before DOS's own rules.
 */
static const char *
judgeField(const char *field, bool slash, bool dos)
{
	const char *reason = nullptr;

	if (field == nullptr)
		return nullptr;
	if (field[0] == '/')
		reason = SWITCH;
	for (const char *part = field, *p = field;; p++) {
		if (*p == '\0' || *p == '\\' || (slash && *p == '/')) {
			const char *r = judgePart(part, static_cast<size_t>(p - part), dos);
			if (r == UNSAFE)
				return r;
			if (reason == nullptr)
				reason = r;
			if (*p == '\0')
				return reason;
			part = p + 1;
		}
	}
}

/* The reason that outranks the others: UNSAFE, or else the first one given. */
static const char *
firstReason(std::initializer_list<const char *> reasons)
{
	auto given = [](const char *r) { return r != nullptr; };

	if (std::find(reasons.begin(), reasons.end(), UNSAFE) != reasons.end())
		return UNSAFE;
	auto first = std::find_if(reasons.begin(), reasons.end(), given);
	return first != reasons.end() ? *first : nullptr;
}

/*
 * Whether the volume line held more than its fields keep: then the old
 * place is not known.  The fields and their separators add up to the
 * line when it was read whole.
 */
static bool
volumeLineCut(NdirLexer &lexer)
{
	const NdirVol &v = lexer.vol;
	size_t kept = strlen(v.server) + strlen(v.volume) + strlen(v.path);

	return strlen(lexer.YYText()) > kept + 2;
}

const char *
NdirJudgeVolume(NdirLexer &lexer)
{
	const char *reason = firstReason({judgeField(lexer.VolServer(), false, false),
	    judgeField(lexer.VolVolume(), false, false), judgeField(lexer.VolPath(), true, true)});

	if (reason == nullptr && volumeLineCut(lexer))
		reason = CUT;
	return reason;
}

/* The length of the word at p, white space skipped first. */
static size_t
wordAt(const char *&p)
{
	size_t n = 0;

	while (*p != '\0' && NdirIsSpace(*p))
		p++;
	while (!NdirEndsWord(p[n]))
		n++;
	return n;
}

/*
 * Whether the file line's name or extension was longer than its field:
 * the name is the line's first word, the extension the word that starts
 * in the extension column, as the decoder reads them.
 */
static bool
fileLineCut(const char *line)
{
	const char *name = line;
	size_t length = wordAt(name);

	if (length >= NDIR_NAME_LEN)
		return true;
	const char *column = name;
	while (column < name + NDIR_EXTENSION_COLUMN && *column != '\0')
		column++;
	if (*column == ' ' || *column == '\0')
		return false;
	return wordAt(column) >= NDIR_EXTENSION_LEN;
}

NdirFate
NdirJudgeFile(NdirLexer &lexer, const char *volumeRefusal, NdirRecord &r, const char **reason)
{
	r = {lexer.VolServer(), lexer.VolVolume(), lexer.VolPath(), lexer.FileName(),
	    lexer.FileOwner()};
	*reason = firstReason({volumeRefusal, judgeField(r.name, true, true),
	    judgeField(r.owner, true, true)});
	if (*reason == nullptr && fileLineCut(lexer.YYText()))
		*reason = CUT;
	if (*reason != nullptr)
		return NDIR_REFUSED;
	if (!r.owner || !r.server || !r.volume || !r.name) {
		*reason = INCOMPLETE;
		return NDIR_INCOMPLETE;
	}
	if (isProgramFile(r.name)) {
		*reason = PROGRAM;
		return NDIR_ECHOED;
	}
	return NDIR_COPIED;
}

size_t
NdirDosKey(const char *target, char *key)
{
	char *k = key;

	for (const char *p = target; *p != '\0'; p++) {
		char c = NdirDosFold(*p);
		if (c != '\\' || k == key || k[-1] != '\\')
			*k++ = c;
	}
	if (k > key && k[-1] == '\\')
		k--;
	*k = '\0';
	return static_cast<size_t>(k - key);
}

void
NdirScriptText(std::string &out, const char *text)
{
	for (const char *c; (c = strpbrk(text, NDIR_SCRIPT_SPECIALS)) != nullptr; text = c + 1) {
		out.append(text, static_cast<size_t>(c - text));
		out += NdirScriptEscape(*c);
		out += *c;
	}
	out += text;
}

void
NdirWarnRecord(const NdirRecord &r, const std::string &text)
{
	std::string m;

	NdirSourceName(r, [&m](const char *piece, bool) { NdirProgramShow(m, piece); });
	m += " (";
	NdirProgramShow(m, r.owner ? r.owner : "<FileOwner>");
	m += "): ";
	NdirProgramWarn(m + text);
}

void
NdirWarnCopiedAgain(const NdirRecord &r, const char *target)
{
	std::string again = "copied to ";

	NdirProgramShow(again, target);
	NdirWarnRecord(r, again + " again: the earlier copy is overwritten");
}
