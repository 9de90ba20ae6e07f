// SPDX-License-Identifier: ISC
/*
 * The path lines of dresk: SERVER\VOLUME:PATH\NAME for every directory and
 * file line, written to standard output whatever the scanner's output.
 */
#include <iostream>

#include "dresk.h"
#include "ndirprogram.h"

/*
 * Appends a record field, or nothing for an absent one.  The fields are
 * NUL-terminated within their sizes, which the line buffer adds up to.
 */
static char *
append(char *p, const char *field)
{
	if (field != nullptr)
		while (*field != '\0')
			*p++ = *field++;
	return p;
}

/*
 * SERVER\VOLUME:PATH\NAME, or SERVER\VOLUME:NAME at the volume root.  A
 * part that the listing did not give is left empty; the line is still
 * written.
 */
int
NdirLexerList::printPath(const char *name)
{
	/* Each field's size counts its NUL: room for "\", ":" and "\" too. */
	char line[NDIR_SERVER_LEN + NDIR_VOLUME_LEN + NDIR_PATH_LEN + NDIR_FULL_NAME_LEN];
	char *p = line;
	const char *path = VolPath();

	p = append(p, VolServer());
	*p++ = '\\';
	p = append(p, VolVolume());
	*p++ = ':';
	if (path != nullptr) {
		p = append(p, path);
		*p++ = '\\';
	}
	p = append(p, name);
	*p++ = '\n';

	NdirProgramWrite(std::cout, line, p - line);
	return 1;
}

int NdirLexerList::DirUpdate() { return printPath(DirName()); }
int NdirLexerList::FileUpdate() { return printPath(FileName()); }
