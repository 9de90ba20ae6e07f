// SPDX-License-Identifier: ISC
/*
 * The listings as the script sees them: every file line judged by the
 * migration rules, with torbek00's warnings, and every copied file kept at
 * its target, where a later file copied to the same target takes the
 * place of the earlier one, as the copy that overwrites it does.
 */
#include <cstdio>
#include <functional>

#include "ndircheck.h"
#include "ndirprogram.h"

static const uint32_t NONE = UINT32_MAX;
static const char OVERWRITTEN[] =
    "left out: copied, then overwritten by a later file of the same target";

std::string
NdirDecimal(NdirBytes n)
{
	char digits[48];
	char *p = digits + sizeof digits;
	/* Negated as unsigned, so that the lowest value has its digits too. */
	unsigned __int128 u = n < 0 ? 0 - static_cast<unsigned __int128>(n) : n;

	*--p = '\0';
	do {
		*--p = static_cast<char>('0' + static_cast<int>(u % 10));
		u /= 10;
	} while (u != 0);
	if (n < 0)
		*--p = '-';
	return p;
}

/* A field of a record: absent when empty, as the scanner gives it. */
static const char *
field(const std::string &s)
{
	return s.empty() ? nullptr : s.c_str();
}

/* A copy's record, as the scanner gave it. */
NdirRecord
NdirMigration::record(const NdirCopy &c) const
{
	const NdirOrigin &o = origins[c.origin];
	const NdirBlock &b = blocks[o.block];

	return {field(b.server), field(b.volume), field(b.path), c.name, field(o.owner)};
}

/*
 * A printed file line takes about 90 bytes: room for a file a 64th of
 * the listings' bytes, and for the last part of its target, a name's
 * length at most, is taken at once.  It costs memory only as it is
 * filled, and the files are never moved as a growing vector moves them;
 * listings of shorter lines grow it as usual.
 */
void
NdirMigration::Expect(size_t bytes)
{
	copies.reserve(bytes / 64);
	leaves.reserve(bytes / 64 * NDIR_FULL_NAME_LEN);
}

void
NdirMigration::Block()
{
	blockOrigins.clear();
	block = NONE;
}

/* The DOS form of text into key. */
static void
dosKey(const std::string &text, std::string &key)
{
	key.resize(text.size() + 1);
	key.resize(NdirDosKey(text.c_str(), &key[0]));
}

/* The origin of a copied file: found by owner among its block's. */
uint32_t
NdirMigration::origin(const NdirRecord &r)
{
	auto [at, added] = blockOrigins.try_emplace(r.owner, origins.size());
	if (!added)
		return at->second;

	std::string shown, folded;
	NdirTargetGroup(r, [&shown](const char *piece, bool) { shown += piece; });
	dosKey(shown, folded);
	NdirGroup &group = groups.try_emplace(folded, NdirGroup{shown, {}}).first->second;
	if (block == NONE) {
		block = static_cast<uint32_t>(blocks.size());
		blocks.push_back({r.server, r.volume, r.path ? r.path : ""});
	}
	origins.push_back({block, r.owner, &group});
	return at->second;
}

/* The index of a target directory; the files of a block mostly share one. */
uint32_t
NdirMigration::dir(std::string_view key)
{
	if (!dirs.empty() && *dirs[lastDir] == key)
		return lastDir;
	auto [at, added] = dirIndex.try_emplace(std::string(key), dirs.size());
	if (added)
		dirs.push_back(&at->first);
	lastDir = at->second;
	return lastDir;
}

/* The upper half of a target's hash, where its slot keeps it. */
static uint64_t
tag(uint64_t hash)
{
	return hash & ~static_cast<uint64_t>(UINT32_MAX);
}

static uint64_t
targetHash(uint32_t dir, std::string_view leaf)
{
	return std::hash<std::string_view>()(leaf) ^ dir * 0x9e3779b97f4a7c15u;
}

