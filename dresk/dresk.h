/* SPDX-License-Identifier: ISC */
/*
 * NdirLexerList: dresk's scanner, which writes SERVER\VOLUME:PATH\NAME for
 * every directory and file line to standard output, whatever the
 * scanner's output stream.
 */
#ifndef DRESK_H
#define DRESK_H

#include <iostream>

#include "ndirlexer.h"
#include "ndirprogram.h"

class NdirLexerList : public NdirLexer {
public:
	NdirLexerList(std::istream *in, std::ostream *out) : NdirLexer(in, out) {}

	int DirUpdate() override { return printPath(DirName()); }
	int FileUpdate() override { return printPath(FileName()); }

private:
	/* Appends a field, or nothing for an absent one; fields end within their sizes. */
	static char *append(char *p, const char *field)
	{
		while (field && *field != '\0')
			*p++ = *field++;
		return p;
	}

	/* SERVER\VOLUME:NAME at the volume root; a part the listing did not give is left empty. */
	int printPath(const char *name)
	{
		/* Each field's size counts its NUL: room for "\", ":" and "\" too. */
		char line[NDIR_SERVER_LEN + NDIR_VOLUME_LEN + NDIR_PATH_LEN + NDIR_FULL_NAME_LEN];
		char *p = append(line, VolServer());

		*p++ = '\\';
		p = append(p, VolVolume());
		*p++ = ':';
		if (VolPath() != nullptr) {
			p = append(p, VolPath());
			*p++ = '\\';
		}
		p = append(p, name);
		*p++ = '\n';
		NdirProgramWrite(std::cout, line, static_cast<size_t>(p - line));
		return 1;
	}
};

#endif /* DRESK_H */
