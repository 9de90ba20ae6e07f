// SPDX-License-Identifier: ISC
/*
 * The migration.  A file goes to the shared drive N:\ when its owner is
 * one of the system and shared accounts, otherwise to O:\OWNER\OLDSERV\
 * with some owners renamed; the listing's path follows.  Program files are
 * named but not copied.  A record whose names the script cannot carry, or
 * that DOS would take for another file or a device, is refused.
 */
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <functional>
#include <string>
#include <string_view>

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

/* The rules a record may break, in the order in which its warning names the first. */
enum Rule { UNSAFE, FORBIDDEN, DEVICE, TRAILING_DOT, SWITCH, CUT, SPLIT, NONE };

static const char *const REASONS[] = {
	"left out: a name holds a control character, < > | \" or a . or .. part",
	"left out: a name holds a character DOS does not allow: * ? + , ; = [ ] :",
	"left out: a name is a DOS device name",
	"left out: a name ends in a full stop, which DOS drops",
	"left out: a name begins with /, which NCOPY takes for an option",
	"left out: a name is longer than the listing's field holds: the real name is unknown",
	"left out: white space other than the blank ends a name early: the real name is unknown",
};
/* Why the other records that are not copied are not. */
static const char INCOMPLETE[] = "incomplete record: the rest of the listing is skipped";
static const char PROGRAM[] = "named, not copied: a program file (.EXE, .DLL)";

