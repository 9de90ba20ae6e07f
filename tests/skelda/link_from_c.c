/* Maps a file from a C program built and linked by the C compiler alone. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "skelda.h"

static const char text[] = "one\ntwo\n";

static void
check(const char *data, size_t length, const char *path, void *user)
{
	(void)path;
	*(int *)user = length == sizeof(text) - 1 &&
	    memcmp(data, text, length) == 0;
}

int
main(void)
{
	char path[] = "/tmp/skelda-c-XXXXXX";
	int fd, ok = 0, mapped;

	if ((fd = mkstemp(path)) == -1 ||
	    write(fd, text, sizeof(text) - 1) != (ssize_t)(sizeof(text) - 1)) {
		perror(path);
		return 1;
	}
	close(fd);
	mapped = filemap(path, check, &ok);
	unlink(path);
	if (!mapped || !ok) {
		fprintf(stderr, "filemap gave the wrong bytes\n");
		return 1;
	}
	return 0;
}
