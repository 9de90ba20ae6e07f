/* SPDX-License-Identifier: ISC */
/* TZ set for the length of a test, and the old value put back after. */
#ifndef ZONE_H
#define ZONE_H

#include <cstdlib>
#include <ctime>
#include <string>

#include "ndirtime.h"

class ScopedZone {
public:
	ScopedZone() : had(getenv("TZ") != nullptr), old(had ? getenv("TZ") : "") {}
	explicit ScopedZone(const char *tz) : ScopedZone() { set(tz); }

	/* Dates convert in this zone from now on. */
	void set(const char *tz)
	{
		setenv("TZ", tz, 1);
		NdirFollowZone();
	}

	/* Puts TZ back, and the date conversion with it. */
	~ScopedZone()
	{
		if (had)
			setenv("TZ", old.c_str(), 1);
		else
			unsetenv("TZ");
		NdirFollowZone();
	}

	ScopedZone(const ScopedZone &) = delete;
	ScopedZone &operator=(const ScopedZone &) = delete;

private:
	bool had;
	std::string old;
};

#endif
