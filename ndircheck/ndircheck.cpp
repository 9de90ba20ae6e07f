// SPDX-License-Identifier: ISC
/*
 * The listings as the script sees them: every copied file kept at its
 * target, where a later copy to the same target overwrites it; every other
 * file counted by the reason it is not copied.  Then the plan, du-style:
 * FILES, BYTES and TARGET for each owner's folder and drive root, each
 * drive and the whole copy, then what the script leaves out, by reason.
 */
#include <langinfo.h>

#include <algorithm>
#include <clocale>
#include <string_view>
#include <tuple>

#include "ndircheck.h"

static const char OVERWRITTEN[] =
    "left out: copied, then overwritten by a later file of the same target";

std::string
decimal(Bytes n)
{
	/* Negated as unsigned, so that the lowest value has its digits too. */
	unsigned __int128 u = n < 0 ? 0 - static_cast<unsigned __int128>(n) : n;
	std::string digits;

	do
		digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
	while ((u /= 10) != 0);
	return n < 0 ? "-" + digits : digits;
}

bool
CodePage::Convert(iconv_t cd, const std::string &text, std::string &out)
{
	char *in = const_cast<char *>(text.data());
	size_t inLeft = text.size(), outLeft = 4 * text.size();

	out.assign(outLeft, '\0');
	char *to = &out[0];
	if (cd == nullptr || iconv(cd, nullptr, nullptr, nullptr, nullptr) == static_cast<size_t>(-1) ||
	    iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1))
		return false;
	out.resize(out.size() - outLeft);
	return true;
}

bool
CodePage::Open(const std::string &name)
{
	/* iconv knows the pages of DOS as CP437, CP850, ... */
	std::string page = name.find_first_not_of("0123456789") == std::string::npos ? "CP" + name : name;
	auto conversion = [](const char *to, const char *from) {
		iconv_t cd = iconv_open(to, from);
		return reinterpret_cast<intptr_t>(cd) == -1 ? nullptr : cd;
	};

	fromTree = conversion(page.c_str(), "UTF-8");
	if (fromTree == nullptr || !NdirAddCodePage(fold, page.c_str()))
		return false;
	if (setlocale(LC_CTYPE, "") && strcmp(nl_langinfo(CODESET), "UTF-8") == 0)
		toShown = conversion("UTF-8", page.c_str());
	(void)setlocale(LC_CTYPE, "C");
	return true;
}

void
ndircheck::Take(const NdirOutcome &o)
{
	if (o.fate != NDIR_COPIED) {
		m.leftOut[o.reason].add(o.size);
		m.notCopied[o.fate]++;
		return;
	}
	/* The origin: found by owner among its block's, or a new one. */
	auto [origin, added] = blockOrigins.try_emplace(o.r.owner, m.origins.size());
	if (added) {
		std::string shown;
		NdirTargetRoot(o.r, [&shown](const char *piece) { shown += piece; });
		std::string key(shown.size() + 1, '\0');
		key.resize(NdirDosKey(shown.c_str(), &key[0], m.page.fold));
		Folder &f = m.folders.try_emplace(key, Folder{shown, {}}).first->second;
		m.origins.push_back({o.r.server, o.r.volume, o.r.path ? o.r.path : "", o.r.owner, &f, UINT32_MAX});
	}
	Origin &from = m.origins[origin->second];
	Copy c = {origin->second, 0, static_cast<uint32_t>(m.copies.size()), {}, {}, o.size, o.time};
	strncpy(c.name, o.r.name, sizeof c.name - 1);

	/* A target with no part after the drive has an empty last part. */
	std::string_view key(o.key.buf, o.key.n);
	size_t cut = std::min(key.rfind('\\'), key.size());
	key.substr(std::min(cut + 1, key.size())).copy(c.leaf, sizeof c.leaf - 1);
	key = key.substr(0, cut);
	if (from.dir == UINT32_MAX || *m.dirs[from.dir] != key) {
		auto [at, isNew] = m.dirIndex.try_emplace(std::string(key), m.dirs.size());
		if (isNew)
			m.dirs.push_back(&at->first);
		from.dir = at->second;
	}
	c.dir = from.dir;
	m.copies.push_back(c);
}

void
Migration::Settle()
{
	std::vector<std::pair<std::string, uint32_t>> byKey;
	std::vector<uint32_t> rank(dirs.size());

	/* A separator as \1, below every byte a target holds: a directory's files before its subdirectories'. */
	for (uint32_t i = 0; i < dirs.size(); i++) {
		byKey.emplace_back(*dirs[i], i);
		std::replace(byKey.back().first.begin(), byKey.back().first.end(), '\\', '\1');
	}
	std::sort(byKey.begin(), byKey.end());
	for (uint32_t i = 0; i < byKey.size(); i++)
		rank[byKey[i].second] = i;
	/* The directories renumbered in that order, and the copies sorted by them and their leaves. */
	for (auto &[key, index] : dirIndex)
		dirs[rank[index]] = &key, index = rank[index];
	for (Copy &c : copies)
		c.dir = rank[c.dir];
	/* A leaf padded with NULs compares as its first and last 8 bytes, big-endian: no call of memcmp. */
	auto target = [](const Copy &c) {
		uint64_t head, tail;
		memcpy(&head, c.leaf, sizeof head);
		memcpy(&tail, c.leaf + sizeof c.leaf - sizeof tail, sizeof tail);
		return std::make_tuple(c.dir, __builtin_bswap64(head), __builtin_bswap64(tail));
	};
	std::sort(copies.begin(), copies.end(), [&target](const Copy &a, const Copy &b) {
		return std::make_pair(target(a), a.order) < std::make_pair(target(b), b.order);
	});

	size_t kept = 0;
	for (size_t i = 0; i < copies.size(); i++)
		if (i + 1 < copies.size() && target(copies[i]) == target(copies[i + 1]))
			leftOut[OVERWRITTEN].add(copies[i].size);
		else
			copies[kept++] = copies[i];
	copies.resize(kept);
}

/*
 * The folders are in the order of their DOS form, and so are the drives
 * ("O:" of "O:\QXV1").  A folder whose every file was overwritten from
 * another one has nothing left.
 */
void
PrintPlan(Migration &m, std::ostream &out)
{
	std::map<std::string, Tally> drives;
	Tally total;
	auto line = [&out](const Tally &t, const std::string &what) {
		out << t.files << '\t' << decimal(t.bytes) << '\t' << what << '\n';
	};

	for (const Copy &c : m.copies)
		m.origins[c.origin].folder->tally.add(c.size);
	for (const auto &[key, folder] : m.folders) {
		if (folder.tally.files == 0)
			continue;
		drives[key.substr(0, key.find('\\'))].add(folder.tally);
		total.add(folder.tally);
		line(folder.tally, m.page.Shown(folder.shown));
	}
	for (const auto &[name, tally] : drives)
		line(tally, name);
	line(total, "total");
	for (const auto &[why, tally] : m.leftOut)
		line(tally, why);
}
