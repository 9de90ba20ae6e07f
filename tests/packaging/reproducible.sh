#!/bin/sh
# SPDX-License-Identifier: ISC
# The Debian packages are the same bit for bit whatever directory they are
# built in and whatever the umask: two builds (without the tests, which
# the packages do not hold) of copies in folders of different names and
# depths, made and built under umasks 022 and 077, give identical .deb
# files.
. "$(dirname "$0")/common.sh"
command -v dh >/dev/null 2>&1 && command -v dpkg-buildpackage >/dev/null 2>&1 ||
    skip "debhelper not found: scripts/setup --dev installs the packaging tools"

DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
export DEB_BUILD_OPTIONS
# umask, the folder that the copy is built in
while read -r mask dir; do
	(umask "$mask" && copy_tree "$scratch/$dir" && build_packages "$scratch/$dir") || exit 1
done <<BUILDS
022 one/ndirtools
077 second/build/ndirtools-$PROJECT_VERSION
BUILDS

debs=$(cd "$scratch/one" && ls -- *.deb)
[ "$debs" = "$(cd "$scratch/second/build" && ls -- *.deb)" ] ||
    fail "the two builds made different packages: $(ls "$scratch/one" "$scratch/second/build")"
for deb in $debs; do
	cmp -s "$scratch/one/$deb" "$scratch/second/build/$deb" || {
		for d in one second/build; do
			dpkg-deb -c "$scratch/$d/$deb" >"$scratch/$deb.$(basename "$d")"
		done
		diff "$scratch/$deb.one" "$scratch/$deb.build" >&2 || :
		fail "$deb differs between the two builds"
	}
done
echo "two builds give the same packages:" $debs
