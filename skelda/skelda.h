/* SPDX-License-Identifier: ISC */
/*
 * skelda: hand a whole regular file, mapped read-only, to a function of
 * the caller's.
 */
#ifndef SKELDA_H
#define SKELDA_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * data: the file's bytes from offset 0, read-only, not terminated; valid
 * only until the callback returns.  length: the file's size in bytes.
 * path and user: the very pointers given to filemap.
 */
typedef void (*filemap_callback)(const char *data, size_t length,
    const char *path, void *user);

/*
 * Maps the regular file at path and calls callback once with its bytes.
 * Returns 1 when the callback has run, 0 on any failure after printing one
 * message on standard error.  An empty file cannot be mapped and fails.
 * A null path or callback fails with "filemap: Invalid argument".
 */
int filemap(const char *path, filemap_callback callback, void *user);

#ifdef __cplusplus
}
#endif

#endif
