#!/bin/sh
# SPDX-License-Identifier: ISC
# The suite passes in a copy of the sources under a path with a space: the
# copy that the quick start test built, with every test but the packaging
# ones (this very label) and those under the command interpreter (which
# would make a Wine prefix of their own).  The copy is removed after a
# pass and kept to look into after a failure.
. "$(dirname "$0")/common.sh"
copy="$BUILD_DIR/quick start"
[ -f "$copy/build/CTestTestfile.cmake" ] ||
    skip "no build in '$copy': the quick start test did not make one"
if ! (cd "$copy/build" && ctest -j "$(nproc)" -LE 'packaging|interpreter' \
    --output-on-failure) >"$scratch/ctest" 2>&1; then
	grep -E -A 20 '\*\*\*(Failed|Timeout|Exception)' "$scratch/ctest" | head -n 200 >&2
	sed -n '/tests failed out of/,$p' "$scratch/ctest" >&2
	fail "tests fail in '$copy'"
fi
rm -rf "$copy"
sed -n 's/^\(100% tests passed.*\)/in a path with a space: \1/p' "$scratch/ctest"
