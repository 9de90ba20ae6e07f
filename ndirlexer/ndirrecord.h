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

/* The last volume line: server, volume and the path within the volume. */
struct NdirVol {
	char server[NDIR_SERVER_LEN];
	char volume[NDIR_VOLUME_LEN];
	char path[NDIR_PATH_LEN];

	NdirVol() { clear(); }
	void clear();
};

/* The last directory line of the current volume. */
struct NdirDir {
	char name[NDIR_NAME_LEN];
	char extension[NDIR_EXTENSION_LEN];
	char inheritedRights[NDIR_RIGHTS_LEN];
	char effectiveRights[NDIR_RIGHTS_LEN];
	char owner[NDIR_OWNER_LEN];
	time_t createTime;

	NdirDir() { clear(); }
	void clear();
};

/* The last file line of the current volume. */
struct NdirFile {
	char name[NDIR_NAME_LEN];
	char extension[NDIR_EXTENSION_LEN];
	long size;
	time_t updateTime;
	char flags[NDIR_FLAGS_LEN];
	char owner[NDIR_OWNER_LEN];

	NdirFile() { clear(); }
	void clear();
};

/* The numbers of the count lines, as printed; nothing is added up. */
struct NdirFileStats {
	long fileCount;
	long fileBlocks;
	long fileBytes;
	long fileBlockBytes;

	NdirFileStats() { clear(); }
	void clear();
};

#endif /* NDIRRECORD_H */
