/* SPDX-License-Identifier: ISC */
/*
 * The records of NdirLexer and the sizes of their text fields, each
 * counting the terminating NUL.  Every buffer that holds a field, or a
 * text made of fields, takes its size from these.
 */
#ifndef NDIRRECORD_H
#define NDIRRECORD_H

#include <ctime>

const int NDIR_SERVER_LEN = 48;
const int NDIR_VOLUME_LEN = 48;
const int NDIR_PATH_LEN = 256;
const int NDIR_NAME_LEN = 9;		/* 8 characters */
const int NDIR_EXTENSION_LEN = 4;	/* 3 characters */
const int NDIR_OWNER_LEN = 12;		/* 11 characters */
const int NDIR_RIGHTS_LEN = 9;		/* 8 characters as printed */
const int NDIR_FLAGS_LEN = 19;		/* 18 characters as printed */
/* NAME.EXT as DirName() and FileName() compose it: name, '.', extension. */
const int NDIR_FULL_NAME_LEN = NDIR_NAME_LEN + NDIR_EXTENSION_LEN;
/*
 * The static buffers of DirName() and FileName(): NAME.EXT and its NUL,
 * and one byte more, the room these accessors have always given their
 * callers, who get a pointer they may write through.
 */
const int NDIR_NAME_BUFFER_LEN = NDIR_FULL_NAME_LEN + 1;

/*
 * What a line held that its record's fields do not show, one bit a
 * field, in the record's `cut' and `split': the line held more of the
 * field than the field keeps (cut), or the field ended at white space
 * other than the blank with more of it straight after (split).  Either
 * way the field holds only the first part of what was listed.
 */
enum NdirFieldBit {
	NDIR_SERVER_FIELD = 1, NDIR_VOLUME_FIELD = 2, NDIR_PATH_FIELD = 4,
	NDIR_NAME_FIELD = 1, NDIR_EXTENSION_FIELD = 2, NDIR_OWNER_FIELD = 4,
};

/* The last volume line: server, volume and the path within the volume. */
struct NdirVol {
	char server[NDIR_SERVER_LEN] = {};
	char volume[NDIR_VOLUME_LEN] = {};
	char path[NDIR_PATH_LEN] = {};
	unsigned char cut = 0, split = 0;	/* NDIR_SERVER_FIELD, NDIR_VOLUME_FIELD, NDIR_PATH_FIELD */

	NdirVol() {}
	void clear();
};

/* The last directory line of the current volume. */
struct NdirDir {
	char name[NDIR_NAME_LEN] = {};
	char extension[NDIR_EXTENSION_LEN] = {};
	char inheritedRights[NDIR_RIGHTS_LEN] = {};
	char effectiveRights[NDIR_RIGHTS_LEN] = {};
	char owner[NDIR_OWNER_LEN] = {};
	time_t createTime = 0;

	NdirDir() {}
	void clear();
};

/* The last file line of the current volume. */
struct NdirFile {
	char name[NDIR_NAME_LEN] = {};
	char extension[NDIR_EXTENSION_LEN] = {};
	long size = 0;
	time_t updateTime = 0;
	char flags[NDIR_FLAGS_LEN] = {};
	char owner[NDIR_OWNER_LEN] = {};
	unsigned char cut = 0, split = 0;	/* NDIR_NAME_FIELD, NDIR_EXTENSION_FIELD, NDIR_OWNER_FIELD */

	NdirFile() {}
	void clear();
};

/* The numbers of the count lines, as printed; nothing is added up. */
struct NdirFileStats {
	long fileCount = 0;
	long fileBlocks = 0;
	long fileBytes = 0;
	long fileBlockBytes = 0;

	NdirFileStats() {}
	void clear();
};

#endif /* NDIRRECORD_H */
