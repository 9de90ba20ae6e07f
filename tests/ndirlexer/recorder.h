/* SPDX-License-Identifier: ISC */
/* A scanner that records every hook call, for the scanner tests. */
#ifndef RECORDER_H
#define RECORDER_H

#include <sstream>
#include <string>
#include <vector>

#include "ndirlexer.h"

class Recorder : public NdirLexer {
public:
	explicit Recorder(std::istream *in) : NdirLexer(in, nullptr) {}

	std::vector<std::string> calls;
	std::string stopAt;	/* hook that returns 0 once, or "" */
	int reads = 0;		/* calls of LexerInput */

	int StartUpdate() override { return note("Start", ""); }
	int VolUpdate() override
	{
		return note("Vol", show(VolServer()) + "|" + show(VolVolume()) + "|" + show(VolPath()) +
		    (vol.split ? " split" : ""));
	}
	int DirUpdate() override { return note("Dir", show(DirName())); }
	int FileUpdate() override { return note("File", show(FileName())); }
	int FileCountSizeUpdate() override { return note("FileCount", std::to_string(VolFileBytes()) + "/" + std::to_string(VolFileCount())); }
	int FileBlockSizeUpdate() override { return note("FileBlock", std::to_string(VolFileBlockBytes()) + "/" + std::to_string(VolFileBlocks())); }
	int TotalFileCountSizeUpdate() override { return note("TotalCount", std::to_string(TotalFileBytes()) + "/" + std::to_string(TotalFileCount())); }
	int TotalFileBlockSizeUpdate() override { return note("TotalBlock", std::to_string(TotalFileBlockBytes()) + "/" + std::to_string(TotalFileBlocks())); }

	static std::string show(const char *s) { return s ? s : "(null)"; }

protected:
	int LexerInput(char *buf, int size) override
	{
		reads++;
		return NdirLexer::LexerInput(buf, size);
	}

private:
	int note(const std::string &hook, const std::string &what)
	{
		calls.push_back(what.empty() ? hook : hook + " " + what);
		if (hook == stopAt) {
			stopAt.clear();
			return 0;
		}
		return 1;
	}
};

#endif
