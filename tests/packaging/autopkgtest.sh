#!/bin/sh
# SPDX-License-Identifier: ISC
# autopkgtest runs debian/tests against the packages that the package
# test built, installed on this machine (its null server), and all pass;
# a test that the machine cannot run is named with the reason.  Packages
# of ndirtools that were not installed before are purged again.
. "$(dirname "$0")/common.sh"
command -v autopkgtest >/dev/null 2>&1 ||
    skip "autopkgtest not found: scripts/setup --dev installs it"
[ "$(id -u)" -eq 0 ] ||
    skip "autopkgtest's null server installs the packages on this machine: it needs root"
kept=$BUILD_DIR/debian-packages
ls "$kept"/ndirtools_*.deb >/dev/null 2>&1 ||
    skip "no packages in $kept: the package test did not build them"

src=$scratch/ndirtools
copy_sources "$src"
installed=" $(dpkg-query -W -f '${db:Status-Status} ${Package}\n' 'ndirtools*' 2>/dev/null |
    awk '$1 == "installed" { print $2 }' | tr '\n' ' ') "

# One run at a time on this machine, whatever the build directory.
status=0
flock -w 900 /run/lock/ndirtools-autopkgtest.lock \
    autopkgtest -q -o "$scratch/out" "$kept"/ndirtools_*.deb "$kept"/ndirtools-dev_*.deb \
    "$src/" -- null >"$scratch/log" 2>&1 || status=$?
for p in ndirtools-dev ndirtools; do
	case $installed in
	*" $p "*) ;;
	*) dpkg --purge "$p" >/dev/null 2>&1 || echo "note: $p could not be purged" ;;
	esac
done

# The summary names each test's outcome, and a skipped test's reason
# (a restriction the machine lacks, or the test's own word on output).
[ ! -f "$scratch/out/summary" ] || while read -r name outcome reason; do
	echo "autopkgtest: $name $outcome${reason:+ ($reason)}"
	if [ "$outcome" = SKIP ] && [ -s "$scratch/out/$name-stdout" ]; then
		sed 's/^/    /' "$scratch/out/$name-stdout"
	fi
done <"$scratch/out/summary"
case $status in
0) echo "all the installed packages' tests pass" ;;
2) echo "the installed packages' tests pass but for those skipped above" ;;
*)	tail -n 60 "$scratch/log" >&2
	fail "autopkgtest exited with status $status" ;;
esac
