// SPDX-License-Identifier: ISC
/*
 * Built against an installed ndirlexer with nothing but pkg-config's
 * flags: counts the directory and file lines of a listing and prints the
 * listing's grand total of bytes.
 */
#include <fstream>
#include <iostream>

#include <ndirlexer.h>

class Counter : public NdirLexer {
public:
	explicit Counter(std::istream *in) : NdirLexer(in, nullptr) {}

	int DirUpdate() override { dirs++; return 1; }
	int FileUpdate() override { files++; return 1; }

	long dirs = 0, files = 0;
};

int
main(int argc, char *argv[])
{
	if (argc != 2)
		return 2;
	std::ifstream in(argv[1]);
	if (!in)
		return 1;
	Counter *counter = new Counter(&in);
	int stopped = counter->yylex();
	std::cout << counter->dirs << " directories, " << counter->files <<
	    " files, " << counter->TotalFileBytes() << " bytes\n";
	delete counter;
	return stopped;
}
