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

class Maker : public NdirLexer {
public:
	explicit Maker(std::istream *in) : NdirLexer(in, nullptr) {}

	int VolUpdate() override
	{
		refusal = NdirJudgeVolume(*this);
		return 1;
	}

	int FileUpdate() override
	{
		NdirRecord r;
		const char *why;
		std::string target, path = root + "/";
		auto add = [&target](const char *piece, bool) { target += piece; };

		if (NdirJudgeFile(*this, refusal, r, &why) != NDIR_COPIED)
			return 1;
		NdirTargetDirectory(r, add);
		NdirTargetLeaf(r, add);
		path += static_cast<char>(tolower(target[0]));
		for (char c : target.substr(2))
			if (c != '\\' && c != '/')
				path += c;
			else if (path.back() != '/')
				path += '/';
		makeDirectory(path.substr(0, path.rfind('/')));

		int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		struct timespec times[2] = {{FileUpdateTime(), 0}, {FileUpdateTime(), 0}};
		if (fd < 0 || ftruncate(fd, FileSize()) != 0 || futimens(fd, times) != 0) {
			perror(path.c_str());
			return 0;
		}
		close(fd);
		made++;
		return 1;
	}

private:
	const char *refusal = nullptr;
};

int
main(int argc, char *argv[])
{
	if (argc < 3) {
		fprintf(stderr, "usage: gentree ROOT listing...\n");
		return 2;
	}
	root = argv[1];
	for (int i = 2; i < argc; i++) {
		std::ifstream in(argv[i]);
		Maker(&in).yylex();
	}
	printf("%ld\n", made);
	return 0;
}
