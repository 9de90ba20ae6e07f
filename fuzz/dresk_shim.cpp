/*
 * The dresk program with its main renamed, so that the fuzz harness can
 * drive its scanner class the way its main does, on a listing in memory.
 */
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>

#define main dresk_main
#include "dresk.cpp"
#undef main

void
NdirFuzzDresk(std::istream *in)
{
	scan(in);
}
