/*
 * torbek00: write a DOS batch script that copies the files of saved NDIR
 * listings to new places chosen by each file's owner.
 *
 * For every file line the script echoes the file's old name, creates the
 * target directory with MYMKDIR -p and copies the file with NCOPY /V, both
 * logging to TORBEK00.LOG.  Program files (.EXE, .DLL) are echoed only.
 */
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>

#include "ndirlexer.h"

class torbek00 : public NdirLexer {
public:
	torbek00(std::istream *in, std::ostream *out) : NdirLexer(in, out) {}

	int FileUpdate() override;
};

static const char LOG[] = " >> TORBEK00.LOG";

/* Set when a line of the script could not be written. */
static bool writeFailed;

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
 * A line of output under construction, in a fixed buffer.  Text that
 * would not fit is cut, never written past the end; with the record
 * fields' sizes nothing written here comes near the limit.
 */
template <size_t N> struct Text {
	char buf[N];
	size_t n = 0;

	Text() { buf[0] = '\0'; }

	Text &operator<<(const char *s)
	{
		while (*s != '\0' && n < N - 1)
			buf[n++] = *s++;
		buf[n] = '\0';
		return *this;
	}

	/* Appends s with every backslash turned into a slash. */
	Text &slashed(const char *s)
	{
		for (; *s != '\0' && n < N - 1; s++)
			buf[n++] = *s == '\\' ? '/' : *s;
		buf[n] = '\0';
		return *this;
	}
};

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

/* Writes what a record gives and passes the hook's result on. */
static int
emit(std::ostream &os, const char *text, size_t n, int result)
{
	std::streamsize size = static_cast<std::streamsize>(n);
	if (os.rdbuf()->sputn(text, size) != size)
		writeFailed = true;
	return result;
}

int
torbek00::FileUpdate()
{
	static int firstcall = 1;
	Text<2048> out;

	if (firstcall) {
		out << "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";
		firstcall = 0;
	}

	const char *server = VolServer(), *volume = VolVolume(), *path = VolPath();
	const char *name = FileName(), *owner = FileOwner();

	/* The file's old place: SERVER/VOLUME:PATH\NAME. */
	Text<512> source;
	source << (server ? server : "<VolServer>") << "/" <<
	    (volume ? volume : "<VolVolume>") << ":";
	if (path)
		source << path << "\\";
	source << (name ? name : "<FileName>");

	/* An incomplete record ends the work on this listing. */
	if (!owner || !server || !volume || !name) {
		out << "ECHO Error: " << source.buf << "    (" <<
		    (owner ? owner : "<FileOwner>") << ")" << LOG << "\n";
		return emit(yyout, out.buf, out.n, 0);
	}

	out << "ECHO " << source.buf << "\n";
	if (isProgramFile(name))
		return emit(yyout, out.buf, out.n, 1);

	Text<512> target;
	if (isSharedOwner(owner))
		target << "N:\\";
	else
		target << "O:\\" << mapOwner(owner) << "\\OLDSERV\\";
	if (path)
		target << path;

	out << "MYMKDIR -p ";
	out.slashed(target.buf) << LOG << "\n";

	/* Also at the volume root, where the directory already ends in "\". */
	target << "\\" << name;

	out << "NCOPY /V " << source.buf << " " << target.buf << LOG << "\n\n";
	return emit(yyout, out.buf, out.n, 1);
}

/*
 * Scans one listing.  A directory opens but cannot be read as a listing,
 * so it is reported like a file that cannot be opened.
 */
static void
convert(const char *name)
{
	struct stat st;
	std::ifstream in(name);

	if (!in.is_open() || (stat(name, &st) == 0 && S_ISDIR(st.st_mode))) {
		std::cerr << "Unable to open " << name << "\n";
		return;
	}
	torbek00 *lexer = new torbek00(&in, nullptr);
	lexer->yylex();
	delete lexer;
	in.close();
}

int
main(int argc, char *argv[])
{
	std::ios::sync_with_stdio(false);

	for (int i = 1; i < argc; i++)
		convert(argv[i]);

	/* A script that could not be written in full is no success. */
	if (!std::cout.flush() || writeFailed) {
		std::cerr << "torbek00: error writing standard output\n";
		return 1;
	}
	return 0;
}
