/* SPDX-License-Identifier: ISC */
/*
 * mapwc: count the lines and bytes of each named file, as wc -lc does,
 * reading every file through filemap instead of a buffer of its own.
 */
#include <sys/stat.h>

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "skelda.h"

struct counts {
	uintmax_t lines;
	uintmax_t bytes;
};

static void
show(const struct counts *c, const char *name)
{
	printf("%7" PRIuMAX " %7" PRIuMAX " %s\n", c->lines, c->bytes, name);
}

static void
count(const char *data, size_t length, const char *path, void *user)
{
	struct counts *c = user;
	const char *p = data, *end = data + length;

	while ((p = memchr(p, '\n', (size_t)(end - p))) != NULL) {
		c->lines++;
		p++;
	}
	c->bytes = length;
	show(c, path);
}

/* filemap refuses an empty file, which is no error for a count. */
static int
empty(const char *path)
{
	struct stat st;

	return stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

int
main(int argc, char *argv[])
{
	struct counts total = { 0, 0 }, c;
	int i, status = 0;

	if (argc < 2) {
		(void)fprintf(stderr, "usage: mapwc file ...\n");
		return 2;
	}
	for (i = 1; i < argc; i++) {
		memset(&c, 0, sizeof(c));
		if (empty(argv[i]))
			show(&c, argv[i]);
		else if (!filemap(argv[i], count, &c))
			status = 1;
		total.lines += c.lines;
		total.bytes += c.bytes;
	}
	if (argc > 2)
		show(&total, "total");
	return status;
}
