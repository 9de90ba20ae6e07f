// SPDX-License-Identifier: ISC
/*
 * NdirLexer's accessors, hooks and line decoders.  The scanning rules
 * that call the decoders are in ndirlexer.l.
 */
#include <cstring>

#include "ndirlexer.h"
#include "ndirdecode.h"
#include "ndirtime.h"

/*
 * Records as constructed, which clear() copies: assigning a new temporary
 * made GCC build it on the stack piece by piece and read it back whole,
 * tripling what a volume line costs.
 */
// NOLINTBEGIN(cert-err58-cpp): their constructors only store zeros
static const NdirVol emptyVol;
static const NdirDir emptyDir;
static const NdirFile emptyFile;
static const NdirFileStats emptyStats;
// NOLINTEND(cert-err58-cpp)

void NdirVol::clear() { *this = emptyVol; }
void NdirDir::clear() { *this = emptyDir; }
void NdirFile::clear() { *this = emptyFile; }
void NdirFileStats::clear() { *this = emptyStats; }

NdirLexer::NdirLexer(std::istream *in, std::ostream *out)
    : yyFlexLexer(in, out)
{
	/* Unset by flex until the first match; NdirVolLine compares with it. */
	yytext = nullptr;
	NdirFollowZone();
}

NdirLexer::~NdirLexer() {}

int NdirLexer::StartUpdate() { return 1; }
int NdirLexer::VolUpdate() { return 1; }
int NdirLexer::DirUpdate() { return 1; }
int NdirLexer::FileUpdate() { return 1; }
int NdirLexer::FileCountSizeUpdate() { return 1; }
int NdirLexer::FileBlockSizeUpdate() { return 1; }
int NdirLexer::TotalFileCountSizeUpdate() { return 1; }
int NdirLexer::TotalFileBlockSizeUpdate() { return 1; }
int NdirLexer::ExitUpdate() { return 1; }

int NdirLexer::NdirStart() { return StartUpdate(); }
int NdirLexer::NdirExit() { return ExitUpdate(); }

static char *
text(char *field)
{
	return field[0] != '\0' ? field : nullptr;
}

/*
 * NAME, or NAME.EXT when there is an extension, in `buf'.  The fields are
 * NUL-terminated within their sizes, so the result always fits.
 */
static char *
compose(char (&buf)[NDIR_NAME_BUFFER_LEN], const char (&name)[NDIR_NAME_LEN],
    const char (&extension)[NDIR_EXTENSION_LEN])
{
	size_t n = strnlen(name, sizeof name - 1);
	memcpy(buf, name, n);
	if (extension[0] != '\0') {
		size_t e = strnlen(extension, sizeof extension - 1);
		buf[n++] = '.';
		memcpy(buf + n, extension, e);
		n += e;
	}
	buf[n] = '\0';
	return text(buf);
}

char *NdirLexer::VolServer() { return text(vol.server); }
char *NdirLexer::VolVolume() { return text(vol.volume); }
char *NdirLexer::VolPath() { return text(vol.path); }

char *
NdirLexer::DirName()
{
	static char buf[NDIR_NAME_BUFFER_LEN];
	return compose(buf, dir.name, dir.extension);
}

char *NdirLexer::DirOwner() { return text(dir.owner); }
char *NdirLexer::DirEffectiveRights() { return text(dir.effectiveRights); }
char *NdirLexer::DirInheritedRights() { return text(dir.inheritedRights); }
time_t NdirLexer::DirCreateTime() { return dir.createTime; }

char *
NdirLexer::FileName()
{
	static char buf[NDIR_NAME_BUFFER_LEN];
	return compose(buf, file.name, file.extension);
}

char *NdirLexer::FileOwner() { return text(file.owner); }
char *NdirLexer::FileFlags() { return text(file.flags); }
long NdirLexer::FileSize() { return file.size; }
time_t NdirLexer::FileUpdateTime() { return file.updateTime; }
long NdirLexer::VolFileCount() { return volStats.fileCount; }
long NdirLexer::VolFileBytes() { return volStats.fileBytes; }
long NdirLexer::VolFileBlocks() { return volStats.fileBlocks; }
long NdirLexer::VolFileBlockBytes() { return volStats.fileBlockBytes; }
long NdirLexer::TotalFileCount() { return totalStats.fileCount; }
long NdirLexer::TotalFileBytes() { return totalStats.fileBytes; }
long NdirLexer::TotalFileBlocks() { return totalStats.fileBlocks; }
long NdirLexer::TotalFileBlockBytes() { return totalStats.fileBlockBytes; }

/*
 * The decoders take the reading steps inlined whole ([[gnu::flatten]]):
 * the cursor then stays in registers instead of being stored and loaded
 * again by every step, which halves what a line costs.
 */

/*
 * A volume line starts a new block: what belonged to the last one goes.
 * The scanner's volume word ends at a blank or a tab; after a tab with
 * more of the line straight after it, the path went on.  That much of the
 * line lies in the scanner's buffer behind the word; where the buffer
 * ends first, the path is taken to go on, to be safe.
 */
[[gnu::flatten]] int
NdirLexer::NdirVolLine(const char *line)
{
	NdirCursor in(line);
	NdirReadVol(in, vol);
	if (line == YYText() && yy_hold_char == '\t') {
		NdirCursor rest(line + strlen(line) + 1);
		if (rest.look(0) == EOF || NdirGoesOn(rest, 0))
			vol.split |= NDIR_PATH_FIELD;
	}
	dir.clear();
	file.clear();
	volStats.clear();
	return VolUpdate();
}

/* The other decoders: `read' fills the record from the cursor `in'. */
#define NDIR_DECODER(decoder, hook, read)	\
	[[gnu::flatten]] int			\
	NdirLexer::decoder(const char *line)	\
	{					\
		NdirCursor in(line);		\
		read;				\
		return hook();			\
	}

NDIR_DECODER(NdirDirLine, DirUpdate, NdirReadDir(in, dir))
NDIR_DECODER(NdirFileLine, FileUpdate, NdirReadFile(in, file))
NDIR_DECODER(NdirFileCountSizeLine, FileCountSizeUpdate,
    NdirReadCount(in, volStats.fileBytes, volStats.fileCount, NDIR_BYTES_IN))
NDIR_DECODER(NdirFileBlockSizeLine, FileBlockSizeUpdate,
    NdirReadCount(in, volStats.fileBlockBytes, volStats.fileBlocks, NDIR_BYTES_IN))
NDIR_DECODER(NdirTotalFileCountSizeLine, TotalFileCountSizeUpdate,
    NdirReadCount(in, totalStats.fileBytes, totalStats.fileCount, NDIR_TOTAL_BYTES_IN))
NDIR_DECODER(NdirTotalFileBlockSizeLine, TotalFileBlockSizeUpdate,
    NdirReadCount(in, totalStats.fileBlockBytes, totalStats.fileBlocks, NDIR_TOTAL_BYTES_IN))
