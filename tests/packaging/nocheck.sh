#!/bin/sh
# SPDX-License-Identifier: ISC
# Without the tests (DEB_BUILD_OPTIONS=nocheck, with the nocheck build
# profile that drops the build dependencies marked <!nocheck>) the
# packages build where the test framework is not installed: dpkg's
# database less libgtest-dev satisfies the build dependencies then (and
# only then), and the build never looks for GoogleTest.
. "$(dirname "$0")/common.sh"
command -v dh >/dev/null 2>&1 && command -v dpkg-buildpackage >/dev/null 2>&1 ||
    skip "debhelper not found: scripts/setup --dev installs the packaging tools"

src=$scratch/ndirtools
copy_sources "$src"

# The machine as it would be without libgtest-dev, for dpkg-checkbuilddeps.
mkdir "$scratch/dpkg"
awk 'BEGIN { RS = ""; ORS = "\n\n" } !/(^|\n)Package: libgtest-dev\n/' \
    /var/lib/dpkg/status >"$scratch/dpkg/status"
(cd "$src" && dpkg-checkbuilddeps --admindir="$scratch/dpkg") >/dev/null 2>"$scratch/unmet" &&
    fail "the build dependencies are met without libgtest-dev and the nocheck profile"
grep -q 'Unmet build dependencies: libgtest-dev$' "$scratch/unmet" || {
	cat "$scratch/unmet" >&2
	fail "without libgtest-dev, dpkg-checkbuilddeps does not ask for it alone"
}
(cd "$src" && dpkg-checkbuilddeps --admindir="$scratch/dpkg" -P nocheck) ||
    fail "with the nocheck profile, the build dependencies still need libgtest-dev"

DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" DEB_BUILD_PROFILES=nocheck
export DEB_BUILD_OPTIONS DEB_BUILD_PROFILES
# The build dependencies were checked above against that database.
build_packages "$src" -d
for cache in "$src"/obj-*/CMakeCache.txt; do
	if grep -q '^GTest_DIR' "$cache"; then
		fail "the nocheck build looked for GoogleTest ($cache)"
	fi
	grep -q '^BUILD_TESTING:BOOL=OFF$' "$cache" ||
	    fail "the nocheck build configures the tests ($cache)"
done
for p in ndirtools ndirtools-dev; do
	[ -f "$scratch/${p}_${PROJECT_VERSION}_$(dpkg-architecture -qDEB_HOST_ARCH).deb" ] ||
	    fail "the nocheck build made no $p package"
done
echo "the packages build without libgtest-dev under nocheck"
