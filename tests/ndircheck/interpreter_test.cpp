// SPDX-License-Identifier: ISC
/*
 * The whole migration of the example listings: a server tree made from
 * them, torbek00's script run by a real Windows command interpreter
 * (Wine's cmd.exe, through dosrun) with stand-ins that really copy and
 * make directories, then ndircheck on the new drives.
 */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "changes.h"
#include "run.h"
#include "zone.h"

namespace {

namespace fs = std::filesystem;

/* The bytes of every file under a directory. */
uintmax_t
bytesUnder(const std::string &dir)
{
	uintmax_t bytes = 0;

	for (const auto &e : fs::recursive_directory_iterator(dir))
		if (e.is_regular_file())
			bytes += e.file_size();
	return bytes;
}

/*
 * Names in code page 437, as a Western European server lists them: a
 * folder with \xdc, \xe9 and \xc9 in two names of one target, \xdf.
 */
const std::string CODE_PAGE_LISTING = listing("SRV\\DATA:M\x9aLLER", {fileLine("CAF\x82", "TXT", "IS", "100"),
    fileLine("CAF\x90", "TXT", "IS", "200"), fileLine("GR\xe1" "E", "TXT", "IS", "300"),
    fileLine("\x9a" "BER", "TXT", "IS", "400"), fileLine("PLAIN", "TXT", "IS", "500")});

/*
 * The examples and the code page's names: copied whole, then changed,
 * the changes found, copied again by the script that the check writes,
 * and found whole again.
 */
TEST(NdircheckUnderInterpreter, FindsTheMigrationWholeEveryChangeAfterAndWholeAgainAfterItsScript)
{
	ScopedZone utc("UTC0");
	TempDir dir;
	TempListing codePage(CODE_PAGE_LISTING);
	const std::vector<std::string> listings = {EXAMPLES "/acctsrv-data.lst",
	    EXAMPLES "/oldserv-sys.lst", EXAMPLES "/oldserv-users.lst", codePage.path};
	const std::string servers = dir.path + "/servers", script = dir.path + "/MIGRATE.BAT",
	    out = dir.path + "/out", redo = dir.path + "/REDO.BAT";
	std::vector<std::string> tree = {DOSRUN, "tree", servers}, make = {"/bin/sh", "-c",
	    "exec \"$@\" > \"$0\"", script, TORBEK00}, plan = {NDIRCHECK}, check = {NDIRCHECK, "-t", "-C", "437",
	    "-d", "N=" + out + "/N", "-d", "O=" + out + "/O"};
	for (auto *argv : {&tree, &make, &plan, &check})
		argv->insert(argv->end(), listings.begin(), listings.end());
	std::vector<std::string> redoing = check;
	redoing.insert(redoing.begin() + 1, {"-s", redo});
	const std::string again = "ndircheck: " + codePage.path + ": SRV/DATA:M\\x9aLLER\\CAF\\x90.TXT (IS): copied "
	    "to N:\\M\\x9aLLER\\CAF\\x90.TXT again: the earlier copy is overwritten\n";
	const std::string left = "ndircheck: 3 files not copied by the script: 0 left out, 0 incomplete, 3 program files\n";
	setenv("LC_ALL", "C.UTF-8", 1);

	ASSERT_EQ(run(tree).status, 0);
	ASSERT_EQ(run(make).status, 0);
	Outcome copy = run({DOSRUN, "run", script, out, servers});
	if (copy.status == 77)
		GTEST_SKIP() << copy.err;
	ASSERT_EQ(copy.status, 0) << copy.err;
	EXPECT_EQ(slurp(out + "/status"), "0\n");

	uintmax_t copied = bytesUnder(out + "/N") + bytesUnder(out + "/O");
	Outcome whole = run(check);
	EXPECT_EQ(whole.status, 0);
	EXPECT_EQ(whole.out, "");
	EXPECT_EQ(whole.err, again + "ndircheck: 29 files checked: 29 whole, 0 missing, 0 wrong size, "
	    "0 wrong date, 0 not a regular file; " + std::to_string(copied) + " bytes confirmed\n" + left);
	EXPECT_NE(run(plan).out.find("\n29\t" + std::to_string(copied) + "\ttotal\n"), std::string::npos);

	changeTheCopy(out + "/N", out + "/O");
	fs::remove(out + "/N/M\xc3\x9cLLER/\xc3\x9c" "BER.TXT");
	fs::resize_file(out + "/N/M\xc3\x9cLLER/GR\xc3\x9f" "E.TXT", 7);
	Outcome changed = run(redoing);
	EXPECT_EQ(changed.status, 1);
	EXPECT_EQ(changed.out,
	    "size\tN:\\M\xc3\x9cLLER\\GR\xc3\x9f" "E.TXT\tSRV/DATA:M\xc3\x9cLLER\\GR\xc3\x9f" "E.TXT\t300\t7\n"
	    "missing\tN:\\M\xc3\x9cLLER\\\xc3\x9c" "BER.TXT\tSRV/DATA:M\xc3\x9cLLER\\\xc3\x9c" "BER.TXT\n"
	    "date\tN:\\SYSTEM\\CONFIG\\SERVER.CFG\tOLDSERV/SYS:SYSTEM\\CONFIG\\SERVER.CFG\t"
	    "1996-04-17 07:45\t2026-12-08 10:00:00\n"
	    "missing\tO:\\PAYROLL\\OLDSERV\\LEDGER\\1996\\FEBRUARY.DBF\tACCTSRV/DATA:LEDGER\\1996\\FEBRUARY.DBF\n"
	    "size\tO:\\QXV1\\OLDSERV\\HOME\\QXV0\\PLAN.TXT\tOLDSERV/USERS:HOME\\QXV0\\PLAN.TXT\t12480\t8192\n");

	Outcome copyAgain = run({"/usr/bin/env", "DOSRUN_AGAIN=1", DOSRUN, "run", redo, out, servers});
	ASSERT_EQ(copyAgain.status, 0) << copyAgain.err;
	EXPECT_EQ(slurp(out + "/status"), "0\n");
	Outcome wholeAgain = run(check);
	EXPECT_EQ(wholeAgain.status, 0);
	EXPECT_EQ(wholeAgain.out, "");
	EXPECT_EQ(wholeAgain.err, whole.err);
	unsetenv("LC_ALL");
}

} // namespace