/* The slot of a target of that hash in the table: the copy's, or a free one for it. */
uint64_t *
NdirMigration::slot(uint64_t hash, uint32_t dir, std::string_view leaf)
{
	size_t mask = table.size() - 1;

	for (size_t i = hash & mask;; i = (i + 1) & mask) {
		uint64_t at = table[i];
		if (at == 0)
			return &table[i];
		const NdirCopy &c = copies[(at & UINT32_MAX) - 1];
		if (tag(at) == tag(hash) && c.dir == dir && Leaf(c) == leaf)
			return &table[i];
	}
}

/* Doubles the table (1024 slots at first), keeping it from 3/8 to 3/4 full. */
void
NdirMigration::grow()
{
	table.assign(table.empty() ? 1024 : 2 * table.size(), 0);
	for (uint32_t i = 0; i < copies.size(); i++) {
		uint64_t hash = targetHash(copies[i].dir, Leaf(copies[i]));
		*slot(hash, copies[i].dir, Leaf(copies[i])) = tag(hash) | (i + 1);
	}
}

bool
NdirMigration::Copy(const NdirRecord &r, long size, time_t time)
{
	auto add = [this](const char *piece, bool) { target += piece; };
	uint32_t from = origin(r);

	target.clear();
	NdirTarget(r, add);
	dosKey(target, key);

	/* A target with no part after the drive has an empty last part. */
	size_t cut = key.rfind('\\');
	std::string_view whole(key);
	std::string_view leaf = cut == std::string::npos ? "" : whole.substr(cut + 1);
	NdirCopy c = {dir(whole.substr(0, cut)), 0, from, {}, size, time};
	(void)snprintf(c.name, sizeof c.name, "%s", r.name);

	if (4 * (copies.size() + 1) > 3 * table.size())
		grow();
	uint64_t hash = targetHash(c.dir, leaf);
	uint64_t *at = slot(hash, c.dir, leaf);
	if (*at != 0) {
		NdirCopy &earlier = copies[(*at & UINT32_MAX) - 1];
		leftOut[OVERWRITTEN].add(earlier.size);
		c.leaf = earlier.leaf;
		earlier = c;
		return true;
	}
	c.leaf = static_cast<uint32_t>(leaves.size());
	leaves.append(leaf).push_back('\0');
	*at = tag(hash) | (copies.size() + 1);
	copies.push_back(c);
	return false;
}

std::string
NdirMigration::Target(const NdirCopy &c) const
{
	std::string t;
	NdirRecord r = record(c);
	auto add = [&t](const char *piece, bool) { t += piece; };

	NdirTarget(r, add);
	return t;
}

std::string
NdirMigration::Source(const NdirCopy &c) const
{
	std::string s;

	NdirSourceName(record(c),
	    [&s](const char *piece, bool) { s += piece; });
	return s;
}

int
ndircheck::VolUpdate()
{
	m.volumeRefusal = NdirJudgeVolume(*this);
	m.Block();
	return 1;
}

/* As torbek00 writes the script: the same warnings, status and end of a listing. */
int
ndircheck::FileUpdate()
{
	NdirRecord r;
	const char *reason;

	switch (NdirJudgeFile(*this, m.volumeRefusal, r, &reason)) {
	case NDIR_COPIED:
		if (m.Copy(r, FileSize(), FileUpdateTime())) {
			std::string shown;
			NdirScriptText(shown, m.LastTarget());
			NdirWarnCopiedAgain(r, shown.c_str());
		}
		return 1;
	case NDIR_ECHOED:
		break;
	case NDIR_REFUSED:
		NdirWarnRecord(r, reason);
		NdirProgramFail();
		break;
	case NDIR_INCOMPLETE:
		NdirWarnRecord(r, reason);
		m.LeaveOut(reason, FileSize());
		return 0;
	}
	m.LeaveOut(reason, FileSize());
	return 1;
}
