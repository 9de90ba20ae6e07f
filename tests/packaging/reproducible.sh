#!/bin/sh
# SPDX-License-Identifier: ISC
# The Debian packages are the same bit for bit wherever and under whatever
# umask they are built: two builds (without the tests, which the packages
# do not hold) of copies in folders of other names and depths, made and
# built under umasks 022 and 077, give identical .deb files.
. "$(dirname "$0")/common.sh"
command -v dh >/dev/null 2>&1 && command -v dpkg-buildpackage >/dev/null 2>&1 ||
    skip "debhelper not found: scripts/setup --dev installs the packaging tools"

export DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
(umask 022 && copy_tree "$scratch/a/ndirtools" && build_packages "$scratch/a/ndirtools") || exit 1
(umask 077 && copy_tree "$scratch/b/c/src" && build_packages "$scratch/b/c/src") || exit 1
debs=$(cd "$scratch/a" && ls -- *.deb)
[ "$debs" = "$(cd "$scratch/b/c" && ls -- *.deb)" ] || fail "the builds made other packages"
for deb in $debs; do
	cmp "$scratch/a/$deb" "$scratch/b/c/$deb" || fail "$deb differs between the builds"
done
echo "two builds give the same packages:" $debs
