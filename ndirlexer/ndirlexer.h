/* SPDX-License-Identifier: ISC */
/*
 * NdirLexer: a scanner for saved NDIR listings.
 *
 * The scanner reads listing text, decodes each recognised line into one of
 * its records and calls the hook for that kind of line.  Programs derive
 * from NdirLexer, override the hooks they need, and read the records
 * through the accessors while a hook runs.  A hook returns non-zero to go
 * on scanning and zero to make yylex() return 1 at once.
 */
#ifndef NDIRLEXER_H
#define NDIRLEXER_H

#include <ctime>
#include <istream>
#include <ostream>

/* The generated scanner includes FlexLexer.h itself; include it only once. */
#ifndef yyFlexLexerOnce
#include <FlexLexer.h>
#endif

#include "ndirrecord.h"

class NdirLexer : public yyFlexLexer {
public:
	/* Null streams stand for standard input and standard output. */
	NdirLexer(std::istream *in, std::ostream *out);
	virtual ~NdirLexer();

	/*
	 * Scans until the input ends (result 0) or a hook returns 0
	 * (result 1).  A further call goes on after the stopping line.
	 */
	virtual int yylex();

	/* Hooks: every default does nothing and returns 1. */
	virtual int StartUpdate();
	virtual int VolUpdate();
	virtual int DirUpdate();
	virtual int FileUpdate();
	virtual int FileCountSizeUpdate();
	virtual int FileBlockSizeUpdate();
	virtual int TotalFileCountSizeUpdate();
	virtual int TotalFileBlockSizeUpdate();
	virtual int ExitUpdate();

	/* Called before the first volume line is decoded. */
	int NdirStart();
	/* Never called by the scanner; for programs that want an end event. */
	int NdirExit();

	/*
	 * Text accessors return the field, or a null pointer when it is
	 * empty.  DirName() and FileName() compose "NAME.EXT" in a static
	 * buffer of their own, shared by every scanner in the process and
	 * overwritten by the next call.
	 */
	char *VolServer();
	char *VolVolume();
	char *VolPath();
	char *DirName();
	char *DirOwner();
	char *DirEffectiveRights();
	char *DirInheritedRights();
	time_t DirCreateTime();
	char *FileName();
	char *FileOwner();
	char *FileFlags();
	long FileSize();
	time_t FileUpdateTime();
	long VolFileCount();
	long VolFileBytes();
	long VolFileBlocks();
	long VolFileBlockBytes();
	long TotalFileCount();
	long TotalFileBytes();
	long TotalFileBlocks();
	long TotalFileBlockBytes();

	/*
	 * Line decoders: each fills its record from the matched text, calls
	 * its hook and returns the hook's result.  They never reject a line.
	 */
	int NdirVolLine(const char *text);
	int NdirDirLine(const char *text);
	int NdirFileLine(const char *text);
	int NdirFileCountSizeLine(const char *text);
	int NdirFileBlockSizeLine(const char *text);
	int NdirTotalFileCountSizeLine(const char *text);
	int NdirTotalFileBlockSizeLine(const char *text);

	NdirVol vol;
	NdirDir dir;
	NdirFile file;
	NdirFileStats volStats;
	NdirFileStats totalStats;
};

#endif /* NDIRLEXER_H */
