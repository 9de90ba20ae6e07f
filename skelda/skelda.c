/* SPDX-License-Identifier: ISC */
/*
 * filemap: map a whole regular file read-only and private, hand it to the
 * caller's function, then let go of the mapping and the descriptor.  Holds
 * nothing between calls, so calls from several threads do not interfere.
 */
#include <sys/mman.h>
#include <sys/stat.h>

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include "skelda.h"

int
filemap(const char *path, filemap_callback callback, void *user)
{
	struct stat st;
	size_t len;
	void *data;
	int fd;

	/* Checked before anything is called: open(NULL) is undefined. */
	if (path == NULL || callback == NULL) {
		errno = EINVAL;
		perror("filemap");
		return 0;
	}
	/*
	 * O_NONBLOCK: a FIFO without a writer would otherwise hold us in
	 * open() before the type check could turn it away; it changes
	 * nothing for a regular file.  O_CLOEXEC: a thread that forks and
	 * execs meanwhile must not carry the descriptor into its child.
	 */
	if ((fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)) == -1) {
		perror(path);
		return 0;
	}
	/* Report before close() so the message carries the failure's errno. */
	if (fstat(fd, &st) == -1) {
		perror(path);
		close(fd);
		return 0;
	}
	if (!S_ISREG(st.st_mode)) {
		close(fd);
		(void)fprintf(stderr, "%s: not a regular file\n", path);
		return 0;
	}
	/* Where size_t is narrower than off_t, a cast would map a short file. */
	if ((uintmax_t)st.st_size > SIZE_MAX) {
		errno = EFBIG;
		perror(path);
		close(fd);
		return 0;
	}
	len = (size_t)st.st_size;

	/*
	 * No special case for an empty file: the kernel refuses a mapping of
	 * length 0 with EINVAL, and callers count on that failure.
	 */
	data = mmap(NULL, len, PROT_READ, MAP_PRIVATE, fd, 0);
	if (data == MAP_FAILED) {
		perror(path);
		close(fd);
		return 0;
	}
	callback(data, len, path, user);
	munmap(data, len);
	close(fd);
	return 1;
}
