/*
 * The dresk program with its main renamed, so that the fuzz harness can
 * drive its scanner class the way its main does, on a listing in memory.
 */
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>

#define main dresk_main
/* The program's source itself, so that its class is at hand here. */
#include "dresk.cpp" // NOLINT(bugprone-suspicious-include)
#undef main

void
NdirFuzzDresk(std::istream *in)
{
	scan(in);
}
