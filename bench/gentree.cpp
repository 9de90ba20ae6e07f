// SPDX-License-Identifier: ISC
/*
 * gentree: make the tree that torbek00's script for the listings leaves on
 * the new drives, for the benchmark of ndircheck: every copied file at its
 * target, as the script spells it, of the listed size (sparse: no data
 * blocks) and the listed time, with drive N: in ROOT/n and O: in ROOT/o.
 *
 *	gentree ROOT listing...
 *
 * Prints the number of files made.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ndirlexer.h"
#include "ndirmigrate.h"

static std::string root;
static long made;

/* mkdir -p, remembering the last directory made. */
static void
makeDirectory(const std::string &dir)
{
	static std::string last;

	if (dir == last)
		return;
	for (size_t at = root.size() + 1; at != std::string::npos; at = dir.find('/', at + 1))
		mkdir(dir.substr(0, at).c_str(), 0755);
	mkdir(dir.c_str(), 0755);
	last = dir;
}

class Maker : public NdirMigrate {
public:
	Maker(std::istream *in, NdirTargets &targets) : NdirMigrate(in, targets) {}

protected:
	void Take(const NdirOutcome &o) override
	{
		std::string target, path = root + "/";

		if (o.fate != NDIR_COPIED)
			return;
		NdirTarget(o.r, [&target](const char *piece) { target += piece; });
		path += static_cast<char>(tolower(target[0]));
		for (char c : target.substr(2))
			if (c != '\\' && c != '/')
				path += c;
			else if (path.back() != '/')
				path += '/';
		makeDirectory(path.substr(0, path.rfind('/')));

		int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		struct timespec times[2] = {{o.time, 0}, {o.time, 0}};
		if (fd < 0 || ftruncate(fd, o.size) != 0 || futimens(fd, times) != 0) {
			perror(path.c_str());
			exit(1);
		}
		close(fd);
		made++;
	}
};

int
main(int argc, char *argv[])
{
	if (argc < 3) {
		fprintf(stderr, "usage: gentree ROOT listing...\n");
		return 2;
	}
	root = argv[1];
	NdirTargets targets(NdirDosFold());
	for (int i = 2; i < argc; i++) {
		std::ifstream in(argv[i]);
		Maker(&in, targets).yylex();
	}
	printf("%ld\n", made);
	return 0;
}
