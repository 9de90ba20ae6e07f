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

TEST(NdircheckUnderInterpreter, FindsTheExampleMigrationWholeAndEveryChangeAfter)
{
	ScopedZone utc("UTC0");
	TempDir dir;
	const std::vector<std::string> listings = {EXAMPLES "/acctsrv-data.lst",
	    EXAMPLES "/oldserv-sys.lst", EXAMPLES "/oldserv-users.lst"};
	const std::string servers = dir.path + "/servers", script = dir.path + "/MIGRATE.BAT",
	    out = dir.path + "/out";
	std::vector<std::string> tree = {DOSRUN, "tree", servers}, make = {"/bin/sh", "-c",
	    "exec \"$@\" > \"$0\"", script, TORBEK00}, plan = {NDIRCHECK}, check = {NDIRCHECK, "-t",
	    "-d", "N=" + out + "/N", "-d", "O=" + out + "/O"};
	for (auto *argv : {&tree, &make, &plan, &check})
		argv->insert(argv->end(), listings.begin(), listings.end());

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
	EXPECT_EQ(whole.err, "ndircheck: 25 files checked: 25 whole, 0 missing, 0 wrong size, "
	    "0 wrong date, 0 not a regular file; " + std::to_string(copied) + " bytes confirmed\n");
	EXPECT_NE(run(plan).out.find("\n25\t" + std::to_string(copied) + "\ttotal\n"), std::string::npos);

	changeTheCopy(out + "/N", out + "/O");
	Outcome changed = run(check);
	EXPECT_EQ(changed.status, 1);
	EXPECT_EQ(changed.out,
	    "date\tN:\\SYSTEM\\CONFIG\\SERVER.CFG\tOLDSERV/SYS:SYSTEM\\CONFIG\\SERVER.CFG\t"
	    "1996-04-17 07:45\t2026-12-08 10:00:00\n"
	    "missing\tO:\\PAYROLL\\OLDSERV\\LEDGER\\1996\\FEBRUARY.DBF\tACCTSRV/DATA:LEDGER\\1996\\FEBRUARY.DBF\n"
	    "size\tO:\\QXV1\\OLDSERV\\HOME\\QXV0\\PLAN.TXT\tOLDSERV/USERS:HOME\\QXV0\\PLAN.TXT\t12480\t8192\n");
}

} // namespace
