/* SPDX-License-Identifier: ISC */
/*
 * Built against an installed skelda with nothing but pkg-config's flags:
 * prints the byte and line count of the named file, as wc -c and -l do.
 */
#include <stdio.h>
#include <string.h>

#include <skelda.h>

struct counts {
	size_t bytes;
	size_t lines;
};

static void
count(const char *data, size_t length, const char *path, void *user)
{
	struct counts *c = user;
	const char *p = data, *end = data + length;

	(void)path;
	c->bytes = length;
	while ((p = memchr(p, '\n', (size_t)(end - p))) != NULL) {
		c->lines++;
		p++;
	}
}

int
main(int argc, char *argv[])
{
	struct counts c = { 0, 0 };

	if (argc != 2 || !filemap(argv[1], count, &c))
		return 1;
	printf("%zu %zu\n", c.bytes, c.lines);
	return 0;
}
