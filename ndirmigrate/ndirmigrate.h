/* SPDX-License-Identifier: ISC */
/*
 * The migration rules: which listed files the script copies, where to,
 * and which records it refuses.  torbek00 writes the script by them and
 * ndircheck sizes and checks the copy by them, so that both always agree.
 * Not installed.
 */
#ifndef NDIRMIGRATE_H
#define NDIRMIGRATE_H

#include <cstddef>
#include <string>

#include "ndirlexer.h"

/* The fields of a file record that the script is made of; null when absent. */
struct NdirRecord {
	const char *server, *volume, *path, *name, *owner;
};

/* What the script does with a record. */
enum NdirFate {
	NDIR_REFUSED,		/* no line; a warning */
	NDIR_INCOMPLETE,	/* an error line, and the listing ends */
	NDIR_ECHOED,		/* a program file: named, not copied */
	NDIR_COPIED,
};

/* The drive roots of the targets and the folder below an owner's. */
const char NDIR_SHARED_ROOT[] = "N:\\";
const char NDIR_PERSONAL_ROOT[] = "O:\\";
const char NDIR_OLD_SERVER[] = "\\OLDSERV\\";

/*
 * Judges the volume line the scanner has just read (from VolUpdate):
 * the reason it cannot be carried, or null.  The verdict holds for every
 * file of the block.
 */
const char *NdirJudgeVolume(NdirLexer &lexer);

/*
 * Judges the file record the scanner has just read (from FileUpdate),
 * under the verdict on its volume.  `reason' gets why the file is not
 * copied, in the words of the warnings: a refusal, an incomplete record
 * or a program file; null for a copied one.
 */
NdirFate NdirJudgeFile(NdirLexer &lexer, const char *volumeRefusal, NdirRecord &r,
    const char **reason);

/* The folder under O:\ for an owner, or null for the shared drive N:\. */
const char *NdirOwnerFolder(const char *owner);

/*
 * Composers of the names in the script.  add(piece, fromListing) takes
 * one piece; fromListing tells the listing's text from the rules' own,
 * which the script writes each in its own way.
 */

/* The file's old place: SERVER/VOLUME:PATH\NAME, placeholders for what is absent. */
template <class Add> void
NdirSourceName(const NdirRecord &r, Add add)
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

/*
 * The part of the target that is the owner's: the folder O:\FOLDER, or
 * the drive root N:\ for the shared accounts.  True for a folder.
 */
template <class Add> bool
NdirTargetGroup(const NdirRecord &r, Add add)
{
	const char *folder = NdirOwnerFolder(r.owner);

	if (folder == nullptr) {
		add(NDIR_SHARED_ROOT, false);
		return false;
	}
	add(NDIR_PERSONAL_ROOT, false);
	add(folder, true);
	return true;
}

/* The target directory: N:\PATH, or O:\FOLDER\OLDSERV\PATH. */
template <class Add> void
NdirTargetDirectory(const NdirRecord &r, Add add)
{
	if (NdirTargetGroup(r, add))
		add(NDIR_OLD_SERVER, false);
	if (r.path)
		add(r.path, true);
}

/*
 * What follows the directory in the target: a backslash and the name.
 * The backslash is added also at the volume root, where the directory
 * already ends in one; DOS reads the two as one.
 */
template <class Add> void
NdirTargetLeaf(const NdirRecord &r, Add add)
{
	add("\\", false);
	add(r.name, true);
}

/* The whole target: the directory, a backslash and the name. */
template <class Add> void
NdirTarget(const NdirRecord &r, Add add)
{
	NdirTargetDirectory(r, add);
	NdirTargetLeaf(r, add);
}

/* Each byte as DOS compares it: "/" as "\\", ASCII letters in upper case. */
struct NdirDosFoldTable {
	char of[256];

	constexpr NdirDosFoldTable() : of()
	{
		for (int c = 0; c < 256; c++)
			of[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
		of[static_cast<unsigned char>('/')] = '\\';
	}
};

inline constexpr NdirDosFoldTable NDIR_DOS_FOLD;

inline char
NdirDosFold(char c)
{
	return NDIR_DOS_FOLD.of[static_cast<unsigned char>(c)];
}

/*
 * The target as DOS compares it, into `key' (room for the target and its
 * NUL), returning its length: "/" and "\" alike, a run of separators
 * as one, no separator at the end, ASCII letters in upper case.  Bytes
 * above 127 stay as they are: their case depends on the code page.
 */
size_t NdirDosKey(const char *target, char *key);

/*
 * The script is written for the command interpreter, which reads each
 * line whole before it runs it: a listing's %, & and ^ would start a
 * variable, a command or an escape.  Each is written after its escape:
 * % doubled, & and ^ after a ^ (and so are < and >, where the script
 * writes them itself).
 */
const char NDIR_SCRIPT_SPECIALS[] = "%&^";
inline char
NdirScriptEscape(char special)
{
	return special == '%' ? '%' : '^';
}

/* Appends text as the script writes it. */
void NdirScriptText(std::string &out, const char *text);

/* Warnings about a record: its source name and owner, shown safely, and the text. */
void NdirWarnRecord(const NdirRecord &r, const std::string &text);
void NdirWarnCopiedAgain(const NdirRecord &r, const char *target);

#endif /* NDIRMIGRATE_H */
