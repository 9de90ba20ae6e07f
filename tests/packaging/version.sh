#!/bin/sh
# SPDX-License-Identifier: ISC
# The release is one version everywhere: CMake's project version (which
# the programs, manual pages and pkg-config files carry), the top entry of
# debian/changelog (the packages') and the top section of CHANGELOG.md,
# which is a dated release, not a list of changes still unreleased; and
# debian/changelog's entry is not dated in the future.
. "$(dirname "$0")/common.sh"

debian=$(sed -n '1s/^ndirtools (\([^)]*\)).*/\1/p' "$SOURCE_DIR/debian/changelog")
changelog=$(sed -n 's/^## \([^ ]*\).*/\1/p' "$SOURCE_DIR/CHANGELOG.md" | head -n 1)

# where, the version found there
while IFS='|' read -r where found; do
	[ "$found" = "$PROJECT_VERSION" ] ||
	    fail "$where says '$found', CMakeLists.txt $PROJECT_VERSION"
done <<LIST
debian/changelog|$debian
CHANGELOG.md's top section|$changelog
LIST
grep -Eq "^## $PROJECT_VERSION — [0-9]{4}-[0-9]{2}-[0-9]{2}\$" "$SOURCE_DIR/CHANGELOG.md" ||
    fail "CHANGELOG.md has no heading '## $PROJECT_VERSION — YYYY-MM-DD'"

# The package build takes its time stamps from debian/changelog's top
# entry: one still to come would leave the files' times as built.
dated=$(sed -n 's/^ -- .*>  //p' "$SOURCE_DIR/debian/changelog" | head -n 1)
[ "$(date -d "$dated" +%s)" -le "$(date +%s)" ] ||
    fail "debian/changelog's top entry is dated later than now: $dated"
echo "version $PROJECT_VERSION everywhere"
