/* SPDX-License-Identifier: ISC */
/*
 * filemap_bench: sum the bytes of a file through filemap and through a
 * read(2) loop with a 128 KiB buffer, one way per run:
 *
 *	filemap_bench map|read file
 *
 * prints the sum, so that both ways can be checked against each other.
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "skelda.h"

static void
sum(const char *data, size_t length, const char *path, void *user)
{
	unsigned long long s = 0;
	(void)path;
	for (size_t i = 0; i < length; i++)
		s += (unsigned char)data[i];
	*(unsigned long long *)user = s;
}

int
main(int argc, char *argv[])
{
	unsigned long long s = 0;
	static char buf[128 * 1024];

	if (argc != 3)
		return 2;
	if (strcmp(argv[1], "map") == 0) {
		if (!filemap(argv[2], sum, &s))
			return 1;
	} else {
		int fd = open(argv[2], O_RDONLY);
		ssize_t n;
		if (fd < 0)
			return 1;
		while ((n = read(fd, buf, sizeof buf)) > 0)
			for (ssize_t i = 0; i < n; i++)
				s += (unsigned char)buf[i];
		close(fd);
	}
	printf("%llu\n", s);
	return 0;
}
