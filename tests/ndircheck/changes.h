/* SPDX-License-Identifier: ISC */
/*
 * What happens to the example migration after the copy, as ndircheck(1)
 * tells it: a file lost, one cut short, one changed at a later time, and
 * a folder renamed to lower case, which DOS does not tell apart.
 */
#ifndef CHANGES_H
#define CHANGES_H

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>

/* The changes, on drives N: and O: in the directories n and o. */
inline void
changeTheCopy(const std::string &n, const std::string &o)
{
	struct tm later = {};
	later.tm_year = 126, later.tm_mon = 11, later.tm_mday = 8, later.tm_hour = 10;
	struct timespec times[2] = {{mktime(&later), 0}, {mktime(&later), 0}};

	std::filesystem::remove(o + "/PAYROLL/OLDSERV/LEDGER/1996/FEBRUARY.DBF");
	std::filesystem::resize_file(o + "/QXV1/OLDSERV/HOME/QXV0/PLAN.TXT", 8192);
	utimensat(AT_FDCWD, (n + "/SYSTEM/CONFIG/SERVER.CFG").c_str(), times, 0);
	std::filesystem::rename(o + "/DRK0/OLDSERV/HOME", o + "/DRK0/OLDSERV/home");
}

#endif
