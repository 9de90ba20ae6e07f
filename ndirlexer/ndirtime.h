/* SPDX-License-Identifier: ISC */
/*
 * Local time conversion for the line decoders.  Internal to the scanner
 * library: not installed, not part of its interface.
 */
#ifndef NDIRTIME_H
#define NDIRTIME_H

#include <ctime>

/*
 * Converts a local broken-down time with the result of mktime(3), for the
 * zone that TZ named at the last NdirFollowZone call.  Fields outside
 * their usual ranges are normalised as mktime normalises them.
 */
time_t NdirMakeTime(struct tm *tm);

/*
 * Takes note of the zone that TZ names now.  The only way a change of TZ
 * reaches NdirMakeTime: each new scanner calls it, so a change holds for
 * scanners created after it.
 */
void NdirFollowZone();

#endif /* NDIRTIME_H */
