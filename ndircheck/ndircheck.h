/* SPDX-License-Identifier: ISC */
/* ndircheck: what the script copies, for the plan of the new drives and the check of the copy. */
#ifndef NDIRCHECK_H
#define NDIRCHECK_H

#include <iconv.h>

#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "ndirmigrate.h"

/* Exact sums of listed sizes: no listing holds 2^64 files of 2^63 bytes. */
typedef __int128 Bytes;

std::string decimal(Bytes n);

/* A count of files and the sum of their listed sizes. */
struct Tally {
	uint64_t files = 0;
	Bytes bytes = 0;

	void add(long size) { files++, bytes += size; }
	void add(const Tally &t) { files += t.files, bytes += t.bytes; }
};

/* The files of one owner's folder, or of a drive root, spelt as the first copied there. */
struct Folder {
	std::string shown;
	Tally tally;
};

/* Where the copies of one owner in one volume block come from and go. */
struct Origin {
	std::string server, volume, path, owner;
	Folder *folder;
	uint32_t dir;	/* of its last copy: mostly the next one's too */
};

/* A copied file, its target in DOS form: a directory and a last part. */
struct Copy {
	uint32_t origin, dir, order;	/* order: in the run */
	char name[NDIR_FULL_NAME_LEN], leaf[NDIR_FULL_NAME_LEN];
	long size;
	time_t time;
};

/*
 * The listings' code page: how its letters fold, how the tree's UTF-8 names read in it, and how
 * names are shown: in UTF-8 where the locale's character set is, as listed otherwise.
 */
struct CodePage {
	NdirFold fold = NDIR_ASCII_FOLD;
	iconv_t fromTree = nullptr, toShown = nullptr;	/* null: none */

	CodePage() = default;
	CodePage(const CodePage &) = delete;
	CodePage &operator=(const CodePage &) = delete;
	~CodePage()
	{
		for (iconv_t cd : {fromTree, toShown})
			if (cd != nullptr)
				(void)iconv_close(cd);
	}
	bool Open(const std::string &name);	/* false when iconv does not know it */
	/* A name of the tree in the page; false where it is no UTF-8 of its letters. */
	bool FromTree(const std::string &name, std::string &inPage) const
	{
		return Convert(fromTree, name, inPage);
	}
	std::string Shown(const std::string &listed) const
	{
		std::string shown;
		return Convert(toShown, listed, shown) ? shown : listed;
	}
	/* False where there is no conversion, or the text does not convert whole. */
	static bool Convert(iconv_t cd, const std::string &text, std::string &out);
};

/* What the script of a run copies, and what it does not copy. */
struct Migration {
	CodePage page;
	std::deque<Copy> copies;
	std::vector<Origin> origins;
	/* Target directories in DOS form, each with its index in dirs, which points to the keys. */
	std::unordered_map<std::string, uint32_t> dirIndex;
	std::vector<const std::string *> dirs;
	std::map<std::string, Folder> folders;	/* by their DOS form */
	std::map<std::string, Tally> leftOut;	/* by the reason */
	uint64_t notCopied[NDIR_COPIED] = {};	/* by their fate */

	/* Sorts the copies by target, a directory's before its subdirectories', and keeps the last of each. */
	void Settle();
	NdirRecord Record(const Copy &c) const
	{
		const Origin &o = origins[c.origin];
		auto field = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
		return {field(o.server), field(o.volume), field(o.path), c.name, field(o.owner)};
	}
};

/* The scanner: each file line as the migration takes it, kept or counted. */
class ndircheck : public NdirMigrate {
public:
	ndircheck(std::istream *in, NdirTargets &targets, Migration &m) : NdirMigrate(in, targets), m(m) {}

	int VolUpdate() override
	{
		blockOrigins.clear();
		return NdirMigrate::VolUpdate();
	}

protected:
	void Take(const NdirOutcome &o) override;
	bool TakesNames() override { return false; }

private:
	Migration &m;
	std::map<std::string, uint32_t> blockOrigins;	/* the current block's, by owner */
};

/* The plan: files and bytes by owner's folder and drive, and what is left out. */
void PrintPlan(Migration &m, std::ostream &out);

#endif /* NDIRCHECK_H */
