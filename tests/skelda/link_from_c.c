/* SPDX-License-Identifier: ISC */
/* A C program, built and linked by the C compiler alone, maps itself. */
#include <sys/stat.h>

#include <stdio.h>
#include <string.h>

#include "skelda.h"

static void
check(const char *data, size_t length, const char *path, void *user)
{
	struct stat st;

	*(int *)user = stat(path, &st) == 0 && length == (size_t)st.st_size &&
	    memcmp(data, "\177ELF", 4) == 0;
}

int
main(int argc, char *argv[])
{
	int ok = 0;

	(void)argc;
	return filemap(argv[0], check, &ok) && ok ? 0 : 1;
}
