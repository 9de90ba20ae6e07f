/*
 * dresk: print the full NetWare name of every directory and file listed
 * in saved NDIR listings, one per line, in listing order.
 *
 * With no argument the listing is read from standard input.
 */
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>

#include "ndirlexer.h"

class NdirLexerList : public NdirLexer {
public:
	NdirLexerList(std::istream *in, std::ostream *out) : NdirLexer(in, out) {}

	int DirUpdate() override;
	int FileUpdate() override;

private:
	int printPath(const char *name);
};

/* Set when a path line could not be written. */
static bool writeFailed;

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
	char line[NDIR_SERVER_LEN + NDIR_VOLUME_LEN + NDIR_PATH_LEN + 32];
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

	std::streamsize n = p - line;
	if (std::cout.rdbuf()->sputn(line, n) != n)
		writeFailed = true;
	return 1;
}

int NdirLexerList::DirUpdate() { return printPath(DirName()); }
int NdirLexerList::FileUpdate() { return printPath(FileName()); }

static void
scan(std::istream *in)
{
	NdirLexerList *lexer = new NdirLexerList(in, nullptr);
	lexer->yylex();
	delete lexer;
}

/*
 * Scans one listing file.  A directory opens but cannot be read as a
 * listing, so it is reported like a file that cannot be opened.
 */
static void
list(const char *name)
{
	struct stat st;
	std::ifstream in(name);

	if (!in.is_open() || (stat(name, &st) == 0 && S_ISDIR(st.st_mode))) {
		std::cerr << "Unable to open " << name << "\n";
		return;
	}
	scan(&in);
	in.close();
}

int
main(int argc, char *argv[])
{
	std::ios::sync_with_stdio(false);

	if (argc < 2)
		scan(nullptr);
	for (int i = 1; i < argc; i++)
		list(argv[i]);

	/* Paths that could not be written in full are no success. */
	if (!std::cout.flush() || writeFailed) {
		std::cerr << "dresk: error writing standard output\n";
		return 1;
	}
	return 0;
}
