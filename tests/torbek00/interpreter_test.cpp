// SPDX-License-Identifier: ISC
/*
 * torbek00's scripts run by a real Windows command interpreter: Wine's
 * cmd.exe, with stand-ins for NCOPY and MYMKDIR that record the command
 * line they are handed (dosrun).  Every copy and directory must reach its
 * program as the listing gives it, their output the log, and nothing else
 * may run, complain or write a file.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"

namespace {

/* What a script left when it ran. */
struct Ran {
	std::string calls, log, out, err, files;
	int status = -1;
};

/* The entries of OUT (dosrun run) when the script wrote no file of its own. */
const char NO_STRAY_FILE[] = "N/\nO/\nrun/\nrun/MIGRATE.BAT\nrun/TORBEK00.LOG\n";

/*
 * Runs torbek00 on the listings and its script under the interpreter.
 * False, with dosrun's reason in r.err, where Wine cannot run here.
 */
bool
runScript(const std::vector<std::string> &listings, Ran &r, const std::string &switches = "")
{
	TempDir dir;
	std::string script = dir.path + "/script", out = dir.path + "/out";
	std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" > \"$0\"", script, TORBEK00};
	argv.insert(argv.end(), listings.begin(), listings.end());

	run(argv);
	Outcome d = run({"/usr/bin/env", "DOSRUN_SWITCHES=" + switches, DOSRUN, "run", script, out});
	if (d.status != 0) {
		r.err = d.err;
		return d.status != 77;
	}
	r.calls = slurp(out + "/calls");
	r.log = slurp(out + "/run/TORBEK00.LOG");
	r.out = slurp(out + "/stdout");
	r.err = slurp(out + "/stderr");
	r.files = slurp(out + "/files");
	r.status = atoi(slurp(out + "/status").c_str());
	return true;
}

const std::string TO_LOG = " >> TORBEK00.LOG";

/* Lines with the interpreter's line end. */
std::string
dosLines(const std::string &lines)
{
	std::string s;
	for (char c : lines)
		s += c == '\n' ? std::string("\r\n") : std::string(1, c);
	return s;
}

/*
 * What a script must leave whose names hold nothing that it writes
 * otherwise: each command's text as written, less the log redirection.
 */
Ran
expected(const std::string &script)
{
	std::istringstream in(script);
	Ran e;

	for (std::string line; std::getline(in, line);) {
		bool logged = line.size() >= TO_LOG.size() &&
		    line.compare(line.size() - TO_LOG.size(), TO_LOG.size(), TO_LOG) == 0;
		if (logged)
			line.resize(line.size() - TO_LOG.size());
		if (line.compare(0, 5, "ECHO ") == 0)
			(logged ? e.log : e.out) += line.substr(5) + "\r\n";
		else if (line.compare(0, 8, "MYMKDIR ") == 0 || line.compare(0, 6, "NCOPY ") == 0) {
			e.calls += line + "\n";
			e.log += line + "\r\n";
		}
	}
	return e;
}

TEST(Torbek00UnderInterpreter, HandsEveryCopyOfTheExamplesToItsProgram)
{
	std::vector<std::string> listings = {EXAMPLES "/oldserv-sys.lst",
	    EXAMPLES "/oldserv-users.lst", EXAMPLES "/acctsrv-data.lst",
	    EXAMPLES "/dos/oldserv-users.lst"};
	std::vector<std::string> argv = {TORBEK00};
	argv.insert(argv.end(), listings.begin(), listings.end());
	Ran e = expected(run(argv).out), r;

	if (!runScript(listings, r))
		GTEST_SKIP() << r.err;
	EXPECT_NE(e.calls.find("NCOPY /V OLDSERV/USERS:HOME\\QXV0\\PLAN.TXT O:\\QXV1\\"),
	    std::string::npos);
	EXPECT_EQ(r.calls, e.calls);
	EXPECT_EQ(r.log, e.log);
	EXPECT_EQ(r.out, e.out);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.files, NO_STRAY_FILE);
}

