// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "ndirlexer.h"

namespace {

const char DIRLINE[] = "SYSTEM   OLD      [ RWCEMF ] [SRWCEMFA] SUPERVISO   3-15-96  4:07p";
const char FILELINE[] = "REPORT        TXT        1,234,567  3-15-96  4:07p [Rw-A--------------] SUPERVISO";

void
expectEmptyVolume(NdirLexer &l)
{
	EXPECT_EQ(l.DirName(), nullptr);
	EXPECT_EQ(l.FileName(), nullptr);
	EXPECT_EQ(l.DirOwner(), nullptr);
	EXPECT_EQ(l.FileOwner(), nullptr);
	EXPECT_EQ(l.DirInheritedRights(), nullptr);
	EXPECT_EQ(l.DirEffectiveRights(), nullptr);
	EXPECT_EQ(l.FileFlags(), nullptr);
	EXPECT_EQ(l.FileSize(), 0);
	EXPECT_EQ(l.FileUpdateTime(), 0);
	EXPECT_EQ(l.DirCreateTime(), 0);
	EXPECT_EQ(l.VolFileCount(), 0);
	EXPECT_EQ(l.VolFileBytes(), 0);
	EXPECT_EQ(l.VolFileBlocks(), 0);
	EXPECT_EQ(l.VolFileBlockBytes(), 0);
}

/* Built over memory full of stray bytes, which the constructor must clear. */
TEST(Records, AFreshScannerHasNothing)
{
	alignas(NdirLexer) unsigned char memory[sizeof(NdirLexer)];
	memset(memory, 'X', sizeof memory);
	NdirLexer &l = *new (memory) NdirLexer(nullptr, nullptr);
	expectEmptyVolume(l);
	EXPECT_EQ(l.VolServer(), nullptr);
	EXPECT_EQ(l.VolVolume(), nullptr);
	EXPECT_EQ(l.VolPath(), nullptr);
	EXPECT_EQ(l.TotalFileCount(), 0);
	EXPECT_EQ(l.TotalFileBytes(), 0);
	EXPECT_EQ(l.TotalFileBlocks(), 0);
	EXPECT_EQ(l.TotalFileBlockBytes(), 0);
	EXPECT_EQ(l.vol.cut | l.vol.split | l.file.cut | l.file.split, 0);
	l.~NdirLexer();
}

TEST(Records, AVolumeLineClearsTheBlockButKeepsTotals)
{
	NdirLexer l(nullptr, nullptr);
	l.NdirDirLine(DIRLINE);
	l.NdirFileLine(FILELINE);
	l.NdirFileCountSizeLine("    1,234,567 bytes in     42 files\n");
	l.NdirFileBlockSizeLine("       12,288 bytes in     24 blocks\n");
	l.NdirTotalFileCountSizeLine("   12,345,678 total bytes in     812 files\n");
	l.NdirTotalFileBlockSizeLine("    1,097,728 total bytes in     268 blocks\n");
	l.NdirVolLine("FS2\\VOL1:");
	expectEmptyVolume(l);
	EXPECT_EQ(l.TotalFileCount(), 812);
	EXPECT_EQ(l.TotalFileBytes(), 12345678);
	EXPECT_EQ(l.TotalFileBlocks(), 268);
	EXPECT_EQ(l.TotalFileBlockBytes(), 1097728);
}

TEST(Records, LinesOverwriteOnlyTheirOwnRecord)
{
	NdirLexer l(nullptr, nullptr);
	l.NdirDirLine(DIRLINE);
	l.NdirFileLine(FILELINE);
	EXPECT_STREQ(l.DirName(), "SYSTEM.OLD");
	EXPECT_STREQ(l.DirInheritedRights(), " RWCEMF ");
	/* a later line shows only what it holds, nothing of the one before */
	l.NdirFileLine("NOTES");
	EXPECT_STREQ(l.FileName(), "NOTES");
	EXPECT_EQ(l.FileOwner(), nullptr);
	EXPECT_EQ(l.FileFlags(), nullptr);
	EXPECT_EQ(l.FileSize(), 0);
	EXPECT_STREQ(l.DirName(), "SYSTEM.OLD");
}

TEST(Records, NameBuffersAreSharedPerAccessor)
{
	NdirLexer a(nullptr, nullptr), b(nullptr, nullptr);
	a.NdirFileLine(FILELINE);
	b.NdirFileLine("README                         512  1-02-95 12:00p [Rw----------------] GUEST");
	a.NdirDirLine(DIRLINE);

	char *first = a.FileName();
	char *second = b.FileName();
	EXPECT_EQ(first, second);
	EXPECT_STREQ(first, "README");
	EXPECT_STREQ(a.DirName(), "SYSTEM.OLD");
	EXPECT_STREQ(second, "README");

	a.NdirDirLine("PUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a");
	EXPECT_STREQ(a.DirName(), "PUBLIC");
	/* an extension without a name gives the dot and the extension */
	strcpy(a.file.name, "");
	strcpy(a.file.extension, "TXT");
	EXPECT_STREQ(a.FileName(), ".TXT");
	/* the buffers' spare byte is the caller's: the longest name takes one more */
	a.NdirFileLine("EIGHTLET      DAT  1  1-02-95 12:00p [Rw----------------] IS");
	EXPECT_STREQ(strcat(a.FileName(), "X"), "EIGHTLET.DATX");
}

} // namespace
