// SPDX-License-Identifier: ISC
/*
 * libFuzzer's entry point for one harness, named at build time by
 * NDIR_FUZZ_HARNESS.
 */
#include "fuzz.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	return NDIR_FUZZ_HARNESS(data, size);
}