/*
 * A hostile record, each in a listing of its own followed by one with a
 * plain record, and what must reach the programs: the listing's text,
 * however the script writes it, or nothing where torbek00 refuses the
 * record.  An incomplete record is logged instead.
 */
TEST(Torbek00UnderInterpreter, HandsEveryCopyOfHostileRecordsToItsProgramAndRunsNothingElse)
{
	const std::string path300 = [] {
		std::string p;
		while (p.size() < 300)
			p += "ABCDEFGH\\";
		return p;
	}();
	struct {
		const char *name;
		std::string volume, file;
		std::string source = "", directory = "", target = "", logged = "";
	} cases[] = {
		{"& in a path", "S\\V:X&ECHO", fileLine("A", "TXT", "IS"),
		    "S/V:X&ECHO\\A.TXT", "N:/X&ECHO", "N:\\X&ECHO\\A.TXT"},
		{"& before a command of the interpreter", "S\\V:X&DEL", fileLine("A", "TXT", "IS"),
		    "S/V:X&DEL\\A.TXT", "N:/X&DEL", "N:\\X&DEL\\A.TXT"},
		{"& in server and volume", "S&1\\V&2:P", fileLine("A", "TXT", "IS"),
		    "S&1/V&2:P\\A.TXT", "N:/P", "N:\\P\\A.TXT"},
		{"& in a name", "S\\V:P", fileLine("A&B", "TXT", "IS"),
		    "S/V:P\\A&B.TXT", "N:/P", "N:\\P\\A&B.TXT"},
		{"& in an owner", "S\\V:P", fileLine("A", "TXT", "A&B"),
		    "S/V:P\\A.TXT", "O:/A&B/OLDSERV/P", "O:\\A&B\\OLDSERV\\P\\A.TXT"},
		{"^ in a name", "S\\V:P", fileLine("A^B", "TXT", "IS"),
		    "S/V:P\\A^B.TXT", "N:/P", "N:\\P\\A^B.TXT"},
		{"^ in an owner", "S\\V:P", fileLine("A", "TXT", "A^B"),
		    "S/V:P\\A.TXT", "O:/A^B/OLDSERV/P", "O:\\A^B\\OLDSERV\\P\\A.TXT"},
		{"^ in server, volume and path", "S^1\\V^2:P^3", fileLine("A", "TXT", "IS"),
		    "S^1/V^2:P^3\\A.TXT", "N:/P^3", "N:\\P^3\\A.TXT"},
		{"& and ^ together", "S\\V:P^&", fileLine("A^^", "&", "A&^B"),
		    "S/V:P^&\\A^^.&", "O:/A&^B/OLDSERV/P^&", "O:\\A&^B\\OLDSERV\\P^&\\A^^.&"},
		{"% in every field", "S%1\\V%2:P%3", fileLine("100%", "TXT", "A%B"),
		    "S%1/V%2:P%3\\100%.TXT", "O:/A%B/OLDSERV/P%3", "O:\\A%B\\OLDSERV\\P%3\\100%.TXT"},
		{"code-page letters", "S\\V:\x80\xe9", fileLine("CAF\x90\xff", "", "IS"),
		    "S/V:\x80\xe9\\CAF\x90\xff", "N:/\x80\xe9", "N:\\\x80\xe9\\CAF\x90\xff"},
		{"! in a name", "S\\V:DOCS", fileLine("HI!", "TXT", "IS"),
		    "S/V:DOCS\\HI!.TXT", "N:/DOCS", "N:\\DOCS\\HI!.TXT"},
		{"a variable between ! in a path", "S\\V:X!PATH!Y", fileLine("A", "TXT", "IS"),
		    "S/V:X!PATH!Y\\A.TXT", "N:/X!PATH!Y", "N:\\X!PATH!Y\\A.TXT"},
		{"! in an owner", "S\\V:P", fileLine("A", "TXT", "A!B"),
		    "S/V:P\\A.TXT", "O:/A!B/OLDSERV/P", "O:\\A!B\\OLDSERV\\P\\A.TXT"},
		/* ECHO keeps the blank before the redirection, as every cmd.exe does. */
		{"incomplete record", "S\\V:P", fileLine("A", "TXT", ""),
		    "", "", "", "Error: S/V:P\\A.TXT    (<FileOwner>) "},
		{"device as a name", "S\\V:P", fileLine("CON", "TXT", "IS")},
		{"device as a name, in lower case", "S\\V:P", fileLine("nul", "", "IS")},
		{"device as an owner", "S\\V:P", fileLine("A", "TXT", "COM1")},
		{"device as a path part", "S\\V:P\\LPT1", fileLine("A", "TXT", "IS")},
		{"device as a server", "PRN\\V:P", fileLine("A", "TXT", "IS")},
		{"device as a volume", "S\\CLOCK$:P", fileLine("A", "TXT", "IS")},
		{"; in a name", "S\\V:P", fileLine("A;B", "TXT", "IS")},
		{"= in a path", "S\\V:P=Q", fileLine("A", "TXT", "IS")},
		{"* in a name", "S\\V:P", fileLine("A*", "TXT", "IS")},
		{"name ending in a dot", "S\\V:P", fileLine("ABC.", "", "IS")},
		{"path part ending in a dot", "S\\V:P.\\Q", fileLine("A", "TXT", "IS")},
		{"server beginning with /", "/S\\V:P", fileLine("A", "TXT", "IS")},
		{"path longer than its field", "S\\V:" + path300, fileLine("A", "TXT", "IS")},
		{"name longer than its field", "S\\V:P", fileLine("ABCDEFGHIJ", "TXT", "IS")},
		{"form feed in a name", "S\\V:P", fileLine("A\fB", "TXT", "IS")},
		{"tab in a path", "S\\V:P\tQ", fileLine("A", "TXT", "IS")},
	};
	const std::string plain = "P\\V:OK\n\nFiles:\n" + fileLine("PLAIN", "TXT", "IS") + "\n";
	const std::string plainCalls = "MYMKDIR -p N:/OK\nNCOPY /V P/V:OK\\PLAIN.TXT N:\\OK\\PLAIN.TXT\n";
	for (const auto &c : cases) {
		TempListing hostile(c.volume + "\n\nFiles:\n" + c.file + "\n"), next(plain);
		std::string calls = c.source.empty() ? "" : "MYMKDIR -p " + c.directory +
		    "\nNCOPY /V " + c.source + " " + c.target + "\n";
		std::string echoed = c.source.empty() ? "" : c.source + "\n";
		std::string logged = c.logged.empty() ? "" : c.logged + "\n";
		/* Under delayed expansion too, where the listing holds a !. */
		for (std::string switches : {"", "/V:ON"}) {
			if (!switches.empty() && (c.volume + c.file).find('!') == std::string::npos)
				continue;
			Ran r;
			std::string name = std::string(c.name) + " " + switches;

			if (!runScript({hostile.path, next.path}, r, switches))
				GTEST_SKIP() << r.err;
			EXPECT_EQ(r.calls, calls + plainCalls) << name;
			EXPECT_EQ(r.log, dosLines(logged + calls + plainCalls)) << name;
			/*
			 * Wine's cmd writes an ECHO to a file in the ANSI code page
			 * (Windows: the OEM one), so that only ASCII compares.
			 */
			if (std::all_of(echoed.begin(), echoed.end(), [](char b) { return b > 0; }))
				EXPECT_EQ(r.out, dosLines(echoed + "P/V:OK\\PLAIN.TXT\n")) << name;
			else
				EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "P/V:OK\\PLAIN.TXT\r\n") << name;
			EXPECT_EQ(r.err, "") << name;
			EXPECT_EQ(r.status, 0) << name;
			EXPECT_EQ(r.files, NO_STRAY_FILE) << name;
		}
	}
}

} // namespace
