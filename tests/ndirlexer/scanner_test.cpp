// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "recorder.h"

namespace {

const char FILE1[] =
    "REPORT        TXT        1,234,567  3-15-96  4:07p [Rw-A--------------] SUPERVISO";
const char FILE2[] =
    "README                         512  1-02-95 12:00p [Rw----------------] GUEST";
const char DIR1[] =
    "PUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a";
const std::string SEP = std::string(17, '-') + "  -----";

struct Scan {
	int result;
	std::vector<std::string> calls;
};

Scan
scan(const std::string &text, const std::string &stopAt = "")
{
	std::istringstream in(text);
	Recorder r(&in);
	r.stopAt = stopAt;
	int result = r.yylex();
	return {result, r.calls};
}

std::string
join(const std::vector<std::string> &v)
{
	std::string s;
	for (const auto &x : v)
		s += x + ";";
	return s;
}

TEST(Scanner, WholeListingCallsHooksInListingOrder)
{
	std::string text = std::string("FS1\\SYS:APPS\\DATA\n") +
	    "Files:    Size   Last Updated   Flags    Owner\n" + SEP + "\n" +
	    FILE1 + "\n" + FILE2 + "\n\n" +
	    "    1,234,567 bytes in     42 files\n" +
	    "       12,288 bytes in     24 blocks\n\n" +
	    "Directories:  Inherited  Effective  Owner  Created\n" + SEP + "\n" +
	    DIR1 + "\n\n" +
	    "   12,345,678 total bytes in     812 files\n" +
	    "    1,097,728 total bytes in     268 blocks\n";
	Scan s = scan(text);
	EXPECT_EQ(s.result, 0);
	EXPECT_EQ(join(s.calls),
	    "Start;Vol FS1|SYS|APPS\\DATA;File REPORT.TXT;File README;"
	    "FileCount 1234567/42;FileBlock 12288/24;Dir PUBLIC;"
	    "TotalCount 12345678/812;TotalBlock 1097728/268;");
}

TEST(Scanner, RecognisesLinesOnlyInTheirContext)
{
	const std::string V = "FS1\\SYS:\n", F = "Files:\n", D = "Directories:\n";
	struct {
		const char *name;
		std::string text;
		const char *calls;
	} cases[] = {
		{"empty input", "", ""},
		{"no volume line", "just text\n:colon first\n", ""},
		{"only colon first is no volume", ":abc def\n", ""},
		{"second colon makes a volume", ":a:b\n", "Start;Vol :a:b|(null)|(null);"},
		{"Files: heading before any volume is a volume line",
		    "Files: x y\nREADME\n", "Start;Vol Files:|(null)|(null);"},
		{"start called once", V + V, "Start;Vol FS1|SYS|(null);Vol FS1|SYS|(null);"},
		{"volume word ends at a tab, the path goes on", "FS1\\SYS:P\tQ\n", "Start;Vol FS1|SYS|P split;"},
		{"a tab after the colon ends an empty path", "FS1\\SYS:\t\tQ\n", "Start;Vol FS1|SYS|(null) split;"},
		{"blanks or the line end after a tab", "FS1\\SYS:P\t Q\nFS1\\SYS:P\t\n",
		    "Start;Vol FS1|SYS|P;Vol FS1|SYS|P;"},
		{"CR belongs to the volume word", "FS1\\SYS:P\r\n", "Start;Vol FS1|SYS|P\r;"},
		{"file line in file section", V + F + FILE2 + "\n", "Start;Vol FS1|SYS|(null);File README;"},
		{"dir line in dir section", V + D + DIR1 + "\n", "Start;Vol FS1|SYS|(null);Dir PUBLIC;"},
		{"file line outside section dropped", V + FILE2 + "\n", "Start;Vol FS1|SYS|(null);"},
		{"section closed only by empty line", V + F + "FS2\\VOL:X\n" + "    1,034 bytes in 3 files\n",
		    "Start;Vol FS1|SYS|(null);File FS2\\VOL:;File 1,034;"},
		{"blank line is an entry", V + F + "   \n", "Start;Vol FS1|SYS|(null);File (null);"},
		{"16 hyphens is an entry", V + F + std::string(16, '-') + "\n", "Start;Vol FS1|SYS|(null);File --------;"},
		{"17 hyphens is a separator", V + F + std::string(17, '-') + "xyz\n", "Start;Vol FS1|SYS|(null);"},
		{"empty line in VOLUME changes nothing", V + "\n\n" + F + "A\n", "Start;Vol FS1|SYS|(null);File A;"},
		{"closing returns to VOLUME", V + F + "A\n\nB\n" + D + "C\n",
		    "Start;Vol FS1|SYS|(null);File A;Dir C;"},
		{"bytes in directly followed by files", V + std::string(11, ' ') + "512bytes infiles\n",
		    "Start;Vol FS1|SYS|(null);FileCount 512/0;"},
		{"total bytes in needs a count character", V + std::string(11, ' ') + "512total bytes infiles\n",
		    "Start;Vol FS1|SYS|(null);"},
		{"count field of 13 dropped", V + "         512 bytes in 3 files\n", "Start;Vol FS1|SYS|(null);"},
		{"count field of 15 dropped", V + "           512 bytes in 3 files\n", "Start;Vol FS1|SYS|(null);"},
		{"blank before newline dropped", V + "          512 bytes in 3 files \n", "Start;Vol FS1|SYS|(null);"},
		{"count line inside a section is an entry", V + F + "          512 bytes in 3 files\n",
		    "Start;Vol FS1|SYS|(null);File 512;"},
		{"CRLF: headings and separators still work", "FS1\\SYS:P\r\nFiles:\r\n" + SEP + "\r\nA\r\n\r\n",
		    "Start;Vol FS1|SYS|P\r;File A;File (null);"},
		{"CRLF: count lines dropped", V + "          512 bytes in 3 files\r\n", "Start;Vol FS1|SYS|(null);"},
		{"last line without newline in a section", V + F + "NOTES", "Start;Vol FS1|SYS|(null);File NOTES;"},
		{"unterminated separator is an entry", V + F + std::string(17, '-'), "Start;Vol FS1|SYS|(null);File --------;"},
		{"unterminated count line dropped", V + "          512 bytes in 3 files", "Start;Vol FS1|SYS|(null);"},
		{"unterminated Files: is a volume line", V + "Files:", "Start;Vol FS1|SYS|(null);Vol Files:|(null)|(null);"},
		{"unterminated volume line", "FS1\\SYS:P", "Start;Vol FS1|SYS|P;"},
	};
	for (const auto &c : cases) {
		Scan s = scan(c.text);
		EXPECT_EQ(s.result, 0) << c.name;
		EXPECT_EQ(join(s.calls), c.calls) << c.name;
	}
}

TEST(Scanner, HookReturningZeroStopsAndNextCallResumes)
{
	std::string text = std::string("FS1\\SYS:A rest\nFS1\\SYS:B\nFiles:\n") +
	    "ONE\nTWO\n\n";
	std::istringstream in(text);
	Recorder r(&in);

	r.stopAt = "Start";
	EXPECT_EQ(r.yylex(), 1);
	EXPECT_EQ(join(r.calls), "Start;");
	/* The rest of the stopping line is dropped; Start comes again. */
	r.stopAt = "File";
	EXPECT_EQ(r.yylex(), 1);
	EXPECT_EQ(join(r.calls), "Start;Start;Vol FS1|SYS|B;File ONE;");
	EXPECT_EQ(r.yylex(), 0);
	EXPECT_EQ(join(r.calls), "Start;Start;Vol FS1|SYS|B;File ONE;File TWO;");
	EXPECT_EQ(r.yylex(), 0);
}

TEST(Scanner, DecoderStoppingLeavesTheRestUnread)
{
	const char *hooks[] = {"Vol", "Dir", "File", "FileCount", "FileBlock", "TotalCount", "TotalBlock"};
	std::string text = std::string("FS1\\SYS:\nDirectories:\nD\n\nFiles:\nF\n\n") +
	    "          512 bytes in 3 files\n          512 bytes in 3 blocks\n"
	    "          512 total bytes in 3 files\n          512 total bytes in 3 blocks\n"
	    "FS2\\SYS:\n";
	for (const char *hook : hooks) {
		Scan s = scan(text, hook);
		EXPECT_EQ(s.result, 1) << hook;
		ASSERT_FALSE(s.calls.empty());
		EXPECT_EQ(s.calls.back().substr(0, s.calls.back().find(' ')), hook);
	}
}

TEST(Scanner, LinesLongerThanTheBufferAreHandedOnWhole)
{
	std::string longName(40000, 'X');
	std::string text = "FS1\\SYS:\nFiles:\n" + longName + "\nB\n";
	Scan s = scan(text);
	EXPECT_EQ(join(s.calls), "Start;Vol FS1|SYS|(null);File XXXXXXXX;File B;");
}

/* Input of any length without holding it: a head, one byte many times, a tail. */
class Stretched : public std::streambuf {
public:
	Stretched(std::string head, char byte, size_t count, std::string tail)
	    : head(std::move(head)), tail(std::move(tail)), byte(byte), count(count) {}

protected:
	int_type underflow() override
	{
		const size_t CHUNK = 1 << 20;

		if (!head.empty())
			chunk.swap(head);
		else if (count > 0) {
			chunk.assign(std::min(count, CHUNK), byte);
			count -= chunk.size();
		} else if (!tail.empty()) {
			chunk = tail;
			tail.clear();
		} else
			return traits_type::eof();
		setg(&chunk[0], &chunk[0], &chunk[0] + chunk.size());
		return traits_type::to_int_type(chunk[0]);
	}

private:
	std::string head, tail, chunk;
	char byte;
	size_t count;
};

/*
 * Lines of any length and runs of zero bytes scan in time linear in their
 * length.  A line that outgrows the buffer is read in few reads, each
 * filling the grown buffer (reads of a fixed size made flex run over the
 * line again after each one); a zero byte reads as 0x01, which every rule
 * takes as it takes a zero byte, but which is no end-of-buffer mark to
 * flex (each zero byte made it run over the line again).
 */
TEST(Scanner, LongLinesAndZeroBytesScanInLinearTime)
{
	const std::string V = "FS1\\SYS:\n", F = "Files:\n", VOL = "Start;Vol FS1|SYS|(null);";
	const size_t MB = 1000000;
	const struct {
		const char *name;
		std::string head;
		char byte;
		size_t count;
		std::string tail, calls;
	} cases[] = {
		{"64 MB file line", V + F, 'X', 64 * MB, "\nB\n", VOL + "File XXXXXXXX;File B;"},
		{"16 MB line outside a section", V, 'X', 16 * MB, "\nFS2\\V:\n", VOL + "Vol FS2|V|(null);"},
		{"4 MB of zero bytes as a file line", V + F, '\0', 4 * MB, "\nB\n",
		    VOL + "File " + std::string(8, '\x01') + ";File B;"},
		{"4 MB of zero bytes before the first volume line", "", '\0', 4 * MB, "\n" + V, VOL},
		{"zero bytes in a volume word", "FS1\\S", '\0', 4 * MB, "YS:P\n",
		    "Start;Vol FS1|S" + std::string(46, '\x01') + "|(null);"},
	};
	for (const auto &c : cases) {
		Stretched text(c.head, c.byte, c.count, c.tail);
		std::istream in(&text);
		Recorder r(&in);
		EXPECT_EQ(r.yylex(), 0) << c.name;
		EXPECT_EQ(join(r.calls), c.calls) << c.name;
		/* 8 KiB reads would make thousands */
		EXPECT_LE(r.reads, 40) << c.name;
	}
}

TEST(Scanner, PlainScannerReadsWholeInputAndWritesNothing)
{
	std::istringstream in("FS1\\SYS:\nFiles:\nA\n\nnoise\n");
	std::ostringstream out;
	NdirLexer lexer(&in, &out);
	EXPECT_EQ(lexer.NdirStart(), 1);
	EXPECT_EQ(lexer.yylex(), 0);
	EXPECT_EQ(lexer.NdirExit(), 1);
	EXPECT_EQ(out.str(), "");
	EXPECT_STREQ(lexer.FileName(), "A");
}

} // namespace
