/* SPDX-License-Identifier: ISC */
/*
 * ndircheck: what the migration script copies, read from the listings by
 * the migration rules, for the plan of the new drives and the check of
 * the copy.
 */
#ifndef NDIRCHECK_H
#define NDIRCHECK_H

#include <cstdint>
#include <ctime>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ndirlexer.h"
#include "ndirmigrate.h"

/* Exact sums of listed sizes: no listing holds 2^64 files of 2^63 bytes. */
typedef __int128 NdirBytes;

/* A count of files and the sum of their listed sizes. */
struct NdirTally {
	uint64_t files = 0;
	NdirBytes bytes = 0;

	void add(long size)
	{
		files++;
		bytes += size;
	}
	void add(const NdirTally &t)
	{
		files += t.files;
		bytes += t.bytes;
	}
};

/* The decimal digits of a sum, with a minus sign below 0. */
std::string NdirDecimal(NdirBytes n);

/* The files of one owner's folder, or of a drive root. */
struct NdirGroup {
	std::string shown;	/* as the first file copied there spells it */
	NdirTally tally;
};

/* The volume line of a block with copied files. */
struct NdirBlock {
	std::string server, volume, path;
};

/* The files of one owner in one block. */
struct NdirOrigin {
	uint32_t block = UINT32_MAX;
	std::string owner;
	NdirGroup *group;
};

/* A file as it stands after the copy: the last one copied to its target. */
struct NdirCopy {
	uint32_t dir;		/* the target's directory: NdirMigration::dirs */
	uint32_t leaf;		/* the target's last part: NdirMigration::leaves */
	uint32_t origin;	/* NdirMigration::origins */
	char name[NDIR_FULL_NAME_LEN];	/* as listed */
	long size;
	time_t time;
};

/*
 * What the script of a run copies, every target once, and what it does
 * not copy.  Targets are kept in their DOS form (NdirDosKey), split into
 * the directory and the last part: 48 bytes a file, its last part, and
 * 11 to 22 bytes of the table that finds a target again; each block,
 * owner and target directory once.
 */
class NdirMigration {
public:
	/* Why the current block's volume line is refused, or null (the run's, as in torbek00). */
	const char *volumeRefusal = nullptr;

	/*
	 * Listings of this many bytes are to come: room for the files that
	 * they can hold, which takes memory only as it is filled.
	 */
	void Expect(size_t bytes);
	/* A new volume block begins. */
	void Block();
	/*
	 * A copied file; true when an earlier one of the run had the same
	 * target (LastTarget()), which this one takes over.
	 */
	bool Copy(const NdirRecord &r, long size, time_t time);
	const char *LastTarget() const { return target.c_str(); }
	/* A file that is not copied, and why, in the words of its warning. */
	void LeaveOut(const char *why, long size) { leftOut[why].add(size); }

	/* The target, and the source name, of a copy as the script writes them. */
	std::string Target(const NdirCopy &c) const;
	std::string Source(const NdirCopy &c) const;
	std::string_view Leaf(const NdirCopy &c) const { return leaves.c_str() + c.leaf; }
	const std::string &Dir(const NdirCopy &c) const { return *dirs[c.dir]; }
	NdirGroup &Group(const NdirCopy &c) { return *origins[c.origin].group; }
	/* Sorts the copies by target, each directory's before its subdirectories'. */
	void SortByTarget();

	std::vector<NdirCopy> copies;
	/* Owners' folders and drive roots by their DOS form. */
	std::map<std::string, NdirGroup> groups;
	/* Files not copied, by the reason, and copies overwritten later. */
	std::map<std::string, NdirTally> leftOut;

private:
	NdirRecord record(const NdirCopy &c) const;
	uint32_t origin(const NdirRecord &r);
	uint32_t dir(std::string_view key);
	uint64_t *slot(uint64_t hash, uint32_t dir, std::string_view leaf);
	void grow();

	std::vector<NdirBlock> blocks;
	std::vector<NdirOrigin> origins;
	/* The current block's origins by owner, and its index (UINT32_MAX before its first copy). */
	std::unordered_map<std::string, uint32_t> blockOrigins;
	uint32_t block = UINT32_MAX;
	/* Target directories in DOS form; dirs point to the keys. */
	std::unordered_map<std::string, uint32_t> dirIndex;
	std::vector<const std::string *> dirs;
	uint32_t lastDir = 0;
	/* Every last part, each followed by a NUL. */
	std::string leaves;
	/*
	 * The copies by target, open-addressed: the upper half of a slot is
	 * the upper half of the target's hash, the lower the copy's index
	 * and 1, so that a look-up seldom reads a copy that is not its own;
	 * 0 is free.
	 */
	std::vector<uint64_t> table;
	/* Reused for every file: the target and its DOS form. */
	std::string target, key;
};

/* The scanner: each file line goes to the migration by the rules. */
class ndircheck : public NdirLexer {
public:
	ndircheck(std::istream *in, NdirMigration &m) : NdirLexer(in, nullptr), m(m) {}

	int VolUpdate() override;
	int FileUpdate() override;

private:
	NdirMigration &m;
};

/* The plan: files and bytes by owner's folder and drive, and what is left out. */
void NdirPrintPlan(NdirMigration &m, std::ostream &out);

/* A new drive: the letter as the targets spell it ("O:"), and where it is mounted. */
struct NdirDrive {
	std::string dir;
	int fd;
};

/*
 * Checks every copy at its target under the drives' directories, writing
 * a line for each problem on `out' and the summary on standard error, and
 * returns the exit status: 0 when every file checked is whole, 1 when one
 * is not, 2 when a directory could not be read.  `times' adds the check of
 * the modification time.  Sorts the copies.
 */
int NdirCheckCopy(NdirMigration &m, const std::map<std::string, NdirDrive> &drives,
    bool times, std::ostream &out);

#endif /* NDIRCHECK_H */
