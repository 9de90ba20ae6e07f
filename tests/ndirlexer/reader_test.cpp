// SPDX-License-Identifier: ISC
/*
 * The scanner decodes lines with NdirCursor in place of std::istream.
 * These tests hold the two to the same results on arbitrary text: every
 * operation, its stored text, its result and the stream state after it.
 */
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ndirdecode.h"
#include "stdreader.h"

namespace {

const char ALPHABET[] = " \t\r\n\v\f0123456789,-+:./\\[]apAPRWXw";

std::string
randomText(std::mt19937 &rng, size_t maxLength)
{
	std::string s(rng() % (maxLength + 1), ' ');
	for (char &c : s) {
		unsigned r = rng() % 10;
		if (r == 0)
			c = static_cast<char>(1 + rng() % 255);	/* any byte but NUL */
		else if (r < 4)
			c = '0' + rng() % 10;
		else
			c = ALPHABET[rng() % (sizeof ALPHABET - 1)];
	}
	return s;
}

/* Applies one operation, chosen by `op', and describes what it gave. */
template <class In> std::string
apply(In &in, unsigned op, unsigned arg, char delim)
{
	char buf[64];
	std::string r;
	memset(buf, 'Z', sizeof buf);
	std::streamsize n = arg % 12;

	switch (op % 11) {
	case 0: in.getline(buf, n, delim); r = std::string(buf, n); break;
	case 1: in.word(buf, n); r = std::string(buf, n > 0 ? n : 1); break;
	case 2: { int v = 7; in.number(v); r = std::to_string(v); break; }
	case 3: { long v = 7; in.number(v); r = std::to_string(v); break; }
	case 4: in.ws(); break;
	case 5: in.ignore(n - 2); break;
	case 6: in.ignore(n, delim); break;
	case 7: in.read(buf, n); r = std::string(buf, n); break;
	case 8: r = std::to_string(in.peek()); break;
	case 9: r = std::to_string(in.get()); break;
	case 10: r = std::to_string(in.look(n)); break;
	}
	return r + (in.fail() ? " fail" : "") + (in.eof() ? " eof" : "");
}

TEST(Cursor, AgreesWithIstreamOnEveryOperation)
{
	std::mt19937 rng(20261208);
	for (int round = 0; round < 20000; round++) {
		std::string text = randomText(rng, 40);
		NdirStdReader a(text.c_str());
		NdirCursor b(text.c_str());
		for (int step = 0; step < 8; step++) {
			unsigned op = rng(), arg = rng();
			char delim = ALPHABET[rng() % (sizeof ALPHABET - 1)];
			ASSERT_EQ(apply(a, op, arg, delim), apply(b, op, arg, delim))
			    << "text \"" << text << "\" step " << step << " op " << op % 11;
		}
	}
}

TEST(Cursor, AgreesWithIstreamOnNumbersAtTheLimits)
{
	const char *texts[] = {
		"2147483647", "2147483648", "-2147483648", "-2147483649",
		"9223372036854775807", "9223372036854775808", "-9223372036854775808",
		"-9223372036854775809", "99999999999999999999999999999999999999999x",
		"+", "-", "+-1", "0x1f", "08", ".5", "0.5", "  \t\n", "", "-0",
	};
	for (const char *t : texts) {
		for (unsigned op = 2; op <= 3; op++) {
			NdirStdReader a(t);
			NdirCursor b(t);
			EXPECT_EQ(apply(a, op, 0, ' '), apply(b, op, 0, ' ')) << t;
			EXPECT_EQ(apply(a, 9, 0, ' '), apply(b, 9, 0, ' ')) << t;
		}
	}
}

std::string
describe(const NdirVol &v)
{
	return std::string(v.server) + "|" + v.volume + "|" + v.path;
}

std::string
describe(const NdirDir &d)
{
	return std::string(d.name) + "|" + d.extension + "|" +
	    std::string(d.inheritedRights, 9) + "|" + std::string(d.effectiveRights, 9) +
	    "|" + d.owner + "|" + std::to_string(d.createTime);
}

std::string
describe(const NdirFile &f)
{
	return std::string(f.name) + "|" + f.extension + "|" + std::to_string(f.size) +
	    "|" + std::to_string(f.updateTime) + "|" + std::string(f.flags, 19) + "|" +
	    f.owner;
}

template <class In> std::string
decodeAll(const std::string &text)
{
	std::string r;
	{ In in(text.c_str()); NdirVol v; NdirReadVol(in, v); r += describe(v) + (in.fail() ? "F" : "") + "\n"; }
	{ In in(text.c_str()); NdirDir d; NdirReadDir(in, d); r += describe(d) + (in.fail() ? "F" : "") + "\n"; }
	{ In in(text.c_str()); NdirFile f; NdirReadFile(in, f); r += describe(f) + (in.fail() ? "F" : "") + "\n"; }
	{ In in(text.c_str()); long b = 1, c = 1; NdirReadCount(in, b, c, NDIR_BYTES_IN);
	  r += std::to_string(b) + "/" + std::to_string(c) + (in.fail() ? "F" : ""); }
	return r;
}

TEST(Cursor, DecodesEveryLineKindAsIstreamDoes)
{
	const std::string lines[] = {
		"FS1\\SYS:APPS\\DATA",
		"SYSTEM   OLD      [ RWCEMF ] [SRWCEMFA] SUPERVISO   3-15-96  4:07p",
		"PUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a",
		"REPORT        TXT        1,234,567  3-15-96  4:07p [Rw-A--------------] SUPERVISO",
		"README                         512  1-02-95 12:00p [Rw----------------] GUEST",
		"    1,234,567 bytes in     42 files\n",
		"   12,345,678 total bytes in     812 files\n",
	};
	std::mt19937 rng(8122026);
	for (const std::string &line : lines)
		ASSERT_EQ(decodeAll<NdirStdReader>(line), decodeAll<NdirCursor>(line)) << line;
	/* mutations of real lines reach the interesting fail points */
	for (int round = 0; round < 20000; round++) {
		std::string t = lines[rng() % 7];
		for (int k = rng() % 4; k >= 0 && !t.empty(); k--) {
			size_t at = rng() % t.size();
			switch (rng() % 3) {
			case 0: t.erase(at, 1 + rng() % 3); break;
			case 1: t.insert(at, randomText(rng, 3)); break;
			case 2: t[at] = ALPHABET[rng() % (sizeof ALPHABET - 1)]; break;
			}
		}
		ASSERT_EQ(decodeAll<NdirStdReader>(t), decodeAll<NdirCursor>(t)) << t;
		std::string r = randomText(rng, 90);
		ASSERT_EQ(decodeAll<NdirStdReader>(r), decodeAll<NdirCursor>(r)) << r;
	}
}

} // namespace