/* Compared at the first letter first: most owners differ there, and a line then costs no call. */
const char *
NdirOwnerFolder(const char *owner)
{
	for (const char *s : SHARED_OWNERS)
		if (owner[0] == s[0] && strcmp(owner, s) == 0)
			return nullptr;
	for (const auto &m : OWNER_MAP)
		if (owner[0] == m.owner[0] && strcmp(owner, m.owner) == 0)
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
		upper[i] = NDIR_ASCII_FOLD(part[i]);
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

/* Whether a field holds a byte that no line of the script can carry. */
static bool
unsafe(const char *field)
{
	for (; field && *field; field++)
		if (KINDS.of[static_cast<unsigned char>(*field)] == UNSAFE_BYTE)
			return true;
	return false;
}

/*
 * The first rule that one part of a name breaks; bytes above 127 are the
 * page's letters.  `dos' adds DOS's rules, for names the copy creates: the
 * old server's and volume's names only have to pass the interpreter.
 */
static Rule
judgePart(const char *part, size_t n, bool dos)
{
	Rule rule = NONE;

	if (n > 0 && part[0] == '.' && (n == 1 || (n == 2 && part[1] == '.')))
		return UNSAFE;
	for (size_t i = 0; i < n; i++) {
		Kind k = KINDS.of[static_cast<unsigned char>(part[i])];
		if (k == UNSAFE_BYTE)
			return UNSAFE;
		if (k == FORBIDDEN_BYTE || (dos && k == COLON))
			rule = FORBIDDEN;
	}
	if (rule == NONE && isDevice(part, n))
		rule = DEVICE;
	if (rule == NONE && dos && n > 0 && part[n - 1] == '.')
		rule = TRAILING_DOT;
	return rule;
}

/*
 * The first rule that a field breaks in any of its parts between
 * backslashes, and slashes with `slash': Windows takes "/" as one too.
 */
static Rule
judgeField(const char *field, bool slash, bool dos)
{
	Rule rule = NONE;

	for (const char *part = field, *p = field; p; p++)
		if (*p == '\0' || *p == '\\' || (slash && *p == '/')) {
			rule = std::min(rule, judgePart(part, static_cast<size_t>(p - part), dos));
			if (*p == '\0')
				break;
			part = p + 1;
		}
	return rule;
}

/* A field of a record: null when empty, as the accessors give it. */
static const char *
field(const char *text)
{
	return text[0] != '\0' ? text : nullptr;
}

static Rule
rankOf(const char *reason)
{
	return reason ? static_cast<Rule>(std::find(REASONS, REASONS + NONE, reason) - REASONS) : NONE;
}

/*
 * Only the server begins an argument of the script's commands, where a
 * slash would read as a switch.  A server longer than its field leaves the
 * volume absent, which the incomplete record's error line shows; a volume
 * or path cut or split would copy from another place.
 */
NdirVerdict
NdirJudgeVolume(const NdirVol &vol)
{
	const char *server = field(vol.server), *volume = field(vol.volume), *path = field(vol.path);
	Rule r = std::min({judgeField(server, false, false), judgeField(volume, false, false),
	    judgeField(path, true, true)});

	if (server && server[0] == '/')
		r = std::min(r, SWITCH);
	if (vol.cut & (NDIR_VOLUME_FIELD | NDIR_PATH_FIELD))
		r = std::min(r, CUT);
	if (vol.split & NDIR_PATH_FIELD)
		r = std::min(r, SPLIT);
	return {unsafe(server) || unsafe(volume) || unsafe(path), r == NONE ? nullptr : REASONS[r]};
}

/*
 * Bytes that no line can carry come first: an incomplete record's error
 * line would carry them too.  Then the incomplete record, whose error
 * line copies nothing; then DOS's rules, for the records the script names.
 * An owner longer than its field is copied: it only names a folder.
 */
NdirFate
NdirJudgeFile(const NdirRecord &r, const NdirFile &facts, NdirVerdict volume, const char **reason)
{
	*reason = REASONS[UNSAFE];
	if (volume.unsafe || unsafe(r.name) || unsafe(r.owner))
		return NDIR_REFUSED;
	*reason = INCOMPLETE;
	if (!r.owner || !r.server || !r.volume || !r.name)
		return NDIR_INCOMPLETE;
	Rule first = std::min({rankOf(volume.reason), judgeField(r.name, true, true),
	    judgeField(r.owner, true, true)});
	if (facts.cut & (NDIR_NAME_FIELD | NDIR_EXTENSION_FIELD))
		first = std::min(first, CUT);
	if (facts.split)
		first = std::min(first, SPLIT);
	*reason = first == NONE ? nullptr : REASONS[first];
	if (*reason)
		return NDIR_REFUSED;
	*reason = isProgramFile(r.name) ? PROGRAM : nullptr;
	return *reason ? NDIR_ECHOED : NDIR_COPIED;
}

bool
NdirAddCodePage(NdirFold &fold, const char *codepage)
{
	iconv_t toUnicode = iconv_open("WCHAR_T", codepage);
	locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
	wchar_t letter[256] = {};

	if (reinterpret_cast<intptr_t>(toUnicode) == -1 || unicode == nullptr) {
		if (unicode)
			freelocale(unicode);
		return false;
	}
	for (int b = 0x80; b < 256; b++) {
		char byte = static_cast<char>(b), *in = &byte, *out = reinterpret_cast<char *>(&letter[b]);
		size_t inLeft = 1, outLeft = sizeof letter[b];
		if (iconv(toUnicode, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
			letter[b] = 0;
	}
	for (int b = 0x80; b < 256; b++)
		for (int u = 0; u < 256 && letter[b] != 0; u++) {
			wint_t upper = towupper_l(static_cast<wint_t>(letter[b]), unicode);
			char from = fold.of[b], to = fold.of[u];
			if (upper == static_cast<wint_t>(letter[b]) || from == to ||
			    upper != static_cast<wint_t>(u < 0x80 ? u : letter[u]))
				continue;
			/* Everything folded as the lower letter is, is folded as the upper one. */
			std::replace(std::begin(fold.of), std::end(fold.of), from, to);
		}
	(void)iconv_close(toUnicode);
	freelocale(unicode);
	return true;
}

const NdirFold &
NdirDosFold()
{
	static NdirFold fold = [] {
		NdirFold f = NDIR_ASCII_FOLD;
		NdirAddCodePage(f, "CP437");
		NdirAddCodePage(f, "CP850");
		return f;
	}();
	return fold;
}

size_t
NdirDosKey(const char *target, char *key, const NdirFold &fold)
{
	char *k = key;

	for (const char *p = target; *p != '\0'; p++) {
		char c = fold(*p);
		if (c != '\\' || k == key || k[-1] != '\\')
			*k++ = c;
	}
	if (k > key && k[-1] == '\\')
		k--;
	*k = '\0';
	return static_cast<size_t>(k - key);
}

/*
 * The error line names the record with placeholders for what is absent,
 * whose < and > the interpreter would take for redirections.
 */
void
NdirOutcome::Compose(const NdirFold &fold, bool names)
{
	const char *specials = fate == NDIR_INCOMPLETE ? "%&^<>" : NDIR_SCRIPT_SPECIALS;

	source.clear();
	target.clear();
	key.clear();
	if (names)
		NdirSourceName(r, [this, specials](const char *piece) { NdirEscape(source, piece, specials); });
	if (fate != NDIR_COPIED)
		return;
	NdirTargetDirectory(r, [this, names](const char *piece) {
		if (names)
			NdirEscape(target, piece);
		key << piece;
	});
	directory = target.n;
	if (names) {
		target << "\\";
		NdirEscape(target, r.name);
	}
	key << "\\" << r.name;
	key.n = NdirDosKey(key.buf, key.buf, fold);
}

static const char HEADER[] = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";
/* Appends what a command prints to the log that the script starts afresh. */
static const char TO_LOG[] = " >> TORBEK00.LOG";

/* Appends the first `len' bytes of s, each backslash as a slash. */
template <size_t N> static void
slashed(NdirText<N> &out, const char *s, size_t len)
{
	char *p = out.buf + out.n;

	out.append(s, len);
	while ((p = static_cast<char *>(memchr(p, '\\', static_cast<size_t>(out.buf + out.n - p)))))
		*p++ = '/';
}

/*
 * With delayed expansion on (cmd /V:ON, or the machine's setting), !NAME!
 * in a line that holds a "!" is a variable, and no escape holds both with
 * it and without it: the script turns it off just before its first "!".
 * COMMAND.COM knows no SETLOCAL: it says so and goes on.
 */
static const char NO_EXPANSION[] = "SETLOCAL DISABLEDELAYEDEXPANSION\n";

const NdirText<NDIR_LINES_MAX> &
NdirScript::Lines(const NdirOutcome &o)
{
	const char *owner = o.fate == NDIR_INCOMPLETE && o.r.owner ? o.r.owner : "";

	out.clear();
	if (!headerWritten)
		out << HEADER;
	headerWritten = true;
	if (!expansionOff && (strchr(o.source.buf, '!') || strchr(o.target.buf, '!') || strchr(owner, '!'))) {
		out << NO_EXPANSION;
		expansionOff = true;
	}
	if (o.fate == NDIR_INCOMPLETE) {
		out << "ECHO Error: " << o.source.buf << "    (";
		NdirEscape(out, o.r.owner ? o.r.owner : "<FileOwner>", "%&^<>");
		out << ")" << TO_LOG << "\n";
	} else
		out << "ECHO " << o.source.buf << "\n";
	if (o.fate == NDIR_COPIED) {
		out << "MYMKDIR -p ";
		slashed(out, o.target.buf, o.directory);
		out << TO_LOG << "\n";
		out << "NCOPY /V " << o.source.buf << " " << o.target.buf << TO_LOG << "\n\n";
	}
	return out;
}

/* 0 marks a free slot: the one hash in 2^64 that is 0 counts as 1. */
uint64_t
NdirTargets::Hash(const NdirText<NDIR_TARGET_MAX> &key) const
{
	uint64_t hash = std::hash<std::string_view>()(std::string_view(key.buf, key.n));

	if (hash == 0)
		hash = 1;
	if (!slots.empty())
		__builtin_prefetch(&slots[hash & (slots.size() - 1)]);
	return hash;
}

bool
NdirTargets::Add(uint64_t hash)
{
	if (4 * (used + 1) > 3 * slots.size()) {
		/* The targets of a small listing fit the first table. */
		std::vector<uint64_t> old(slots.empty() ? 1024 : 2 * slots.size());
		old.swap(slots);
		used = 0;
		for (uint64_t h : old)
			if (h != 0)
				Add(h);
	}
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

int
NdirMigrate::VolUpdate()
{
	volume = NdirJudgeVolume(vol);
	return 1;
}

int
NdirMigrate::FileUpdate()
{
	o.r = {VolServer(), VolVolume(), VolPath(), FileName(), FileOwner()};
	o.fate = NdirJudgeFile(o.r, file, volume, &o.reason);
	o.size = FileSize();
	o.time = FileUpdateTime();
	if (o.fate == NDIR_REFUSED) {
		NdirWarnRecord(o.r, o.reason);
		NdirProgramFail();
	} else
		o.Compose(targets.fold, TakesNames());
	if (o.fate == NDIR_INCOMPLETE)
		NdirWarnRecord(o.r, o.reason);
	uint64_t target = o.fate == NDIR_COPIED ? targets.Hash(o.key) : 0;
	Take(o);
	if (o.fate == NDIR_COPIED && !targets.Add(target)) {
		std::string again = "copied to ";
		if (!TakesNames())
			o.Compose(targets.fold);
		NdirProgramShow(again, o.target.buf);
		NdirWarnRecord(o.r, (again + " again: the earlier copy is overwritten").c_str());
	}
	return o.fate != NDIR_INCOMPLETE;
}

void
NdirWarnRecord(const NdirRecord &r, const char *text)
{
	std::string m;

	NdirSourceName(r, [&m](const char *piece) { NdirProgramShow(m, piece); });
	m += " (";
	NdirProgramShow(m, r.owner ? r.owner : "<FileOwner>");
	NdirProgramWarn(m + "): " + text);
}
