/* SPDX-License-Identifier: ISC */
/*
 * The text that test and benchmark clients of Vantrel send: lower-case
 * letters in an order of each client's own, so that each client's text
 * can be told from every other's and can never look like one of the
 * daemon's lines.
 */
#ifndef PAYLOAD_H
#define PAYLOAD_H

#include <cstddef>

/*
 * Byte k of client c.  2654435761 is 2^32 divided by the golden ratio:
 * multiplying by it scatters neighbouring k over the letters, and 40503
 * (2^16 divided by it) moves each client to an order of its own.
 */
inline char
PayloadByte(size_t client, size_t k)
{
	return static_cast<char>('a' + ((k * 2654435761u + client * 40503u) >> 13) % 26);
}

#endif
