// SPDX-License-Identifier: ISC
/*
 * Micro-benchmarks of the line decoders and the date conversion, each on
 * the lines the listings are made of, and of the std::istream reader the
 * decoders are held to.
 */
#include <benchmark/benchmark.h>

#include <ctime>

#include "ndirdecode.h"
#include "ndirlexer.h"
#include "stdreader.h"

namespace {

const char FILELINE[] =
    "REPORT        TXT        1,234,567  3-15-96  4:07p [Rw-A--------------] SUPERVISO";
const char DIRLINE[] =
    "SYSTEM   OLD      [ RWCEMF ] [SRWCEMFA] SUPERVISO   3-15-96  4:07p";
const char VOLLINE[] = "FS1\\SYS:APPS\\DATA";
const char COUNTLINE[] = "    1,234,567 bytes in     42 files\n";
const char TOTALLINE[] = "   12,345,678 total bytes in     812 files\n";

void
FileLine(benchmark::State &state)
{
	NdirLexer l(nullptr, nullptr);
	for (auto _ : state)
		benchmark::DoNotOptimize(l.NdirFileLine(FILELINE));
}
BENCHMARK(FileLine);

void
DirLine(benchmark::State &state)
{
	NdirLexer l(nullptr, nullptr);
	for (auto _ : state)
		benchmark::DoNotOptimize(l.NdirDirLine(DIRLINE));
}
BENCHMARK(DirLine);

void
VolLine(benchmark::State &state)
{
	NdirLexer l(nullptr, nullptr);
	for (auto _ : state)
		benchmark::DoNotOptimize(l.NdirVolLine(VOLLINE));
}
BENCHMARK(VolLine);

void
CountLines(benchmark::State &state)
{
	NdirLexer l(nullptr, nullptr);
	for (auto _ : state) {
		benchmark::DoNotOptimize(l.NdirFileCountSizeLine(COUNTLINE));
		benchmark::DoNotOptimize(l.NdirFileBlockSizeLine(COUNTLINE));
		benchmark::DoNotOptimize(l.NdirTotalFileCountSizeLine(TOTALLINE));
		benchmark::DoNotOptimize(l.NdirTotalFileBlockSizeLine(TOTALLINE));
	}
}
BENCHMARK(CountLines);

/* The same file line through std::istringstream, for comparison. */
void
FileLineThroughIstream(benchmark::State &state)
{
	NdirFile f;
	for (auto _ : state) {
		NdirStdReader in(FILELINE);
		NdirReadFile(in, f);
		benchmark::DoNotOptimize(f.size);
	}
}
BENCHMARK(FileLineThroughIstream);

struct tm
day(int i)
{
	struct tm tm = {};
	tm.tm_year = 90 + i % 7;
	tm.tm_mon = i % 12;
	tm.tm_mday = 1 + i % 28;
	tm.tm_hour = i % 24;
	tm.tm_min = i % 60;
	tm.tm_isdst = -1;
	return tm;
}

void
DateConversion(benchmark::State &state)
{
	NdirFollowZone();
	int i = 0;
	for (auto _ : state) {
		struct tm tm = day(i++);
		benchmark::DoNotOptimize(NdirMakeTime(&tm));
	}
}
BENCHMARK(DateConversion);

void
DateConversionByMktime(benchmark::State &state)
{
	int i = 0;
	for (auto _ : state) {
		struct tm tm = day(i++);
		benchmark::DoNotOptimize(mktime(&tm));
	}
}
BENCHMARK(DateConversionByMktime);

} // namespace
