/* TZ set for the length of a test, and the old value put back after. */
#ifndef ZONE_H
#define ZONE_H

#include <cstdlib>
#include <ctime>
#include <string>

#include "ndirdecode.h"

class ScopedZone {
public:
	ScopedZone() : had(getenv("TZ") != nullptr), old(had ? getenv("TZ") : "") {}
	explicit ScopedZone(const char *tz) : ScopedZone() { set(tz); }

	/* Scanners made from now on convert dates in this zone. */
	void set(const char *tz)
	{
		setenv("TZ", tz, 1);
		tzset();
	}

	/* Puts TZ back, and the date conversion with it. */
	~ScopedZone()
	{
		if (had)
			setenv("TZ", old.c_str(), 1);
		else
			unsetenv("TZ");
		tzset();
		NdirCheckZone();
	}

	ScopedZone(const ScopedZone &) = delete;
	ScopedZone &operator=(const ScopedZone &) = delete;

private:
	bool had;
	std::string old;
};

#endif
