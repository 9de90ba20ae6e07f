/*
 * The torbek00 program with its main renamed, so that the fuzz harness can
 * drive its scanner class the way its main does, on a listing in memory.
 */
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>

#define main torbek00_main
/* The program's source itself, so that its class is at hand here. */
#include "torbek00.cpp" // NOLINT(bugprone-suspicious-include)
#undef main

void
NdirFuzzTorbek00(std::istream *in, std::ostream *out)
{
	torbek00 *lexer = new torbek00(in, out);
	lexer->yylex();
	delete lexer;
}
